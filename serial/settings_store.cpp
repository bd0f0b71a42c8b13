#include "settings_store.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "atomic_file.h"

namespace serial {

namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool ParseInt32(const std::string& text, int32_t& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno || *end || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

[[noreturn]] void Refuse(const std::string& why) { throw std::runtime_error(why); }

// Text that would break the line structure of either file.
void CheckOneLine(const std::string& text) {
  if (text.find_first_of("\r\n") != std::string::npos) Refuse("line break in a setting");
}

}  // namespace

// ---- ini file ----------------------------------------------------------------

TIniFile::TIniFile(std::string FileName) : FFileName(std::move(FileName)) {
  std::string contents;
  if (ReadWholeFile(FFileName, contents)) Parse(contents);
}

void TIniFile::Parse(const std::string& contents) {
  FSections.push_back({});
  size_t at = 0, number = 0;
  while (at < contents.size()) {
    size_t end = contents.find('\n', at);
    if (end == std::string::npos) end = contents.size();
    std::string text = contents.substr(at, end - at);
    at = end + 1;
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const std::string trimmed = Trim(text);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') {
      FSections.back().lines.push_back({text, "", ""});
    } else if (trimmed[0] == '[') {
      if (trimmed.back() != ']') Refuse(FFileName + ":" + std::to_string(number) + ": bad section");
      FSections.push_back({text, Trim(trimmed.substr(1, trimmed.size() - 2)), {}});
    } else {
      const size_t eq = text.find('=');
      if (eq == std::string::npos || Trim(text.substr(0, eq)).empty())
        Refuse(FFileName + ":" + std::to_string(number) + ": not key=value");
      FSections.back().lines.push_back({text, Trim(text.substr(0, eq)), text.substr(eq + 1)});
    }
  }
}

const TIniFile::Line* TIniFile::Find(const std::string& section, const std::string& key) const {
  const std::string s = Upper(section), k = Upper(key);
  for (const Section& sec : FSections) {
    if (sec.header.empty() || Upper(sec.name) != s) continue;
    for (const Line& line : sec.lines)
      if (!line.key.empty() && Upper(line.key) == k) return &line;
  }
  return nullptr;
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Ident,
                                 const std::string& Default) const {
  const Line* line = Find(Section, Ident);
  return line ? line->value : Default;
}

int32_t TIniFile::ReadInteger(const std::string& Section, const std::string& Ident,
                              int32_t Default) const {
  int32_t value;
  const Line* line = Find(Section, Ident);
  return line && ParseInt32(Trim(line->value), value) ? value : Default;
}

void TIniFile::WriteString(const std::string& Section, const std::string& Ident,
                           const std::string& Value) {
  CheckOneLine(Section + Ident + Value);
  if (Section.find(']') != std::string::npos || Ident.find('=') != std::string::npos ||
      Trim(Ident).empty() || Trim(Ident) != Ident)
    Refuse("name not possible in an ini file");
  FModified = true;
  if (auto* line = const_cast<Line*>(Find(Section, Ident))) {
    line->value = Value;
    line->text = line->key + "=" + Value;
    return;
  }
  const std::string s = Upper(Section);
  auto sec = std::find_if(FSections.begin(), FSections.end(), [&](const auto& x) {
    return !x.header.empty() && Upper(x.name) == s;
  });
  if (sec == FSections.end()) sec = FSections.insert(FSections.end(), {"[" + Section + "]", Section, {}});
  // After the section's last key, ahead of the blank lines that end it.
  auto pos = sec->lines.end();
  while (pos != sec->lines.begin() && std::prev(pos)->key.empty()) --pos;
  sec->lines.insert(pos, {Ident + "=" + Value, Ident, Value});
}

void TIniFile::WriteInteger(const std::string& Section, const std::string& Ident, int32_t Value) {
  WriteString(Section, Ident, std::to_string(Value));
}

void TIniFile::UpdateFile() {
  if (!FModified) return;
  std::string out;
  for (const Section& sec : FSections) {
    if (!sec.header.empty()) out += sec.header + "\n";
    for (const Line& line : sec.lines) out += line.text + "\n";
  }
  WriteFileAtomically(FFileName, out);
  FModified = false;
}

// ---- registry ----------------------------------------------------------------

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

void SetRegistry(TRegistry& Reg, const std::string& Key, const std::string& Name) {
  const size_t slash = Key.find('\\');
  if (slash == std::string::npos) return;
  const std::string root = Upper(Key.substr(0, slash));
  if (root == "HKEY_LOCAL_MACHINE") Reg.RootKey = TRootKey::LocalMachine;
  else if (root == "HKEY_CURRENT_USER") Reg.RootKey = TRootKey::CurrentUser;
  std::string path = Key.substr(slash + 1);
  if (path.empty() || path.back() != '\\') path += '\\';
  Reg.OpenKey(path + Name, true);
}

}  // namespace serial
