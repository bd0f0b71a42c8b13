// Byte I/O: asynchronous records, the blocking operations built on them,
// status queries and line control.
//
// There are no threads behind an asynchronous operation: it moves what can
// move whenever the owner looks at it (start, IsAsyncCompleted, WaitForAsync)
// and completes by the read/write time-out rules, all measured on the
// device's clock.
#include <algorithm>
#include <cerrno>

#include "codepage.h"
#include "comport.h"

namespace serial {

namespace {
// Longest single wait of an operation that has no deadline; the wait ends
// earlier as soon as the device is ready.
constexpr int kWaitSliceMs = 1000;

int ClampWait(int64_t ms) {
  return static_cast<int>(std::clamp<int64_t>(ms, 0, kWaitSliceMs));
}
}  // namespace

// ---- records ---------------------------------------------------------------

void InitAsync(PAsync& AsyncPtr) { AsyncPtr = new TAsync(); }

void DoneAsync(PAsync& AsyncPtr) {
  if (!AsyncPtr) return;
  if (AsyncPtr->Owner) AsyncPtr->Owner->Unregister(AsyncPtr);
  delete AsyncPtr;
  AsyncPtr = nullptr;
}

int ErrorCode(PAsync AsyncPtr) {
  if (!AsyncPtr) return 0;
  switch (AsyncPtr->Kind) {
    case okWrite: return CError_WriteFailed;
    case okRead: return CError_ReadFailed;
  }
  return 0;
}

void TCustomComPort::Unregister(TAsync* async) {
  FPending.erase(std::remove(FPending.begin(), FPending.end(), async), FPending.end());
  async->Owner = nullptr;
}

void TCustomComPort::Complete(TAsync& async, int error) {
  async.Completed = true;
  async.Pending = false;
  async.Error = error;
  if (async.Owner) Unregister(&async);
}

int64_t TCustomComPort::Deadline(const TAsync& async) const {
  int64_t deadline = -1;
  if (async.TotalMs >= 0) deadline = async.StartMs + async.TotalMs;
  if (async.Kind == okRead && async.IntervalMs > 0 && async.LastByteMs >= 0) {
    const int64_t gapEnd = async.LastByteMs + async.IntervalMs;
    deadline = deadline < 0 ? gapEnd : std::min(deadline, gapEnd);
  }
  return deadline;
}

int TCustomComPort::Move(TAsync& async) {
  if (async.Done >= async.Requested) return 0;
  SerialDevice& dev = *FDevice;
  size_t moved = 0;
  const size_t left = async.Requested - async.Done;
  const int err = async.Kind == okRead
                      ? dev.ReadSome(async.ReadBuffer + async.Done, left, moved)
                      : dev.WriteSome(async.WriteBuffer + async.Done, left, moved);
  async.Done += moved;
  if (async.Kind == okRead) {
    if (moved) async.LastByteMs = dev.NowMs();
    NoteRxConsumed();
  }
  return err;
}

bool TCustomComPort::Settle(TAsync& async) {
  const int64_t deadline = Deadline(async);
  const bool late = deadline >= 0 && FDevice->NowMs() >= deadline;
  if (async.Kind == okWrite && async.Done >= async.Requested && !late) {
    // A write is done when its bytes have left the device, so that a purge
    // straight after it cannot throw them away.
    bool drained = false;
    if (int err = FDevice->Drain(0, drained)) {
      Complete(async, err);
    } else if (drained) {
      Complete(async, 0);
      NoteTxDrained();
    }
    return !async.Pending;
  }
  if (async.Done >= async.Requested || async.Immediate || late) Complete(async, 0);
  return !async.Pending;
}

void TCustomComPort::Progress(TAsync& async, int waitMs) {
  SerialDevice& dev = *FDevice;
  const int64_t waitEnd = dev.NowMs() + waitMs;
  while (async.Pending) {
    if (int err = Move(async)) return Complete(async, err);
    if (Settle(async)) return;
    const int64_t now = dev.NowMs();
    if (now >= waitEnd) return;
    int64_t wait = waitEnd - now;
    if (const int64_t deadline = Deadline(async); deadline >= 0) wait = std::min(wait, deadline - now);
    bool ready = false;
    int err;
    if (async.Kind == okRead)
      err = dev.WaitReadable(ClampWait(wait), ready);
    else if (async.Done < async.Requested)
      err = dev.WaitWritable(ClampWait(wait), ready);
    else
      err = dev.Drain(ClampWait(wait), ready);
    if (err) return Complete(async, err);
  }
}

bool TCustomComPort::Start(TAsync& async) {
  if (async.Owner) async.Owner->Unregister(&async);
  async.Done = 0;
  async.Pending = false;
  async.Completed = false;
  async.Error = 0;
  async.LastByteMs = -1;
  async.StartMs = FDevice->NowMs();

  const TCommTimeouts& t = FCommTimeouts;
  const uint64_t bytes = async.Requested;
  uint64_t multiplier, constant;
  if (async.Kind == okRead) {
    multiplier = t.ReadTotalTimeoutMultiplier;
    constant = t.ReadTotalTimeoutConstant;
    async.Immediate = t.ReadIntervalTimeout == 0xFFFFFFFFu && multiplier == 0 && constant == 0;
    async.IntervalMs = t.ReadIntervalTimeout;
  } else {
    multiplier = t.WriteTotalTimeoutMultiplier;
    constant = t.WriteTotalTimeoutConstant;
    async.Immediate = false;
    async.IntervalMs = 0;
  }
  // Below 2^63 for any 32-bit inputs; capped so that StartMs + TotalMs fits.
  const uint64_t total = multiplier * bytes + constant;
  async.TotalMs = (multiplier || constant)
                      ? static_cast<int64_t>(std::min<uint64_t>(total, uint64_t{1} << 53))
                      : -1;

  // The first move is the start: a device that refuses it has not started
  // the operation at all. Only one move here, so that a read takes what has
  // arrived and no more than one device read's worth.
  if (int err = Move(async)) {
    async.Completed = true;
    CallException(ErrorCode(&async), err);
    return false;
  }
  async.Pending = true;
  async.Owner = this;
  FPending.push_back(&async);
  Settle(async);
  return true;
}

// ---- asynchronous operations -----------------------------------------------

int32_t TCustomComPort::WriteAsync(const void* Buffer, int32_t Count, PAsync& AsyncPtr) {
  if (!AsyncPtr) {
    CallException(CError_InvalidAsync);
    return 0;
  }
  if (!FDevice->IsOpen()) CallException(CError_PortNotOpen, -CError_PortNotOpen);
  TAsync& async = *AsyncPtr;
  const size_t count = static_cast<size_t>(std::max<int32_t>(Count, 0));
  const auto* bytes = static_cast<const uint8_t*>(Buffer);
  async.Kind = okWrite;
  async.Data.assign(bytes, bytes + count);
  async.Size = static_cast<int32_t>(count);
  async.WriteBuffer = bytes;
  async.ReadBuffer = nullptr;
  async.Requested = count;
  if (!Start(async)) return 0;
  NotifyLinks(&TComLink::OnTx, true);
  return async.Completed ? static_cast<int32_t>(async.Done) : 0;
}

int32_t TCustomComPort::ReadAsync(void* Buffer, int32_t Count, PAsync& AsyncPtr) {
  if (!AsyncPtr) {
    CallException(CError_InvalidAsync);
    return 0;
  }
  TAsync& async = *AsyncPtr;
  async.Kind = okRead;
  if (!FDevice->IsOpen()) CallException(CError_PortNotOpen, -CError_PortNotOpen);
  async.ReadBuffer = static_cast<uint8_t*>(Buffer);
  async.WriteBuffer = nullptr;
  async.Requested = static_cast<size_t>(std::max<int32_t>(Count, 0));
  if (!Start(async)) return 0;
  return async.Completed ? static_cast<int32_t>(async.Done) : 0;
}

int32_t TCustomComPort::WriteStrAsync(std::string& Str, PAsync& AsyncPtr) {
  if (Str.empty()) return 0;
  return WriteAsync(Str.data(), static_cast<int32_t>(Str.size()), AsyncPtr);
}

int32_t TCustomComPort::ReadStrAsync(std::string& Str, int32_t Count, PAsync& AsyncPtr) {
  Str.assign(static_cast<size_t>(std::max<int32_t>(Count, 0)), '\0');
  if (Count < 1) return 0;
  return ReadAsync(Str.data(), Count, AsyncPtr);
}

int32_t TCustomComPort::WaitForAsync(PAsync& AsyncPtr) {
  if (!AsyncPtr) {
    CallException(CError_InvalidAsync);
    return 0;
  }
  TAsync& async = *AsyncPtr;
  while (async.Pending) async.Owner->Progress(async, kWaitSliceMs);
  if (async.Error) CallException(ErrorCode(&async), async.Error);
  // Only links can tell, so the status query is made only for them.
  if (!FLinks.empty()) {
    if (async.Kind == okRead) {
      if (InputCount() == 0) NotifyLinks(&TComLink::OnRx, false);
    } else if (!async.Data.empty()) {
      NotifyLinks(&TComLink::OnTxBuf, async.Data.data(), async.Size);
    }
  }
  return static_cast<int32_t>(async.Done);
}

bool TCustomComPort::IsAsyncCompleted(PAsync AsyncPtr) {
  if (!AsyncPtr) {
    CallException(CError_InvalidAsync);
    return false;
  }
  if (AsyncPtr->Pending) AsyncPtr->Owner->Progress(*AsyncPtr, 0);
  if (AsyncPtr->Pending) return false;
  if (AsyncPtr->Error) CallException(CError_AsyncCheck, AsyncPtr->Error);
  return true;
}

void TCustomComPort::AbortAllAsync() {
  if (int err = FDevice->Purge(PURGE_TXABORT | PURGE_RXABORT))
    return CallException(CError_PurgeFailed, err);
  while (!FPending.empty()) Complete(*FPending.back(), ECANCELED);
}

// ---- blocking operations ---------------------------------------------------

namespace {
// One record per blocking call, destroyed also when a step raises.
struct ScopedAsync {
  PAsync ptr = nullptr;
  ScopedAsync() { InitAsync(ptr); }
  ~ScopedAsync() { DoneAsync(ptr); }
  ScopedAsync(const ScopedAsync&) = delete;
  ScopedAsync& operator=(const ScopedAsync&) = delete;
};
}  // namespace

int32_t TCustomComPort::Write(const void* Buffer, int32_t Count) {
  ScopedAsync async;
  WriteAsync(Buffer, Count, async.ptr);
  return WaitForAsync(async.ptr);
}

int32_t TCustomComPort::Read(void* Buffer, int32_t Count) {
  ScopedAsync async;
  ReadAsync(Buffer, Count, async.ptr);
  return WaitForAsync(async.ptr);
}

int32_t TCustomComPort::WriteStr(const std::u16string& Str) {
  std::string bytes(Str.size(), '\0');
  std::transform(Str.begin(), Str.end(), bytes.begin(),
                 [](char16_t c) { return static_cast<char>(c & 0xFF); });
  ScopedAsync async;
  WriteStrAsync(bytes, async.ptr);
  return WaitForAsync(async.ptr);
}

int32_t TCustomComPort::ReadStr(std::u16string& Str, int32_t Count) {
  std::string bytes;
  ScopedAsync async;
  ReadStrAsync(bytes, Count, async.ptr);
  const int32_t got = WaitForAsync(async.ptr);
  bytes.resize(static_cast<size_t>(std::max(got, 0)));
  Str.assign(bytes.size(), u'\0');
  std::transform(bytes.begin(), bytes.end(), Str.begin(),
                 [](char b) { return static_cast<char16_t>(static_cast<unsigned char>(b)); });
  return got;
}

int32_t TCustomComPort::WriteUnicodeString(const std::u16string& Str) {
  const std::string bytes = EncodeCodePage(Str, FCodePage);
  return Write(bytes.data(), static_cast<int32_t>(bytes.size()));
}

int32_t TCustomComPort::ReadUnicodeString(std::u16string& Str, int32_t Count) {
  std::string bytes(static_cast<size_t>(std::max<int32_t>(Count, 0)), '\0');
  const int32_t got = Read(bytes.data(), Count);
  bytes.resize(static_cast<size_t>(std::max(got, 0)));
  Str = DecodeCodePage(bytes, FCodePage);
  return static_cast<int32_t>(Str.size());
}

bool TCustomComPort::WaitForInput(int TimeoutMs) {
  if (!FDevice->IsOpen()) return false;
  bool ready = false;
  if (FDevice->WaitReadable(std::max(TimeoutMs, 0), ready)) return false;
  return ready;
}

// ---- status and line control -----------------------------------------------

namespace {
constexpr struct {
  uint32_t bit;
  TComError error;
} kLineErrors[] = {{CE_RXOVER, ceRxOver}, {CE_OVERRUN, ceOverrun}, {CE_RXPARITY, ceRxParity},
                   {CE_FRAME, ceFrame},   {CE_BREAK, ceBreak},     {CE_TXFULL, ceTxFull},
                   {CE_IOE, ceIO},        {CE_MODE, ceMode}};
}  // namespace

bool TCustomComPort::QueryStatus(TComStat& stat) {
  if (int err = FDevice->ClearCommError(stat)) {
    CallException(CError_ClearComFailed, err);
    return false;
  }
  return true;
}

int32_t TCustomComPort::InputCount() {
  TComStat stat;
  return QueryStatus(stat) ? static_cast<int32_t>(stat.InQueue) : 0;
}

int32_t TCustomComPort::OutputCount() {
  TComStat stat;
  return QueryStatus(stat) ? static_cast<int32_t>(stat.OutQueue) : 0;
}

TComStateFlags TCustomComPort::StateFlags() {
  TComStat stat;
  return QueryStatus(stat) ? static_cast<TComStateFlags>(stat.Flags & 0x7F) : 0;
}

TComErrors TCustomComPort::LastErrors() {
  TComStat stat;
  if (!QueryStatus(stat)) return 0;
  TComErrors errors = 0;
  for (const auto& e : kLineErrors) {
    if (!(stat.Errors & e.bit)) continue;
    if (e.error == ceRxParity && !FParity->Check()) continue;
    errors |= static_cast<TComErrors>(1u << e.error);
  }
  return errors;
}

TComSignals TCustomComPort::Signals() {
  uint32_t status = 0;
  if (int err = FDevice->GetModemStatus(status)) {
    CallException(CError_ModemStatFailed, err);
    return 0;
  }
  TComSignals signals = 0;
  if (status & MS_CTS_ON) signals |= 1u << csCTS;
  if (status & MS_DSR_ON) signals |= 1u << csDSR;
  if (status & MS_RING_ON) signals |= 1u << csRing;
  if (status & MS_RLSD_ON) signals |= 1u << csRLSD;
  return signals;
}

void TCustomComPort::ClearBuffer(bool Input, bool Output) {
  uint32_t flags = 0;
  if (Input) flags |= PURGE_RXCLEAR;
  if (Output) flags |= PURGE_TXCLEAR;
  if (int err = FDevice->Purge(flags)) return CallException(CError_PurgeFailed, err);
  if (Input) NoteRxConsumed();
}

void TCustomComPort::Escape(int function) {
  if (int err = FDevice->EscapeCommFunction(function)) CallException(CError_EscapeComFailed, err);
}

void TCustomComPort::SetDTR(bool OnOff) { Escape(OnOff ? SETDTR : CLRDTR); }
void TCustomComPort::SetRTS(bool OnOff) { Escape(OnOff ? SETRTS : CLRRTS); }
void TCustomComPort::SetXonXoff(bool OnOff) { Escape(OnOff ? SETXON : SETXOFF); }
void TCustomComPort::SetBreak(bool OnOff) { Escape(OnOff ? SETBREAK : CLRBREAK); }

void TCustomComPort::TransmitChar(char16_t Ch) {
  if (int err = FDevice->TransmitCommChar(static_cast<uint8_t>(Ch & 0xFF)))
    CallException(CError_TransmitFailed, err);
}

}  // namespace serial
