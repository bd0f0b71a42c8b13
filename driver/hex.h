// Byte-list copies and the hex text used by the traffic log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zuv {

std::vector<uint8_t> ToArrayByte(const std::vector<uint8_t>& byteList);
// " XX" per byte, upper case, no other separators.
std::string TBytesToHEX(const std::vector<uint8_t>& aSource);
// Hex text of the first NumBytesReceived bytes (all of them when it is 0,
// none when it is negative), never reading past the end of the array.
std::string ByteArrayToHEX(const uint8_t* aSource, size_t size, int NumBytesReceived);

}  // namespace zuv
