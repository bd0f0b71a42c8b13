// The print service's HTTP side: routes, the access token, the Host check,
// CORS, the console's files and the event streams, over a JobService, on
// the asynchronous engine of http_server.h.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "server/core/job_service.h"
#include "server/http_server.h"

namespace zuvsrv {

struct HttpSettings {
  std::string token;                       // Bearer token every /v1 route but the document needs
  std::vector<std::string> corsOrigins;    // exact origins; no wildcard
  std::vector<std::string> allowedHosts;   // Host names besides the listen address and localhost
  std::string consoleDir;                  // served at / when it exists
  std::chrono::milliseconds eventHeartbeat{15000};
  size_t threads = 4;                      // the network's; no connection holds one while it waits
  size_t maxConnections = kDefaultMaxConnections;
  size_t maxEventStreams = kDefaultMaxEventStreams;
  Deadlines deadlines;  // shorter only in tests
};

// One route: its method and its path template ("/v1/jobs/{id}").
struct RouteInfo {
  std::string method;
  std::string path;
  bool needsToken;
};
// Every route the service answers, in the order the document lists them.
std::vector<RouteInfo> Routes();

class HttpService {
 public:
  // The engine alone: Bind() may come before the jobs exist.
  explicit HttpService(HttpSettings settings);
  // The engine and the routes over `jobs`.
  HttpService(JobService& jobs, HttpSettings settings);
  ~HttpService();
  HttpService(const HttpService&) = delete;
  HttpService& operator=(const HttpService&) = delete;

  // Binds HOST:PORT (0: any free port); the port bound, or -1 with the
  // reason in BindError().
  int Bind(const std::string& host, int port);
  const std::string& BindError() const;
  // The routes over `jobs`, once; before Run().
  void Attach(JobService& jobs);
  // Drops the routes, so that the jobs they run over may go; after Run().
  void Detach();
  // Serves until Stop(); false when it could not.
  bool Run();
  // Stops taking connections, closes the open ones and ends the event
  // streams; safe from any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zuvsrv
