// The TCP device: a non-blocking stream socket behind the SerialDevice
// interface. A connection the peer closed or reset reads as EIO or the
// socket's error, as a hung-up tty does, so the component reports a port
// fault exactly as for a tty.
#include "tcp_device.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "descriptor_device.h"
#include "tcp_open.h"

namespace serial {

namespace {

// The error pending on a socket (0: none).
int PendingError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

// Why a connection is unusable: its own error, or EIO when the peer closed
// in an orderly way.
int SocketError(int fd) {
  const int err = PendingError(fd);
  return err ? err : EIO;
}

// Connects one resolved address within the time left; the socket on success.
int ConnectOne(const addrinfo& ai, int64_t deadlineMs, int& fdOut) {
  const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          ai.ai_protocol);
  if (fd < 0) return errno;
  int err = SystemCallError(::connect(fd, ai.ai_addr, ai.ai_addrlen));
  if (err == EINPROGRESS) {
    short revents = 0;
    err = PollOne(fd, POLLOUT, static_cast<int>(deadlineMs - MonotonicNowMs()), revents);
    if (!err) err = revents == 0 ? ETIMEDOUT : PendingError(fd);
  }
  if (err) {
    ::close(fd);
    return err;
  }
  // Frames are small and the printer waits for each: no Nagle delay.
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fdOut = fd;
  return 0;
}

class TcpDevice : public DescriptorDevice {
 public:
  int Open(const std::string& path) override {
    if (fd_ >= 0) return EBUSY;
    const std::optional<TcpAddress> address = ParseTcpPortName(path);
    if (!address) return EINVAL;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int gai = ::getaddrinfo(address->host.c_str(), address->port.c_str(), &hints, &found)) {
      SetLastTcpOpenFailure(NoSuchHost(address->host, ::gai_strerror(gai)));
      return EHOSTUNREACH;
    }
    // One time-out for all the addresses of the name together.
    const int64_t deadline = MonotonicNowMs() + kTcpConnectTimeoutMs;
    int err = EHOSTUNREACH;
    for (const addrinfo* ai = found; ai && fd_ < 0; ai = ai->ai_next)
      err = ConnectOne(*ai, deadline, fd_);
    ::freeaddrinfo(found);
    SetLastTcpOpenFailure(fd_ >= 0 ? "" : std::strerror(err));
    return fd_ >= 0 ? 0 : err;
  }

  // The line behind a device server keeps the server's settings.
  int SetCommState(const TDCB&) override { return fd_ < 0 ? EBADF : 0; }

  // Bytes handed to the kernel are on their way; a socket has no line to
  // wait for.
  int Drain(int, bool& drained) override {
    drained = fd_ >= 0;
    return fd_ < 0 ? EBADF : 0;
  }

  int ClearCommError(TComStat& stat) override {
    stat = TComStat{};
    if (fd_ < 0) return EBADF;
    if (int err = PeekInputCount(stat.InQueue)) return err;
    if (stat.InQueue > 0) return 0;
    // Nothing left to read: a closed or reset connection is a fault now.
    short revents = 0;
    if (int err = PollOne(fd_, POLLRDHUP, 0, revents)) return err;
    return (revents & (POLLRDHUP | POLLHUP | POLLERR)) ? SocketError(fd_) : 0;
  }

  int Purge(uint32_t flags) override {
    if (fd_ < 0) return EBADF;
    // What was sent is in the network; only received bytes can be dropped.
    if (!(flags & PURGE_RXCLEAR)) return 0;
    uint8_t scrap[512];
    size_t got = 0;
    do {
      // A closed peer is not a purge failure; the next query reports it.
      if (ReadSome(scrap, sizeof scrap, got) != 0) return 0;
    } while (got > 0);
    return 0;
  }

  int GetModemStatus(uint32_t& status) override {
    status = 0;
    return fd_ < 0 ? EBADF : 0;
  }

  int EscapeCommFunction(int function) override {
    if (fd_ < 0) return EBADF;
    switch (function) {
      case SETXOFF: case SETXON: case SETRTS: case CLRRTS:
      case SETDTR: case CLRDTR: case SETBREAK: case CLRBREAK:
        return 0;  // no modem lines over TCP
      default:
        return EINVAL;
    }
  }

 protected:
  // A closed peer is a failed write, not a signal that ends the process.
  ssize_t WriteNow(const uint8_t* buffer, size_t count) override {
    return ::send(fd_, buffer, count, MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  int ErrorCondition() const override { return SocketError(fd_); }
  bool HangUpFollowsData() const override { return true; }
};

}  // namespace

std::unique_ptr<SerialDevice> MakeTcpDevice() { return std::make_unique<TcpDevice>(); }

}  // namespace serial
