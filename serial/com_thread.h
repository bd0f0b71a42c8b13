// The event thread of an open port: waits for the device's line events and
// a wake-up (poll() on Linux, WaitCommEvent on Windows), and hands each
// batch to the port as SyncMethod says.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "comport_types.h"
#include "device.h"
#include "event_fd.h"

namespace serial {

class TCustomComPort;
class EventMailbox;

// The platform mask of the events (EV_RXCHAR = 0x0001, ...) and back.
uint32_t EventsToInt(TComEvents Events);
TComEvents IntToEvents(uint32_t Mask);

// Modem-line and line-error events. Devices with modem lines or counters
// give no wake-up for their changes, so they are sampled every
// kLineSampleMs; devices without them (pseudo-terminals, sockets) never are.
extern const int kLineSampleMs;

class LineSampler {
 public:
  LineSampler(const SerialDevice& device, TComEvents wanted);
  // Whether anything asked for can be sampled on this device.
  bool Active() const { return FActive; }
  // What changed since the previous look.
  TComEvents Sample();

 private:
  const SerialDevice& FDevice;
  bool FHasLines = false;
  bool FHasCounters = false;
  bool FActive = false;
  uint32_t FLines = 0;
  TLineCounters FCounters;
};
// The name the event threads carry (/proc/<pid>/task/<tid>/comm).
extern const char kEventThreadName[];

class TComThread : public std::enable_shared_from_this<TComThread> {
 public:
  // Creates the thread held at its start, so that the port can record it
  // before it runs; Start lets it go.
  static std::shared_ptr<TComThread> Create(TCustomComPort* AComPort);
  void Start();
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  // Asks the thread to end; it touches the port no more once it sees this.
  void Stop();
  // Readable once the thread body has returned.
  int DoneHandle() const { return FDone.Handle(); }
  // Waits for the thread's end (or lets it end alone when called from the
  // thread itself, from one of the port's handlers).
  void Join();
  bool InEventThread() const { return std::this_thread::get_id() == FThread.get_id(); }

  // Owner's side. The owner read or discarded input: arrivals are watched
  // again. A write has left the device completely.
  void RxConsumed();
  void TxDrained();

  TComEvents FEvents = 0;  // the events of the last completed wait

 private:
  explicit TComThread(TCustomComPort* AComPort);
  void Execute();
  void DispatchComMsg();
  void SendEvents();
  void DoEvents();
  // One poll of the device and the wake-up descriptor; the events it found.
  TComEvents WaitForLineEvents(bool& failed);
  TComEvents InputEvents();
  void ApplyPriority() const;
  void Rearm();

  TCustomComPort* FComPort;
  SerialDevice& FDevice;
  std::shared_ptr<EventMailbox> FMailbox;
  TSyncMethod FSyncMethod;
  TComEvents FWanted;
  TThreadPriority FPriority;
  uint32_t FRx80Level;
  EventFd FStopEvent;  // stop, and the owner's wake-ups
  EventFd FDone;
  std::atomic<bool> FStopping{false};
  // Arrivals are an edge: after one is reported the device's input is not
  // watched until the owner has taken or discarded bytes (generation moved).
  std::atomic<uint64_t> FRxGeneration{0};
  std::atomic<bool> FRxDisarmed{false};
  uint64_t FRxMark = 0;
  std::atomic<bool> FTxDrained{false};
  bool FRx80Reported = false;
  LineSampler FLineSampler;
  // Holds the body until Start. A mutex and condition, not std::latch:
  // MinGW's libstdc++ 12 can lose a latch's wake-up.
  std::mutex FGateLock;
  std::condition_variable FGateOpened;
  std::atomic<bool> FStarted{false};
  std::thread FThread;
};

}  // namespace serial
