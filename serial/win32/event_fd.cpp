// EventFd on Windows: a manual-reset event object, waited on with
// WaitForMultipleObjects. Its handle travels as an int like a descriptor
// (Windows keeps handles within 32 bits).
#include "serial/event_fd.h"

#include <cstdint>
#include <system_error>

#include <windows.h>

namespace serial {

namespace {
HANDLE AsHandle(int handle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)); }
}  // namespace

EventFd::EventFd() {
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Without it a waiter could never be woken (a stop would hang Close).
  if (!event) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateEvent");
  FHandle = static_cast<int>(reinterpret_cast<intptr_t>(event));
}

EventFd::~EventFd() { ::CloseHandle(AsHandle(FHandle)); }

void EventFd::Signal() { ::SetEvent(AsHandle(FHandle)); }

void EventFd::Clear() { ::ResetEvent(AsHandle(FHandle)); }

int WaitReadable(const int* handles, int count, int timeoutMs) {
  HANDLE list[4];
  int n = 0;
  for (int i = 0; i < count && n < 4; ++i)
    if (handles[i] >= 0) list[n++] = AsHandle(handles[i]);
  if (n == 0) {
    if (timeoutMs != 0) ::Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    return 0;
  }
  const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  const DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(n), list, FALSE, wait);
  if (r == WAIT_TIMEOUT) return 0;
  if (r < WAIT_OBJECT_0 + static_cast<DWORD>(n)) return 1;
  return -1;
}

}  // namespace serial
