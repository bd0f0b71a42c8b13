// A Windows COM port as a SerialDevice: opened exclusively for overlapped
// I/O, the line-parameter record mapped onto the DCB, the time-outs handed
// to the driver. The component waits and keeps its own time-outs on top of
// the non-blocking transfers here, as on Linux.
#pragma once

#include <memory>

#include "serial/device.h"

namespace serial {

// The handle behind a device's Handle() (Windows keeps handles within 32
// bits, so the int carries it whole).
void* Win32HandleOf(int handle);

std::unique_ptr<SerialDevice> MakeWin32Device();

}  // namespace serial
