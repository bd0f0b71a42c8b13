// The registry form on Linux: keys as directories, values in a .reg-style
// file per key.
#include "settings_store.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "atomic_file.h"
#include "settings_text.h"

namespace serial {

namespace {

constexpr char kValuesFile[] = "values";
constexpr char kDwordPrefix[] = "dword:";

std::string ConfigDirectory() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (!home || !*home) Refuse("no configuration directory (HOME not set)");
  return std::string(home) + "/.config";
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Reads a quoted text at `at`; advances past it.
std::string Unquote(const std::string& line, size_t& at) {
  if (at >= line.size() || line[at] != '"') Refuse("registry file: quote expected");
  std::string out;
  for (++at; at < line.size(); ++at) {
    char c = line[at];
    if (c == '"') {
      ++at;
      return out;
    }
    if (c == '\\') {
      if (++at >= line.size()) break;
      c = line[at];
    }
    out += c;
  }
  Refuse("registry file: unterminated text");
}

}  // namespace

std::string TRegistry::RootDirectory(TRootKey Root) {
  return ConfigDirectory() + "/zuv-serial/registry/" +
         (Root == TRootKey::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER");
}

bool TRegistry::OpenKey(const std::string& Key, bool CanCreate) {
  CloseKey();
  std::string dir = RootDirectory(RootKey);
  size_t at = 0;
  while (at <= Key.size()) {
    size_t end = Key.find('\\', at);
    if (end == std::string::npos) end = Key.size();
    const std::string name = Key.substr(at, end - at);
    at = end + 1;
    if (name.empty()) continue;
    if (name == "." || name == ".." || name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
      Refuse("registry key name not allowed: " + name);
    dir += "/" + name;
  }
  if (CanCreate)
    MakeDirectories(dir);
  else if (::access(dir.c_str(), F_OK) != 0)
    return false;
  FKeyDir = dir;
  Load();
  return true;
}

void TRegistry::Load() {
  std::string contents;
  if (!ReadWholeFile(FKeyDir + "/" + kValuesFile, contents)) return;
  size_t at = 0;
  while (at < contents.size()) {
    size_t end = contents.find('\n', at);
    if (end == std::string::npos) end = contents.size();
    const std::string line = contents.substr(at, end - at);
    at = end + 1;
    if (Trim(line).empty()) continue;
    size_t pos = 0;
    const std::string name = Unquote(line, pos);
    if (pos >= line.size() || line[pos++] != '=') Refuse("registry file: '=' expected");
    Value value;
    if (line.compare(pos, sizeof kDwordPrefix - 1, kDwordPrefix) == 0) {
      const std::string hex = line.substr(pos + sizeof kDwordPrefix - 1);
      char* stop = nullptr;
      const unsigned long v = std::strtoul(hex.c_str(), &stop, 16);
      if (hex.size() != 8 || *stop) Refuse("registry file: bad dword");
      value.isInteger = true;
      value.number = static_cast<int32_t>(static_cast<uint32_t>(v));
    } else {
      value.text = Unquote(line, pos);
      if (pos != line.size()) Refuse("registry file: junk after a value");
    }
    if (!FValues.count(name)) FOrder.push_back(name);
    FValues[name] = value;
  }
}

void TRegistry::WriteString(const std::string& Name, const std::string& Value) {
  if (!HasKey()) Refuse("no registry key open");
  CheckOneLine(Name + Value);
  if (!FValues.count(Name)) FOrder.push_back(Name);
  FValues[Name] = {false, Value, 0};
  FModified = true;
}

void TRegistry::WriteInteger(const std::string& Name, int32_t Value) {
  if (!HasKey()) Refuse("no registry key open");
  CheckOneLine(Name);
  if (!FValues.count(Name)) FOrder.push_back(Name);
  FValues[Name] = {true, "", Value};
  FModified = true;
}

const TRegistry::Value& TRegistry::Get(const std::string& Name) const {
  static const Value missing;
  if (!HasKey()) Refuse("no registry key open");
  const auto it = FValues.find(Name);
  return it == FValues.end() ? missing : it->second;
}

std::string TRegistry::ReadString(const std::string& Name) const {
  const Value& v = Get(Name);
  if (v.isInteger) Refuse("registry value is not a text: " + Name);
  return v.text;
}

int32_t TRegistry::ReadInteger(const std::string& Name) const {
  if (!HasKey()) Refuse("no registry key open");
  const auto it = FValues.find(Name);
  if (it == FValues.end() || !it->second.isInteger) Refuse("registry value is not an integer: " + Name);
  return it->second.number;
}

void TRegistry::CloseKey() {
  if (HasKey() && FModified) {
    std::string out;
    for (const std::string& name : FOrder) {
      const Value& v = FValues[name];
      char hex[16];
      std::snprintf(hex, sizeof hex, "%08x", static_cast<uint32_t>(v.number));
      out += Quote(name) + "=" + (v.isInteger ? std::string(kDwordPrefix) + hex : Quote(v.text)) + "\n";
    }
    WriteFileAtomically(FKeyDir + "/" + kValuesFile, out);
  }
  FKeyDir.clear();
  FValues.clear();
  FOrder.clear();
  FModified = false;
}

}  // namespace serial
