#include "app.h"

#include <algorithm>
#include <ostream>

#include "commands.h"
#include "driver/comportzuv.h"

namespace zuvcli {

namespace {

#ifndef ZUV_VERSION
#define ZUV_VERSION "unknown"  // builds outside CMake
#endif

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
  app.add_option("-p,--port", options.port, "printer port: a name from `zuv ports`, a device path or tcp://HOST:PORT")
      ->envname("ZUV_PORT");
  std::vector<int> rates = zuv::TComPortZUV::GetBaudRates();
  app.add_option("-b,--baud", options.baud, "line speed")
      ->envname("ZUV_BAUD")
      ->check(CLI::IsMember(rates))
      ->capture_default_str();
  app.add_option("--lang", options.lang, "language of the printer's error messages (any case)")
      ->transform(CLI::IsMember({"SRB", "GBR"}, CLI::ignore_case))
      ->capture_default_str();
  app.add_flag("--trace", options.trace, "the traffic log of every frame on standard error");
  app.add_flag("--json", options.json, "one JSON object per result on standard output");
  app.add_flag("-y,--yes", options.yes, "confirm the Z report and the article-base deletion");
  app.add_flag("--strict", options.strict,
               "refuse input with characters the printer cannot print (sent as '?' otherwise)");
  app.set_version_flag("--version", ZUV_VERSION);
}

// Subcommand help shows the global options too: they may follow the
// subcommand.
void ListGlobalOptions(CLI::App& app) {
  std::string text = "Global options (before or after the subcommand):\n";
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_name() == "--help") continue;
    text += "  " + option->get_name() + "  " + option->get_description() + "\n";
  }
  for (CLI::App* sub : app.get_subcommands({})) {
    const std::string own = sub->get_footer();
    sub->footer(own.empty() ? text : own + "\n\n" + text);
  }
}

const char* const kClockFooter =
    "The printer's clock keeps a fixed UTC+1 time scale, with no summer time: the hour shown is\n"
    "UTC+1 all year, so in summer it is one hour behind the local (UTC+2) clock.";

// The usage error of a command line that did not parse, as one JSON object
// when --json was given (the parse stopped before it set the option).
void UsageJson(int argc, const char* const* argv, const std::string& message, Io& io) {
  const bool json = std::any_of(argv + 1, argv + argc, [](const char* a) { return std::string(a) == "--json"; });
  if (!json) return;
  const Json failure = {{"ok", false}, {"kind", FailureKindName(FailureKind::Usage)}, {"message", message}};
  io.out << failure.dump() << '\n';
}

const char* const kFooter =
    "Exit status: 0 success; 1 printer or link failure; 2 usage error or bad input (nothing\n"
    "sent); 3 the printer acknowledged the command but its reply was lost: check the paper\n"
    "before repeating a print. The number in brackets is the printer command each runs.";

}  // namespace

int RunZuv(int argc, const char* const* argv, Io& io) {
  CLI::App app{"zuv: drive a fiscal printer from the command line"};
  app.name("zuv");
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();  // global options also after the subcommand
  GlobalOptions options;
  AddGlobalOptions(app, options);
  Action action;
  AddPrinterCommands(app, action);
  AddToolCommands(app, action);
  app.get_subcommand("clock")->footer(kClockFooter);
  ListGlobalOptions(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e, io.out, io.err);
    std::string message = e.what();
    if (dynamic_cast<const CLI::RequiredError*>(&e) && !app.remaining().empty())
      message = "unknown subcommand \"" + app.remaining().front() + "\" (zuv --help lists them)";
    io.err << "zuv: " << message << "\nRun with --help for more information.\n";
    UsageJson(argc, argv, message, io);
    return kExitUsage;
  }
  Session session(options, io);
  return action(session);
}

}  // namespace zuvcli
