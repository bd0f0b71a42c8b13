// The print service's HTTP side: routes, the access token, CORS and the
// event stream, over a JobService. HTTP threads are separate from the
// printer workers, and reading a request has time limits, so a slow client
// never holds a printer.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "server/core/job_service.h"

namespace zuvsrv {

struct HttpSettings {
  std::string token;                     // Bearer token every /v1 route but the document needs
  std::vector<std::string> corsOrigins;  // exact origins; no wildcard
  std::string consoleDir;                // served at / when it exists
  std::chrono::milliseconds readTimeout{10000};
  std::chrono::milliseconds eventHeartbeat{15000};
  size_t threads = 24;                   // HTTP threads; an event stream holds one
};

// One route: its method and its path template ("/v1/jobs/{id}").
struct RouteInfo {
  std::string method;
  std::string path;
  bool needsToken;
};
// Every route the service answers, in the order the document lists them.
std::vector<RouteInfo> Routes();

constexpr size_t kMaxBodyBytes = 1 << 20;

class HttpService {
 public:
  HttpService(JobService& jobs, HttpSettings settings);
  ~HttpService();
  HttpService(const HttpService&) = delete;
  HttpService& operator=(const HttpService&) = delete;

  // Binds HOST:PORT (0: any free port); the port bound, or -1.
  int Bind(const std::string& host, int port);
  // Serves until Stop(); false when it could not.
  bool Run();
  // Stops accepting and ends the event streams; safe from any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zuvsrv
