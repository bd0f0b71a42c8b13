#include "testing/memory_device.h"

#include <algorithm>
#include <cerrno>

namespace serial {

void MemoryDevice::QueueChunk(std::vector<uint8_t> bytes, int64_t delayMs) {
  const int64_t base = script_.empty() ? now_ : script_.back().due;
  script_.push_back({std::move(bytes), base + delayMs});
}

size_t MemoryDevice::QueuedChunks() const { return script_.size(); }

std::vector<uint8_t> MemoryDevice::AllWritten() const {
  std::vector<uint8_t> all;
  for (const auto& w : writes_) all.insert(all.end(), w.begin(), w.end());
  return all;
}

int MemoryDevice::Usable() const {
  if (!open_) return EBADF;
  if (hungUp_) return EIO;
  return 0;
}

void MemoryDevice::RevealOne() {
  if (!visible_.empty() || !ChunkDue()) return;
  const auto& bytes = script_.front().bytes;
  visible_.insert(visible_.end(), bytes.begin(), bytes.end());
  script_.pop_front();
}

int MemoryDevice::Open(const std::string& path) {
  ++openCalls;
  openedPath = path;
  if (openError) return openError;
  if (open_) return EBUSY;
  open_ = true;
  hungUp_ = false;
  return 0;
}

int MemoryDevice::Close() {
  ++closeCalls;
  if (!open_) return EBADF;
  open_ = false;
  return 0;
}

int MemoryDevice::SetCommState(const TDCB& dcb) {
  ++setCommStateCalls;
  if (int err = Usable()) return err;
  if (setCommStateError) return setCommStateError;
  lastDCB = dcb;
  return 0;
}

int MemoryDevice::SetCommTimeouts(const TCommTimeouts& timeouts) {
  ++setCommTimeoutsCalls;
  if (int err = Usable()) return err;
  lastTimeouts = timeouts;
  return 0;
}

int MemoryDevice::SetupComm(int inputSize, int outputSize) {
  ++setupCommCalls;
  if (int err = Usable()) return err;
  lastInputSize = inputSize;
  lastOutputSize = outputSize;
  return 0;
}

int MemoryDevice::ReadSome(uint8_t* buffer, size_t count, size_t& got) {
  got = 0;
  if (int err = Usable()) return err;
  RevealOne();
  got = std::min(count, visible_.size());
  std::copy_n(visible_.begin(), got, buffer);
  visible_.erase(visible_.begin(), visible_.begin() + static_cast<std::ptrdiff_t>(got));
  return 0;
}

int MemoryDevice::WriteSome(const uint8_t* buffer, size_t count, size_t& sent) {
  sent = 0;
  if (int err = Usable()) return err;
  std::vector<uint8_t> bytes(buffer, buffer + count);
  writes_.push_back(bytes);
  sent = count;
  if (OnWrite) OnWrite(*this, bytes);
  return 0;
}

int MemoryDevice::WaitReadable(int timeoutMs, bool& ready) {
  ready = false;
  if (int err = Usable()) return err;
  if (!visible_.empty() || ChunkDue()) {
    ready = true;
    return 0;
  }
  int64_t step = std::max(timeoutMs, 0);
  if (!script_.empty()) step = std::min(step, script_.front().due - now_);
  now_ += step;
  ready = ChunkDue();
  return 0;
}

int MemoryDevice::WaitWritable(int, bool& ready) {
  ready = false;
  if (int err = Usable()) return err;
  ready = true;
  return 0;
}

int MemoryDevice::Drain(int, bool& drained) {
  drained = false;
  if (int err = Usable()) return err;
  drained = true;
  return 0;
}

int MemoryDevice::ClearCommError(TComStat& stat) {
  ++statusQueries;
  stat = TComStat{};
  if (int err = Usable()) return err;
  RevealOne();
  stat.InQueue = static_cast<uint32_t>(visible_.size());
  return 0;
}

int MemoryDevice::Purge(uint32_t flags) {
  ++purgeCalls;
  lastPurgeFlags = flags;
  if (int err = Usable()) return err;
  if (flags & PURGE_RXCLEAR) visible_.clear();
  return 0;
}

int MemoryDevice::GetModemStatus(uint32_t& status) {
  status = 0;
  if (int err = Usable()) return err;
  status = modemStatus;
  return 0;
}

int MemoryDevice::EscapeCommFunction(int function) {
  ++escapeCalls;
  lastEscape = function;
  return Usable();
}

int MemoryDevice::TransmitCommChar(uint8_t ch) {
  if (int err = Usable()) return err;
  transmitted.push_back(ch);
  return 0;
}

int MemoryDevice::PeekInputCount(uint32_t& count) const {
  count = static_cast<uint32_t>(visible_.size());
  return Usable();
}

int MemoryDevice::GetModemLines(uint32_t& status) const {
  status = 0;
  return ENOTTY;
}

int MemoryDevice::GetLineCounters(TLineCounters& counters) const {
  counters = TLineCounters{};
  return ENOTTY;
}

}  // namespace serial
