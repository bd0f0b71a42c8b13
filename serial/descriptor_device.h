// What the tty and the TCP device share: one non-blocking descriptor, moved
// through with the ordinary read and write calls and waited on in poll().
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "device.h"

namespace serial {

// 0 when a system call's result is not negative, its errno otherwise.
int SystemCallError(int result);
// An ioctl as an errno-style code.
int DeviceControl(int fd, unsigned long request, void* arg);
// Waits at most `timeoutMs` for `events` on `fd`; revents 0 when the time
// ran out (or a signal cut the wait short: callers wait again).
int PollOne(int fd, short events, int timeoutMs, short& revents);
int64_t MonotonicNowMs();

class DescriptorDevice : public SerialDevice {
 public:
  ~DescriptorDevice() override;

  int Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  int Handle() const override { return fd_; }

  // Nothing to hand to the system: the component honours the time-outs,
  // and Linux has no queue-size request.
  int SetCommTimeouts(const TCommTimeouts&) override { return fd_ < 0 ? EBADF : 0; }
  int SetupComm(int, int) override { return fd_ < 0 ? EBADF : 0; }

  int ReadSome(uint8_t* buffer, size_t count, size_t& got) override;
  int WriteSome(const uint8_t* buffer, size_t count, size_t& sent) override;
  int WaitReadable(int timeoutMs, bool& ready) override;
  int WaitWritable(int timeoutMs, bool& ready) override;
  // Linux has no priority send: the byte goes behind what the system
  // already holds, ahead of anything the component has not written yet.
  int TransmitCommChar(uint8_t ch) override;
  int64_t NowMs() const override { return MonotonicNowMs(); }

 protected:
  // The write call itself: ::write unless the descriptor needs another.
  virtual ssize_t WriteNow(const uint8_t* buffer, size_t count);
  // Why the descriptor reports an error condition.
  virtual int ErrorCondition() const { return EIO; }
  // A stream's close comes behind the data sent before it: waiting data is
  // delivered first, and an empty read is that close. On a raw tty an empty
  // read means "nothing yet", and a hang-up loses what was waiting.
  virtual bool HangUpFollowsData() const { return false; }

  // Polls for `events`; a hang-up or error condition is reported as an error.
  int Wait(short events, int timeoutMs, bool& ready);

  int fd_ = -1;
};

}  // namespace serial
