// Windows has no one wait over serial handles and sockets together: each
// port is waited on in turn within the one deadline. Every port was sent to
// before the wait, so each still has the whole time to answer; once one has
// woken, the rest are only looked at.
#include <chrono>

#include "comport.h"
#include "input_wait.h"

namespace serial {

bool WaitForAnyInput(const std::vector<TCustomComPort*>& ports, int timeoutMs,
                     std::vector<bool>& woken) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  woken.assign(ports.size(), false);
  bool any = false;
  for (size_t k = 0; k < ports.size(); ++k) {
    if (ports[k]->Handle() < 0) continue;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    bool ready = false;
    // A failed line wakes its port: the caller's read reports the failure.
    const int err =
        ports[k]->Device().WaitReadable(any || left < 0 ? 0 : static_cast<int>(left), ready);
    woken[k] = err != 0 || ready;
    any = any || woken[k];
  }
  return true;
}

}  // namespace serial
