#include <cstdlib>
#include <filesystem>

#include "server/program_paths.h"

namespace zuvsrv {

std::string ProgramPath() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "" : program.string();
}

std::string DefaultStateDir() {
  const char* systemd = std::getenv("STATE_DIRECTORY");
  return systemd ? systemd : "";
}

}  // namespace zuvsrv
