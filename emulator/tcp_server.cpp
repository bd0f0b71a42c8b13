#include "tcp_server.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace emu {

namespace {

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

constexpr int kBacklog = 4;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

bool ParseTcpListenAddress(const std::string& text, TcpOptions& options) {
  const size_t colon = text.rfind(':');
  const bool bracketed = !text.empty() && text.front() == '[';
  std::string host = options.host;
  std::string port = text;
  if (colon != std::string::npos && (!bracketed || text[colon - 1] == ']')) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (bracketed) host = host.substr(1, host.size() - 2);
    if (host.empty()) return false;
  } else if (bracketed) {
    return false;
  }
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const int number = std::stoi(port);
  if (number > 65535) return false;
  options.host = host;
  options.port = number;
  return true;
}

std::string TcpServer::PortName() const {
  const bool v6 = host_.find(':') != std::string::npos;
  return std::string("tcp://") + (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

bool TcpServer::Start(const TcpOptions& options) {
  if (!BeginStart()) return false;
  if (Listen(options) && StartServing()) return true;
  CloseSockets();
  return false;
}

// Opens the listening socket and learns the port it got.
bool TcpServer::Listen(const TcpOptions& options) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(options.port);
  if (int rc = ::getaddrinfo(options.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error_ = "cannot resolve " + options.host + ": " + ::gai_strerror(rc);
    return false;
  }
  listener_ = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
  const int one = 1;
  if (listener_ < 0)
    error_ = SystemError("socket");
  else if (::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
    error_ = SystemError("setsockopt");
  else if (::bind(listener_, found->ai_addr, found->ai_addrlen) != 0)
    error_ = SystemError("bind " + options.host + ":" + port);
  else if (::listen(listener_, kBacklog) != 0)
    error_ = SystemError("listen");
  ::freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (error_.empty() &&
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
    error_ = SystemError("getsockname");
  if (!error_.empty()) return false;
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  host_ = options.host;
  return true;
}

void TcpServer::Stop() {
  if (StopServing()) CloseSockets();
}

void TcpServer::DropConnection() {
  drop_ = true;
  Wake();
}

void TcpServer::CloseSockets() {
  CloseFd(client_);
  CloseFd(listener_);
}

// A connection that ends takes its half-sent request and its answers along.
void TcpServer::EndConnection() {
  CloseFd(client_);
  ForgetTraffic();
}

void TcpServer::BeginRound() {
  if (drop_.exchange(false)) EndConnection();
}

int TcpServer::LineFds(pollfd* fds, bool want_write) {
  fds[0] = {listener_, POLLIN, 0};
  fds[1] = {client_, short(POLLIN | (want_write ? POLLOUT : 0)), 0};
  return 2;
}

short TcpServer::LineEvents(const pollfd* fds) {
  if (fds[0].revents & POLLIN) {
    const int fresh = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fresh >= 0) {
      EndConnection();
      client_ = fresh;
      ++connections_;
      const int one = 1;
      ::setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return 0;  // the old connection's poll result is stale
    }
  }
  return fds[1].revents;
}

ssize_t TcpServer::ReadHost(uint8_t* buffer, size_t size) {
  for (;;) {
    const ssize_t n = ::recv(client_, buffer, size, MSG_DONTWAIT);
    if (n > 0) return n;
    if (n < 0 && errno == EINTR) continue;
    return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) ? kLineGone : 0;
  }
}

ssize_t TcpServer::WriteHost(const uint8_t* bytes, size_t size) {
  // Without a connection this fails and the bytes are lost.
  return ::send(client_, bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL);
}

void TcpServer::AfterWait(bool gone) {
  if (gone) EndConnection();
}

}  // namespace emu
