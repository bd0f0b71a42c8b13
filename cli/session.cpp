#include "session.h"

#include <istream>
#include <ostream>

#include "driver/comportzuv.h"
#include "driver/detect.h"
#include "driver/protocol.h"
#include "serial/tcp_device.h"

namespace zuvcli {

namespace {

using zuv::linkerr::NoReply;
using zuv::linkerr::PortFault;

// The traffic log, line by line, on standard error.
class StreamSink : public diag::LogSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  void AppendLine(const std::string& text) override { out_ << text << '\n'; }
  void SetTimeText(const std::string&) override {}
  void SetIterationText(const std::string&) override {}

 private:
  std::ostream& out_;
};

}  // namespace

const char* FailureKindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::Input: return "input";
    case FailureKind::Usage: return "usage";
    case FailureKind::Link: return "link";
    case FailureKind::Printer: return "printer";
    case FailureKind::InDoubt: return "in-doubt";
  }
  return "";
}

int ExitStatusOf(FailureKind kind) {
  switch (kind) {
    case FailureKind::Input:
    case FailureKind::Usage: return kExitUsage;
    case FailureKind::InDoubt: return kExitReplyLost;
    case FailureKind::Link:
    case FailureKind::Printer: return kExitFailure;
  }
  return kExitFailure;
}

Session::Session(const GlobalOptions& options, Io& io) : options_(options), io_(io) {
  zuv::TComPortZUV::Init(options_.lang);
  if (options_.trace) {
    trace_ = std::make_unique<StreamSink>(io_.err);
    diag::SetLogSink(trace_.get());
  }
}

Session::~Session() {
  zuv::TComPortZUV::ClosePort();
  if (trace_) diag::SetLogSink(nullptr);
}

int Session::Open(const std::string& command) {
  if (options_.port.empty())
    return Fail(command, FailureKind::Usage, "no port: give --port or set ZUV_PORT");
  if (serial::IsTcpPortName(options_.port) && !serial::ParseTcpPortName(options_.port))
    return Fail(command, FailureKind::Usage, "bad port \"" + options_.port + "\" (tcp://HOST:PORT)");
  if (zuv::TComPortZUV::OpenPort(options_.port, options_.baud, true, options_.trace)) return kExitOk;
  const int32_t code = zuv::ErrorCode;
  // Trying a tcp:// port again would wait out a second connect time-out.
  const std::string why = serial::IsTcpPortName(options_.port)
                              ? serial::LastTcpOpenFailure()
                              : zuv::ExplainOpenFailure(options_.port).detail;
  return Fail(command, FailureKind::Link, "cannot open " + options_.port + ": " + why,
              {{"error", code}, {"port", options_.port}});
}

int Session::Finish(const CommandInfo& info, const CommandOutcome& outcome, Json extra,
                    const std::string& explanation) {
  if (outcome.ok) return Report(info.name, outcome.result, outcome.text);
  const int32_t code = outcome.errorCode;
  std::string message = code == zuv::linkerr::Ok
                            ? outcome.message
                            : "error " + std::to_string(code) + ": " + outcome.message;
  FailureKind kind = FailureKind::Link;
  if (zuvcmd::InDoubt(info, outcome)) {
    kind = FailureKind::InDoubt;
    message = "the printer acknowledged the command but its reply was lost (" + message +
              "); check the paper before repeating a print";
  } else if (code == zuv::linkerr::Ok) {
    kind = FailureKind::Input;
  } else if (code > 0) {
    kind = FailureKind::Printer;
  } else if (code == PortFault) {
    message += " (the connection to " + options_.port + " failed)";
  } else if (code == NoReply && info.effect == Effect::Read) {
    message += " (no reply; safe to repeat)";
  }
  if (!explanation.empty()) message = explanation + ": " + message;
  Json fields = {{"error", code}, {"acknowledged", outcome.acknowledged}};
  for (auto& [key, value] : extra.items()) fields[key] = value;
  return Fail(info.name, kind, message, std::move(fields));
}

int Session::Report(const std::string& command, Json data, const std::string& text) {
  if (options_.json) {
    Json result = {{"command", command}, {"ok", true}};
    for (auto& [key, value] : data.items()) result[key] = value;
    io_.out << result.dump() << '\n';
  } else if (!text.empty()) {
    io_.out << text << '\n';
  }
  return kExitOk;
}

int Session::Fail(const std::string& command, FailureKind kind, const std::string& message,
                  Json extra) {
  if (options_.json) {
    Json failure = {{"command", command}, {"ok", false}, {"kind", FailureKindName(kind)}};
    for (auto& [key, value] : extra.items()) failure[key] = value;
    failure["message"] = message;
    io_.out << failure.dump() << '\n';
  }
  io_.err << "zuv " << command << ": " << message << '\n';
  return ExitStatusOf(kind);
}

int Session::Confirm(const std::string& command, const std::string& question) {
  if (options_.yes) return kExitOk;
  if (!io_.interactive)
    return Fail(command, FailureKind::Usage,
                question + " Not on a terminal: give --yes to confirm; nothing sent.");
  io_.err << question << " [y/N] " << std::flush;
  std::string answer;
  std::getline(io_.in, answer);
  if (answer == "y" || answer == "Y" || answer == "yes") return kExitOk;
  return Fail(command, FailureKind::Usage, "not confirmed; nothing sent.");
}

}  // namespace zuvcli
