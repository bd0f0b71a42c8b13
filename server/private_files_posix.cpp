#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "server/access_token.h"
#include "server/private_files.h"

namespace zuvsrv {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw TokenError(what + ": " + std::strerror(errno));
}

}  // namespace

std::string SystemRandomBytes(size_t count) {
  std::string raw(count, '\0');
  size_t filled = 0;
  while (filled < count) {
    const ssize_t n = ::getrandom(raw.data() + filled, count - filled, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("getrandom");
    filled += size_t(n);
  }
  return raw;
}

void MakePrivateDir(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
}

bool CreatePrivateFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 && errno == EEXIST) return false;
  if (fd < 0) Fail("cannot create token file " + path);
  const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  const bool synced = written && ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  if (!synced) {
    ::unlink(path.c_str());
    errno = error;
    Fail("cannot write token file " + path);
  }
  return true;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool ReadableByOthers(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRWXG | S_IRWXO));
}

}  // namespace zuvsrv
