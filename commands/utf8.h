// UTF-8 text of files and the command line to the driver's UTF-16 and back.
#pragma once

#include <optional>
#include <string>

namespace zuvcmd {

// Nothing for malformed UTF-8 (or a character outside the 16-bit plane,
// which the printer cannot have anyway).
std::optional<std::u16string> Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);

}  // namespace zuvcmd
