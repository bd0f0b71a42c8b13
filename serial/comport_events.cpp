// Event delivery of the component: the event thread's start and stop, the
// dispatch of each event, links and hand-overs to the owner. WaitForEvent,
// the platform's own wait, lives apart (comport_wait.cpp, win32/).
#include <algorithm>
#include <cerrno>

#include "com_thread.h"
#include "comport.h"
#include "event_mailbox.h"

namespace serial {

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

TComEvents TCustomComPort::Rx80FullNow() const {
  uint32_t waiting = 0;
  const uint32_t level = static_cast<uint32_t>(FBuffer->InputSize()) * 8 / 10;
  if (FDevice->PeekInputCount(waiting) != 0 || level == 0 || waiting < level) return 0;
  return EventBit(evRx80Full);
}

}  // namespace serial
