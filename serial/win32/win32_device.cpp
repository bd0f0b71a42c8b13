// The COM port device on Windows.
//
// Transfers never block the caller. A read takes only what the driver
// already holds (so it completes at once under any time-outs); a write is
// handed to the driver as one overlapped WriteFile from a copy of the bytes
// and finishes in the background; WaitWritable and Drain wait on its event.
// WaitReadable reads one byte under a total time-out and keeps it for the
// next read, because the event thread may own the port's only
// WaitCommEvent.
//
// Every Win32 call is made through Call() or Transfer(): 0 on success,
// GetLastError() otherwise, which the component turns into its error.
#include "serial/win32/win32_device.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

// After the project's headers: <windows.h> defines the same names as macros.
#include <windows.h>

namespace serial {

namespace {

int Call(BOOL ok) { return ok ? 0 : static_cast<int>(::GetLastError()); }

// A closed device answers as a closed handle does.
constexpr int kNotOpen = ERROR_INVALID_HANDLE;
// The driver's "return at once with what is there" read interval.
constexpr DWORD kNoWait = MAXDWORD;

HANDLE NewEvent() { return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }

// One overlapped record with its own event, reused by every operation of
// its kind.
struct Overlapped {
  OVERLAPPED ov{};
  Overlapped() { ov.hEvent = NewEvent(); }
  ~Overlapped() {
    if (ov.hEvent) ::CloseHandle(ov.hEvent);
  }
  Overlapped(const Overlapped&) = delete;
  Overlapped& operator=(const Overlapped&) = delete;
  void Reset() {
    HANDLE event = ov.hEvent;
    ov = OVERLAPPED{};
    ov.hEvent = event;
    ::ResetEvent(event);
  }
};

// Starts a read or write; one that is pending counts as started.
int Started(BOOL ok) {
  if (ok) return 0;
  const DWORD err = ::GetLastError();
  return err == ERROR_IO_PENDING ? 0 : static_cast<int>(err);
}

DCB ToDcb(const TDCB& in) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = in.BaudRate;
  const uint32_t f = in.Flags;
  dcb.fBinary = (f & dcb_Binary) != 0;
  dcb.fParity = (f & dcb_Parity) != 0;
  dcb.fOutxCtsFlow = (f & dcb_OutxCTSFlow) != 0;
  dcb.fOutxDsrFlow = (f & dcb_OutxDSRFlow) != 0;
  dcb.fDtrControl = (f & dcb_DTRControl) >> 4;
  dcb.fDsrSensitivity = (f & dcb_DSRSensivity) != 0;
  dcb.fTXContinueOnXoff = (f & dcb_TxContinueOnXoff) != 0;
  dcb.fOutX = (f & dcb_OutX) != 0;
  dcb.fInX = (f & dcb_InX) != 0;
  dcb.fErrorChar = (f & dcb_ErrorChar) != 0;
  dcb.fNull = (f & dcb_Null) != 0;
  dcb.fRtsControl = (f & dcb_RTSControl) >> 12;
  dcb.fAbortOnError = (f & dcb_AbortOnError) != 0;
  dcb.XonLim = in.XonLim;
  dcb.XoffLim = in.XoffLim;
  dcb.ByteSize = in.ByteSize;
  dcb.Parity = in.Parity;
  dcb.StopBits = in.StopBits;
  dcb.XonChar = static_cast<char>(in.XonChar);
  dcb.XoffChar = static_cast<char>(in.XoffChar);
  dcb.ErrorChar = static_cast<char>(in.ErrorChar);
  dcb.EofChar = static_cast<char>(in.EofChar);
  dcb.EvtChar = static_cast<char>(in.EvtChar);
  return dcb;
}

uint32_t StateFlags(const COMSTAT& s) {
  return (s.fCtsHold ? 0x01u : 0) | (s.fDsrHold ? 0x02u : 0) | (s.fRlsdHold ? 0x04u : 0) |
         (s.fXoffHold ? 0x08u : 0) | (s.fXoffSent ? 0x10u : 0) | (s.fEof ? 0x20u : 0) |
         (s.fTxim ? 0x40u : 0);
}

std::string DevicePath(const std::string& path) {
  static const std::string kPrefix = "\\\\.\\";
  return path.rfind(kPrefix, 0) == 0 ? path : kPrefix + path;
}

class Win32Device : public SerialDevice {
 public:
  ~Win32Device() override { Close(); }

