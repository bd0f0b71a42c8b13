// A tty's line mode through the kernel's termios2 interface, which carries
// any speed (BOTHER) and refuses only what the kernel itself refuses.
// Kept in its own file: the kernel's <asm/termbits.h> cannot be included
// together with the C library's <termios.h>.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serial {

struct TtyMode {
  // Flag values and control-character indexes as in <termios.h> (the
  // kernel's own values); the speed bits of cflag are not used.
  uint32_t iflag = 0, oflag = 0, cflag = 0, lflag = 0;
  static constexpr size_t kControlChars = 19;
  uint8_t cc[kControlChars] = {};
  uint32_t speed = 0;  // bits per second
};

// Both return 0 or an errno value. A speed of 0 is refused (EINVAL): it
// would hang the line up.
int GetTtyMode(int fd, TtyMode& mode);
int SetTtyMode(int fd, const TtyMode& mode);

}  // namespace serial
