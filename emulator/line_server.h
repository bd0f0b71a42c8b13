// Serves a PrinterEmulator over one descriptor on a background thread, as
// the printer's serial line would carry it: bytes from the host reach the
// printer once their wire time at the emulator's line speed is over, and
// replies leave paced the same way, with the delays and chunking the
// emulator asks for. What carries the line (a pseudo-terminal, a TCP
// connection) is up to the derived class.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "printer_emulator.h"

namespace emu {

class LineServer {
 public:
  LineServer(const LineServer&) = delete;
  LineServer& operator=(const LineServer&) = delete;

  bool Running() const { return thread_.joinable(); }
  const std::string& Error() const { return error_; }

  // Runs f(emulator) with the emulator locked against the serving thread.
  // f must not call back into the server. The emulator's paper sink also
  // runs under this lock.
  template <class F>
  decltype(auto) With(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(emulator_);
  }

  // Blocks until the emulator has received `count` request frames in all
  // (PrinterEmulator::RequestCount), or the timeout passes.
  bool WaitForRequests(size_t count, Millis timeout);

  // How long a request may stay unfinished before the printer drops it.
  static constexpr Millis kAbandonAfter{500};

 protected:
  using Clock = std::chrono::steady_clock;
  // ReadHost's answer when the host's side of the line is gone.
  static constexpr ssize_t kLineGone = -1;
  // Longest sleep with nothing to do.
  static constexpr std::chrono::seconds kIdleWake{1};

  LineServer() = default;
  // The serving thread calls the hooks below: a derived class stops it in
  // its own destructor, before its part is gone.
  virtual ~LineServer() = default;

  // Clears Error(); false with Error() set when already running.
  bool BeginStart();
  // Starts the serving thread; false with Error() set when it cannot.
  bool StartServing();
  // Ends the serving thread; false when it was not running.
  bool StopServing();
  // Makes the serving thread look at its descriptors and flags again.
  void Wake();
  int CurrentBaud();
  // On the serving thread: forgets what is on its way in both directions,
  // and any half-received request.
  void ForgetTraffic();
  // On the serving thread: forgets the replies not yet sent.
  void DropReplies() { outbox_.clear(); }

  std::string error_;

 private:
  struct Incoming {
    Clock::time_point due;  // when its last byte has finished on the wire
    Bytes bytes;
  };
  struct Outgoing {
    Segment segment;
    size_t sent = 0;
    bool started = false;
    Clock::time_point start{};
  };
  struct Sending {
    Clock::time_point next_out = Clock::time_point::max();
    bool want_write = false;
  };

  // The line, seen from the serving thread. Hooks return what the system
  // call they stand for would (-1 with errno set), unless said otherwise.
  // Called at the start of each round.
  virtual void BeginRound() {}
  virtual std::chrono::nanoseconds LongestSleep() const { return kIdleWake; }
  // Fills at most kMaxLineFds descriptors to wait on; returns how many.
  virtual int LineFds(pollfd* fds, bool want_write) = 0;
  // The events of the host's line after the wait, 0 for none.
  virtual short LineEvents(const pollfd* fds) = 0;
  // Bytes received (> 0), 0 for none now, or kLineGone.
  virtual ssize_t ReadHost(uint8_t* buffer, size_t size) = 0;
  virtual ssize_t WriteHost(const uint8_t* bytes, size_t size) = 0;
  // After each wait: `gone` when the host's side has hung up or failed.
  virtual void AfterWait(bool gone) = 0;

  static constexpr int kMaxLineFds = 2;

  void Serve();
  void FeedDueRequests(Clock::time_point now);
  Sending SendDueReplies(Clock::time_point now, std::chrono::nanoseconds byte_time);
  bool WaitForEvents(Clock::time_point now, const Sending& sending, pollfd* line_fds);
  bool ReceiveAll(std::chrono::nanoseconds byte_time);
  void CloseWake();

  PrinterEmulator emulator_;
  std::mutex mutex_;
  std::condition_variable requests_cv_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  int wake_read_ = -1;
  int wake_write_ = -1;

  // Serving thread only.
  std::deque<Incoming> inbox_;
  std::deque<Outgoing> outbox_;
  Clock::time_point rx_free_{};  // the line from the host is busy until then
  Clock::time_point tx_free_{};  // the line to the host is busy until then
  Clock::time_point last_input_{};
  bool partial_ = false;
};

}  // namespace emu
