#include "utf8.h"

#include "serial/codepage.h"
#include "serial/utf8.h"

namespace zuvcmd {

std::optional<std::u16string> Utf8ToUtf16(const std::string& text) { return serial::DecodeUtf8(text); }

// Code page 0 of the serial component's text conversions is UTF-8.
std::string Utf16ToUtf8(const std::u16string& text) { return serial::EncodeCodePage(text, 0); }

}  // namespace zuvcmd
