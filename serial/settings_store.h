// The two places the component's settings can be kept: an ini file, and the
// registry (on Linux a registry-like tree of keys in files under the user's
// configuration directory). Both throw std::runtime_error on any failure;
// the component turns that into its store/load error.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace serial {

// An ini file held in memory: sections of key=value lines. Values are kept
// exactly as written (no trimming), keys and section names compare without
// regard to ASCII case. Comments and other sections survive a rewrite.
class TIniFile {
 public:
  // Reads the file; a missing file is an empty one. Throws when a line is
  // neither blank, a comment (; or #), a [section] nor key=value.
  explicit TIniFile(std::string FileName);
  std::string ReadString(const std::string& Section, const std::string& Ident,
                         const std::string& Default) const;
  int32_t ReadInteger(const std::string& Section, const std::string& Ident, int32_t Default) const;
  void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);
  void WriteInteger(const std::string& Section, const std::string& Ident, int32_t Value);
  // Writes the file (atomically) when something was written.
  void UpdateFile();

 private:
  struct Line {
    std::string text;     // as in the file, for comments and blank lines
    std::string key;      // empty for a comment, blank or section line
    std::string value;
  };
  struct Section {
    std::string header;   // the [name] line; empty for lines before any
    std::string name;
    std::vector<Line> lines;
  };
  void Parse(const std::string& contents);
  const Line* Find(const std::string& section, const std::string& key) const;

  std::string FFileName;
  std::vector<Section> FSections;
  bool FModified = false;
};

// Registry roots.
enum class TRootKey { CurrentUser, LocalMachine };

// A hierarchical key store with string and 32-bit integer values.
// Windows: the system registry (REG_SZ and REG_DWORD values).
// Linux: each key is a directory under <config>/zuv-serial/registry/<ROOT>/
// (config: $XDG_CONFIG_HOME, else ~/.config); its values live in the file
// "values" there, one per line in .reg style: "Name"="text" or
// "Name"=dword:0000007b.
class TRegistry {
 public:
  TRootKey RootKey = TRootKey::CurrentUser;
#ifdef _WIN32
  TRegistry() = default;
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;
#endif
  // Opens the key given by backslash-separated names below the root,
  // creating it when asked; empty names are skipped. Linux refuses the
  // names "." and ".." and names with a '/'.
  bool OpenKey(const std::string& Key, bool CanCreate);
#ifdef _WIN32
  bool HasKey() const { return FKey != nullptr; }
#else
  bool HasKey() const { return !FKeyDir.empty(); }
#endif
  void WriteString(const std::string& Name, const std::string& Value);
  void WriteInteger(const std::string& Name, int32_t Value);
  // Missing: the empty text. Throws when the value is an integer.
  std::string ReadString(const std::string& Name) const;
  // Throws when missing or not an integer.
  int32_t ReadInteger(const std::string& Name) const;
  // Linux: writes the open key's values (atomically) when something was
  // written. Windows writes each value at once.
  void CloseKey();

#ifndef _WIN32
  // The directory of the root (for tests and the README's layout).
  static std::string RootDirectory(TRootKey Root);
#endif

 private:
#ifdef _WIN32
  void* FKey = nullptr;  // HKEY
#else
  struct Value {
    bool isInteger = false;
    std::string text;
    int32_t number = 0;
  };
  void Load();
  const Value& Get(const std::string& Name) const;

  std::string FKeyDir;
  std::map<std::string, Value> FValues;
  std::vector<std::string> FOrder;  // names in the order they were first seen
  bool FModified = false;
#endif
};

// Selects the root from the part of `Key` before its first backslash
// ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"; anything else keeps the
// current-user root) and opens the rest with `Name` appended, creating it.
// A key without a backslash opens nothing.
void SetRegistry(TRegistry& Reg, const std::string& Key, const std::string& Name);

}  // namespace serial
