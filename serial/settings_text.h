// The text rules that the ini file and the file-backed key store share.
#pragma once

#include <string>

namespace serial {

// Without the blanks and tabs around it.
std::string Trim(const std::string& s);
// Throws the store's failure (std::runtime_error) saying why.
[[noreturn]] void Refuse(const std::string& why);
// Refuses a text that would break the line structure of either file.
void CheckOneLine(const std::string& text);

}  // namespace serial
