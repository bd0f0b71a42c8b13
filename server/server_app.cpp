#include "server/server_app.h"

#include <exception>
#include <optional>

#include "server/access_token.h"
#include "server/http_service.h"
#include "server/instance_lock.h"
#include "server/private_files.h"
#include "server/service_options.h"
#include "server/stop_request.h"

namespace zuvsrv {
namespace {

std::string UrlHost(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

void WarnAboutSettings(const ServiceOptions& options, const std::string& token, std::ostream& err) {
  for (const std::string& origin : options.corsOrigins)
    if (origin == "*" || origin == "null")
      err << "zuv-server: warning: cors_origins holds \"" << origin
          << "\"; any page of that kind may call the service from a browser\n";
  for (const std::string& warning : TokenWarnings(options.tokenFile, options.stateDir, token))
    err << "zuv-server: warning: " << warning << "\n";
  if (!IsLoopback(options.listen.host))
    err << "zuv-server: warning: listening on " << options.listen.host
        << ", reachable from other machines; anyone with the token can print\n";
}

// One instance per state directory; the port is bound before the journal
// is opened, so a start that cannot serve recovers nothing.
int Serve(const ServiceOptions& options, std::ostream& out, std::ostream& err,
          const std::function<void()>& serving) {
  MakePrivateDir(options.stateDir);
  std::unique_ptr<InstanceLock> lock;
  try {
    lock = std::make_unique<InstanceLock>(options.stateDir);
  } catch (const InstanceLockBusy& e) {
    err << e.what() << "\n";
    return 1;
  }
  HttpSettings settings;
  settings.token = LoadToken(options.tokenFile, options.stateDir);
  settings.corsOrigins = options.corsOrigins;
  settings.allowedHosts = options.allowedHosts;
  settings.consoleDir = options.consoleDir;
  settings.maxConnections = options.maxConnections;
  settings.maxEventStreams = options.maxEventStreams;
  // Made after the bind, and outliving the routes over it.
  std::optional<JobService> jobs;
  HttpService http(settings);
  const int port = http.Bind(options.listen.host, options.listen.port);
  if (port < 0) {
    err << "zuv-server: cannot listen on " << UrlHost(options.listen.host) << ':'
        << options.listen.port << ": " << http.BindError() << "\n";
    return 1;
  }
  JobServiceOptions jobOptions;
  jobOptions.retentionDays = options.retentionDays;
  jobs.emplace(options.stateDir, options.printers, jobOptions);
  http.Attach(*jobs);
  WarnAboutSettings(options, settings.token, err);
  LogConsoleDir(options.consoleDir, err);
  out << "LISTEN http://" << UrlHost(options.listen.host) << ':' << port << std::endl;
  err << "zuv-server: the access token is in " << TokenSource(options.tokenFile, options.stateDir)
      << "\n";
  if (serving) serving();
  bool served = false;
  {
    StopWatcher watcher([&http] { http.Stop(); });
    served = http.Run();
  }
  // Connections are closed by now: the exchange in progress finishes,
  // queued jobs stay queued for the next start.
  jobs->Stop();
  return served ? 0 : 1;
}

}  // namespace

int RunServer(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
              const std::function<void()>& serving) {
  ServiceOptions options;
  int status = 0;
  if (ParseCommandLine(argc, argv, options, out, err, status) == ParseOutcome::Exit) return status;
  try {
    return Serve(options, out, err, serving);
  } catch (const std::exception& e) {
    err << "zuv-server: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace zuvsrv
