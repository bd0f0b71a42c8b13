// Event delivery of the component: the event thread's start and stop, the
// dispatch of each event, links, hand-overs to the owner and WaitForEvent.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "com_thread.h"
#include "comport.h"
#include "event_mailbox.h"

namespace serial {

namespace {
constexpr TComEvents kArrivalEvents = EventBit(evRxChar) | EventBit(evRx80Full);
}  // namespace

// ---- links -----------------------------------------------------------------

void TCustomComPort::UpdateHasLink() {
  FHasLink = std::any_of(FLinks.begin(), FLinks.end(),
                         [](const TComLink* link) { return static_cast<bool>(link->OnRxBuf); });
}

void TCustomComPort::RegisterLink(TComLink* AComLink) {
  if (std::find(FLinks.begin(), FLinks.end(), AComLink) != FLinks.end())
    CallException(CError_RegFailed);
  else
    FLinks.push_back(AComLink);
  UpdateHasLink();
}

void TCustomComPort::UnRegisterLink(TComLink* AComLink) {
  const auto it = std::find(FLinks.begin(), FLinks.end(), AComLink);
  if (it == FLinks.end())
    CallException(CError_RegFailed);
  else
    FLinks.erase(it);
  UpdateHasLink();
}

// ---- the dispatches ----------------------------------------------------------

void TCustomComPort::DispatchEvent(TComEvent Event) {
  switch (Event) {
    case evError: return ErrorDispatch();
    case evRxChar: return ReceiveDispatch();
    case evTxEmpty: return TxEmptyDispatch();
    case evBreak: return DoBreak();
    case evRing: return RingDispatch();
    case evCTS: return SignalChange(csCTS);
    case evDSR: return SignalChange(csDSR);
    case evRxFlag: return RxFlagDispatch();
    case evRLSD: return SignalChange(csRLSD);
    case evRx80Full: return DoRx80Full();
  }
}

void TCustomComPort::ErrorDispatch() {
  if (const TComErrors errors = LastErrors()) DoError(errors);
}

void TCustomComPort::ReceiveDispatch() {
  int32_t count = InputCount();
  if (count <= 0) return;
  NotifyLinks(&TComLink::OnRx, true);
  if (GetTriggersOnRxChar()) return DoRxChar(count);
  std::vector<uint8_t> data;
  int32_t got = 0;
  auto take = [&] {
    if (!data.empty()) return;
    data.assign(static_cast<size_t>(count), 0);
    got = Read(data.data(), count);
    DoRxBuf(data.data(), count);
  };
  // Copied: a handler may (un)register links.
  const std::vector<TComLink*> links = FLinks;
  for (TComLink* link : links) {
    if (!link->OnRxBuf) continue;
    take();
    link->OnRxBuf(this, data.data(), count);
  }
  if (data.empty() && !FTriggersOnRxChar) take();
  if (data.empty()) return DoRxChar(count);
  // The event character can only be seen in bytes the component reads.
  const auto flag = static_cast<uint8_t>(FEventChar & 0xFF);
  const auto end = data.begin() + std::clamp<int32_t>(got, 0, count);
  if ((FEvents & EventBit(evRxFlag)) && std::find(data.begin(), end, flag) != end)
    RxFlagDispatch();
}

void TCustomComPort::TxEmptyDispatch() {
  NotifyLinks(&TComLink::OnTx, false);
  NotifyLinks(&TComLink::OnTxEmpty);
  DoTxEmpty();
}

void TCustomComPort::RingDispatch() {
  NotifyLinks(&TComLink::OnRing);
  DoRing();
}

void TCustomComPort::RxFlagDispatch() {
  NotifyLinks(&TComLink::OnRxFlag);
  DoRxFlag();
}

// ---- the event thread --------------------------------------------------------

void TCustomComPort::StartEventThread() {
  FEventThread = TComThread::Create(this);
  FEventWatch = FEventThread.get();
  FThreadCreated = true;
  FEventThread->Start();
}

void TCustomComPort::ServeWhileClosing() {
  for (;;) {
    try {
      FMailbox->Pump();
      return;
    } catch (const EComPort&) {
      // The port's own fault (a device that went away) no longer matters
      // to anyone while it is being closed.
    } catch (...) {
      FMailbox->Report(std::current_exception());
    }
  }
}

void TCustomComPort::StopEventThread() {
  if (!FEventThread) return;
  std::shared_ptr<TComThread> thread = std::move(FEventThread);
  FEventWatch = nullptr;
  thread->Stop();
  FMailbox->Release();
  // Hand-overs still queued are served while waiting, so an owner that never
  // pumps cannot hold Close up.
  const int handles[] = {thread->DoneHandle(), FMailbox->Handle()};
  for (;;) {
    ServeWhileClosing();
    if (thread->InEventThread() || WaitReadable(handles, 1, 0) > 0) break;
    WaitReadable(handles, 2, -1);
  }
  thread->Join();
  ServeWhileClosing();
  FThreadCreated = false;
  // What was received and not read, and what was not sent, goes with the
  // thread.
  if (FDevice->IsOpen()) FDevice->Purge(PURGE_TXCLEAR | PURGE_RXCLEAR);
}

void TCustomComPort::NoteRxConsumed() {
  if (TComThread* thread = FEventWatch.load()) thread->RxConsumed();
}

void TCustomComPort::NoteTxDrained() {
  if (TComThread* thread = FEventWatch.load()) thread->TxDrained();
}

int TCustomComPort::ProcessPendingEvents() { return FMailbox->Pump(); }

int TCustomComPort::PendingEventsHandle() const { return FMailbox->Handle(); }

void TCustomComPort::SetDispatcher(std::shared_ptr<TOwnerDispatcher> dispatcher) {
  FMailbox->SetDispatcher(std::move(dispatcher));
}

// ---- waiting without the thread ------------------------------------------------

namespace {
int MsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count());
}
}  // namespace

