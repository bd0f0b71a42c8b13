// Where the running program is, and the state directory it uses when none
// is given. Each platform has its own source.
#pragma once

#include <string>

namespace zuvsrv {

// The running program's file, or "" when the system does not say.
std::string ProgramPath();

// Linux: $STATE_DIRECTORY as systemd sets it, else "". Windows:
// %ProgramData%\zuv-server.
std::string DefaultStateDir();

}  // namespace zuvsrv
