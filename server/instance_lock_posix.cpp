#include "server/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zuvsrv {
namespace {

std::string HolderPid(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  std::string pid(text, n > 0 ? size_t(n) : 0);
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
  return pid.empty() ? "?" : pid;
}

}  // namespace

InstanceLock::InstanceLock(const std::string& stateDir) {
  const std::string path = stateDir + "/lock";
  // Opened without O_TRUNC: a refused second start must not wipe the pid.
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    const std::string pid = HolderPid(fd_);
    ::close(fd_);
    fd_ = -1;
    if (error == EWOULDBLOCK)
      throw InstanceLockBusy("another zuv-server (pid " + pid + ") is using " + stateDir);
    throw std::runtime_error("cannot lock " + path + ": " + std::strerror(error));
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) != ssize_t(pid.size())) {
    const int error = errno;
    ::close(fd_);
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(error));
  }
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace zuvsrv
