#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace serial {

namespace {

std::function<void(const std::string&)>& BeforeRename() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

std::function<int(int)>& FileSync() {
  static std::function<int(int)> hook;
  return hook;
}

// The contents reach the disk before the rename makes them the file's.
int SyncFile(int fd) {
  if (FileSync()) return FileSync()(fd);
  return ::fsync(fd) == 0 ? 0 : errno;
}

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
  throw std::runtime_error(what + " " + path + ": " + std::strerror(err));
}

// Closes the descriptor and removes the temporary file unless released.
class TempFile {
 public:
  explicit TempFile(const std::string& target) : FPath(target + ".XXXXXX") {
    FFd = ::mkstemp(FPath.data());
    if (FFd < 0) Fail("cannot create a file beside", target, errno);
  }
  ~TempFile() {
    if (FFd >= 0) ::close(FFd);
    if (!FPath.empty()) ::unlink(FPath.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Write(const std::string& contents) {
    size_t done = 0;
    while (done < contents.size()) {
      const ssize_t n = ::write(FFd, contents.data() + done, contents.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail("cannot write", FPath, errno);
      done += static_cast<size_t>(n);
    }
    if (int err = SyncFile(FFd)) Fail("cannot flush", FPath, err);
    const int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0) Fail("cannot close", FPath, errno);
  }
  void RenameTo(const std::string& target) {
    if (BeforeRename()) BeforeRename()(FPath);
    if (::rename(FPath.c_str(), target.c_str()) != 0) Fail("cannot replace", target, errno);
    FPath.clear();
  }

 private:
  std::string FPath;
  int FFd;
};

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The rename itself reaches the disk with its directory.
void SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

void SetBeforeRenameHook(std::function<void(const std::string&)> hook) {
  BeforeRename() = std::move(hook);
}

void SetFileSyncHook(std::function<int(int fd)> hook) { FileSync() = std::move(hook); }

void WriteFileAtomically(const std::string& path, const std::string& contents) {
  TempFile temp(path);
  temp.Write(contents);
  temp.RenameTo(path);
  SyncDirectory(DirectoryOf(path));
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
  contents.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return false;
    Fail("cannot open", path, errno);
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      Fail("cannot read", path, err);
    }
    if (n == 0) break;
    contents.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

void MakeDirectories(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0700) == 0 || errno == EEXIST) continue;
    Fail("cannot create", part, errno);
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) Fail("not a directory:", path, ENOTDIR);
}

}  // namespace serial
