#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <vector>

#include "serial/win32_text.h"
#include "server/program_paths.h"

namespace zuvsrv {

std::string ProgramPath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return "";
    if (n < path.size()) return serial::Utf8FromWide(std::wstring(path.data(), n));
    path.resize(path.size() * 2);
  }
}

std::string DefaultStateDir() {
  wchar_t* folder = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder);
  std::string dir = SUCCEEDED(result) ? serial::Utf8FromWide(folder) : "";
  ::CoTaskMemFree(folder);
  return dir.empty() ? "" : dir + "\\zuv-server";
}

}  // namespace zuvsrv
