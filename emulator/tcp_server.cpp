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
#include <deque>

namespace emu {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

constexpr std::chrono::seconds kIdleWake{1};
constexpr nanoseconds kPaceStep = std::chrono::microseconds(1000);
constexpr int kBacklog = 4;

nanoseconds ByteTime(int baud) {
  return baud > 0 ? nanoseconds(10'000'000'000LL / baud) : nanoseconds(0);
}

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
  if (Running()) {
    error_ = "already running";
    return false;
  }
  error_.clear();
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
  int pipe_fds[2] = {-1, -1};
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
  else if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0)
    error_ = SystemError("pipe2");
  ::freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (error_.empty() &&
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
    error_ = SystemError("getsockname");
  if (!error_.empty()) {
    CloseAll();
    return false;
  }
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  host_ = options.host;
  wake_read_ = pipe_fds[0];
  wake_write_ = pipe_fds[1];
  stop_ = false;
  thread_ = std::thread(&TcpServer::Serve, this);
  return true;
}

void TcpServer::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  Wake();
  thread_.join();
  CloseAll();
}

void TcpServer::DropConnection() {
  drop_ = true;
  Wake();
}

void TcpServer::Wake() {
  const char byte = 1;
  while (::write(wake_write_, &byte, 1) < 0 && errno == EINTR) {
  }
}

void TcpServer::CloseAll() {
  CloseFd(listener_);
  CloseFd(wake_read_);
  CloseFd(wake_write_);
}

int TcpServer::CurrentBaud() {
  std::lock_guard<std::mutex> lock(mutex_);
  return emulator_.Baud();
}

bool TcpServer::WaitForRequests(size_t count, Millis timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return requests_cv_.wait_for(lock, timeout,
                               [&] { return emulator_.RequestCount() >= count; });
}

void TcpServer::Serve() {
  struct Incoming {
    Clock::time_point due;
    Bytes bytes;
  };
  struct Outgoing {
    Segment segment;
    size_t sent = 0;
    bool started = false;
    Clock::time_point start{};
  };
  std::deque<Incoming> inbox;
  std::deque<Outgoing> outbox;
  Clock::time_point rx_free{};
  Clock::time_point tx_free{};
  Clock::time_point last_input{};
  bool partial = false;
  int client = -1;
  uint8_t buffer[4096];

  // A connection that ends takes its half-sent request and its answers along.
  auto end_connection = [&] {
    CloseFd(client);
    inbox.clear();
    outbox.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    emulator_.AbandonPartialRequest();
    partial = false;
  };

  while (!stop_) {
    if (drop_.exchange(false)) end_connection();
    Clock::time_point now = Clock::now();
    const nanoseconds byte_time = ByteTime(CurrentBaud());

    bool fed = false;
    while (!inbox.empty() && inbox.front().due <= now) {
      std::vector<Segment> segments;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        segments = emulator_.Feed(inbox.front().bytes);
        partial = emulator_.HasPartialRequest();
      }
      fed = true;
      inbox.pop_front();
      for (Segment& s : segments) outbox.push_back({std::move(s)});
    }
    if (fed) requests_cv_.notify_all();
    if (partial && inbox.empty() && now - last_input >= kAbandonAfter) {
      std::lock_guard<std::mutex> lock(mutex_);
      emulator_.AbandonPartialRequest();
      partial = false;
    }

    Clock::time_point next_out = Clock::time_point::max();
    bool want_write = false;
    while (!outbox.empty()) {
      Outgoing& o = outbox.front();
      const Bytes& bytes = o.segment.bytes;
      if (!o.started) {
        o.start = std::max(tx_free, now) + o.segment.delay;
        o.started = true;
      }
      auto due = [&](size_t i) {
        return o.start + byte_time * long(o.segment.atomic ? bytes.size() : i + 1);
      };
      size_t ready = o.sent;
      while (ready < bytes.size() && due(ready) <= now) ++ready;
      if (ready == o.sent) {
        if (bytes.empty()) {
          outbox.pop_front();
          continue;
        }
        next_out = std::min(std::max(due(o.sent), now + kPaceStep), due(bytes.size() - 1));
        break;
      }
      ssize_t n = ::send(client, bytes.data() + o.sent, ready - o.sent, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        want_write = true;
        break;
      }
      if (n < 0) n = ssize_t(ready - o.sent);  // no connection: the bytes are lost
      o.sent += size_t(n);
      tx_free = byte_time.count() > 0 ? due(o.sent - 1) : now;
      if (o.sent < ready) {
        want_write = true;
        break;
      }
      if (o.sent == bytes.size()) outbox.pop_front();
    }

    Clock::time_point wake_at = std::min(next_out, now + kIdleWake);
    if (!inbox.empty()) wake_at = std::min(wake_at, inbox.front().due);
    if (partial && inbox.empty()) wake_at = std::min(wake_at, last_input + kAbandonAfter);
    const auto wait = std::max(nanoseconds(0), wake_at - now);
    const timespec timeout{time_t(wait.count() / 1'000'000'000), long(wait.count() % 1'000'000'000)};
    pollfd fds[3] = {{wake_read_, POLLIN, 0},
                     {listener_, POLLIN, 0},
                     {client, short(POLLIN | (want_write ? POLLOUT : 0)), 0}};
    if (::ppoll(fds, 3, &timeout, nullptr) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      char drain[16];
      while (::read(wake_read_, drain, sizeof drain) > 0) {
      }
    }
    if (stop_) break;
    if (fds[1].revents & POLLIN) {
      const int fresh = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fresh >= 0) {
        end_connection();
        client = fresh;
        ++connections_;
        const int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        continue;  // the old connection's poll result is stale
      }
    }
    const short revents = fds[2].revents;
    bool gone = (revents & (POLLHUP | POLLERR)) != 0;
    if (revents & POLLIN) {
      now = Clock::now();
      for (;;) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
          rx_free = std::max(rx_free, now) + byte_time * n;
          inbox.push_back({rx_free, Bytes(buffer, buffer + n)});
          last_input = rx_free;
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) gone = true;
        break;
      }
    }
    if (gone) end_connection();
  }
  CloseFd(client);
}

}  // namespace emu
