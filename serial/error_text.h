// The system's words for the error codes the component reports: errno values
// on Linux, Win32 codes (GetLastError) on Windows.
#pragma once

#include <cstdint>
#include <string>

namespace serial {

std::string ErrorCodeText(int64_t code);

// Whether an open failed because another process (or another port object)
// holds the port.
bool IsPortHeldCode(int64_t code);

}  // namespace serial
