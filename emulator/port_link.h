// The emulator's name in the virtual-port directory: a link to its
// pseudo-terminal that the host opens like a serial port.
//
// An emulator killed without a chance to clean up leaves its link behind,
// and the next pseudo-terminal may well get the same number, so the link's
// target says nothing about its owner. An emulator therefore holds a lock on
// a file of the same name in a directory beside the port directory (which
// lists every entry as a port) for as long as it has the name; the kernel
// drops the lock however the process ends. A name whose lock is free has no
// emulator, and a link left under it is replaced when it points nowhere, to
// the new emulator's own pseudo-terminal, or where the lock file says the
// last holder linked it. Any other link (made by hand, say) stays.
#pragma once

#include <string>

namespace emu {

class PortLink {
 public:
  PortLink() = default;
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;
  ~PortLink() { Remove(); }

  // Links `name`, or with an empty name the first free ttyZUV<n>, to
  // `target`. False with `error` set when no name could be had.
  bool Make(const std::string& target, const std::string& name, std::string& error);
  // Removes the link if it is still ours, and gives the name up.
  void Remove();

  // Full path of the link, empty without one.
  const std::string& Path() const { return path_; }

 private:
  enum class Outcome { kTaken, kBusy, kFailed };
  Outcome TryName(const std::string& dir, const std::string& lock_dir, const std::string& name,
                  const std::string& target);

  std::string path_;
  std::string target_;
  int lock_fd_ = -1;
};

// The directory of the lock files that go with the port directory's links.
std::string LinkLockDirectory();

}  // namespace emu
