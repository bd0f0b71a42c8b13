// Finding the printer: every candidate port at every speed the driver
// offers, fastest first. At each speed the connection test goes to all
// ports at once and each gets a short reply budget of its own, so silent
// ports cost one budget a speed together; the port that acknowledges is
// confirmed by the driver's own connection test. Ports are closed again
// whatever the outcome.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zuv {

// Reply budget of one probe: a printer answers a connection test within a
// few milliseconds, so a port that says nothing in this time is passed by.
constexpr int64_t DetectProbeBudgetMs = 150;

struct TDetectOptions {
  // Ports to try, in order; empty: every port of GetPorts except the system
  // console's.
  std::vector<std::string> ports;
  int64_t probeBudgetMs = DetectProbeBudgetMs;
  bool trace = false;  // traffic log of every probe
  std::string consolesFile = "/proc/consoles";
};

enum class TPortFinding {
  Answered,   // a printer answered at `baud`
  Silent,     // opened, nothing answered at any speed
  Console,    // the system console's port, left alone
  Busy,       // another process holds it
  Unusable,   // could not be opened (missing, no permission, refused, ...)
  Lost,       // failed during a probe (hung up, connection closed)
};

struct TPortNote {
  std::string port;
  TPortFinding finding = TPortFinding::Silent;
  int baud = 0;        // Answered only
  std::string detail;  // why it was unusable or lost
};

struct TDetectResult {
  bool found = false;
  std::string port;
  int baud = 0;
  std::vector<TPortNote> notes;  // every port considered, in order
  int64_t elapsedMs = 0;
};

// Runs the search. The driver's port is closed afterwards and its reply
// budget restored. With `trace` the confirming exchange is logged.
TDetectResult DetectPrinter(const TDetectOptions& options = {});

// The device names of the system consoles listed in `consolesFile`
// (/proc/consoles: the first word of each line, e.g. "ttyS0").
std::vector<std::string> ConsolePorts(const std::string& consolesFile);

// Why `port` does not open (Busy or Unusable, with the system's reason),
// asked of a port component of its own so that the reason is not lost in
// the driver's fault hook. The port is closed again.
TPortNote ExplainOpenFailure(const std::string& port);

const char* PortFindingName(TPortFinding finding);

}  // namespace zuv
