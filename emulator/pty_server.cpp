#include "pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "serial/names.h"
#include "serial/tty_termios2.h"

namespace emu {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Creates `dir` and its missing parents, private to this user.
bool MakeDirs(const std::string& dir) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    const std::string part = dir.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A link left by an emulator that died without Stop points nowhere.
bool IsDanglingLink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
         ::stat(path.c_str(), &st) != 0;
}

// Longest sleep with nothing to do.
constexpr std::chrono::seconds kIdleWake{1};

// Waking for every byte at high speed costs more than the host can notice.
constexpr nanoseconds kPaceStep = std::chrono::microseconds(1000);

nanoseconds ByteTime(int baud) {
  // 8N1: start bit, eight data bits, stop bit.
  return baud > 0 ? nanoseconds(10'000'000'000LL / baud) : nanoseconds(0);
}

}  // namespace

std::string PtyServer::PortName() const {
  if (link_path_.empty()) return slave_path_;
  return link_path_.substr(link_path_.rfind('/') + 1);
}

bool PtyServer::Start(const PtyOptions& options) {
  if (Running()) {
    error_ = "already running";
    return false;
  }
  error_.clear();
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    error_ = SystemError("posix_openpt");
    return false;
  }
  char name[128];
  termios tio;
  int pipe_fds[2];
  if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0 ||
      ::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) {
    error_ = SystemError("fcntl");
  } else if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    error_ = SystemError("grantpt/unlockpt");
  } else if (::ptsname_r(master_, name, sizeof name) != 0) {
    error_ = SystemError("ptsname_r");
  } else if (::tcgetattr(master_, &tio) != 0) {
    error_ = SystemError("tcgetattr");
  } else {
    // Termios calls on the master act on the slave, so the slave is raw
    // from the start without the server holding it open: a slave fd kept
    // here would keep an exclusive lock of the host's alive across its
    // close and reopen.
    ::cfmakeraw(&tio);
    if (::tcsetattr(master_, TCSANOW, &tio) != 0)
      error_ = SystemError("tcsetattr");
    else if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0)
      error_ = SystemError("pipe2");
  }
  if (!error_.empty()) {
    CloseAll();
    return false;
  }
  wake_read_ = pipe_fds[0];
  wake_write_ = pipe_fds[1];
  slave_path_ = name;
  if (options.link && !MakeLink(options.link_name)) {
    CloseAll();
    slave_path_.clear();
    return false;
  }
  match_speed_ = options.match_speed;
  stop_ = false;
  thread_ = std::thread(&PtyServer::Serve, this);
  return true;
}

