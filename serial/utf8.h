// UTF-8 text to the 16-bit characters that port names, settings and the
// printer's texts hold: the one decoder outside the emulator.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace serial {

struct Utf8Char {
  char16_t code;
  size_t length;  // bytes it took
};

// The character at byte `at` of `text`; nothing when the bytes there are
// not a well-formed character of the 16-bit range (stray continuation
// bytes, overlong forms, surrogates, four-byte forms, a character cut off).
std::optional<Utf8Char> DecodeUtf8Char(std::string_view text, size_t at = 0);

// The whole text; nothing when any of it is malformed.
std::optional<std::u16string> DecodeUtf8(std::string_view text);

}  // namespace serial
