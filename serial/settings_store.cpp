#include "settings_store.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "atomic_file.h"
#include "settings_text.h"

namespace serial {

namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
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

}  // namespace

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

[[noreturn]] void Refuse(const std::string& why) { throw std::runtime_error(why); }

void CheckOneLine(const std::string& text) {
  if (text.find_first_of("\r\n") != std::string::npos) Refuse("line break in a setting");
}

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

// ---- registry path -----------------------------------------------------------

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
