// The event-thread queries of SerialDevice on Windows: a device that does
// not answer them itself has no such counts or lines.
#include "serial/device.h"

#include <windows.h>

namespace serial {

int SerialDevice::PeekInputCount(uint32_t& count) const {
  count = 0;
  return ERROR_NOT_SUPPORTED;
}

int SerialDevice::GetModemLines(uint32_t& status) const {
  status = 0;
  return ERROR_NOT_SUPPORTED;
}

int SerialDevice::GetLineCounters(TLineCounters& counters) const {
  counters = TLineCounters{};
  return ERROR_NOT_SUPPORTED;
}

}  // namespace serial
