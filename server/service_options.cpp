#include "server/service_options.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>

#include <CLI/CLI.hpp>
#include <toml++/toml.h>

#include "server/program_paths.h"

#ifndef ZUV_SERVER_VERSION
#define ZUV_SERVER_VERSION "unknown"
#endif
#ifndef ZUV_CONSOLE_RELATIVE
#define ZUV_CONSOLE_RELATIVE "../share/zuv-server/console"
#endif
#ifndef ZUV_BUILD_DIR
#define ZUV_BUILD_DIR ""
#endif
#ifndef ZUV_SOURCE_CONSOLE
#define ZUV_SOURCE_CONSOLE ""
#endif

namespace zuvsrv {
namespace {

std::optional<int> ParseNumber(std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

constexpr int kMaxBaud = 4000000;

template <class T>
T Required(toml::node_view<const toml::node> node, const std::string& what) {
  const std::optional<T> value = node.value<T>();
  if (!value) throw OptionsError(what + " is missing or has the wrong type");
  return *value;
}

PrinterConfig PrinterFromTable(const toml::table& table, size_t index) {
  const std::string where = "printer #" + std::to_string(index + 1) + ": ";
  PrinterConfig printer;
  printer.id = Required<std::string>(table["id"], where + "id");
  printer.port = Required<std::string>(table["port"], where + "port");
  if (const auto baud = table["baud"].value<int64_t>()) {
    if (*baud <= 0 || *baud > kMaxBaud) throw OptionsError(where + "baud out of range");
    printer.baud = int(*baud);
  }
  if (const auto lang = table["lang"].value<std::string>()) printer.lang = *lang;
  if (printer.id.empty()) throw OptionsError(where + "empty id");
  return printer;
}

bool Inside(const std::filesystem::path& path, const std::filesystem::path& dir) {
  const auto [end, ignored] = std::mismatch(dir.begin(), dir.end(), path.begin(), path.end());
  return !dir.empty() && end == dir.end();
}

// The console folder beside the running program, or "".
std::string ConsoleBesideProgram() {
  const std::string program = ProgramPath();
  if (program.empty()) return "";
  return FindConsoleDir(program, {ZUV_CONSOLE_RELATIVE, ZUV_BUILD_DIR, ZUV_SOURCE_CONSOLE});
}

}  // namespace

void LogConsoleDir(const std::string& dir, std::ostream& err) {
  std::error_code error;
  if (!dir.empty() && std::filesystem::is_directory(dir, error))
    err << "zuv-server: the console is served from " << dir << "\n";
  else if (dir.empty())
    err << "zuv-server: no console folder found: \"/\" serves none (give --console-dir DIR)\n";
  else
    err << "zuv-server: the console folder " << dir << " is missing: \"/\" serves none\n";
}

namespace {

void CheckUniqueIds(const std::vector<PrinterConfig>& printers) {
  for (size_t i = 0; i < printers.size(); ++i)
    for (size_t j = i + 1; j < printers.size(); ++j)
      if (printers[i].id == printers[j].id)
        throw OptionsError("printer id \"" + printers[i].id + "\" given twice");
}

void ReadStrings(const toml::table& config, const char* key, std::vector<std::string>& into) {
  const toml::node* node = config.get(key);
  if (!node) return;
  const toml::array* list = node->as_array();
  if (!list) throw OptionsError(std::string(key) + " must be a list of strings");
  for (const toml::node& item : *list) {
    const auto text = item.value<std::string>();
    if (!text) throw OptionsError(std::string(key) + " holds a value that is not a string");
    into.push_back(*text);
  }
}

constexpr int64_t kMaxCount = 100000;

void ReadCount(const toml::table& config, const char* key, size_t& into) {
  const toml::node* node = config.get(key);
  if (!node) return;
  const auto value = node->value_exact<int64_t>();
  if (!value || *value < 1 || *value > kMaxCount)
    throw OptionsError(std::string(key) + " must be a number from 1 to " + std::to_string(kMaxCount));
  into = size_t(*value);
}

}  // namespace

std::string FindConsoleDir(const std::string& program, const ConsoleLocations& where) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path folder = fs::path(program).parent_path();
  const fs::path installed = (folder / where.installed).lexically_normal();
  if (!where.installed.empty() && fs::is_directory(installed, error)) return installed.string();
  if (where.buildDir.empty()) return "";
  std::error_code buildError, folderError;
  const fs::path build = fs::weakly_canonical(where.buildDir, buildError);
  const fs::path here = fs::weakly_canonical(folder, folderError);
  if (buildError || folderError || !Inside(here, build)) return "";
  return fs::is_directory(where.sourceConsole, error) ? where.sourceConsole : "";
}

ListenAddress ParseListen(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw OptionsError("--listen wants HOST:PORT, not \"" + text + "\"");
  ListenAddress address;
  address.host = text.substr(0, colon);
  if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']')
    address.host = address.host.substr(1, address.host.size() - 2);
  if (address.host.empty()) address.host = kDefaultHost;
  const std::optional<int> port = ParseNumber(std::string_view(text).substr(colon + 1), 0, 65535);
  if (!port) throw OptionsError("--listen: bad port in \"" + text + "\"");
  address.port = *port;
  return address;
}

