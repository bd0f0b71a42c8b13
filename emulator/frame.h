// Frames of the printer link, seen from the printer: requests parsed from
// the host's bytes, replies built for it.
//
// Written apart from the driver's framing on purpose, sharing no code with
// it: the emulator is the independent check of the driver, and a fault in
// shared framing code would pass on both sides unseen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace emu {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kShortStart = 0x02;
inline constexpr uint8_t kLongStartHost = 0x01;
inline constexpr uint8_t kLongStartPrinter = 0x03;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNack = 0x15;
inline constexpr uint8_t kClosing = 0x40;
inline constexpr uint8_t kErrorCommand = 0x7F;

// The largest data block a long request may carry (the host's 1025-byte
// frame buffer less the frame overhead).
inline constexpr size_t kMaxRequestData = 1019;

// Sum of the bytes modulo 65536.
uint16_t Checksum(const uint8_t* bytes, size_t count);

// 02 n cmd data ckH ckL; the data must fit the one-byte length.
Bytes ShortFrame(uint8_t command, const Bytes& data);
// start nL nH cmd data ckH ckL.
Bytes LongFrame(uint8_t start, uint8_t command, const Bytes& data);
// 02 02 7F code ckH ckL.
Bytes ErrorFrame(uint8_t code);

// One request frame as it came off the line.
struct Frame {
  uint8_t start = 0;  // 0x02 short; 0x01 or 0x03 long
  bool long_form = false;
  size_t length = 0;  // the length field: command plus data bytes
  uint8_t command = 0;
  Bytes data;
  bool checksum_ok = false;
};

// Cuts the host's byte stream into request frames. Bytes outside a frame
// (the host's closing 0x40 after a reply, line noise) are counted and
// dropped.
class RequestParser {
 public:
  // Takes one byte; returns the frame it completes, if any.
  std::optional<Frame> Push(uint8_t byte);

  // Drops a frame whose remaining bytes never came, so the next start byte
  // begins a new one.
  void Abandon();
  bool InFrame() const { return state_ != State::kStart; }

  size_t closing_bytes() const { return closing_bytes_; }
  size_t stray_bytes() const { return stray_bytes_; }
  void ResetCounters() { closing_bytes_ = stray_bytes_ = 0; }

 private:
  enum class State { kStart, kLengthLow, kLengthHigh, kBody, kCheckHigh, kCheckLow };

  State state_ = State::kStart;
  Frame frame_;
  size_t body_seen_ = 0;
  uint32_t sum_ = 0;
  uint16_t received_check_ = 0;
  size_t closing_bytes_ = 0;
  size_t stray_bytes_ = 0;
};

}  // namespace emu
