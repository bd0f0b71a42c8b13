// Subcommands for technicians: the port list and printer detection.
#include <algorithm>
#include <memory>

#include "commands.h"
#include "commands/detect_report.h"
#include "driver/comportzuv.h"
#include "driver/detect.h"

namespace zuvcli {

using zuvcmd::BaudJson;
using zuvcmd::PortNotesJson;

namespace {

#ifdef _WIN32
constexpr const char* kConsolesFile = "";  // Windows keeps no serial console
#else
constexpr const char* kConsolesFile = "/proc/consoles";
#endif

bool IsConsole(const std::string& port, const std::vector<std::string>& consoles) {
  return std::find(consoles.begin(), consoles.end(), port) != consoles.end();
}

void AddPorts(CLI::App& app, Action& action) {
  app.add_subcommand("ports", "list the serial ports")->callback([&action] {
    action = [](Session& s) {
      const std::vector<std::string> consoles = zuv::ConsolePorts(kConsolesFile);
      Json list = Json::array();
      std::string text;
      for (const std::string& port : zuv::TComPortZUV::GetPorts()) {
        const bool console = IsConsole(port, consoles);
        list.push_back({{"port", port}, {"console", console}});
        text += (text.empty() ? "" : "\n") + port + (console ? "  (system console)" : "");
      }
      return s.Report("ports", {{"ports", list}}, text);
    };
  });
}

// What detection says about a port it did not use, or an empty text.
std::string NoteText(const zuv::TPortNote& note) {
  switch (note.finding) {
    case zuv::TPortFinding::Console:
      return "skipped " + note.port + ": the system console (name it to try it)";
    case zuv::TPortFinding::Busy:
      return "skipped " + note.port + ": held by another process";
    case zuv::TPortFinding::Unusable:
      return "skipped " + note.port + ": " + note.detail;
    case zuv::TPortFinding::Lost:
      return "gave up on " + note.port + ": " + note.detail;
    case zuv::TPortFinding::Silent:
      return "no answer on " + note.port;
    case zuv::TPortFinding::NotTried:
      return "not tried: " + note.port + " (" + note.detail + ")";
    case zuv::TPortFinding::Answered:
      break;
  }
  return "";
}

// "at 9600 baud", or what a tcp:// port says instead.
std::string SpeedText(int baud) {
  return baud ? "at " + std::to_string(baud) + " baud"
              : std::string("(") + zuv::SpeedSetByDeviceServer + ")";
}

void AddDetect(CLI::App& app, Action& action) {
  auto ports = std::make_shared<std::vector<std::string>>();
  auto* sub = app.add_subcommand(
      "detect", "find the printer: every port (or the ports named) at every speed, fastest first");
  sub->add_option("PORT", *ports, "ports to try (default: all but the system console's)");
  sub->callback([&action, ports] {
    action = [ports](Session& s) {
      zuv::TDetectOptions options;
      options.ports = *ports;
      options.trace = s.Options().trace;
      options.consolesFile = kConsolesFile;
      const zuv::TDetectResult r = zuv::DetectPrinter(options);
      const Json notes = PortNotesJson(r);
      std::string also;  // printers found after the first
      for (const zuv::TPortNote& note : r.notes) {
        if (note.finding == zuv::TPortFinding::Answered && note.port != r.port)
          also += "\nanother printer on " + note.port + " " + SpeedText(note.baud);
        else if (const std::string text = NoteText(note); !text.empty())
          s.Streams().err << text << '\n';
      }
      if (!r.found)
        return s.Fail("detect", FailureKind::Link,
                      "no printer found (" + std::to_string(r.elapsedMs) + " ms)",
                      {{"elapsed_ms", r.elapsedMs}, {"ports", notes}});
      const Json data = {{"port", r.port}, {"baud", BaudJson(r.baud)}, {"elapsed_ms", r.elapsedMs},
                         {"ports", notes}};
      return s.Report("detect", data,
                      "printer on " + r.port + " " + SpeedText(r.baud) + " (found in " +
                          std::to_string(r.elapsedMs) + " ms)" + also);
    };
  });
}

}  // namespace

void AddToolCommands(CLI::App& app, Action& action) {
  AddPorts(app, action);
  AddDetect(app, action);
}

}  // namespace zuvcli
