// One run of the tool against the printer: the port it opens, the traffic
// log it shows, and how each outcome becomes output and an exit status.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "diagnostics/log_sink.h"

namespace zuvcli {

using Json = nlohmann::ordered_json;

enum ExitStatus {
  kExitOk = 0,
  kExitFailure = 1,     // printer or link failure
  kExitUsage = 2,       // bad command line or input; nothing was sent
  kExitReplyLost = 3,   // the printer acknowledged, its reply was lost
};

constexpr int kDefaultBaud = 115200;

struct GlobalOptions {
  std::string port;
  int baud = kDefaultBaud;
  std::string lang = "GBR";
  bool trace = false;
  bool json = false;
  bool yes = false;
};

// Where the tool reads and writes; the real streams, or strings in tests.
struct Io {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool interactive;  // standard input is a terminal
};

class Session {
 public:
  Session(const GlobalOptions& options, Io& io);
  ~Session();  // closes the port and stops the traffic log
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Opens the printer's port: kExitOk, or the status to exit with.
  int Open(const std::string& command);
  // The outcome of a printer operation: prints the result (text, or `data`
  // as JSON) and gives the exit status. A failure, or an acknowledged
  // command whose reply never came, is explained on standard error.
  int Finish(const std::string& command, bool ok, Json data, const std::string& text);
  // Success without an exchange of its own (ports, detection).
  int Report(const std::string& command, Json data, const std::string& text);
  // A failure without a printer error code behind it.
  int Fail(const std::string& command, const std::string& message, int status);
  // Asks on a terminal; elsewhere only --yes confirms. Explains a refusal.
  bool Confirm(const std::string& question);

  const GlobalOptions& Options() const { return options_; }
  Io& Streams() { return io_; }

 private:
  GlobalOptions options_;
  Io& io_;
  std::unique_ptr<diag::LogSink> trace_;
};

// The message of a driver error code in the chosen language, or a plain
// description when the table has none.
std::string ErrorText(int32_t code);

}  // namespace zuvcli
