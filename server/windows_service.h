// zuv-server as a Windows service: registered with the Service Control
// Manager as "zuv-server" (LocalSystem, started automatically), removed,
// and run under it. In service mode the program has no console: what it
// would print goes to STATE_DIR\zuv-server.log.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zuvsrv {

// --install-service: registers this program to run with `--service` and
// `args` (the rest of its command line, checked first). Exit status.
int InstallService(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// --uninstall-service: stops the service, waits until it stopped, removes it.
int UninstallService(std::ostream& out, std::ostream& err);

// --service: hands the process to the service manager, which runs the
// service with `args`; a stop or shut-down from the manager takes the
// orderly stop. Exit status.
int RunAsService(const std::vector<std::string>& args);

}  // namespace zuvsrv