void PtyServer::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  const char byte = 1;
  while (::write(wake_write_, &byte, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  RemoveLink();
  CloseAll();
}

void PtyServer::CloseAll() {
  for (int* fd : {&master_, &wake_read_, &wake_write_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

bool PtyServer::MakeLink(const std::string& name) {
  const std::string dir = serial::PortDirectory();
  if (!MakeDirs(dir)) {
    error_ = SystemError("cannot create " + dir);
    return false;
  }
  auto try_link = [&](const std::string& candidate) {
    const std::string path = dir + "/" + candidate;
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (::symlink(slave_path_.c_str(), path.c_str()) == 0) {
        link_path_ = path;
        return true;
      }
      if (errno != EEXIST || !IsDanglingLink(path) || ::unlink(path.c_str()) != 0) break;
    }
    return false;
  };
  if (!name.empty()) {
    if (name.find('/') != std::string::npos) {
      error_ = "link name must not contain '/'";
      return false;
    }
    if (try_link(name)) return true;
    error_ = SystemError("cannot link " + dir + "/" + name);
    return false;
  }
  for (int i = 0; i < 256; ++i)
    if (try_link("ttyZUV" + std::to_string(i))) return true;
  error_ = "no free ttyZUV<n> name in " + dir;
  return false;
}

void PtyServer::RemoveLink() {
  if (link_path_.empty()) return;
  char target[256];
  const ssize_t n = ::readlink(link_path_.c_str(), target, sizeof target - 1);
  // Only our own link: another emulator may have taken the name since.
  if (n > 0 && std::string(target, size_t(n)) == slave_path_) ::unlink(link_path_.c_str());
  link_path_.clear();
}

bool PtyServer::HostSpeedMatches() {
  const int baud = CurrentBaud();
  if (!match_speed_ || baud <= 0) return true;
  serial::TtyMode mode;  // termios calls on the master read the slave's line
  return serial::GetTtyMode(master_, mode) == 0 && mode.speed == uint32_t(baud);
}

int PtyServer::CurrentBaud() {
  std::lock_guard<std::mutex> lock(mutex_);
  return emulator_.Baud();
}

bool PtyServer::WaitForRequests(size_t count, Millis timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return requests_cv_.wait_for(lock, timeout,
                               [&] { return emulator_.RequestCount() >= count; });
}

void PtyServer::Serve() {
  struct Incoming {
    Clock::time_point due;  // when its last byte has finished on the wire
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
  Clock::time_point rx_free{};  // the line from the host is busy until then
  Clock::time_point tx_free{};  // the line to the host is busy until then
  Clock::time_point last_input{};
  bool partial = false;
  bool hung_up = false;
  uint8_t buffer[4096];

  while (!stop_) {
    Clock::time_point now = Clock::now();
    nanoseconds byte_time = ByteTime(CurrentBaud());

    // Requests whose wire time is over reach the printer.
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

    // Reply bytes whose time has come leave.
    Clock::time_point next_out = Clock::time_point::max();
    bool want_write = false;
    while (!outbox.empty()) {
      Outgoing& o = outbox.front();
      const Bytes& bytes = o.segment.bytes;
      if (!o.started) {
        o.start = std::max(tx_free, now) + o.segment.delay;
        o.started = true;
      }
      auto due = [&](size_t i) {  // byte i has left the wire
        return o.start + byte_time * long(o.segment.atomic ? bytes.size() : i + 1);
      };
      size_t ready = o.sent;
      while (ready < bytes.size() && due(ready) <= now) ++ready;
      if (ready == o.sent) {
        if (bytes.empty()) {
          outbox.pop_front();
          continue;
        }
        // Paced bytes go out in groups at most kPaceStep apart; the last one
        // still leaves exactly on time.
        next_out = std::min(std::max(due(o.sent), now + kPaceStep), due(bytes.size() - 1));
        break;
      }
      ssize_t n = ssize_t(ready - o.sent);
      if (!hung_up) n = ::write(master_, bytes.data() + o.sent, ready - o.sent);
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) {
          want_write = true;
          break;
        }
        n = ssize_t(ready - o.sent);  // the line is gone; the bytes with it
      }
      o.sent += size_t(n);
      tx_free = byte_time.count() > 0 ? due(o.sent - 1) : now;
      if (o.sent < ready) {
        want_write = true;
        break;
      }
      if (o.sent == bytes.size()) outbox.pop_front();
    }

    // Sleep until the next due time or until something happens.
    Clock::time_point wake_at = std::min(next_out, now + kIdleWake);
    if (!inbox.empty()) wake_at = std::min(wake_at, inbox.front().due);
    if (partial && inbox.empty()) wake_at = std::min(wake_at, last_input + kAbandonAfter);
    if (hung_up) wake_at = std::min(wake_at, now + kHangUpCheck);
    const auto wait = std::max(nanoseconds(0), wake_at - now);
    const timespec timeout{time_t(wait.count() / 1'000'000'000),
                           long(wait.count() % 1'000'000'000)};
    // A hung-up master polls as ready all the time, so it sits out the
    // blocking wait and is looked at separately.
    pollfd fds[2] = {{wake_read_, POLLIN, 0},
                     {hung_up ? -1 : master_, short(POLLIN | (want_write ? POLLOUT : 0)), 0}};
    if (::ppoll(fds, 2, &timeout, nullptr) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      char drain[16];
      while (::read(wake_read_, drain, sizeof drain) > 0) {
      }
    }
    if (stop_) break;
    short revents = fds[1].revents;
    if (hung_up) {
      pollfd m{master_, POLLIN, 0};
      revents = ::poll(&m, 1, 0) > 0 ? m.revents : 0;
    }

    // An error on the master is a line that is gone, like a hang-up.
    bool gone = (revents & (POLLHUP | POLLERR)) != 0;
    if (revents & POLLIN) {
      now = Clock::now();
      byte_time = ByteTime(CurrentBaud());  // it may have changed while we slept
      for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0 && !HostSpeedMatches()) continue;
        if (n > 0) {
          rx_free = std::max(rx_free, now) + byte_time * n;
          inbox.push_back({rx_free, Bytes(buffer, buffer + n)});
          last_input = rx_free;  // the pause before giving up starts when the bytes are in
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EIO) gone = true;  // the host closed the slave
        break;
      }
    }
    if (gone && !hung_up) outbox.clear();  // nobody left to hear the rest
    hung_up = gone;
  }
}

}  // namespace emu
