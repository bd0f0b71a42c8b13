// A serial device that lives in memory: scripted arrivals on a clock of its
// own, recorded writes and call counters. Lets the component and the layers
// above it be tested without a line and without real time passing.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "serial/device.h"

namespace serial {

class MemoryDevice : public SerialDevice {
 public:
  // Scripted arrivals. A chunk becomes due at its arrival time on the device
  // clock: QueueChunk(bytes, delayMs) schedules it delayMs after the arrival
  // time of the last chunk still queued, or after NowMs() when none is queued.
  // One status query (ClearCommError) makes at most ONE due chunk visible, and
  // only when no earlier bytes are still unread -- so a reader that drains what
  // it sees after each query gets exactly one chunk per poll. An empty chunk is
  // allowed (a poll that finds nothing). ReadSome follows the same rule when
  // it finds nothing visible.
  void QueueChunk(std::vector<uint8_t> bytes, int64_t delayMs = 0);
  size_t QueuedChunks() const;  // not yet made visible
  // Called after every WriteSome with the bytes written (may queue replies).
  std::function<void(MemoryDevice&, const std::vector<uint8_t>&)> OnWrite;
  const std::vector<std::vector<uint8_t>>& Writes() const { return writes_; }
  std::vector<uint8_t> AllWritten() const;
  void ClearWrites() { writes_.clear(); }
  int64_t NowMs() const override { return now_; }
  void Advance(int64_t ms) { now_ += ms; }

  // Counters for tests.
  int openCalls = 0, closeCalls = 0, setCommStateCalls = 0, setCommTimeoutsCalls = 0,
      setupCommCalls = 0, purgeCalls = 0, statusQueries = 0, escapeCalls = 0;
  uint32_t lastPurgeFlags = 0;
  int lastEscape = 0;
  TDCB lastDCB;
  TCommTimeouts lastTimeouts;
  int lastInputSize = 0, lastOutputSize = 0;
  std::string openedPath;
  uint32_t modemStatus = 0;          // returned by GetModemStatus
  std::vector<uint8_t> transmitted;  // TransmitCommChar bytes

  // Faults.
  int openError = 0;  // Open fails with this errno when non-zero
  void HangUp() { hungUp_ = true; }  // later I/O and status calls fail with EIO
  int setCommStateError = 0;         // SetCommState fails with this when non-zero

  // SerialDevice.
  int Open(const std::string& path) override;
  int Close() override;
  bool IsOpen() const override { return open_; }
  int Handle() const override { return open_ ? 42 : -1; }
  int SetCommState(const TDCB& dcb) override;
  int SetCommTimeouts(const TCommTimeouts& timeouts) override;
  int SetupComm(int inputSize, int outputSize) override;
  int ReadSome(uint8_t* buffer, size_t count, size_t& got) override;
  int WriteSome(const uint8_t* buffer, size_t count, size_t& sent) override;
  int WaitReadable(int timeoutMs, bool& ready) override;
  int WaitWritable(int timeoutMs, bool& ready) override;
  int Drain(int timeoutMs, bool& drained) override;
  int ClearCommError(TComStat& stat) override;
  int Purge(uint32_t flags) override;
  int GetModemStatus(uint32_t& status) override;
  int EscapeCommFunction(int function) override;
  int TransmitCommChar(uint8_t ch) override;
  // Nothing to poll: the in-memory device raises no line events.
  int EventDescriptor() const override { return -1; }
  int PeekInputCount(uint32_t& count) const override;
  int GetModemLines(uint32_t& status) const override;
  int GetLineCounters(TLineCounters& counters) const override;

 private:
  struct Chunk {
    std::vector<uint8_t> bytes;
    int64_t due;
  };
  int Usable() const;  // EBADF closed, EIO hung up, else 0
  bool ChunkDue() const { return !script_.empty() && script_.front().due <= now_; }
  void RevealOne();    // one due chunk becomes visible if nothing is unread

  bool open_ = false;
  bool hungUp_ = false;
  int64_t now_ = 0;
  std::deque<Chunk> script_;
  std::deque<uint8_t> visible_;
  std::vector<std::vector<uint8_t>> writes_;
};

}  // namespace serial
