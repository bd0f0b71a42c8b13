// POSIX: one poll over the ports' descriptors.
#include "input_wait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "comport.h"

namespace serial {

bool WaitForAnyInput(const std::vector<TCustomComPort*>& ports, int timeoutMs,
                     std::vector<bool>& woken) {
  woken.assign(ports.size(), false);
  std::vector<pollfd> fds;
  std::vector<size_t> owners;
  for (size_t k = 0; k < ports.size(); ++k) {
    if (ports[k]->Handle() < 0) continue;
    fds.push_back({ports[k]->Handle(), POLLIN, 0});
    owners.push_back(k);
  }
  if (::poll(fds.data(), fds.size(), std::max(timeoutMs, 0)) < 0) return errno == EINTR;
  for (size_t i = 0; i < fds.size(); ++i) woken[owners[i]] = fds[i].revents != 0;
  return true;
}

}  // namespace serial
