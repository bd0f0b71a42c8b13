#include "utf8_console.h"

#include <windows.h>

namespace zuvcli {

void UseUtf8Console() {
  // Fails harmlessly when there is no console (a service, a pipe).
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCP(CP_UTF8);
}

}  // namespace zuvcli
