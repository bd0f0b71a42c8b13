#include <windows.h>

#include <stdexcept>

#include "serial/win32_text.h"
#include "server/stop_request.h"

namespace zuvsrv {
namespace {

// Manual-reset: set once, the stop stays asked for.
HANDLE StopEvent() {
  static const HANDLE event = [] {
    const HANDLE made = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!made)
      throw std::runtime_error("CreateEvent: " + serial::SystemErrorText(::GetLastError()));
    return made;
  }();
  return event;
}

// Every console event asks for the stop. For a close, log-off or shut-down
// Windows ends the process when the handler returns, so it waits there for
// the orderly stop to end the process first.
BOOL WINAPI OnConsoleControl(DWORD type) {
  ::SetEvent(StopEvent());
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
    ::Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void PrepareStopRequests() {
  StopEvent();
  if (!::SetConsoleCtrlHandler(OnConsoleControl, TRUE))
    throw std::runtime_error("SetConsoleCtrlHandler: " + serial::SystemErrorText(::GetLastError()));
}

void RequestStop() { ::SetEvent(StopEvent()); }

StopWatcher::StopWatcher(std::function<void()> onStop)
    : thread_([onStop = std::move(onStop)] {
        ::WaitForSingleObject(StopEvent(), INFINITE);
        onStop();
      }) {}

StopWatcher::~StopWatcher() {
  ::SetEvent(StopEvent());
  thread_.join();
}

}  // namespace zuvsrv
