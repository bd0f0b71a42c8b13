// What a taken reply must be, checked from scratch apart from the driver's
// decoder. Shared by the random-chunk tests and the reply fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zuvtest {

// True when `rb` (the receive buffer) starts with ACK and a whole reply
// frame whose checksum matches and whose command byte is `cmd`, or an error
// reply carrying no error (code 0).
inline bool HoldsReplyTo(const std::vector<uint8_t>& rb, uint8_t cmd) {
  if (rb.size() < 2 || rb[0] != 0x06) return false;
  const size_t header = rb[1] == 0x02 ? 2 : (rb[1] == 0x01 || rb[1] == 0x03) ? 3 : 0;
  if (header == 0 || rb.size() < 1 + header) return false;
  const size_t n = header == 2 ? rb[2] : static_cast<size_t>(rb[2] | rb[3] << 8);
  const size_t end = 1 + header + n + 2;  // one past the checksum
  if (n == 0 || rb.size() < end) return false;
  uint32_t sum = 0;
  for (size_t i = 2; i < end - 2; ++i) sum += rb[i];
  if (static_cast<uint32_t>(rb[end - 2] << 8 | rb[end - 1]) != (sum & 0xFFFF)) return false;
  const uint8_t command = rb[1 + header];
  return command == cmd || (command == 0x7F && (n < 2 || rb[2 + header] == 0));
}

// The outcomes a failed exchange may report.
inline bool IsFailureCode(int32_t code) {
  return code == -1 || code == -2 || (code >= 1 && code <= 255) || (code >= 1001 && code <= 1255);
}

}  // namespace zuvtest
