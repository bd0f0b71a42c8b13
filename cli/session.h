// One run of the tool against the printer: the port it opens, the traffic
// log it shows, and how each outcome becomes output and an exit status.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "commands/catalogue.h"
#include "diagnostics/log_sink.h"

namespace zuvcli {

using zuvcmd::CommandInfo;
using zuvcmd::CommandOutcome;
using zuvcmd::Effect;
using zuvcmd::Json;

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
  bool strict = false;  // unprintable characters are an input error
};

// What kind of failure ended a run, as --json names it.
enum class FailureKind { Input, Usage, Link, Printer, InDoubt };
const char* FailureKindName(FailureKind kind);
int ExitStatusOf(FailureKind kind);

// Where the tool reads and writes; the real streams, or strings in tests.
struct Io {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool interactive;  // standard input is a terminal
  bool errTerminal = false;  // standard error is a terminal: progress shows there
};

class Session {
 public:
  Session(const GlobalOptions& options, Io& io);
  ~Session();  // closes the port and stops the traffic log
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Opens the printer's port: kExitOk, or the status to exit with.
  int Open(const std::string& command);
  // The outcome of a printer command: prints the result (text, or the
  // result fields as JSON) and gives the exit status. A failure, or an
  // acknowledged command whose reply never came, is explained on standard
  // error; `extra` goes into the JSON failure object.
  int Finish(const CommandInfo& info, const CommandOutcome& outcome, Json extra = Json::object(),
             const std::string& explanation = "");
  // Success without an exchange of its own (ports, detection).
  int Report(const std::string& command, Json data, const std::string& text);
  // A failure: the message on standard error and, with --json, one object
  // on standard output holding `extra` too. Gives the kind's exit status.
  int Fail(const std::string& command, FailureKind kind, const std::string& message,
           Json extra = Json::object());
  // Asks on a terminal; elsewhere only --yes confirms. kExitOk, or the
  // status of the refusal, which it explains.
  int Confirm(const std::string& command, const std::string& question);

  const GlobalOptions& Options() const { return options_; }
  Io& Streams() { return io_; }

 private:
  GlobalOptions options_;
  Io& io_;
  std::unique_ptr<diag::LogSink> trace_;
};

}  // namespace zuvcli
