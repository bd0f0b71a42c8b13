// The far end of a TCP port for tests: a listener on a loopback port of its
// own that takes one connection and plays the device server.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

class LoopbackListener {
 public:
  LoopbackListener() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback();
    socklen_t length = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
      return;
    port_ = ntohs(addr.sin_port);
  }
  ~LoopbackListener() {
    if (client_ >= 0) ::close(client_);
    if (listener_ >= 0) ::close(listener_);
  }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  bool ok() const { return port_ != 0; }
  std::string Name() const { return NameOf(port_); }

  // Takes the connection once it comes, within `timeoutMs`.
  bool Accept(int timeoutMs = kPatienceMs) {
    pollfd p = {listener_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return false;
    client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return client_ >= 0;
  }

  // Small writes only: the connection's buffer takes them at once.
  bool Send(const std::vector<uint8_t>& bytes) {
    return ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }

  // What arrives within `timeoutMs` (each wait), stopping once `want` bytes came.
  std::vector<uint8_t> Receive(size_t want, int timeoutMs = kPatienceMs) {
    std::vector<uint8_t> got;
    pollfd p = {client_, POLLIN, 0};
    while (got.size() < want && ::poll(&p, 1, timeoutMs) > 0) {
      uint8_t buf[4096];
      const ssize_t n = ::recv(client_, buf, std::min(sizeof buf, want - got.size()), 0);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  // An orderly close: the other end reads everything sent, then the end.
  void CloseOrderly() { ::shutdown(client_, SHUT_WR); }

  // An abortive close: the other end gets a reset instead.
  void Reset() {
    const linger abort{1, 0};
    ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(client_);
    client_ = -1;
  }

  // A loopback port with nobody listening: bound, then closed.
  static std::string RefusingName() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback();
    socklen_t length = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(fd);
    return NameOf(ntohs(addr.sin_port));
  }

  static constexpr int kPatienceMs = 10000;

 private:
  static sockaddr_in Loopback() {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
  }
  static std::string NameOf(int port) { return "tcp://127.0.0.1:" + std::to_string(port); }

  int listener_ = -1;
  int client_ = -1;
  int port_ = 0;
};
