#include "tty_termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>

namespace serial {

static_assert(NCCS >= TtyMode::kControlChars);

int GetTtyMode(int fd, TtyMode& mode) {
  struct termios2 t;
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  mode.iflag = t.c_iflag;
  mode.oflag = t.c_oflag;
  mode.cflag = t.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT));
  mode.lflag = t.c_lflag;
  std::copy_n(t.c_cc, TtyMode::kControlChars, mode.cc);
  mode.speed = t.c_ospeed;
  return 0;
}

// One TCSETS2 for everything. The C library's tcsetattr reads the mode back
// and fails when the driver ignored part of it, which a pseudo-terminal
// does with parity and character size.
int SetTtyMode(int fd, const TtyMode& mode) {
  if (mode.speed == 0) return EINVAL;
  struct termios2 t;
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_iflag = mode.iflag;
  t.c_oflag = mode.oflag;
  t.c_lflag = mode.lflag;
  // BOTHER for every rate, so 14400 or 31250 need no table of B constants;
  // the input speed bits left at zero make the input speed follow.
  t.c_cflag = (mode.cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER;
  t.c_ospeed = mode.speed;
  t.c_ispeed = mode.speed;
  std::copy_n(mode.cc, TtyMode::kControlChars, t.c_cc);
  if (::ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

}  // namespace serial
