// WaitForEvent on Linux: poll() on the device, with the modem lines and
// line-error counters sampled where the device has them.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "com_thread.h"
#include "comport.h"

namespace serial {

namespace {
constexpr TComEvents kArrivalEvents = EventBit(evRxChar) | EventBit(evRx80Full);

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

}  // namespace serial
