#include "descriptor_device.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace serial {

namespace {
// Non-blocking transfers that moved nothing yet are not failures.
int TransferResult(ssize_t n, size_t& moved) {
  if (n >= 0) {
    moved = static_cast<size_t>(n);
    return 0;
  }
  return (errno == EAGAIN || errno == EINTR) ? 0 : errno;
}
}  // namespace

int SystemCallError(int result) { return result < 0 ? errno : 0; }

int DeviceControl(int fd, unsigned long request, void* arg) {
  return ::ioctl(fd, request, arg) == 0 ? 0 : errno;
}

int PollOne(int fd, short events, int timeoutMs, short& revents) {
  revents = 0;
  struct pollfd p = {fd, events, 0};
  const int n = ::poll(&p, 1, std::max(timeoutMs, 0));
  if (n < 0) return errno == EINTR ? 0 : errno;
  revents = p.revents;
  return 0;
}

int64_t MonotonicNowMs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

DescriptorDevice::~DescriptorDevice() { Close(); }

int DescriptorDevice::Close() {
  if (fd_ < 0) return EBADF;
  const int err = SystemCallError(::close(fd_));
  fd_ = -1;
  return err;
}

int DescriptorDevice::ReadSome(uint8_t* buffer, size_t count, size_t& got) {
  got = 0;
  if (fd_ < 0) return EBADF;
  if (count == 0) return 0;
  const ssize_t n = ::read(fd_, buffer, count);
  if (n != 0) return TransferResult(n, got);
  if (HangUpFollowsData()) return EIO;
  // Only the poll state tells a tty that has gone away from one that has
  // nothing yet.
  bool ignored;
  return Wait(POLLIN, 0, ignored) == EIO ? EIO : 0;
}

int DescriptorDevice::WriteSome(const uint8_t* buffer, size_t count, size_t& sent) {
  sent = 0;
  if (fd_ < 0) return EBADF;
  if (count == 0) return 0;
  return TransferResult(WriteNow(buffer, count), sent);
}

ssize_t DescriptorDevice::WriteNow(const uint8_t* buffer, size_t count) {
  return ::write(fd_, buffer, count);
}

int DescriptorDevice::WaitReadable(int timeoutMs, bool& ready) {
  return Wait(POLLIN, timeoutMs, ready);
}

int DescriptorDevice::WaitWritable(int timeoutMs, bool& ready) {
  return Wait(POLLOUT, timeoutMs, ready);
}

int DescriptorDevice::TransmitCommChar(uint8_t ch) {
  size_t sent = 0;
  if (int err = WriteSome(&ch, 1, sent)) return err;
  return sent == 1 ? 0 : EAGAIN;
}

int DescriptorDevice::Wait(short events, int timeoutMs, bool& ready) {
  ready = false;
  if (fd_ < 0) return EBADF;
  short revents = 0;
  if (int err = PollOne(fd_, events, timeoutMs, revents)) return err;
  if (revents & POLLNVAL) return EBADF;
  if (revents & POLLERR) return ErrorCondition();
  const bool arrived = (revents & events) != 0;
  if ((revents & POLLHUP) && !(arrived && HangUpFollowsData())) return EIO;
  ready = arrived;
  return 0;
}

}  // namespace serial
