// The printer's 8-bit character set, as the emulator needs it: bytes from
// the host decoded for the paper output, and identifier texts encoded.
//
// Its own table and UTF-8 code, kept apart from the driver's on purpose:
// the paper is the independent check of what the driver encodes, which a
// shared table would only repeat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

// UTF-8 text of printer bytes: one character per byte.
std::string DecodeText(const uint8_t* bytes, size_t count);
inline std::string DecodeText(const std::vector<uint8_t>& bytes) {
  return DecodeText(bytes.data(), bytes.size());
}

// Printer bytes of UTF-8 text: one byte per UTF-16 code unit, the way the
// host encodes its texts (characters without a code of their own are sent
// as their low 8 bits).
std::vector<uint8_t> EncodeText(std::string_view utf8);

// Appends code point `cp` to `out` as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// Number of characters (code points) in UTF-8 text; used to pad columns.
size_t Utf8Length(std::string_view utf8);

}  // namespace emu
