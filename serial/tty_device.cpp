// The system's tty as a SerialDevice: a non-blocking descriptor in raw mode,
// the line parameters mapped onto termios, waits in poll().
//
// What the line-parameter record asks for and Linux cannot do is refused
// with EINVAL rather than approximated:
//   - 1.5 stop bits with 6 to 8 data bits, and 2 stop bits with 5 (1.5 stop
//     bits with 5 data bits is CSTOPB, which 8250-family UARTs send as 1.5);
//   - DTR input handshaking, RTS toggling, output flow on DSR and DSR
//     sensitivity: termios has no such modes;
//   - discarding zero bytes: there is no termios flag for it;
//   - a parity replacement character other than zero: Linux delivers a
//     character with a parity error as zero (INPCK without PARMRK).
// Accepted but not exact:
//   - output flow on CTS and RTS input handshaking are one flag (CRTSCTS);
//     either turns on both;
//   - transmission always continues after this side sent XOFF (as with
//     TxContinueOnXoff), and the XON/XOFF thresholds are the kernel's own;
//   - with parity checking a bad character reads as zero even without
//     replacement;
//   - queue sizes and the event character are accepted and not used.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "descriptor_device.h"
#include "tty_termios2.h"

namespace serial {

namespace {

// A request a pseudo-terminal (or another tty without modem lines) does not
// know: nothing to do there rather than a fault.
bool NotSupported(int err) { return err == ENOTTY || err == EINVAL; }

void MakeRaw(TtyMode& t) {
  t.iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
               INPCK | IGNPAR | IUCLC | IMAXBEL | IUTF8);
  // A break is a line error, not a zero byte in the data.
  t.iflag |= IGNBRK;
  t.oflag &= ~OPOST;
  t.lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | NOFLSH | TOSTOP |
               ECHOCTL | ECHOPRT | ECHOKE);
  t.cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.cflag |= CS8 | CLOCAL | CREAD;
  // Reads never block in the kernel; the component waits in poll().
  t.cc[VMIN] = 0;
  t.cc[VTIME] = 0;
}

int Refusal(const TDCB& dcb) {
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return EINVAL;
  if (dcb.Parity > 4 || dcb.StopBits > 2) return EINVAL;
  if (dcb.StopBits == 1 && dcb.ByteSize != 5) return EINVAL;
  if (dcb.StopBits == 2 && dcb.ByteSize == 5) return EINVAL;
  if ((dcb.Flags & dcb_DTRControl) == 0x0020) return EINVAL;
  if ((dcb.Flags & dcb_RTSControl) == 0x3000) return EINVAL;
  if (dcb.Flags & (dcb_OutxDSRFlow | dcb_DSRSensivity | dcb_Null)) return EINVAL;
  if ((dcb.Flags & dcb_ErrorChar) && dcb.ErrorChar != 0) return EINVAL;
  if (dcb.BaudRate == 0) return EINVAL;
  return 0;
}

class TtyDevice : public DescriptorDevice {
 public:
  int Open(const std::string& path) override {
    if (fd_ >= 0) return EBUSY;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    // flock, not TIOCEXCL: the latter does not keep root out.
    int err = SystemCallError(::flock(fd, LOCK_EX | LOCK_NB));
    if (err == EWOULDBLOCK) err = EBUSY;
    TtyMode t;
    if (!err) err = GetTtyMode(fd, t);  // ENOTTY: not a terminal at all
    if (!err) {
      // Raw at once, so nothing is echoed back before the settings arrive.
      MakeRaw(t);
      if (t.speed == 0) t.speed = 9600;
      err = SetTtyMode(fd, t);
    }
    if (err) {
      ::close(fd);
      return err;
    }
    fd_ = fd;
    counted_ = GetLineCounters(counts_) == 0;
    return 0;
  }

  int SetCommState(const TDCB& dcb) override {
    if (fd_ < 0) return EBADF;
    if (int err = Refusal(dcb)) return err;
    TtyMode t;
    if (int err = GetTtyMode(fd_, t)) return err;
    MakeRaw(t);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.cflag = (t.cflag & ~CSIZE) | sizes[dcb.ByteSize - 5];
    switch (dcb.Parity) {
      case 1: t.cflag |= PARENB | PARODD; break;
      case 2: t.cflag |= PARENB; break;
      case 3: t.cflag |= PARENB | CMSPAR | PARODD; break;
      case 4: t.cflag |= PARENB | CMSPAR; break;
      default: break;
    }
    if (dcb.StopBits != 0) t.cflag |= CSTOPB;
    const uint32_t rts = dcb.Flags & dcb_RTSControl;
    if ((dcb.Flags & dcb_OutxCTSFlow) || rts == 0x2000) t.cflag |= CRTSCTS;
    if (dcb.Flags & dcb_OutX) t.iflag |= IXON;
    if (dcb.Flags & dcb_InX) t.iflag |= IXOFF;
    t.cc[VSTART] = dcb.XonChar;
    t.cc[VSTOP] = dcb.XoffChar;
    if (dcb.Flags & dcb_Parity) t.iflag |= INPCK;
    t.speed = dcb.BaudRate;
    if (int err = SetTtyMode(fd_, t)) return err;
    baud_ = dcb.BaudRate;

    const bool dtrOn = (dcb.Flags & dcb_DTRControl) == 0x0010;
    if (int err = ModemLines(dtrOn ? TIOCMBIS : TIOCMBIC, TIOCM_DTR)) return err;
    // Under handshaking RTS starts raised and the kernel drops it when full.
    const bool rtsOn = rts == 0x1000 || rts == 0x2000;
    return ModemLines(rtsOn ? TIOCMBIS : TIOCMBIC, TIOCM_RTS);
  }

