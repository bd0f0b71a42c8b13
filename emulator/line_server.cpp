#include "line_server.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace emu {

namespace {

using std::chrono::nanoseconds;

// Waking for every byte at high speed costs more than the host can notice.
constexpr nanoseconds kPaceStep = std::chrono::microseconds(1000);

nanoseconds ByteTime(int baud) {
  // 8N1: start bit, eight data bits, stop bit.
  return baud > 0 ? nanoseconds(10'000'000'000LL / baud) : nanoseconds(0);
}

}  // namespace

bool LineServer::BeginStart() {
  if (Running()) {
    error_ = "already running";
    return false;
  }
  error_.clear();
  return true;
}

bool LineServer::StartServing() {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    error_ = std::string("pipe2: ") + std::strerror(errno);
    return false;
  }
  wake_read_ = pipe_fds[0];
  wake_write_ = pipe_fds[1];
  inbox_.clear();
  outbox_.clear();
  rx_free_ = tx_free_ = last_input_ = Clock::time_point{};
  partial_ = false;
  stop_ = false;
  thread_ = std::thread(&LineServer::Serve, this);
  return true;
}

bool LineServer::StopServing() {
  if (!thread_.joinable()) return false;
  stop_ = true;
  Wake();
  thread_.join();
  CloseWake();
  return true;
}

void LineServer::Wake() {
  const char byte = 1;
  while (::write(wake_write_, &byte, 1) < 0 && errno == EINTR) {
  }
}

void LineServer::CloseWake() {
  for (int* fd : {&wake_read_, &wake_write_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

int LineServer::CurrentBaud() {
  std::lock_guard<std::mutex> lock(mutex_);
  return emulator_.Baud();
}

bool LineServer::WaitForRequests(size_t count, Millis timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return requests_cv_.wait_for(lock, timeout,
                               [&] { return emulator_.RequestCount() >= count; });
}

void LineServer::ForgetTraffic() {
  inbox_.clear();
  outbox_.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  emulator_.AbandonPartialRequest();
  partial_ = false;
}

void LineServer::Serve() {
  while (!stop_) {
    BeginRound();
    const Clock::time_point now = Clock::now();
    FeedDueRequests(now);
    const Sending sending = SendDueReplies(now, ByteTime(CurrentBaud()));
    pollfd line_fds[kMaxLineFds]{};
    if (!WaitForEvents(now, sending, line_fds)) break;
    if (stop_) break;
    const short revents = LineEvents(line_fds);
    // An error on the line is a line that is gone, like a hang-up.
    bool gone = (revents & (POLLHUP | POLLERR)) != 0;
    // The speed may have changed while we slept.
    if (revents & POLLIN) gone = ReceiveAll(ByteTime(CurrentBaud())) || gone;
    AfterWait(gone);
  }
}

// Requests whose wire time is over reach the printer.
void LineServer::FeedDueRequests(Clock::time_point now) {
  bool fed = false;
  while (!inbox_.empty() && inbox_.front().due <= now) {
    std::vector<Segment> segments;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      segments = emulator_.Feed(inbox_.front().bytes);
      partial_ = emulator_.HasPartialRequest();
    }
    fed = true;
    inbox_.pop_front();
    for (Segment& s : segments) outbox_.push_back({std::move(s)});
  }
  if (fed) requests_cv_.notify_all();
  if (partial_ && inbox_.empty() && now - last_input_ >= kAbandonAfter) {
    std::lock_guard<std::mutex> lock(mutex_);
    emulator_.AbandonPartialRequest();
    partial_ = false;
  }
}

// Reply bytes whose time has come leave.
LineServer::Sending LineServer::SendDueReplies(Clock::time_point now, nanoseconds byte_time) {
  Sending sending;
  while (!outbox_.empty()) {
    Outgoing& o = outbox_.front();
    const Bytes& bytes = o.segment.bytes;
    if (!o.started) {
      o.start = std::max(tx_free_, now) + o.segment.delay;
      o.started = true;
    }
    auto due = [&](size_t i) {  // byte i has left the wire
      return o.start + byte_time * long(o.segment.atomic ? bytes.size() : i + 1);
    };
    size_t ready = o.sent;
    while (ready < bytes.size() && due(ready) <= now) ++ready;
    if (ready == o.sent) {
      if (bytes.empty()) {
        outbox_.pop_front();
        continue;
      }
      // Paced bytes go out in groups at most kPaceStep apart; the last one
      // still leaves exactly on time.
      sending.next_out = std::min(std::max(due(o.sent), now + kPaceStep), due(bytes.size() - 1));
      break;
    }
    ssize_t n = WriteHost(bytes.data() + o.sent, ready - o.sent);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      sending.want_write = true;
      break;
    }
    if (n < 0) n = ssize_t(ready - o.sent);  // the line is gone; the bytes with it
    o.sent += size_t(n);
    tx_free_ = byte_time.count() > 0 ? due(o.sent - 1) : now;
    if (o.sent < ready) {
      sending.want_write = true;
      break;
    }
    if (o.sent == bytes.size()) outbox_.pop_front();
  }
  return sending;
}

// Sleeps until the next due time or until something happens. False when
// the wait itself fails.
bool LineServer::WaitForEvents(Clock::time_point now, const Sending& sending, pollfd* line_fds) {
  Clock::time_point wake_at = std::min(sending.next_out, now + LongestSleep());
  if (!inbox_.empty()) wake_at = std::min(wake_at, inbox_.front().due);
  if (partial_ && inbox_.empty()) wake_at = std::min(wake_at, last_input_ + kAbandonAfter);
  const auto wait = std::max(nanoseconds(0), wake_at - now);
  const timespec timeout{time_t(wait.count() / 1'000'000'000), long(wait.count() % 1'000'000'000)};
  pollfd fds[1 + kMaxLineFds] = {{wake_read_, POLLIN, 0}};
  const int count = LineFds(fds + 1, sending.want_write);
  if (::ppoll(fds, nfds_t(1 + count), &timeout, nullptr) < 0 && errno != EINTR) return false;
  if (fds[0].revents & POLLIN) {
    char drain[16];
    while (::read(wake_read_, drain, sizeof drain) > 0) {
    }
  }
  std::copy(fds + 1, fds + 1 + count, line_fds);
  return true;
}

// Takes in all the host has sent; true when the host's side is gone.
bool LineServer::ReceiveAll(nanoseconds byte_time) {
  const Clock::time_point now = Clock::now();
  uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = ReadHost(buffer, sizeof buffer);
    if (n <= 0) return n == kLineGone;
    rx_free_ = std::max(rx_free_, now) + byte_time * n;
    inbox_.push_back({rx_free_, Bytes(buffer, buffer + n)});
    last_input_ = rx_free_;  // the pause before giving up starts when the bytes are in
  }
}

}  // namespace emu
