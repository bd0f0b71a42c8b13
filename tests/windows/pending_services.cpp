// Stand-ins for the Windows system services that the serial library's
// programs link against until the Windows port of those services is merged
// (configure with -DZUV_WIN32_SERVICES=ON then, and this file goes). Only
// what the Windows tests reach is here, each doing the plain Windows thing.
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "serial/atomic_file.h"
#include "serial/codepage.h"
#include "serial/names.h"
#include "serial/tcp_device.h"

#include <windows.h>

namespace serial {

// The COM device adds the "\\.\" namespace itself.
std::string PortPath(const std::string& name) { return name; }

bool IsTcpPortName(const std::string& name) { return name.rfind("tcp://", 0) == 0; }

// No TCP device yet: a tcp:// name fails to open as a COM port would.
std::unique_ptr<SerialDevice> MakeTcpDevice() { return MakeTtyDevice(); }

namespace {
// 0 is UTF-8 here, as on Linux.
UINT Windows(uint32_t codePage) { return codePage == 0 ? CP_UTF8 : codePage; }
}  // namespace

std::string EncodeCodePage(const std::u16string& text, uint32_t codePage) {
  codePage = Windows(codePage);
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int wideLen = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(codePage, 0, wide, wideLen, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) ::WideCharToMultiByte(codePage, 0, wide, wideLen, out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string DecodeCodePage(const std::string& bytes, uint32_t codePage) {
  codePage = Windows(codePage);
  const int len = static_cast<int>(bytes.size());
  const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), len, nullptr, 0);
  std::u16string out(static_cast<size_t>(n > 0 ? n : 0), u'\0');
  if (n > 0)
    ::MultiByteToWideChar(codePage, 0, bytes.data(), len, reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

namespace {
[[noreturn]] void Fail(const char* what, const std::string& path) {
  throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                          std::string(what) + " " + path);
}
}  // namespace

bool ReadWholeFile(const std::string& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void WriteFileAtomically(const std::string& path, const std::string& contents) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out.flush()) Fail("write", temporary);
  }
  if (!::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    Fail("replace", path);
}

void MakeDirectories(const std::string& path) {
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/' && path[i] != '\\') continue;
    const std::string prefix = path.substr(0, i);
    if (prefix.empty() || prefix.back() == ':') continue;
    if (!::CreateDirectoryA(prefix.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
      Fail("create", prefix);
  }
}

}  // namespace serial
