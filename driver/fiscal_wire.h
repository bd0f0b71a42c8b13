// Byte-level helpers the fiscal commands share: little-endian integers in
// data blocks and replies, rounding, and the rule for report commands.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace zuv::wire {

// Milliseconds from 1970-01-01 to 2000-01-01, the device clock's epoch.
constexpr int64_t kMs1970To2000 = 946684800000;

// Appends the low `bytes` bytes of `value`, least significant first.
inline void AppendLE(std::vector<uint8_t>& data, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) data.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline int64_t Int64At(const uint8_t* p) {
  uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = u << 8 | p[i];
  return static_cast<int64_t>(u);
}

inline int32_t Int32At(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

// Nearest integer, halves to even, whatever the floating-point rounding mode.
double RoundHalfEven(double y);

// Largest amounts the fields hold, in hundredths.
constexpr int64_t kMaxAmount64 = std::numeric_limits<int64_t>::max();
constexpr int64_t kMaxAmount32 = std::numeric_limits<int32_t>::max();

// An amount as hundredths for a field that holds up to `limit`: false for
// a value that is not finite, is negative or does not fit.
bool MoneyToHundredths(double x, int64_t limit, int64_t& hundredths);

// Reports print for a long time: an ACK counts as done even when the closing
// reply misses the budget. A device error or NACK still fails.
bool AcknowledgedReport(bool exchanged);

}  // namespace zuv::wire