  int Open(const std::string& path) override {
    if (IsOpen()) return ERROR_BUSY;
    if (!read_.ov.hEvent || !write_.ov.hEvent) return ERROR_NOT_ENOUGH_MEMORY;
    HANDLE h = ::CreateFileA(DevicePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    handle_ = h;
    held_ = -1;
    writing_ = false;
    return 0;
  }

  int Close() override {
    if (!IsOpen()) return kNotOpen;
    // The driver must be done with the write's copy before it goes.
    if (writing_) {
      ::CancelIoEx(handle_, &write_.ov);
      DWORD ignored;
      ::GetOverlappedResult(handle_, &write_.ov, &ignored, TRUE);
      writing_ = false;
    }
    const int err = Call(::CloseHandle(handle_));
    handle_ = INVALID_HANDLE_VALUE;
    return err;
  }

  bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }
  int Handle() const override {
    return IsOpen() ? static_cast<int>(reinterpret_cast<intptr_t>(handle_)) : -1;
  }

  int SetCommState(const TDCB& dcb) override {
    if (!IsOpen()) return kNotOpen;
    DCB d = ToDcb(dcb);
    if (int err = Call(::SetCommState(handle_, &d))) return err;
    baud_ = dcb.BaudRate;
    return 0;
  }

  int SetCommTimeouts(const TCommTimeouts& t) override {
    if (!IsOpen()) return kNotOpen;
    COMMTIMEOUTS c{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                   t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    if (int err = Call(::SetCommTimeouts(handle_, &c))) return err;
    timeouts_ = c;
    return 0;
  }

  int SetupComm(int inputSize, int outputSize) override {
    if (!IsOpen()) return kNotOpen;
    return Call(::SetupComm(handle_, static_cast<DWORD>(inputSize), static_cast<DWORD>(outputSize)));
  }

  int ReadSome(uint8_t* buffer, size_t count, size_t& got) override {
    got = 0;
    if (!IsOpen()) return kNotOpen;
    if (count == 0) return 0;
    if (const int held = held_.exchange(-1); held >= 0) {
      buffer[got++] = static_cast<uint8_t>(held);
      if (got == count) return 0;
    }
    COMSTAT stat{};
    DWORD errors = 0;
    if (int err = Call(::ClearCommError(handle_, &errors, &stat))) return err;
    pendingErrors_ |= errors;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(count - got, stat.cbInQue));
    if (want == 0) return 0;
    DWORD n = 0;
    if (int err = Transfer(read_, [&] { return ::ReadFile(handle_, buffer + got, want, nullptr, &read_.ov); }, n))
      return err;
    got += n;
    return 0;
  }

  int WriteSome(const uint8_t* buffer, size_t count, size_t& sent) override {
    sent = 0;
    if (!IsOpen()) return kNotOpen;
    if (count == 0) return 0;
    bool idle = false;
    if (int err = FinishWrite(0, idle)) return err;
    if (!idle) return 0;
    copy_.assign(buffer, buffer + count);
    write_.Reset();
    if (int err = Started(::WriteFile(handle_, copy_.data(), static_cast<DWORD>(copy_.size()),
                                      nullptr, &write_.ov)))
      return err;
    writing_ = true;
    sent = count;
    return 0;
  }

  int WaitReadable(int timeoutMs, bool& ready) override {
    ready = false;
    if (!IsOpen()) return kNotOpen;
    uint32_t waiting = 0;
    if (int err = PeekInputCount(waiting)) return err;
    ready = waiting > 0;
    if (ready || timeoutMs <= 0) return 0;
    // One byte or the time-out, whichever comes first; the byte is kept.
    // (A constant of 0 with the other two at 0 would wait without limit.)
    COMMTIMEOUTS firstByte{0, 0, static_cast<DWORD>(timeoutMs), timeouts_.WriteTotalTimeoutMultiplier,
                           timeouts_.WriteTotalTimeoutConstant};
    if (int err = Call(::SetCommTimeouts(handle_, &firstByte))) return err;
    uint8_t byte = 0;
    DWORD n = 0;
    int err = Transfer(read_, [&] { return ::ReadFile(handle_, &byte, 1, nullptr, &read_.ov); }, n);
    // Windows ends a timed-out read with what it got; wine fails it instead.
    if (err == ERROR_TIMEOUT) err = 0;
    const int restored = Call(::SetCommTimeouts(handle_, &timeouts_));
    if (err) return err;
    if (n == 1) {
      held_ = byte;
      ready = true;
    }
    return restored;
  }

  int WaitWritable(int timeoutMs, bool& ready) override {
    if (!IsOpen()) return kNotOpen;
    return FinishWrite(timeoutMs, ready);
  }

  int Drain(int timeoutMs, bool& drained) override {
    drained = false;
    if (!IsOpen()) return kNotOpen;
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(timeoutMs, 0));
    bool idle = false;
    if (int err = FinishWrite(timeoutMs, idle)) return err;
    if (!idle) return 0;
    for (;;) {
      COMSTAT stat{};
      DWORD errors = 0;
      if (int err = Call(::ClearCommError(handle_, &errors, &stat))) return err;
      pendingErrors_ |= errors;
      if (stat.cbOutQue == 0) return drained = true, 0;
      const ULONGLONG now = ::GetTickCount64();
      if (now >= end) return 0;
      // The time the queued characters need on the line (10 bits each).
      const ULONGLONG need = ULONGLONG{stat.cbOutQue} * 10000 / std::max<uint32_t>(baud_, 1) + 1;
      ::Sleep(static_cast<DWORD>(std::min(need, end - now)));
    }
  }