void TCustomComPort::WaitForEvent(TComEvents& Events, int StopEvent, int32_t Timeout) {
  const TComEvents wanted = Events;
  Events = 0;
  if (FThreadCreated) return CallException(CError_ThreadCreated);
  if (!FDevice->IsOpen()) return CallException(CError_WaitFailed, EBADF);
  LineSampler lines(*FDevice, wanted);
  // Input waiting counts as an arrival: the queue is not taken to look.
  const short input = (wanted & kArrivalEvents) ? POLLIN : 0;
  const auto start = std::chrono::steady_clock::now();
  TComEvents found = 0;
  while (!found) {
    int wait = Timeout < 0 ? -1 : Timeout - MsSince(start);
    if (Timeout >= 0 && wait <= 0) break;
    if (lines.Active()) wait = wait < 0 ? kLineSampleMs : std::min(wait, kLineSampleMs);
    struct pollfd p[2] = {{FDevice->EventDescriptor(), input, 0},
                          {StopEvent > 0 ? StopEvent : -1, POLLIN, 0}};
    if (::poll(p, 2, wait) < 0 && errno != EINTR) return CallException(CError_WaitFailed, errno);
    if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return CallException(CError_WaitFailed, EIO);
    if (p[1].revents) break;
    if (p[0].revents & POLLIN) found |= EventBit(evRxChar) | Rx80FullNow();
    if (lines.Active()) found |= lines.Sample();
    found &= wanted;
  }
  Events = found;
}

TComEvents TCustomComPort::Rx80FullNow() const {
  uint32_t waiting = 0;
  const uint32_t level = static_cast<uint32_t>(FBuffer->InputSize()) * 8 / 10;
  if (FDevice->PeekInputCount(waiting) != 0 || level == 0 || waiting < level) return 0;
  return EventBit(evRx80Full);
}

}  // namespace serial
