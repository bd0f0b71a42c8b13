#include "hex.h"

namespace zuv {

namespace {
void AppendHex(std::string& out, const uint8_t* bytes, size_t count) {
  static const char digits[] = "0123456789ABCDEF";
  out.reserve(out.size() + 3 * count);
  for (size_t i = 0; i < count; ++i) {
    out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0x0F];
  }
}
}  // namespace

std::vector<uint8_t> ToArrayByte(const std::vector<uint8_t>& byteList) { return byteList; }

std::string TBytesToHEX(const std::vector<uint8_t>& aSource) {
  std::string out;
  AppendHex(out, aSource.data(), aSource.size());
  return out;
}

std::string ByteArrayToHEX(const uint8_t* aSource, size_t size, int NumBytesReceived) {
  if (NumBytesReceived < 0) return "";
  size_t count = size;
  if (NumBytesReceived > 0 && static_cast<size_t>(NumBytesReceived) < size) count = NumBytesReceived;
  std::string out;
  AppendHex(out, aSource, count);
  return out;
}

}  // namespace zuv
