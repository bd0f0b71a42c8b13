// The event thread's life and its hand-over of events to the port; the
// wait itself is the platform's (com_thread_posix.cpp, win32/).
#include "com_thread.h"

#include "comport.h"
#include "event_mailbox.h"

namespace serial {

namespace {

constexpr struct {
  TComEvent event;
  uint32_t bit;
} kEventBits[] = {
    {evRxChar, 0x0001}, {evRxFlag, 0x0002}, {evTxEmpty, 0x0004}, {evCTS, 0x0008},
    {evDSR, 0x0010},    {evRLSD, 0x0020},   {evBreak, 0x0040},   {evError, 0x0080},
    {evRing, 0x0100},   {evRx80Full, 0x0400}};

// The order in which one batch is handled.
constexpr TComEvent kDispatchOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                        evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

constexpr TComEvents kLineEvents =
    EventBit(evCTS) | EventBit(evDSR) | EventBit(evRLSD) | EventBit(evRing);
constexpr TComEvents kCounterEvents = EventBit(evError) | EventBit(evBreak);

bool Has(TComEvents set, TComEvent e) { return set & EventBit(e); }

}  // namespace

const int kLineSampleMs = 50;
const char kEventThreadName[] = "zuv-events";

namespace {

TComEvents CounterEvents(const TLineCounters& before, const TLineCounters& now) {
  TComEvents events = 0;
  if (now.frame != before.frame || now.overrun != before.overrun ||
      now.parity != before.parity || now.bufferOverrun != before.bufferOverrun)
    events |= EventBit(evError);
  if (now.brk != before.brk) events |= EventBit(evBreak);
  if (now.cts != before.cts) events |= EventBit(evCTS);
  if (now.dsr != before.dsr) events |= EventBit(evDSR);
  if (now.rlsd != before.rlsd) events |= EventBit(evRLSD);
  if (now.ring != before.ring) events |= EventBit(evRing);
  return events;
}

TComEvents ModemLineEvents(uint32_t before, uint32_t now) {
  const uint32_t changed = before ^ now;
  TComEvents events = 0;
  if (changed & MS_CTS_ON) events |= EventBit(evCTS);
  if (changed & MS_DSR_ON) events |= EventBit(evDSR);
  if (changed & MS_RLSD_ON) events |= EventBit(evRLSD);
  // A ring is the indicator going off again, as a modem's ring ends.
  if ((changed & MS_RING_ON) && !(now & MS_RING_ON)) events |= EventBit(evRing);
  return events;
}

}  // namespace

LineSampler::LineSampler(const SerialDevice& device, TComEvents wanted) : FDevice(device) {
  FHasLines = (wanted & kLineEvents) && FDevice.GetModemLines(FLines) == 0;
  FHasCounters = (wanted & (kLineEvents | kCounterEvents)) && FDevice.GetLineCounters(FCounters) == 0;
  FActive = FHasLines || (FHasCounters && (wanted & kCounterEvents));
}

TComEvents LineSampler::Sample() {
  TComEvents events = 0;
  TLineCounters counters;
  if (FHasCounters && FDevice.GetLineCounters(counters) == 0) {
    events |= CounterEvents(FCounters, counters);
    FCounters = counters;
  }
  uint32_t lines = 0;
  if (FHasLines && FDevice.GetModemLines(lines) == 0) {
    // Counters catch pulses shorter than a sample; the levels cover drivers
    // that do not count.
    events |= ModemLineEvents(FLines, lines);
    FLines = lines;
  }
  return events;
}

uint32_t EventsToInt(TComEvents Events) {
  uint32_t mask = 0;
  for (const auto& e : kEventBits)
    if (Has(Events, e.event)) mask |= e.bit;
  return mask;
}

TComEvents IntToEvents(uint32_t Mask) {
  TComEvents events = 0;
  for (const auto& e : kEventBits)
    if (Mask & e.bit) events |= EventBit(e.event);
  return events;
}

// ---- life ------------------------------------------------------------------

TComThread::TComThread(TCustomComPort* AComPort)
    : FComPort(AComPort),
      FDevice(*AComPort->FDevice),
      FMailbox(AComPort->FMailbox),
      FSyncMethod(AComPort->FSyncMethod),
      FWanted(AComPort->FEvents),
      FPriority(AComPort->FEventThreadPriority),
      FRx80Level(static_cast<uint32_t>(AComPort->FBuffer->InputSize()) * 8 / 10),
      FLineSampler(FDevice, FWanted) {}

std::shared_ptr<TComThread> TComThread::Create(TCustomComPort* AComPort) {
  std::shared_ptr<TComThread> thread(new TComThread(AComPort));
  thread->FMailbox->Rearm();
  // The body keeps its object alive, so a port closed from one of its own
  // handlers (in this thread) can let go of it.
  thread->FThread = std::thread([self = thread] {
    {
      std::unique_lock<std::mutex> hold(self->FGateLock);
      self->FGateOpened.wait(hold, [&] { return self->FStarted.load(); });
    }
    self->Execute();
  });
  return thread;
}

void TComThread::Start() {
  std::lock_guard<std::mutex> hold(FGateLock);
  if (!FStarted.exchange(true)) FGateOpened.notify_all();
}

TComThread::~TComThread() {
  Stop();
  Start();
  if (FThread.joinable()) {
    if (InEventThread())
      FThread.detach();
    else
      FThread.join();
  }
}

void TComThread::Stop() {
  FStopping = true;
  FStopEvent.Signal();
}

void TComThread::Join() {
  Start();
  if (!FThread.joinable()) return;
  if (InEventThread())
    FThread.detach();
  else
    FThread.join();
}

void TComThread::RxConsumed() {
  FRxGeneration.fetch_add(1);
  if (FRxDisarmed.load()) FStopEvent.Signal();
}

void TComThread::TxDrained() {
  if (!(FWanted & EventBit(evTxEmpty))) return;
  FTxDrained = true;
  FStopEvent.Signal();
}

// ---- hand-over -------------------------------------------------------------

void TComThread::DispatchComMsg() {
  switch (FSyncMethod) {
    case smThreadSync: {
      const TComEvents events = FEvents;
      TCustomComPort* port = FComPort;
      FMailbox->HandOver(
          [port, events] {
            for (TComEvent e : kDispatchOrder) {
              if (!port->Connected()) return;  // a handler closed the port
              if (Has(events, e)) port->DispatchEvent(e);
            }
          },
          EventMailbox::Until::Done);
      break;
    }
    case smWindowSync: SendEvents(); break;
    case smNone:
      try {
        DoEvents();
      } catch (...) {
        FMailbox->Report(std::current_exception());
      }
      break;
  }
}

void TComThread::SendEvents() {
  TCustomComPort* port = FComPort;
  std::shared_ptr<EventMailbox> box = FMailbox;
  for (TComEvent e : kDispatchOrder) {
    if (!Has(FEvents, e) || FStopping) continue;
    FMailbox->HandOver(
        [port, box, e] {
          if (!port->Connected()) return;
          try {
            port->DispatchEvent(e);
          } catch (...) {
            box->Report(std::current_exception());
          }
        },
        EventMailbox::Until::PickedUp);
  }
}

void TComThread::DoEvents() {
  for (TComEvent e : kDispatchOrder) {
    // Checked before the port: a handler may have closed (even freed) it.
    if (FStopping) return;
    if (Has(FEvents, e)) FComPort->DispatchEvent(e);
  }
}

}  // namespace serial
