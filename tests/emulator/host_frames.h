// The host's side of the link, written out independently of the emulator's
// own framing code so that the tests check it rather than restate it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace emu_test {

using Bytes = std::vector<uint8_t>;

// Whether `condition` comes to hold within `limit`, looked at every few
// milliseconds. The limit is generous: a loaded machine is slow, and only a
// condition that never comes may fail a test.
template <class F>
bool WaitFor(F condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

inline Bytes Hex(const std::string& text) {
  Bytes out;
  size_t i = 0;
  for (;;) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size()) return out;
    out.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
}

inline std::string ToHex(const Bytes& bytes) {
  std::string out;
  char b[4];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, out.empty() ? "%02X" : " %02X", v);
    out += b;
  }
  return out;
}

inline void AddChecksum(Bytes& frame) {
  unsigned sum = 0;
  for (size_t i = 1; i < frame.size(); ++i) sum += frame[i];
  frame.push_back(uint8_t((sum >> 8) & 0xFF));
  frame.push_back(uint8_t(sum & 0xFF));
}

inline Bytes ShortRequest(uint8_t cmd, const Bytes& data = {}) {
  Bytes f{0x02, uint8_t(data.size() + 1), cmd};
  // Byte by byte: GCC 12 sees a copy out of bounds in an insert here.
  for (uint8_t b : data) f.push_back(b);
  AddChecksum(f);
  return f;
}

inline Bytes LongRequest(uint8_t start, uint8_t cmd, const Bytes& data = {}) {
  const size_t n = data.size() + 1;
  Bytes f{start, uint8_t(n & 0xFF), uint8_t(n >> 8), cmd};
  f.insert(f.end(), data.begin(), data.end());
  AddChecksum(f);
  return f;
}

inline void PutLE(Bytes& out, int64_t v, int size) {
  for (int i = 0; i < size; ++i) out.push_back(uint8_t(uint64_t(v) >> (8 * i)));
}

inline Bytes LE(int64_t v, int size) {
  Bytes out;
  PutLE(out, v, size);
  return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline int64_t GetLE(const Bytes& in, size_t pos, int size) {
  uint64_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | in.at(pos + size_t(i));
  if (size < 8 && (v >> (8 * size - 1)) != 0) v |= ~uint64_t(0) << (8 * size);
  return int64_t(v);
}

// A positive reply as the host reads it: ACK, frame, nothing after.
struct Reply {
  bool ok = false;
  bool long_form = false;
  uint8_t command = 0;
  Bytes data;
};

// Checks the framing of ACK + reply frame (start byte, length field,
// checksum) and returns its parts.
inline Reply ParseReply(const Bytes& bytes) {
  Reply r;
  if (bytes.size() < 6 || bytes[0] != 0x06) {
    ADD_FAILURE() << "not an ACK and a frame: " << ToHex(bytes);
    return r;
  }
  r.long_form = bytes[1] != 0x02;
  const size_t header = r.long_form ? 4 : 3;  // index of the command byte
  const size_t n = r.long_form ? bytes[2] + 256u * bytes[3] : bytes[2];
  if (bytes.size() != header + n + 2) {
    ADD_FAILURE() << "length field " << n << " does not fit " << ToHex(bytes);
    return r;
  }
  unsigned sum = 0;
  for (size_t i = 2; i < header + n; ++i) sum += bytes[i];
  const unsigned ck = 256u * bytes[bytes.size() - 2] + bytes.back();
  EXPECT_EQ(ck, sum & 0xFFFF) << "checksum of " << ToHex(bytes);
  r.command = bytes[header];
  r.data.assign(bytes.begin() + long(header + 1), bytes.end() - 2);
  r.ok = true;
  return r;
}

}  // namespace emu_test
