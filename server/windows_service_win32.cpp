#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "serial/win32_text.h"
#include "server/private_files.h"
#include "server/program_paths.h"
#include "server/server_app.h"
#include "server/service_options.h"
#include "server/stop_request.h"
#include "server/windows_service.h"

namespace zuvsrv {
namespace {

constexpr const wchar_t* kServiceName = L"zuv-server";
constexpr const wchar_t* kDisplayName = L"zuv-server print service";
constexpr const char* kLogName = "zuv-server.log";
// How long the manager should give a start or an orderly stop (a printer
// finishes its exchange in progress) before it thinks the service hangs.
constexpr DWORD kStartHintMs = 30000;
constexpr DWORD kStopHintMs = 60000;

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { ::CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

std::string LastError(const std::string& what) {
  return what + ": " + serial::SystemErrorText(::GetLastError());
}

ServiceHandle OpenManager(DWORD access, std::ostream& err) {
  ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, access));
  if (!manager) err << "zuv-server: " << LastError("cannot open the service manager") << "\n";
  return manager;
}

// One argument as CommandLineToArgvW reads it back.
std::string Quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') { ++backslashes; quoted += c; continue; }
    if (c == '"') quoted.append(backslashes + 1, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes, '\\');
  return quoted + "\"";
}

// The service's state as the manager sees it; the control handler and the
// service's thread both report through it.
struct ServiceRun {
  SERVICE_STATUS_HANDLE handle = nullptr;
  std::vector<std::string> args;
  int status = 0;

  void Report(DWORD state, DWORD waitHint = 0) {
    SERVICE_STATUS report{};
    report.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    report.dwCurrentState = state;
    report.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    report.dwWin32ExitCode = status == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    report.dwServiceSpecificExitCode = DWORD(status);
    report.dwWaitHint = waitHint;
    ::SetServiceStatus(handle, &report);
  }
};
ServiceRun* g_run = nullptr;

// Stop and shut-down take the path SIGTERM takes on Linux.
DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      g_run->Report(SERVICE_STOP_PENDING, kStopHintMs);
      RequestStop();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// The log goes to the state directory the command line names (or the
// default one when it cannot be read; the log then says why).
std::string LogPath(const std::vector<const char*>& argv) {
  ServiceOptions options;
  std::ostringstream ignored;
  int status = 0;
  const bool parsed = ParseCommandLine(int(argv.size()), argv.data(), options, ignored, ignored,
                                       status) == ParseOutcome::Run;
  const std::string dir = parsed ? options.stateDir : DefaultStateDir();
  MakePrivateDir(dir);
  return dir + "\\" + kLogName;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_run->handle = ::RegisterServiceCtrlHandlerExW(kServiceName, OnControl, nullptr);
  if (!g_run->handle) return;
  g_run->Report(SERVICE_START_PENDING, kStartHintMs);
  std::vector<const char*> argv;
  for (const std::string& arg : g_run->args) argv.push_back(arg.c_str());
  std::ofstream log;
  try {
    const std::string path = LogPath(argv);
    log.open(path, std::ios::app);
    log << std::unitbuf;
    // What the printers' threads print on standard error goes there too.
    if (::_wfreopen(serial::WideFromUtf8(path).c_str(), L"a", stderr))
      std::setvbuf(stderr, nullptr, _IONBF, 0);
    g_run->status = RunServer(int(argv.size()), argv.data(), log, log,
                              [] { g_run->Report(SERVICE_RUNNING); });
  } catch (const std::exception&) {
    g_run->status = 1;  // no state directory for the log: the exit code tells
  }
  g_run->Report(SERVICE_STOPPED);
  log << "zuv-server: service stopped (exit status " << g_run->status << ")\n";
}

// Waits for the service to reach "stopped", on the manager's notification.
bool WaitStopped(SC_HANDLE service, std::ostream& err) {
  SERVICE_NOTIFYW notify{};
  notify.dwVersion = SERVICE_NOTIFY_STATUS_CHANGE;
  notify.pfnNotifyCallback = [](void*) {};
  const DWORD result = ::NotifyServiceStatusChangeW(service, SERVICE_NOTIFY_STOPPED, &notify);
  if (result != ERROR_SUCCESS) {
    err << "zuv-server: cannot wait for the service to stop: " << serial::SystemErrorText(result)
        << "\n";
    return false;
  }
  // The callback comes as an APC: the wait ends on it or at the budget.
  if (::SleepEx(kStopHintMs, TRUE) != WAIT_IO_COMPLETION) {
    err << "zuv-server: the service did not stop within " << kStopHintMs / 1000 << " s\n";
    return false;
  }
  return true;
}

}  // namespace

int InstallService(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // The service's command line is checked now, not at its first start.
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  ServiceOptions options;
  int status = 0;
  if (ParseCommandLine(int(argv.size()), argv.data(), options, out, err, status) ==
      ParseOutcome::Exit)
    return status == 0 ? 2 : status;
  std::string command = Quoted(ProgramPath()) + " --service";
  for (size_t i = 1; i < args.size(); ++i) command += " " + Quoted(args[i]);
  const ServiceHandle manager = OpenManager(SC_MANAGER_CREATE_SERVICE, err);
  if (!manager) return 1;
  const ServiceHandle service(::CreateServiceW(
      manager.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, serial::WideFromUtf8(command).c_str(), nullptr,
      nullptr, nullptr, nullptr, nullptr));
  if (!service) {
    err << "zuv-server: " << LastError("cannot install the service") << "\n";
    return 1;
  }
  out << "zuv-server: service zuv-server installed: " << command << "\n";
  return 0;
}

int UninstallService(std::ostream& out, std::ostream& err) {
  const ServiceHandle manager = OpenManager(SC_MANAGER_CONNECT, err);
  if (!manager) return 1;
  const ServiceHandle service(
      ::OpenServiceW(manager.get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    err << "zuv-server: " << LastError("cannot open the service zuv-server") << "\n";
    return 1;
  }
  SERVICE_STATUS status{};
  if (::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    out << "zuv-server: stopping the service\n";
    if (!WaitStopped(service.get(), err)) return 1;
  } else if (::GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
    err << "zuv-server: " << LastError("cannot stop the service") << "\n";
    return 1;
  }
  if (!::DeleteService(service.get())) {
    err << "zuv-server: " << LastError("cannot remove the service") << "\n";
    return 1;
  }
  out << "zuv-server: service zuv-server removed\n";
  return 0;
}

int RunAsService(const std::vector<std::string>& args) {
  ServiceRun run;
  run.args = args;
  g_run = &run;
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceName), ServiceMain},
                                  {nullptr, nullptr}};
  if (!::StartServiceCtrlDispatcherW(table)) {
    std::cerr << "zuv-server: " << LastError("--service is for the service manager") << "\n";
    return 1;
  }
  return run.status;
}

}  // namespace zuvsrv
