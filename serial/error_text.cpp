#include "error_text.h"

#include <cerrno>
#include <cstring>

namespace serial {

std::string ErrorCodeText(int64_t code) { return std::strerror(static_cast<int>(code)); }

bool IsPortHeldCode(int64_t code) { return code == EBUSY; }

}  // namespace serial
