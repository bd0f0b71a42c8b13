// WaitForEvent on Windows: one overlapped WaitCommEvent for the events
// asked for, waited on with the caller's stop event.
#include "serial/com_thread.h"
#include "serial/comport.h"
#include "serial/win32/win32_device.h"

#include <windows.h>

namespace serial {

namespace {
// The completion event, closed also when a step reports.
struct WaitEvent {
  HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~WaitEvent() {
    if (handle) ::CloseHandle(handle);
  }
};
}  // namespace

void TCustomComPort::WaitForEvent(TComEvents& Events, int StopEvent, int32_t Timeout) {
  const TComEvents wanted = Events;
  Events = 0;
  if (FThreadCreated) return CallException(CError_ThreadCreated);
  HANDLE device = static_cast<HANDLE>(Win32HandleOf(FDevice->EventDescriptor()));
  WaitEvent event;
  if (!event.handle) return CallException(CError_WaitFailed, static_cast<int>(::GetLastError()));
  OVERLAPPED ov{};
  ov.hEvent = event.handle;
  DWORD mask = 0;
  if (!::SetCommMask(device, EventsToInt(wanted)) ||
      (!::WaitCommEvent(device, &mask, &ov) && ::GetLastError() != ERROR_IO_PENDING))
    return CallException(CError_WaitFailed, static_cast<int>(::GetLastError()));
  const HANDLE list[2] = {event.handle, reinterpret_cast<HANDLE>(static_cast<intptr_t>(StopEvent))};
  const DWORD r = ::WaitForMultipleObjects(StopEvent > 0 ? 2 : 1, list, FALSE,
                                           Timeout < 0 ? INFINITE : static_cast<DWORD>(Timeout));
  const DWORD failure = r == WAIT_FAILED ? ::GetLastError() : 0;
  // A mask of 0 ends a wait still pending, with an empty mask.
  ::SetCommMask(device, 0);
  ::CancelIoEx(device, &ov);
  DWORD ignored;
  ::GetOverlappedResult(device, &ov, &ignored, TRUE);
  if (failure) return CallException(CError_WaitFailed, static_cast<int>(failure));
  if (r != WAIT_OBJECT_0) return;
  // Some drivers (wine's) end a wait with an empty mask: waiting input is
  // then an arrival all the same.
  if (mask == 0 && (wanted & EventBit(evRxChar))) {
    uint32_t waiting = 0;
    if (FDevice->PeekInputCount(waiting) == 0 && waiting > 0) mask = EV_RXCHAR;
  }
  Events = IntToEvents(mask) & wanted;
}

}  // namespace serial
