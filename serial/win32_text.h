// Windows only: the conversions between the component's UTF-8 texts and the
// system's UTF-16 ones, and the system's words for an error code.
#pragma once

#include <string>

namespace serial {

std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

// The system's message for a Win32 error code (GetLastError, WSAGetLastError),
// without the trailing line break; "error N" when the system has none.
std::string SystemErrorText(unsigned long code);

}  // namespace serial
