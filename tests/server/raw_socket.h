// Bare TCP connections to the service, for what a well-behaved client
// never sends: partial headers, idle sockets, oversized requests.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace srvtest {

// A connection to 127.0.0.1:PORT that sent `bytes`; -1 when it failed.
inline int RawConnect(int port, const std::string& bytes = "") {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (!bytes.empty() && ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0)) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

// Reads until `done(text)` holds, the peer closes, or a minute passes
// without a byte; what arrived.
template <class Done>
std::string ReadUntil(int fd, Done done) {
  std::string text;
  char buffer[4096];
  while (!done(text)) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 60000) <= 0) break;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    text.append(buffer, size_t(n));
  }
  return text;
}

// Whether the peer closed the connection (within a minute).
inline bool ClosedByPeer(int fd) {
  char buffer[4096];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 60000) <= 0) return false;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
  }
}

// Sends `bytes` on a new connection and reads until the service closes it
// or answers; what came back.
inline std::string RawExchange(int port, const std::string& bytes) {
  const int fd = RawConnect(port);
  std::string answer;
  if (fd < 0) return answer;
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += size_t(n);
  }
  ::shutdown(fd, SHUT_WR);
  answer = ReadUntil(fd, [](const std::string&) { return false; });
  ::close(fd);
  return answer;
}

// The status of the first answer in `text`, or 0.
inline int StatusOf(const std::string& text) {
  if (text.rfind("HTTP/1.1 ", 0) != 0 || text.size() < 12) return 0;
  return std::stoi(text.substr(9, 3));
}

}  // namespace srvtest
