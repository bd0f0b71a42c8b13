#include "app.h"

#include <ostream>

#include "commands.h"
#include "driver/comportzuv.h"

namespace zuvcli {

namespace {

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
  app.add_option("-p,--port", options.port, "printer port: a name from `zuv ports`, a device path or tcp://HOST:PORT")
      ->envname("ZUV_PORT");
  std::vector<int> rates = zuv::TComPortZUV::GetBaudRates();
  app.add_option("-b,--baud", options.baud, "line speed")
      ->envname("ZUV_BAUD")
      ->check(CLI::IsMember(rates))
      ->capture_default_str();
  app.add_option("--lang", options.lang, "language of the printer's error messages")
      ->check(CLI::IsMember({"SRB", "GBR"}))
      ->capture_default_str();
  app.add_flag("--trace", options.trace, "the traffic log of every frame on standard error");
  app.add_flag("--json", options.json, "one JSON object per result on standard output");
  app.add_flag("-y,--yes", options.yes, "confirm the Z report and the article-base deletion");
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
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, io.out, io.err);
    return e.get_exit_code() == 0 ? status : static_cast<int>(kExitUsage);
  }
  Session session(options, io);
  return action(session);
}

}  // namespace zuvcli
