// One zuv-server per state directory: an exclusive lock on STATE_DIR/lock,
// held while the process lives, with the holder's pid in the file.
#pragma once

#include <stdexcept>
#include <string>

namespace zuvsrv {

// Another process holds the lock; the message names its pid.
class InstanceLockBusy : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

class InstanceLock {
 public:
  // Takes the lock or throws InstanceLockBusy (another holds it) or
  // std::runtime_error (the file cannot be opened).
  explicit InstanceLock(const std::string& stateDir);
  ~InstanceLock();  // lets go of it; the file stays
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
#ifdef _WIN32
  void* file_ = nullptr;  // HANDLE
#else
  int fd_ = -1;
#endif
};

}  // namespace zuvsrv
