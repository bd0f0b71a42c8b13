// The event thread's wait on Linux: poll() on the device and the wake-up
// descriptor, arrivals as an edge, modem lines and line-error counters
// sampled where the device has them.
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "com_thread.h"
#include "comport.h"

namespace serial {

namespace {

constexpr TComEvents kInputEvents = EventBit(evRxChar) | EventBit(evRx80Full) |
                                    EventBit(evRxFlag) | EventBit(evError) | EventBit(evBreak);

// Nice values for the thread priorities; raising may be refused (then the
// thread keeps the normal priority).
constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -15};

}  // namespace

void TComThread::ApplyPriority() const {
  if (FPriority == tpNormal) return;
  // Per-thread on Linux: the id of this thread, not of the process.
  [[maybe_unused]] const int refused = ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()),
                                                     kNice[FPriority]);
}

// ---- the wait --------------------------------------------------------------

void TComThread::Rearm() {
  if (FRxDisarmed.load() && FRxGeneration.load() != FRxMark) FRxDisarmed = false;
}

TComEvents TComThread::InputEvents() {
  FRxMark = FRxGeneration.load();
  FRxDisarmed = true;
  // Bytes the owner took before this look were no news by now.
  struct pollfd p = {FDevice.EventDescriptor(), POLLIN, 0};
  if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLIN)) {
    FRxDisarmed = false;
    return 0;
  }
  TComEvents events = EventBit(evRxChar);
  uint32_t waiting = 0;
  if (FDevice.PeekInputCount(waiting) == 0) {
    const bool full = FRx80Level > 0 && waiting >= FRx80Level;
    if (full && !FRx80Reported) events |= EventBit(evRx80Full);
    FRx80Reported = full;
  }
  return events;
}

TComEvents TComThread::WaitForLineEvents(bool& failed) {
  Rearm();
  const bool watchInput = (FWanted & kInputEvents) && !FRxDisarmed.load();
  const bool sample = !failed && FLineSampler.Active();
  struct pollfd p[2] = {{FStopEvent.Handle(), POLLIN, 0},
                        {failed ? -1 : FDevice.EventDescriptor(),
                         static_cast<short>(watchInput ? POLLIN : 0), 0}};
  const int n = ::poll(p, 2, sample ? kLineSampleMs : -1);
  if (n < 0) {
    if (errno != EINTR) Stop();  // a wait that cannot be made ends the thread
    return 0;
  }
  if (FStopping) return 0;
  if (p[0].revents) FStopEvent.Clear();
  TComEvents events = 0;
  // A device that hung up (or never opened) is not looked at again: the
  // thread waits for its stop, and the owner's next call reports the fault.
  if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL))
    failed = true;
  else if (p[1].revents & POLLIN)
    events |= InputEvents();
  if (FTxDrained.exchange(false)) events |= EventBit(evTxEmpty);
  if (sample) events |= FLineSampler.Sample();
  return events & FWanted;
}

void TComThread::Execute() {
  // Named for top -H and for measurements.
  ::pthread_setname_np(::pthread_self(), kEventThreadName);
  ApplyPriority();
  // A device that did not open is not looked at (the owner's handler let
  // Open go on); one without a descriptor may still have lines to sample.
  bool failed = !FDevice.IsOpen();
  while (!FStopping) {
    const TComEvents events = WaitForLineEvents(failed);
    if (!events || FStopping) continue;
    FEvents = events;
    DispatchComMsg();
  }
  FDone.Signal();
}

}  // namespace serial
