#include "server/server_app.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <thread>

#include "server/access_token.h"
#include "server/http_service.h"
#include "server/service_options.h"

namespace zuvsrv {
namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

// Waits for SIGTERM or SIGINT and stops the HTTP side; the caller wakes it
// with SIGTERM when the service ended some other way.
class StopSignalWatcher {
 public:
  explicit StopSignalWatcher(HttpService& http)
      : thread_([&http] {
          const sigset_t set = StopSignals();
          int signal = 0;
          while (sigwait(&set, &signal) != 0) {
          }
          http.Stop();
        }) {}
  ~StopSignalWatcher() {
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
  }

 private:
  std::thread thread_;
};

void MakeStateDir(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::runtime_error("cannot create " + dir + ": " + std::strerror(errno));
}

std::string UrlHost(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

int Serve(const ServiceOptions& options, std::ostream& out, std::ostream& err) {
  MakeStateDir(options.stateDir);
  HttpSettings settings;
  settings.token = LoadToken(options.tokenFile, options.stateDir);
  settings.corsOrigins = options.corsOrigins;
  settings.consoleDir = options.consoleDir;
  JobServiceOptions jobOptions;
  jobOptions.retentionDays = options.retentionDays;
  JobService jobs(options.stateDir, options.printers, jobOptions);
  HttpService http(jobs, settings);
  const int port = http.Bind(options.listen.host, options.listen.port);
  if (port < 0) {
    err << "zuv-server: cannot listen on " << UrlHost(options.listen.host) << ':'
        << options.listen.port << "\n";
    return 1;
  }
  if (!IsLoopback(options.listen.host))
    err << "zuv-server: warning: listening on " << options.listen.host
        << ", reachable from other machines; anyone with the token can print\n";
  out << "LISTEN http://" << UrlHost(options.listen.host) << ':' << port << std::endl;
  err << "zuv-server: the access token is in " << TokenSource(options.tokenFile, options.stateDir)
      << "\n";
  bool served = false;
  {
    StopSignalWatcher watcher(http);
    served = http.Run();
  }
  jobs.Stop();
  return served ? 0 : 1;
}

}  // namespace

void BlockStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

int RunServer(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  ServiceOptions options;
  int status = 0;
  if (ParseCommandLine(argc, argv, options, out, err, status) == ParseOutcome::Exit) return status;
  try {
    return Serve(options, out, err);
  } catch (const std::exception& e) {
    err << "zuv-server: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace zuvsrv
