// The zuv tool as a function, so that tests run it in-process.
#pragma once

#include "session.h"

namespace zuvcli {

// Parses the command line, runs the chosen subcommand and returns the exit
// status. Reads ZUV_PORT and ZUV_BAUD from the environment.
int RunZuv(int argc, const char* const* argv, Io& io);

}  // namespace zuvcli
