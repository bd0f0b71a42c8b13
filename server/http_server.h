// The HTTP engine: connections read and written asynchronously on a few
// threads, so a slow or idle client never holds one. It enforces the
// limits and deadlines of http_limits.h and leaves what a request means to
// an HttpHandler.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "server/http_limits.h"
#include "server/http_message.h"

namespace zuvsrv {

class HttpHandler {
 public:
  virtual ~HttpHandler() = default;
  // With the header in and before the body is read: a refusal, or nothing
  // to go on.
  virtual std::optional<HttpResponse> Screen(const HttpRequest& head) = 0;
  // The answer to a whole request.
  virtual void Handle(HttpRequest& request, HttpResponse& response) = 0;
  // Last touches on every answer, the engine's own refusals included.
  virtual void Finish(const HttpRequest& request, HttpResponse& response) = 0;
};

struct HttpCounters {
  std::atomic<size_t> connections{0};         // open now
  std::atomic<uint64_t> refusedConnections{0};  // closed at once: too many open
};

struct Deadlines {
  std::chrono::milliseconds header = kHeaderDeadline;
  std::chrono::milliseconds body = kBodyDeadline;
  std::chrono::milliseconds idle = kIdleDeadline;
  std::chrono::milliseconds write = kWriteDeadline;
};

struct EngineSettings {
  size_t threads = 4;
  size_t maxConnections = kDefaultMaxConnections;
  std::chrono::milliseconds eventHeartbeat{15000};
  Deadlines deadlines;
};

class HttpServer {
 public:
  explicit HttpServer(EngineSettings settings);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds HOST:PORT (0: any free port) and listens; the port, or -1 with
  // `error` set.
  int Bind(const std::string& host, int port, std::string& error);
  // Serves until Stop(); the caller's thread is one of the engine's.
  void Run(HttpHandler& handler);
  // Stops taking connections and closes the open ones; safe from any
  // thread, also before Run().
  void Stop();
  const HttpCounters& Counters() const;

 private:
  struct Impl;
  friend class Session;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zuvsrv
