// The event thread's wait on Windows: the driver's own line events through
// an overlapped WaitCommEvent, waited on together with the stop event.
//
// Two driver traits are met here (wine's port on a pseudo-terminal has
// both): a port without modem lines may refuse a wait that includes their
// events, and a wait may end at once with no event. The modem-line events
// are then left out of the mask; a wait that ends empty has the input queue
// looked at, and is made again only after kLineSampleMs (as the Linux wait
// samples what its device cannot report), so such a driver costs a look per
// interval instead of a busy loop.
#include "serial/com_thread.h"
#include "serial/win32/win32_device.h"

#include <memory>

#include <windows.h>

namespace serial {

namespace {

constexpr int kPriorities[] = {THREAD_PRIORITY_IDLE,   THREAD_PRIORITY_LOWEST,
                               THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                               THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                               THREAD_PRIORITY_TIME_CRITICAL};

HANDLE EventHandle(const EventFd& event) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(event.Handle()));
}

// Longest wait for the driver to end a cancelled WaitCommEvent.
constexpr DWORD kCancelBoundMs = 10000;

// One overlapped WaitCommEvent at a time on the device. The record lives on
// the heap: a driver that never ends a cancelled wait keeps it (and writes
// into it), so it is then left to it rather than freed.
class CommEventWait {
 public:
  explicit CommEventWait(HANDLE device) : FDevice(device), FRecord(new Record) {
    FRecord->ov.hEvent = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
  }
  ~CommEventWait() {
    if (FPending) {
      // A mask of 0 ends the wait; so does a cancel.
      ::SetCommMask(FDevice, 0);
      ::CancelIoEx(FDevice, &FRecord->ov);
      if (::WaitForSingleObject(FRecord->ov.hEvent, kCancelBoundMs) != WAIT_OBJECT_0) {
        [[maybe_unused]] Record* left = FRecord.release();
        return;
      }
    }
    if (FRecord->ov.hEvent) ::CloseHandle(FRecord->ov.hEvent);
  }
  CommEventWait(const CommEventWait&) = delete;
  CommEventWait& operator=(const CommEventWait&) = delete;

  HANDLE Event() const { return FRecord->ov.hEvent; }

  // Starts a wait: false when the driver refuses it. `done` when it
  // completed at once.
  bool Start(bool& done) {
    HANDLE event = FRecord->ov.hEvent;
    FRecord->ov = OVERLAPPED{};
    FRecord->ov.hEvent = event;
    ::ResetEvent(event);
    FRecord->mask = 0;
    done = ::WaitCommEvent(FDevice, &FRecord->mask, &FRecord->ov) != 0;
    FPending = !done && ::GetLastError() == ERROR_IO_PENDING;
    return done || FPending;
  }

  // After the event fired: the mask, or false when the wait failed.
  bool Finish(DWORD& mask) {
    FPending = false;
    DWORD ignored;
    if (!::GetOverlappedResult(FDevice, &FRecord->ov, &ignored, FALSE)) return false;
    mask = FRecord->mask;
    return true;
  }

 private:
  struct Record {
    OVERLAPPED ov{};
    DWORD mask = 0;
  };
  HANDLE FDevice;
  std::unique_ptr<Record> FRecord;
  bool FPending = false;
};

constexpr DWORD kModemLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

// A wait that ended with an empty mask: waiting input is taken as an
// arrival.
DWORD WithInput(HANDLE device, DWORD mask, DWORD wanted) {
  if (mask != 0 || !(wanted & EV_RXCHAR)) return mask;
  DWORD errors = 0;
  COMSTAT stat{};
  if (::ClearCommError(device, &errors, &stat) && stat.cbInQue > 0) mask |= EV_RXCHAR;
  return mask;
}

}  // namespace

void TComThread::ApplyPriority() const {
  if (FPriority == tpNormal) return;
  // Raising may be refused; the thread keeps the normal priority then.
  ::SetThreadPriority(::GetCurrentThread(), kPriorities[FPriority]);
}

void TComThread::Execute() {
  ApplyPriority();
  HANDLE device = static_cast<HANDLE>(Win32HandleOf(FDevice.EventDescriptor()));
  DWORD wanted = EventsToInt(FWanted);
  // A device that did not open (the owner's handler let Open go on) or is
  // no COM port is not waited on: the thread waits for its stop alone.
  bool failed = device == INVALID_HANDLE_VALUE || !::SetCommMask(device, wanted);
  {
    CommEventWait wait(device);
    failed = failed || !wait.Event();
    const HANDLE stop = EventHandle(FStopEvent);
    bool pending = false;
    DWORD pause = 0;  // before the next wait: the driver's last one ended empty
    while (!FStopping) {
      bool done = false;
      if (!failed && !pending && !pause) {
        failed = !wait.Start(done);
        if (failed && ::GetLastError() == ERROR_NOT_SUPPORTED && (wanted & kModemLineEvents)) {
          wanted &= ~kModemLineEvents;
          failed = !::SetCommMask(device, wanted) || !wait.Start(done);
        }
        pending = !failed && !done;
      }
      if (!done) {
        const HANDLE list[2] = {stop, wait.Event()};
        const DWORD r = ::WaitForMultipleObjects(failed || pause ? 1 : 2, list, FALSE,
                                                 pause ? pause : INFINITE);
        if (r == WAIT_TIMEOUT) {
          pause = 0;
          continue;
        }
        if (r == WAIT_OBJECT_0) {
          // The owner's wake-ups mean nothing here: the driver reports
          // arrivals and an empty output queue itself.
          FStopEvent.Clear();
          FTxDrained = false;
          continue;
        }
        if (r != WAIT_OBJECT_0 + 1) break;  // a wait that cannot be made ends the thread
        pending = false;
      }
      DWORD mask = 0;
      const bool completed = wait.Finish(mask);
      const TComEvents events = IntToEvents(WithInput(device, completed ? mask : 0, wanted)) & FWanted;
      if (!events) pause = kLineSampleMs;
      if (!events || FStopping) continue;
      FEvents = events;
      DispatchComMsg();
    }
  }
  if (!failed) ::SetCommMask(device, 0);
  FDone.Signal();
}

}  // namespace serial
