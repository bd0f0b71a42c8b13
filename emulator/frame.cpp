#include "frame.h"

namespace emu {

uint16_t Checksum(const uint8_t* bytes, size_t count) {
  uint32_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return uint16_t(sum & 0xFFFF);
}

namespace {
void AppendChecksum(Bytes& frame) {
  const uint16_t ck = Checksum(frame.data() + 1, frame.size() - 1);
  frame.push_back(uint8_t(ck >> 8));
  frame.push_back(uint8_t(ck & 0xFF));
}
}  // namespace

Bytes ShortFrame(uint8_t command, const Bytes& data) {
  Bytes frame;
  frame.reserve(data.size() + 5);
  frame.push_back(kShortStart);
  frame.push_back(uint8_t(data.size() + 1));
  frame.push_back(command);
  frame.insert(frame.end(), data.begin(), data.end());
  AppendChecksum(frame);
  return frame;
}

Bytes LongFrame(uint8_t start, uint8_t command, const Bytes& data) {
  const size_t n = data.size() + 1;
  Bytes frame;
  frame.reserve(data.size() + 6);
  frame.push_back(start);
  frame.push_back(uint8_t(n & 0xFF));
  frame.push_back(uint8_t((n >> 8) & 0xFF));
  frame.push_back(command);
  frame.insert(frame.end(), data.begin(), data.end());
  AppendChecksum(frame);
  return frame;
}

Bytes ErrorFrame(uint8_t code) { return ShortFrame(kErrorCommand, {code}); }

void RequestParser::Abandon() {
  state_ = State::kStart;
  frame_ = Frame{};
}

std::optional<Frame> RequestParser::Push(uint8_t byte) {
  switch (state_) {
    case State::kStart:
      if (byte == kShortStart || byte == kLongStartHost || byte == kLongStartPrinter) {
        frame_ = Frame{};
        frame_.start = byte;
        frame_.long_form = byte != kShortStart;
        sum_ = 0;
        body_seen_ = 0;
        state_ = State::kLengthLow;
      } else if (byte == kClosing) {
        ++closing_bytes_;
      } else {
        ++stray_bytes_;
      }
      return std::nullopt;
    case State::kLengthLow:
      sum_ += byte;
      frame_.length = byte;
      state_ = frame_.long_form ? State::kLengthHigh : State::kBody;
      break;
    case State::kLengthHigh:
      sum_ += byte;
      frame_.length |= size_t(byte) << 8;
      state_ = State::kBody;
      break;
    case State::kBody:
      sum_ += byte;
      if (body_seen_ == 0)
        frame_.command = byte;
      else
        frame_.data.push_back(byte);
      ++body_seen_;
      break;
    case State::kCheckHigh:
      received_check_ = uint16_t(byte << 8);
      state_ = State::kCheckLow;
      return std::nullopt;
    case State::kCheckLow:
      received_check_ |= byte;
      frame_.checksum_ok = received_check_ == uint16_t(sum_ & 0xFFFF);
      state_ = State::kStart;
      return std::move(frame_);
  }
  // A zero length field means no command byte: the checksum follows at once.
  if (state_ == State::kBody && body_seen_ >= frame_.length) state_ = State::kCheckHigh;
  return std::nullopt;
}

}  // namespace emu
