#include "pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/tty_termios2.h"

namespace emu {

namespace {

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::string PtyServer::PortName() const {
  const std::string& link = link_.Path();
  return link.empty() ? slave_path_ : link.substr(link.rfind('/') + 1);
}

bool PtyServer::Start(const PtyOptions& options) {
  if (!BeginStart()) return false;
  match_speed_ = options.match_speed;
  hung_up_ = false;
  if (OpenMaster() && (!options.link || link_.Make(slave_path_, options.link_name, error_)) &&
      StartServing())
    return true;
  link_.Remove();
  CloseMaster();
  slave_path_.clear();
  return false;
}

// Opens the master side, non-blocking, with the slave in raw mode.
bool PtyServer::OpenMaster() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    error_ = SystemError("posix_openpt");
    return false;
  }
  char name[128];
  termios tio;
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
    if (::tcsetattr(master_, TCSANOW, &tio) != 0) error_ = SystemError("tcsetattr");
  }
  if (!error_.empty()) return false;
  slave_path_ = name;
  return true;
}

void PtyServer::Stop() {
  if (!StopServing()) return;
  link_.Remove();
  CloseMaster();
}

void PtyServer::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

bool PtyServer::HostSpeedMatches() {
  const int baud = CurrentBaud();
  if (!match_speed_ || baud <= 0) return true;
  serial::TtyMode mode;  // termios calls on the master read the slave's line
  return serial::GetTtyMode(master_, mode) == 0 && mode.speed == uint32_t(baud);
}

std::chrono::nanoseconds PtyServer::LongestSleep() const {
  return hung_up_ ? std::chrono::nanoseconds(kHangUpCheck) : kIdleWake;
}

int PtyServer::LineFds(pollfd* fds, bool want_write) {
  // A hung-up master polls as ready all the time, so it sits out the
  // blocking wait and is looked at separately.
  fds[0] = {hung_up_ ? -1 : master_, short(POLLIN | (want_write ? POLLOUT : 0)), 0};
  return 1;
}

short PtyServer::LineEvents(const pollfd* fds) {
  if (!hung_up_) return fds[0].revents;
  pollfd m{master_, POLLIN, 0};
  return ::poll(&m, 1, 0) > 0 ? m.revents : 0;
}

ssize_t PtyServer::ReadHost(uint8_t* buffer, size_t size) {
  for (;;) {
    const ssize_t n = ::read(master_, buffer, size);
    if (n > 0 && !HostSpeedMatches()) continue;
    if (n > 0) return n;
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EIO ? kLineGone : 0;  // EIO: the host closed the slave
  }
}

ssize_t PtyServer::WriteHost(const uint8_t* bytes, size_t size) {
  if (hung_up_) return ssize_t(size);  // nobody listens: the bytes are lost
  return ::write(master_, bytes, size);
}

void PtyServer::AfterWait(bool gone) {
  if (gone && !hung_up_) DropReplies();  // nobody left to hear the rest
  hung_up_ = gone;
}

}  // namespace emu
