// Atomic replacement on Windows: a temporary file beside the target, its
// buffers flushed, then MoveFileEx replacing the target with write-through.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "atomic_file.h"
#include "win32_text.h"

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

[[noreturn]] void Fail(const std::string& what, const std::string& path, DWORD err) {
  throw std::runtime_error(what + " " + path + ": " + SystemErrorText(err));
}

// The contents reach the disk before the move makes them the file's.
DWORD SyncFile(HANDLE file) {
  if (FileSync()) return static_cast<DWORD>(FileSync()(-1));
  return ::FlushFileBuffers(file) ? 0 : ::GetLastError();
}

// A name beside the target that no one else uses: process id and a count.
std::string TemporaryName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  return target + "." + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++) +
         ".tmp";
}

// Closes the handle and removes the temporary file unless released.
class TempFile {
 public:
  explicit TempFile(const std::string& target) {
    for (int attempt = 0; attempt < 100 && FFile == INVALID_HANDLE_VALUE; ++attempt) {
      FPath = TemporaryName(target);
      FFile = ::CreateFileW(WideFromUtf8(FPath).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
      if (FFile == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (FFile == INVALID_HANDLE_VALUE) {
      const DWORD err = ::GetLastError();
      FPath.clear();
      Fail("cannot create a file beside", target, err);
    }
  }
  ~TempFile() {
    if (FFile != INVALID_HANDLE_VALUE) ::CloseHandle(FFile);
    if (!FPath.empty()) ::DeleteFileW(WideFromUtf8(FPath).c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Write(const std::string& contents) {
    size_t done = 0;
    while (done < contents.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size() - done, 1 << 20));
      DWORD written = 0;
      if (!::WriteFile(FFile, contents.data() + done, chunk, &written, nullptr))
        Fail("cannot write", FPath, ::GetLastError());
      done += written;
    }
    if (DWORD err = SyncFile(FFile)) Fail("cannot flush", FPath, err);
    const HANDLE file = FFile;
    FFile = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(file)) Fail("cannot close", FPath, ::GetLastError());
  }
  void RenameTo(const std::string& target) {
    if (BeforeRename()) BeforeRename()(FPath);
    if (!::MoveFileExW(WideFromUtf8(FPath).c_str(), WideFromUtf8(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      Fail("cannot replace", target, ::GetLastError());
    FPath.clear();
  }

 private:
  std::string FPath;
  HANDLE FFile = INVALID_HANDLE_VALUE;
};

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsDirectory(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(WideFromUtf8(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
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
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
  contents.clear();
  const HANDLE file = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD err = ::GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return false;
    Fail("cannot open", path, err);
  }
  char buffer[4096];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
      const DWORD err = ::GetLastError();
      ::CloseHandle(file);
      Fail("cannot read", path, err);
    }
    if (n == 0) break;
    contents.append(buffer, n);
  }
  ::CloseHandle(file);
  return true;
}

void MakeDirectories(const std::string& path) {
  // Each prefix ending before a separator, then the whole path; a drive
  // ("C:") or the start of a UNC name only fails to be created.
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && !IsSeparator(path[at])) continue;
    const std::string part = path.substr(0, at);
    if (IsSeparator(part.back()) || IsDirectory(part)) continue;
    if (::CreateDirectoryW(WideFromUtf8(part).c_str(), nullptr)) continue;
    const DWORD err = ::GetLastError();
    if (err != ERROR_ALREADY_EXISTS && err != ERROR_ACCESS_DENIED && err != ERROR_INVALID_NAME)
      Fail("cannot create", part, err);
  }
  if (!IsDirectory(path)) Fail("not a directory:", path, ERROR_DIRECTORY);
}

}  // namespace serial
