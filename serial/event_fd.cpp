#include "event_fd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace serial {

EventFd::EventFd() : FHandle(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  // Without it a waiter could never be woken (a stop would hang Close).
  if (FHandle < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

EventFd::~EventFd() {
  if (FHandle >= 0) ::close(FHandle);
}

void EventFd::Signal() {
  const uint64_t one = 1;
  // Only a counter at its limit refuses, and it is readable then anyway.
  [[maybe_unused]] const ssize_t n = ::write(FHandle, &one, sizeof one);
}

void EventFd::Clear() {
  uint64_t count;
  [[maybe_unused]] const ssize_t n = ::read(FHandle, &count, sizeof count);
}

int WaitReadable(const int* handles, int count, int timeoutMs) {
  struct pollfd fds[4];
  if (count > 4) count = 4;
  for (int i = 0; i < count; ++i) fds[i] = {handles[i], POLLIN, 0};
  const int n = ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
  if (n < 0 && errno == EINTR) return 0;
  return n;
}

}  // namespace serial
