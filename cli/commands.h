// The tool's subcommands. Each one, when chosen on the command line, leaves
// its action to run with the session.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

#include "session.h"

namespace zuvcli {

using Action = std::function<int(Session&)>;

// One subcommand per printer command, each named in --help with the printer
// command it runs.
void AddPrinterCommands(CLI::App& app, Action& action);
// ports and detect.
void AddToolCommands(CLI::App& app, Action& action);

}  // namespace zuvcli
