#include "utf8.h"

#include "serial/codepage.h"

namespace zuvcli {

std::optional<std::u16string> Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    char32_t code = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else {
      return std::nullopt;  // four-byte forms and stray continuation bytes
    }
    if (i + extra >= text.size() && extra > 0) return std::nullopt;
    for (size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms and UTF-16 surrogates are not characters.
    if ((extra == 1 && code < 0x80) || (extra == 2 && code < 0x800) ||
        (code >= 0xD800 && code <= 0xDFFF))
      return std::nullopt;
    out += static_cast<char16_t>(code);
    i += extra + 1;
  }
  return out;
}

// Code page 0 of the serial component's text conversions is UTF-8.
std::string Utf16ToUtf8(const std::u16string& text) { return serial::EncodeCodePage(text, 0); }

}  // namespace zuvcli
