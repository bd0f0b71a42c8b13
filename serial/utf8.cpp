#include "utf8.h"

namespace serial {

namespace {

constexpr unsigned kContinuationMask = 0xC0;
constexpr unsigned kContinuation = 0x80;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kLastSurrogate = 0xDFFF;

}  // namespace

std::optional<Utf8Char> DecodeUtf8Char(std::string_view text, size_t at) {
  if (at >= text.size()) return std::nullopt;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned lead = byte(0);
  if (lead < 0x80) return Utf8Char{static_cast<char16_t>(lead), 1};
  size_t extra = 0;
  char32_t code = 0;
  char32_t smallest = 0;  // below it the form is overlong
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    code = lead & 0x1F;
    smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    code = lead & 0x0F;
    smallest = 0x800;
  } else {
    return std::nullopt;  // four-byte forms and stray continuation bytes
  }
  if (text.size() - at <= extra) return std::nullopt;
  for (size_t i = 1; i <= extra; ++i) {
    if ((byte(i) & kContinuationMask) != kContinuation) return std::nullopt;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < smallest || (code >= kFirstSurrogate && code <= kLastSurrogate)) return std::nullopt;
  return Utf8Char{static_cast<char16_t>(code), extra + 1};
}

std::optional<std::u16string> DecodeUtf8(std::string_view text) {
  std::u16string out;
  for (size_t at = 0; at < text.size();) {
    const auto c = DecodeUtf8Char(text, at);
    if (!c) return std::nullopt;
    out += c->code;
    at += c->length;
  }
  return out;
}

}  // namespace serial
