#include "error_text.h"

#include <windows.h>

#include <cerrno>

#include "win32_text.h"

namespace serial {

std::string ErrorCodeText(int64_t code) { return SystemErrorText(static_cast<unsigned long>(code)); }

// Windows refuses a second open of a COM port with "access denied"; the
// component's own devices say EBUSY when they are open already.
bool IsPortHeldCode(int64_t code) {
  return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_BUSY ||
         code == EBUSY;
}

}  // namespace serial