PrinterConfig ParsePrinter(const std::string& text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
    throw OptionsError("--printer wants ID=PORT[@BAUD], not \"" + text + "\"");
  PrinterConfig printer;
  printer.id = text.substr(0, equals);
  printer.port = text.substr(equals + 1);
  const size_t at = printer.port.rfind('@');
  if (at != std::string::npos) {
    const std::optional<int> baud = ParseNumber(std::string_view(printer.port).substr(at + 1), 1, kMaxBaud);
    if (!baud) throw OptionsError("--printer: bad speed in \"" + text + "\"");
    printer.baud = *baud;
    printer.port.resize(at);
  }
  if (printer.port.empty()) throw OptionsError("--printer: no port in \"" + text + "\"");
  return printer;
}

void LoadConfigFile(const std::string& path, ServiceOptions& options) {
  toml::table config;
  try {
    config = toml::parse_file(path);
  } catch (const toml::parse_error& e) {
    throw OptionsError(path + ": " + std::string(e.description()));
  }
  try {
    if (const auto listen = config["listen"].value<std::string>()) options.listen = ParseListen(*listen);
    if (const auto dir = config["state_dir"].value<std::string>()) options.stateDir = *dir;
    if (const auto file = config["token_file"].value<std::string>()) options.tokenFile = *file;
    if (const auto dir = config["console_dir"].value<std::string>()) options.consoleDir = *dir;
    ReadStrings(config, "cors_origins", options.corsOrigins);
    ReadStrings(config, "allowed_hosts", options.allowedHosts);
    ReadCount(config, "max_connections", options.maxConnections);
    ReadCount(config, "max_event_streams", options.maxEventStreams);
    if (const auto days = config["retention_days"].value<int64_t>()) {
      if (*days < 1 || *days > 36500) throw OptionsError("retention_days must be 1 to 36500");
      options.retentionDays = int(*days);
    }
    if (const toml::array* printers = config["printer"].as_array()) {
      for (size_t i = 0; i < printers->size(); ++i) {
        const toml::table* table = (*printers)[i].as_table();
        if (!table) throw OptionsError("[[printer]] must be a table");
        options.printers.push_back(PrinterFromTable(*table, i));
      }
    }
  } catch (const OptionsError& e) {
    throw OptionsError(path + ": " + e.what());
  }
}

ParseOutcome ParseCommandLine(int argc, const char* const* argv, ServiceOptions& options,
                              std::ostream& out, std::ostream& err, int& status) {
  CLI::App app{"zuv-server: every printer of a till over HTTP/JSON, with a durable journal"};
  std::string configFile, listen, stateDir, tokenFile, consoleDir;
  std::vector<std::string> printers;
  bool version = false;
  app.add_option("--config", configFile, "TOML configuration file");
  app.add_option("--listen", listen, "HOST:PORT to listen on (default 127.0.0.1:8765; port 0: any)");
  app.add_option("--state-dir", stateDir, "directory of the journal and the generated token");
  app.add_option("--printer", printers, "a printer, ID=PORT[@BAUD]; repeat for more");
  app.add_option("--token-file", tokenFile, "file holding the access token");
  app.add_option("--console-dir", consoleDir, "directory of the web console served at /");
  app.add_flag("--version", version, "print the version and exit");
  try {
    app.parse(argc, argv);
    if (version) {
      out << "zuv-server " << ZUV_SERVER_VERSION << "\n";
      status = 0;
      return ParseOutcome::Exit;
    }
    if (!configFile.empty()) LoadConfigFile(configFile, options);
    if (!listen.empty()) options.listen = ParseListen(listen);
    if (!stateDir.empty()) options.stateDir = stateDir;
    if (!tokenFile.empty()) options.tokenFile = tokenFile;
    if (!consoleDir.empty()) options.consoleDir = consoleDir;
    for (const std::string& p : printers) options.printers.push_back(ParsePrinter(p));
    if (options.stateDir.empty()) {
      options.stateDir = DefaultStateDir();
      if (options.stateDir.empty()) throw OptionsError("no state directory: give --state-dir DIR");
    }
    if (options.consoleDir.empty()) options.consoleDir = ConsoleBesideProgram();
    if (options.printers.empty()) throw OptionsError("no printer: give --printer ID=PORT[@BAUD]");
    CheckUniqueIds(options.printers);
  } catch (const CLI::ParseError& e) {
    status = app.exit(e, out, err);
    return ParseOutcome::Exit;
  } catch (const OptionsError& e) {
    err << "zuv-server: " << e.what() << "\n";
    status = 2;
    return ParseOutcome::Exit;
  }
  return ParseOutcome::Run;
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

}  // namespace zuvsrv
