// Subcommands for technicians: the port list, printer detection and raw
// frames.
#include <algorithm>
#include <memory>

#include "commands.h"
#include "driver/comportzuv.h"
#include "driver/detect.h"
#include "driver/hex.h"
#include "input.h"

namespace zuvcli {

namespace {

constexpr const char* kConsolesFile = "/proc/consoles";
constexpr int kMaxCommand = 255;

// The traffic log's hex text without its leading blank.
std::string Hex(const std::vector<uint8_t>& bytes) {
  const std::string text = zuv::TBytesToHEX(bytes);
  return text.empty() ? text : text.substr(1);
}

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
    case zuv::TPortFinding::Answered:
      break;
  }
  return "";
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
      Json notes = Json::array();
      for (const zuv::TPortNote& note : r.notes) {
        notes.push_back({{"port", note.port}, {"finding", zuv::PortFindingName(note.finding)},
                         {"detail", note.detail}});
        if (const std::string text = NoteText(note); !text.empty()) s.Streams().err << text << '\n';
      }
      if (!r.found)
        return s.Fail("detect", "no printer found (" + std::to_string(r.elapsedMs) + " ms)",
                      kExitFailure);
      const Json data = {{"port", r.port}, {"baud", r.baud}, {"elapsed_ms", r.elapsedMs},
                         {"ports", notes}};
      return s.Report("detect", data,
                      "printer on " + r.port + " at " + std::to_string(r.baud) + " baud (found in " +
                          std::to_string(r.elapsedMs) + " ms)");
    };
  });
}

// A command byte in decimal ("101") or hex ("0x65").
std::optional<int64_t> ParseCommand(const std::string& text) {
  if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) {
    const auto bytes = ParseHexWords({text.size() % 2 ? "0" + text.substr(2) : text.substr(2)});
    if (!bytes || bytes->size() != 1) return std::nullopt;
    return bytes->front();
  }
  return ParseInteger(text, 0, kMaxCommand);
}

void AddRaw(CLI::App& app, Action& action) {
  struct Args {
    std::string command;
    std::vector<std::string> data;
    bool longFrame = false;
  };
  auto args = std::make_shared<Args>();
  auto* sub = app.add_subcommand(
      "raw", "send one frame: CMD (decimal or 0x..) and data bytes in hex; prints the reply's data");
  sub->add_option("CMD", args->command, "command byte")->required();
  sub->add_option("HEX", args->data, "data bytes, e.g. 0A 0B or 0A0B");
  sub->add_flag("--long", args->longFrame, "send a long frame (two length bytes)");
  sub->callback([&action, args] {
    action = [args](Session& s) {
      const auto command = ParseCommand(args->command);
      const auto data = ParseHexWords(args->data);
      const size_t limit = args->longFrame ? zuv::MaxLongData : zuv::MaxShortData;
      if (!command) return s.Fail("raw", "bad command \"" + args->command + "\" (0 to 255)", kExitUsage);
      if (!data) return s.Fail("raw", "data must be pairs of hex digits", kExitUsage);
      if (data->size() > limit)
        return s.Fail("raw", std::to_string(data->size()) + " data bytes; a " +
                                 (args->longFrame ? "long" : "short") + " frame holds " +
                                 std::to_string(limit),
                      kExitUsage);
      if (int status = s.Open("raw")) return status;
      const bool ok = zuv::TComPortZUV::SendFrame(static_cast<int>(*command), *data, true,
                                                  args->longFrame);
      std::vector<uint8_t> reply(static_cast<size_t>(std::max(zuv::RxExpectDataLen - 1, 0)));
      if (ok && !reply.empty() && !zuv::ReplyField(0, static_cast<int>(reply.size()), reply.data()))
        reply.clear();
      const std::string hex = Hex(reply);
      return s.Finish("raw", ok, {{"data", hex}}, hex.empty() ? "(no data)" : hex);
    };
  });
}

}  // namespace

void AddToolCommands(CLI::App& app, Action& action) {
  AddPorts(app, action);
  AddDetect(app, action);
  AddRaw(app, action);
}

}  // namespace zuvcli
