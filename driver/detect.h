// Finding the printer: every candidate port at every speed the driver
// offers, fastest first. At each speed the connection test goes to all
// ports at once and each gets a short reply budget of its own, so silent
// ports cost one budget a speed together; a serial port that acknowledges
// is confirmed by the driver's own connection test. A tcp:// port is tried
// once (the device server sets the line's speed) and confirmed on the same
// connection: many device servers take one client at a time. Ports are
// closed again whatever the outcome.
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
  // console's. Named ports are all tried to the end, so that each printer
  // among them is found; the search of every port stops at the first.
  std::vector<std::string> ports;
  int64_t probeBudgetMs = DetectProbeBudgetMs;
  bool trace = false;  // traffic log of every probe
  std::string consolesFile = "/proc/consoles";
};

enum class TPortFinding {
  Answered,   // a printer answered at `baud` (0: a tcp:// port, whose speed the device server sets)
  Silent,     // opened, nothing answered at any speed
  NotTried,   // left alone: the search stopped at the first printer
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

// What a found tcp:// port says instead of a speed.
constexpr const char* SpeedSetByDeviceServer = "speed set by the device server";

struct TDetectResult {
  bool found = false;
  std::string port;  // the first printer found
  int baud = 0;      // 0 for a tcp:// port
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
