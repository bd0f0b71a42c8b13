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
using zuv::linkerr::UnlistedOffset;

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

std::string ErrorText(int32_t code) {
  if (zuv::TComPortZUV::HasErrorMessage(code)) return zuv::TComPortZUV::ErrorMessage(code);
  if (code > UnlistedOffset)
    return "printer error " + std::to_string(code - UnlistedOffset) + " (no message for it)";
  return "no message for this code";
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
    return Fail(command, "no port: give --port or set ZUV_PORT", kExitUsage);
  if (serial::IsTcpPortName(options_.port) && !serial::ParseTcpPortName(options_.port))
    return Fail(command, "bad port \"" + options_.port + "\" (tcp://HOST:PORT)", kExitUsage);
  if (zuv::TComPortZUV::OpenPort(options_.port, options_.baud, true, options_.trace)) return kExitOk;
  const zuv::TPortNote why = zuv::ExplainOpenFailure(options_.port);
  return Fail(command, "cannot open " + options_.port + ": " + why.detail, kExitFailure);
}

int Session::Finish(const std::string& command, bool ok, Json data, const std::string& text) {
  const int32_t code = zuv::ErrorCode;
  // A report counts as printed once acknowledged; the lost reply still
  // matters to whoever might print it again. A line that fails after the
  // ACK loses the reply just the same.
  const bool replyLost = (code == NoReply || code == PortFault) &&
                         zuv::TComPortZUV::LastRequestAcknowledged();
  if (ok && !replyLost) return Report(command, std::move(data), text);
  const int status = replyLost ? kExitReplyLost : kExitFailure;
  // A failure that leaves the code at 0 never reached the printer: the
  // driver refused the input (a short reply sets -1).
  std::string message = code == zuv::linkerr::Ok
                            ? "the driver refused the input; nothing was sent"
                            : "error " + std::to_string(code) + ": " + ErrorText(code);
  if (replyLost)
    message = "the printer acknowledged the command but its reply was lost (" + message +
              "); check the paper before repeating a print";
  else if (code == PortFault)
    message += " (the connection to " + options_.port + " failed)";
  if (options_.json) {
    Json failure = {{"command", command}, {"ok", false}, {"error", code},
                    {"message", ErrorText(code)}, {"acknowledged", replyLost}};
    io_.out << failure.dump() << '\n';
  }
  io_.err << "zuv " << command << ": " << message << '\n';
  return status;
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

int Session::Fail(const std::string& command, const std::string& message, int status) {
  if (options_.json && status != kExitUsage) {
    Json failure = {{"command", command}, {"ok", false}, {"message", message}};
    io_.out << failure.dump() << '\n';
  }
  io_.err << "zuv " << command << ": " << message << '\n';
  return status;
}

bool Session::Confirm(const std::string& question) {
  if (options_.yes) return true;
  if (!io_.interactive) {
    io_.err << "zuv: " << question << " Not on a terminal: give --yes to confirm; nothing sent.\n";
    return false;
  }
  io_.err << question << " [y/N] " << std::flush;
  std::string answer;
  std::getline(io_.in, answer);
  if (answer == "y" || answer == "Y" || answer == "yes") return true;
  io_.err << "zuv: not confirmed; nothing sent.\n";
  return false;
}

}  // namespace zuvcli
