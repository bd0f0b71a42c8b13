// How zuv-server is started: the command line and the TOML configuration
// file, merged into one set of options (the command line wins).
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/core/job_service.h"
#include "server/http_limits.h"

namespace zuvsrv {

constexpr const char* kDefaultHost = "127.0.0.1";
constexpr int kDefaultPort = 8765;

struct ListenAddress {
  std::string host = kDefaultHost;
  int port = kDefaultPort;  // 0: any free port
};

struct ServiceOptions {
  ListenAddress listen;
  std::string stateDir;
  std::string tokenFile;
  std::string consoleDir;
  std::vector<std::string> corsOrigins;
  std::vector<std::string> allowedHosts;
  size_t maxConnections = kDefaultMaxConnections;
  size_t maxEventStreams = kDefaultMaxEventStreams;
  std::vector<PrinterConfig> printers;
  int retentionDays = 90;  // ended jobs older than this are deleted
};

// A bad command line or configuration file, with the message to print.
class OptionsError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// "HOST:PORT", "[::1]:PORT" or ":PORT"; throws OptionsError.
ListenAddress ParseListen(const std::string& text);
// "ID=PORT[@BAUD]"; throws OptionsError.
PrinterConfig ParsePrinter(const std::string& text);
// Reads a TOML file over `options`; throws OptionsError naming the file.
void LoadConfigFile(const std::string& path, ServiceOptions& options);

enum class ParseOutcome { Run, Exit };
// Parses argv into `options`. Exit (with `status` set) after --help,
// --version or an error, which it has printed to `out` or `err`.
ParseOutcome ParseCommandLine(int argc, const char* const* argv, ServiceOptions& options,
                              std::ostream& out, std::ostream& err, int& status);

// Where the console may lie, seen from the program: `installed` relative
// to the program's folder; the source tree's console when the program runs
// from inside `buildDir`.
struct ConsoleLocations {
  std::string installed;
  std::string buildDir;
  std::string sourceConsole;
};
// The first of those folders that exists, or "".
std::string FindConsoleDir(const std::string& program, const ConsoleLocations& where);

// Says in the service's log what "/" serves, so a wrong folder shows up at
// once: after the start is sure (instance lock, port), so a refused second
// instance says only why.
void LogConsoleDir(const std::string& dir, std::ostream& err);

// Whether the host is a loopback address (127.0.0.0/8, ::1, localhost).
bool IsLoopback(const std::string& host);

}  // namespace zuvsrv