  int Drain(int timeoutMs, bool& drained) override {
    drained = false;
    const int64_t end = NowMs() + std::max(timeoutMs, 0);
    for (;;) {
      int queued = 0;
      if (int err = DeviceControl(fd_, TIOCOUTQ, &queued)) return err;
      if (queued == 0) {
        drained = true;
        return 0;
      }
      const int64_t left = end - NowMs();
      if (left <= 0) return 0;
      // The time the queued characters need on the line (10 bits each);
      // poll with no events still wakes on a hang-up.
      const int64_t need = int64_t{queued} * 10000 / std::max<uint32_t>(baud_, 1) + 1;
      bool ignored;
      if (int err = Wait(0, static_cast<int>(std::min(need, left)), ignored)) return err;
    }
  }

  int ClearCommError(TComStat& stat) override {
    stat = TComStat{};
    if (fd_ < 0) return EBADF;
    int out = 0;
    if (int err = PeekInputCount(stat.InQueue)) return err;
    if (int err = DeviceControl(fd_, TIOCOUTQ, &out)) return err;
    stat.OutQueue = static_cast<uint32_t>(out);
    if (!counted_) return 0;
    TLineCounters now;
    if (int err = GetLineCounters(now)) {
      if (!NotSupported(err)) return err;
      counted_ = false;
      return 0;
    }
    // The kernel counts from boot; the query reports what is new since the
    // previous one.
    if (now.frame != counts_.frame) stat.Errors |= CE_FRAME;
    if (now.overrun != counts_.overrun) stat.Errors |= CE_OVERRUN;
    if (now.parity != counts_.parity) stat.Errors |= CE_RXPARITY;
    if (now.brk != counts_.brk) stat.Errors |= CE_BREAK;
    if (now.bufferOverrun != counts_.bufferOverrun) stat.Errors |= CE_RXOVER;
    counts_ = now;
    return 0;
  }

  int Purge(uint32_t flags) override {
    if (fd_ < 0) return EBADF;
    // The abort flags have nothing to do here: no transfer runs in the
    // kernel on the component's behalf.
    const bool rx = flags & PURGE_RXCLEAR;
    bool tx = flags & PURGE_TXCLEAR;
    // Only what is still queued here is discarded. On a pseudo-terminal the
    // output queue always reads empty while an output flush throws away
    // what the far end has not read yet, bytes a real line would already
    // have carried.
    int queued = 0;
    if (tx && DeviceControl(fd_, TIOCOUTQ, &queued) == 0 && queued == 0) tx = false;
    if (!rx && !tx) return 0;
    return SystemCallError(::tcflush(fd_, rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH));
  }

  int GetModemStatus(uint32_t& status) override {
    if (fd_ < 0) return EBADF;
    const int err = GetModemLines(status);
    return NotSupported(err) ? 0 : err;
  }

  int EscapeCommFunction(int function) override {
    if (fd_ < 0) return EBADF;
    switch (function) {
      case SETXOFF: return SystemCallError(::tcflow(fd_, TCOOFF));
      case SETXON: return SystemCallError(::tcflow(fd_, TCOON));
      case SETRTS: return ModemLines(TIOCMBIS, TIOCM_RTS);
      case CLRRTS: return ModemLines(TIOCMBIC, TIOCM_RTS);
      case SETDTR: return ModemLines(TIOCMBIS, TIOCM_DTR);
      case CLRDTR: return ModemLines(TIOCMBIC, TIOCM_DTR);
      case SETBREAK: return DeviceControl(fd_, TIOCSBRK, nullptr);
      case CLRBREAK: return DeviceControl(fd_, TIOCCBRK, nullptr);
      default: return EINVAL;
    }
  }

 private:
  int ModemLines(unsigned long request, int bits) {
    const int err = DeviceControl(fd_, request, &bits);
    return NotSupported(err) ? 0 : err;
  }

  bool counted_ = false;  // the driver keeps line-error counts
  TLineCounters counts_;
  uint32_t baud_ = 9600;
};

}  // namespace

std::unique_ptr<SerialDevice> MakeTtyDevice() { return std::make_unique<TtyDevice>(); }

}  // namespace serial
