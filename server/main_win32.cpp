#include <windows.h>

#include <shellapi.h>

#include <iostream>
#include <string>
#include <vector>

#include "serial/win32_text.h"
#include "server/server_app.h"
#include "server/stop_request.h"
#include "server/windows_service.h"

namespace {

// The command line in UTF-8, whatever the ANSI code page.
std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 0; wide && i < count; ++i) args.push_back(serial::Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return args;
}

int Run(std::vector<std::string> args) {
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  zuvsrv::PrepareStopRequests();
  return zuvsrv::RunServer(int(argv.size()), argv.data(), std::cout, std::cerr);
}

}  // namespace

int main() {
  std::vector<std::string> args = Arguments();
  if (args.empty()) args.push_back("zuv-server");
  // The service manager's options come first, alone: the rest is the
  // service's own command line.
  const std::string mode = args.size() > 1 ? args[1] : "";
  std::vector<std::string> rest(args.begin() + (args.size() > 1 ? 2 : 1), args.end());
  rest.insert(rest.begin(), args[0]);
  try {
    if (mode == "--install-service") return zuvsrv::InstallService(rest, std::cout, std::cerr);
    if (mode == "--uninstall-service") return zuvsrv::UninstallService(std::cout, std::cerr);
    if (mode == "--service") return zuvsrv::RunAsService(rest);
    return Run(args);
  } catch (const std::exception& e) {
    std::cerr << "zuv-server: " << e.what() << "\n";
    return 1;
  }
}
