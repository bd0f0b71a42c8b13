// The event-thread queries of SerialDevice for a device whose handle is a
// tty (or socket) descriptor.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "device.h"

namespace serial {

namespace {
int Ioctl(int fd, unsigned long request, void* arg) {
  if (fd < 0) return EBADF;
  return ::ioctl(fd, request, arg) == 0 ? 0 : errno;
}
// A descriptor that does not know the request has no such lines or counts.
int NoneWhenUnknown(int err) { return err == EINVAL ? ENOTTY : err; }
}  // namespace

int SerialDevice::PeekInputCount(uint32_t& count) const {
  int waiting = 0;
  const int err = Ioctl(Handle(), FIONREAD, &waiting);
  count = err ? 0 : static_cast<uint32_t>(waiting);
  return err;
}

int SerialDevice::GetModemLines(uint32_t& status) const {
  status = 0;
  int lines = 0;
  if (int err = Ioctl(Handle(), TIOCMGET, &lines)) return NoneWhenUnknown(err);
  if (lines & TIOCM_CTS) status |= MS_CTS_ON;
  if (lines & TIOCM_DSR) status |= MS_DSR_ON;
  if (lines & TIOCM_RNG) status |= MS_RING_ON;
  if (lines & TIOCM_CAR) status |= MS_RLSD_ON;
  return 0;
}

int SerialDevice::GetLineCounters(TLineCounters& counters) const {
  counters = TLineCounters{};
  struct serial_icounter_struct c = {};
  if (int err = Ioctl(Handle(), TIOCGICOUNT, &c)) return NoneWhenUnknown(err);
  counters.cts = static_cast<uint32_t>(c.cts);
  counters.dsr = static_cast<uint32_t>(c.dsr);
  counters.ring = static_cast<uint32_t>(c.rng);
  counters.rlsd = static_cast<uint32_t>(c.dcd);
  counters.frame = static_cast<uint32_t>(c.frame);
  counters.overrun = static_cast<uint32_t>(c.overrun);
  counters.parity = static_cast<uint32_t>(c.parity);
  counters.brk = static_cast<uint32_t>(c.brk);
  counters.bufferOverrun = static_cast<uint32_t>(c.buf_overrun);
  return 0;
}

}  // namespace serial
