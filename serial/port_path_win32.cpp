// Port names on Windows: "COM3" (or any other bare device name) opens as
// \\.\COM3, the form CreateFile needs for every port, COM10 and above
// included.
#include <cstdlib>

#include "names.h"

namespace serial {

std::string PortDirectory() {
  if (const char* dir = std::getenv("ZUV_PORT_DIR"); dir && *dir) return dir;
  const char* temp = std::getenv("TEMP");
  return std::string(temp && *temp ? temp : ".") + "\\zuv-ports";
}

std::string PortPath(const std::string& name) {
  // A path already, or a tcp:// name.
  if (name.find_first_of("\\/") != std::string::npos) return name;
  return "\\\\.\\" + name;
}

}  // namespace serial
