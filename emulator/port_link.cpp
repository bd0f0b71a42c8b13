#include "port_link.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "serial/names.h"

namespace emu {

namespace {

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

// Where a symbolic link points; empty when `path` is none.
std::string LinkTarget(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, size_t(n)) : std::string();
}

// The first line of the lock file: the target its last holder linked.
std::string RecordedTarget(int fd) {
  char text[PATH_MAX];
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return {};
  const std::string all(text, size_t(n));
  return all.substr(0, all.find('\n'));
}

void RecordTarget(int fd, const std::string& target) {
  const std::string text = target + "\npid " + std::to_string(::getpid()) + "\n";
  // Only a note for the next emulator and for people: a failure costs no more
  // than a leftover link that a later emulator will not recognise.
  [[maybe_unused]] const bool noted =
      ::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.data(), text.size(), 0) == ssize_t(text.size());
}

// A link that no emulator serves any more (the caller holds the name's lock).
bool IsLeftover(const std::string& path, const std::string& recorded, const std::string& target) {
  const std::string points_to = LinkTarget(path);
  if (points_to.empty()) return false;  // not a link: not ours to replace
  struct stat st;
  return ::stat(path.c_str(), &st) != 0 || points_to == target || points_to == recorded;
}

}  // namespace

std::string LinkLockDirectory() { return serial::PortDirectory() + ".locks"; }

PortLink::Outcome PortLink::TryName(const std::string& dir, const std::string& lock_dir,
                                    const std::string& name, const std::string& target) {
  const int fd =
      ::open((lock_dir + "/" + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Outcome::kFailed;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return Outcome::kBusy;  // a running emulator has the name
  }
  const std::string path = dir + "/" + name;
  bool linked = ::symlink(target.c_str(), path.c_str()) == 0;
  if (!linked && errno == EEXIST && IsLeftover(path, RecordedTarget(fd), target) &&
      ::unlink(path.c_str()) == 0)
    linked = ::symlink(target.c_str(), path.c_str()) == 0;
  if (!linked) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return Outcome::kFailed;
  }
  RecordTarget(fd, target);
  path_ = path;
  target_ = target;
  lock_fd_ = fd;
  return Outcome::kTaken;
}

bool PortLink::Make(const std::string& target, const std::string& name, std::string& error) {
  Remove();
  const std::string dir = serial::PortDirectory();
  const std::string lock_dir = LinkLockDirectory();
  for (const std::string& d : {dir, lock_dir}) {
    if (!MakeDirs(d)) {
      error = "cannot create " + d + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!name.empty()) {
    if (name.find('/') != std::string::npos) {
      error = "link name must not contain '/'";
      return false;
    }
    const Outcome outcome = TryName(dir, lock_dir, name, target);
    if (outcome == Outcome::kTaken) return true;
    error = "cannot link " + dir + "/" + name + ": " +
            (outcome == Outcome::kBusy ? "in use by another emulator" : std::strerror(errno));
    return false;
  }
  for (int i = 0; i < 256; ++i)
    if (TryName(dir, lock_dir, "ttyZUV" + std::to_string(i), target) == Outcome::kTaken)
      return true;
  error = "no free ttyZUV<n> name in " + dir;
  return false;
}

void PortLink::Remove() {
  // Only our own link: a hand-made one may have replaced it since.
  if (!path_.empty() && LinkTarget(path_) == target_) ::unlink(path_.c_str());
  if (lock_fd_ >= 0) ::close(lock_fd_);  // gives the name up, after the link has gone
  lock_fd_ = -1;
  path_.clear();
  target_.clear();
}

}  // namespace emu
