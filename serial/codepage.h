// Text <-> bytes in a Windows code page number, for the component's
// Unicode string operations. 0 means UTF-8 on every system.
#pragma once

#include <cstdint>
#include <string>

namespace serial {

// Characters that the code page cannot hold become '?'; an unknown code page
// gives no bytes at all.
std::string EncodeCodePage(const std::u16string& text, uint32_t codePage);
// Byte sequences that are not valid in the code page become U+FFFD; an
// unknown code page gives no text.
std::u16string DecodeCodePage(const std::string& bytes, uint32_t codePage);

#ifndef _WIN32
// The iconv name used for a code page number: CP<n> for a number without a
// name of its own (iconv may not know it; the conversions then give nothing).
// Windows converts by the number itself.
std::string CodePageCharset(uint32_t codePage);
#endif

}  // namespace serial
