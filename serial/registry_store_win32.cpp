// The registry form on Windows: the system registry itself, texts as
// REG_SZ and integers as REG_DWORD values of the opened key.
#include <windows.h>

#include <cstring>

#include "settings_store.h"
#include "settings_text.h"
#include "win32_text.h"

namespace serial {

namespace {

HKEY Root(TRootKey root) {
  return root == TRootKey::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

HKEY Handle(void* key) { return static_cast<HKEY>(key); }

// The key path without empty names: "A\\\\B\\" is A\B.
std::wstring KeyPath(const std::string& key) {
  std::string path;
  size_t at = 0;
  while (at <= key.size()) {
    size_t end = key.find('\\', at);
    if (end == std::string::npos) end = key.size();
    if (end > at) path += (path.empty() ? "" : "\\") + key.substr(at, end - at);
    at = end + 1;
  }
  return WideFromUtf8(path);
}

void Check(LSTATUS status, const std::string& what) {
  if (status != ERROR_SUCCESS) Refuse(what + ": " + SystemErrorText(static_cast<DWORD>(status)));
}

// Type and bytes of a value; false when it does not exist.
bool Query(HKEY key, const std::string& name, DWORD& type, std::string& data) {
  const std::wstring wide = WideFromUtf8(name);
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    const LSTATUS status = ::RegQueryValueExW(key, wide.c_str(), nullptr, &type,
                                              reinterpret_cast<BYTE*>(data.data()), &size);
    if (status == ERROR_FILE_NOT_FOUND) return false;
    if (status == ERROR_MORE_DATA) {  // `size` is what it needs
      data.resize(size);
      continue;
    }
    Check(status, "cannot read registry value " + name);
    data.resize(size);
    return true;
  }
}

}  // namespace

TRegistry::~TRegistry() { CloseKey(); }

bool TRegistry::OpenKey(const std::string& Key, bool CanCreate) {
  CloseKey();
  const HKEY root = Root(RootKey);
  const std::wstring path = KeyPath(Key);
  HKEY key = nullptr;
  LSTATUS status = CanCreate
                       ? ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_READ | KEY_WRITE, nullptr, &key, nullptr)
                       : ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WRITE, &key);
  // A user may read the machine's settings without the right to change them.
  if (status == ERROR_ACCESS_DENIED &&
      ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS)
    status = ERROR_SUCCESS;
  if (!CanCreate && status == ERROR_FILE_NOT_FOUND) return false;
  Check(status, "cannot open registry key " + Key);
  FKey = key;
  return true;
}

void TRegistry::WriteString(const std::string& Name, const std::string& Value) {
  if (!HasKey()) Refuse("no registry key open");
  const std::wstring text = WideFromUtf8(Value);
  const DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  Check(::RegSetValueExW(Handle(FKey), WideFromUtf8(Name).c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(text.c_str()), size),
        "cannot write registry value " + Name);
}

void TRegistry::WriteInteger(const std::string& Name, int32_t Value) {
  if (!HasKey()) Refuse("no registry key open");
  const DWORD number = static_cast<DWORD>(Value);
  Check(::RegSetValueExW(Handle(FKey), WideFromUtf8(Name).c_str(), 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&number), sizeof number),
        "cannot write registry value " + Name);
}

std::string TRegistry::ReadString(const std::string& Name) const {
  if (!HasKey()) Refuse("no registry key open");
  DWORD type = REG_NONE;
  std::string data;
  if (!Query(Handle(FKey), Name, type, data)) return "";
  if (type != REG_SZ && type != REG_EXPAND_SZ) Refuse("registry value is not a text: " + Name);
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();  // stored with or without it
  return Utf8FromWide(text);
}

int32_t TRegistry::ReadInteger(const std::string& Name) const {
  if (!HasKey()) Refuse("no registry key open");
  DWORD type = REG_NONE;
  std::string data;
  if (!Query(Handle(FKey), Name, type, data) || type != REG_DWORD || data.size() != sizeof(DWORD))
    Refuse("registry value is not an integer: " + Name);
  DWORD number = 0;
  std::memcpy(&number, data.data(), sizeof number);
  return static_cast<int32_t>(number);
}

void TRegistry::CloseKey() {
  if (!HasKey()) return;
  ::RegCloseKey(Handle(FKey));
  FKey = nullptr;
}

}  // namespace serial
