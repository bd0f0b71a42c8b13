#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "names.h"

namespace serial {

namespace {
bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}
}  // namespace

std::string PortDirectory() {
  if (const char* dir = std::getenv("ZUV_PORT_DIR"); dir && *dir) return dir;
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run)
    return std::string(run) + "/zuv-ports";
  return "/tmp/zuv-ports-" + std::to_string(::getuid());
}

std::string PortPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const std::string dev = "/dev/" + name;
  if (Exists(dev)) return dev;
  const std::string linked = PortDirectory() + "/" + name;
  if (!name.empty() && Exists(linked)) return linked;
  return dev;
}

}  // namespace serial