  int ClearCommError(TComStat& stat) override {
    stat = TComStat{};
    if (!IsOpen()) return kNotOpen;
    COMSTAT s{};
    DWORD errors = 0;
    if (int err = Call(::ClearCommError(handle_, &errors, &s))) return err;
    stat.Errors = errors | pendingErrors_.exchange(0);
    stat.Flags = StateFlags(s);
    stat.InQueue = s.cbInQue + (held_.load() >= 0 ? 1 : 0);
    stat.OutQueue = s.cbOutQue;
    return 0;
  }

  int Purge(uint32_t flags) override {
    if (!IsOpen()) return kNotOpen;
    if (flags & PURGE_RXCLEAR) held_ = -1;
    if (int err = Call(::PurgeComm(handle_, flags))) return err;
    // An aborted write still has to hand its copy back.
    if ((flags & PURGE_TXABORT) && writing_) {
      DWORD ignored;
      ::GetOverlappedResult(handle_, &write_.ov, &ignored, TRUE);
      writing_ = false;
    }
    return 0;
  }

  // A port without modem lines (wine's port on a pseudo-terminal) reads
  // them all off rather than failing, as the tty device does.
  int GetModemStatus(uint32_t& status) override {
    const int err = GetModemLines(status);
    return err == ERROR_NOT_SUPPORTED ? 0 : err;
  }

  int EscapeCommFunction(int function) override {
    if (!IsOpen()) return kNotOpen;
    return Call(::EscapeCommFunction(handle_, static_cast<DWORD>(function)));
  }

  int TransmitCommChar(uint8_t ch) override {
    if (!IsOpen()) return kNotOpen;
    return Call(::TransmitCommChar(handle_, static_cast<char>(ch)));
  }

  int64_t NowMs() const override { return static_cast<int64_t>(::GetTickCount64()); }

  int PeekInputCount(uint32_t& count) const override {
    count = 0;
    if (!IsOpen()) return kNotOpen;
    COMSTAT s{};
    DWORD errors = 0;
    if (int err = Call(::ClearCommError(handle_, &errors, &s))) return err;
    // Kept for the owner's next status query.
    pendingErrors_ |= errors;
    count = s.cbInQue + (held_.load() >= 0 ? 1 : 0);
    return 0;
  }

  int GetModemLines(uint32_t& status) const override {
    status = 0;
    if (!IsOpen()) return kNotOpen;
    DWORD lines = 0;
    if (int err = Call(::GetCommModemStatus(handle_, &lines))) return err;
    status = lines & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    return 0;
  }

  // The driver reports line changes and errors as events itself.
  int GetLineCounters(TLineCounters& counters) const override {
    counters = TLineCounters{};
    return ERROR_NOT_SUPPORTED;
  }

 private:
  // Runs one overlapped read and waits for its end; `n` bytes moved.
  template <typename Start>
  int Transfer(Overlapped& o, Start start, DWORD& n) {
    n = 0;
    o.Reset();
    if (int err = Started(start())) return err;
    return Call(::GetOverlappedResult(handle_, &o.ov, &n, TRUE));
  }

  // Waits at most `timeoutMs` for the write in flight; `idle` once none is.
  int FinishWrite(int timeoutMs, bool& idle) {
    idle = !writing_;
    if (idle) return 0;
    const DWORD wait = ::WaitForSingleObject(write_.ov.hEvent, static_cast<DWORD>(std::max(timeoutMs, 0)));
    if (wait == WAIT_TIMEOUT) return 0;
    if (wait != WAIT_OBJECT_0) return static_cast<int>(::GetLastError());
    DWORD n = 0;
    writing_ = false;
    idle = true;
    return Call(::GetOverlappedResult(handle_, &write_.ov, &n, FALSE));
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  COMMTIMEOUTS timeouts_{kNoWait, 0, 0, 100, 1000};
  uint32_t baud_ = 9600;
  Overlapped read_, write_;
  std::vector<uint8_t> copy_;  // the bytes of the write in flight
  bool writing_ = false;
  // The byte WaitReadable took, or -1; the event thread may look at it.
  std::atomic<int> held_{-1};
  // Line errors a query that is not the owner's took from the driver.
  mutable std::atomic<uint32_t> pendingErrors_{0};
};

}  // namespace

void* Win32HandleOf(int handle) {
  return handle < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

std::unique_ptr<SerialDevice> MakeWin32Device() { return std::make_unique<Win32Device>(); }

// The system's serial device on Windows is its COM port.
std::unique_ptr<SerialDevice> MakeTtyDevice() { return MakeWin32Device(); }

}  // namespace serial
