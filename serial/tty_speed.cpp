#include "tty_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace serial {

int SetTtySpeed(int fd, uint32_t bitsPerSecond) {
  if (bitsPerSecond == 0) return EINVAL;  // speed 0 would hang the line up
  struct termios2 t;
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  // BOTHER for every rate, so 14400 or 31250 need no table of B constants;
  // the input speed field left at 0 follows the output speed.
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER;
  t.c_ospeed = bitsPerSecond;
  t.c_ispeed = bitsPerSecond;
  if (::ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

int GetTtySpeed(int fd, uint32_t& bitsPerSecond) {
  struct termios2 t;
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  bitsPerSecond = t.c_ospeed;
  return 0;
}

}  // namespace serial
