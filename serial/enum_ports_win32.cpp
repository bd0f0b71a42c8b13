// The port listing on Windows: the device names registered under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, one value per port ("COM3").
#include <windows.h>

#include "enum_ports.h"
#include "names.h"
#include "win32_text.h"

namespace serial {

namespace {

constexpr const wchar_t* kSerialCommKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
// Room for a value's name, in characters, and for its data, in bytes.
constexpr DWORD kNameRoom = 256;
constexpr DWORD kDataRoom = 256;

class OpenKey {
 public:
  explicit OpenKey(const wchar_t* path) {
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key_) != ERROR_SUCCESS)
      key_ = nullptr;
  }
  ~OpenKey() {
    if (key_) ::RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

void EnumComPorts(std::vector<std::string>& Ports) {
  const OpenKey key(kSerialCommKey);
  if (!key.get()) return;
  std::vector<std::string> found;
  // Only the data name the ports; the value names are the drivers' own.
  for (DWORD index = 0;; ++index) {
    wchar_t name[kNameRoom];
    DWORD nameSize = kNameRoom;
    wchar_t data[kDataRoom / sizeof(wchar_t)];
    DWORD dataSize = kDataRoom;
    DWORD type = REG_NONE;
    // No more values, or one too long for the room: the listing ends here.
    if (::RegEnumValueW(key.get(), index, name, &nameSize, nullptr, &type,
                        reinterpret_cast<BYTE*>(data), &dataSize) != ERROR_SUCCESS)
      break;
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    std::wstring port(data, dataSize / sizeof(wchar_t));
    while (!port.empty() && port.back() == L'\0') port.pop_back();
    found.push_back(Utf8FromWide(port));
  }
  SortPortNames(found);
  Ports = std::move(found);
}

}  // namespace serial
