// Line speed of a tty in bits per second, any value the driver accepts.
// Kept apart from the rest of the tty code: the kernel's termios2 headers
// cannot be included together with the C library's <termios.h>.
#pragma once

#include <cstdint>

namespace serial {

// Both return 0 or an errno value.
int SetTtySpeed(int fd, uint32_t bitsPerSecond);
int GetTtySpeed(int fd, uint32_t& bitsPerSecond);

}  // namespace serial
