#include <windows.h>

#include "serial/win32_text.h"
#include "server/instance_lock.h"

namespace zuvsrv {
namespace {

// The lock covers one byte far past the pid, so that a refused second
// start can still read the pid (Windows locks are mandatory).
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

OVERLAPPED At(DWORD offsetHigh) {
  OVERLAPPED where{};
  where.OffsetHigh = offsetHigh;
  return where;
}

std::string HolderPid(HANDLE file) {
  char text[32] = {};
  DWORD n = 0;
  OVERLAPPED start = At(0);
  if (!::ReadFile(file, text, sizeof text - 1, &n, &start)) n = 0;
  std::string pid(text, n);
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == '\r' || pid.back() == ' '))
    pid.pop_back();
  return pid.empty() ? "?" : pid;
}

[[noreturn]] void Fail(const std::string& what, const std::string& path, DWORD code) {
  throw std::runtime_error(what + " " + path + ": " + serial::SystemErrorText(code));
}

}  // namespace

InstanceLock::InstanceLock(const std::string& stateDir) {
  const std::string path = stateDir + "/lock";
  // Shared opening: a second start must reach the lock call and the pid.
  const HANDLE file = ::CreateFileW(serial::WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("cannot open", path, ::GetLastError());
  OVERLAPPED lockAt = At(kLockOffsetHigh);
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &lockAt)) {
    const DWORD error = ::GetLastError();
    const std::string pid = HolderPid(file);
    ::CloseHandle(file);
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
      throw InstanceLockBusy("another zuv-server (pid " + pid + ") is using " + stateDir);
    Fail("cannot lock", path, error);
  }
  file_ = file;
  const std::string pid = std::to_string(::GetCurrentProcessId()) + "\n";
  DWORD written = 0;
  OVERLAPPED start = At(0);
  LARGE_INTEGER end{};
  end.QuadPart = LONGLONG(pid.size());
  if (!::WriteFile(file, pid.data(), DWORD(pid.size()), &written, &start) ||
      written != pid.size() || !::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) ||
      !::SetEndOfFile(file)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    file_ = nullptr;
    Fail("cannot write", path, error);
  }
}

InstanceLock::~InstanceLock() {
  if (file_) ::CloseHandle(file_);
}

}  // namespace zuvsrv
