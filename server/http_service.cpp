#include "server/http_service.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <regex>

#include <httplib.h>

#include "server/access_token.h"
#include "server/api_routes.h"
#include "server/http_reply.h"

namespace zuvsrv {
namespace {

constexpr const char* kAllowedHeaders = "Authorization, Content-Type, Idempotency-Key";
constexpr const char* kPreflightMaxAge = "600";
constexpr time_t kKeepAliveSeconds = 5;

// "/v1/jobs/{id}" -> ^/v1/jobs/([^/]+)$
std::regex PathPattern(const std::string& path) {
  static const std::regex placeholder(R"(\{[^}]+\})");
  static const std::regex special(R"([.^$|()\[\]*+?\\])");
  const std::string escaped = std::regex_replace(path, special, R"(\$&)");
  return std::regex("^" + std::regex_replace(escaped, placeholder, "([^/]+)") + "$");
}

struct CompiledRoute {
  const Api::Route* route;
  std::regex pattern;
};

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The body of an error that httplib answered itself (a body too large, a
// request it could not read).
void FillEmptyError(httplib::Response& res) {
  if (!res.body.empty()) return;
  if (res.status == status::kPayloadTooLarge)
    return SendError(res, res.status, kind::kTooLarge, "the body is over 1 MiB", "body");
  if (res.status == status::kNotFound)
    return SendError(res, res.status, kind::kNotFound, "no such route");
  SendError(res, res.status, kind::kInput, "the request could not be read");
}

// Whether the Allow list "GET, POST" names `method`.
bool HasMethod(const std::string& allow, const std::string& method) {
  size_t start = 0;
  while (start <= allow.size()) {
    const size_t end = std::min(allow.find(", ", start), allow.size());
    if (allow.compare(start, end - start, method) == 0) return true;
    start = end + 2;
  }
  return false;
}

}  // namespace

std::vector<RouteInfo> Routes() {
  std::vector<RouteInfo> routes;
  for (const Api::Route& route : Api::Table()) routes.push_back(route.info);
  return routes;
}

struct HttpService::Impl {
  Impl(JobService& jobs, HttpSettings s) : settings(std::move(s)), api(jobs, settings.eventHeartbeat) {
    for (const Api::Route& route : Api::Table()) routes.push_back({&route, PathPattern(route.info.path)});
  }

  void Configure();
  void Dispatch(const httplib::Request& req, httplib::Response& res);
  void Preflight(const httplib::Request& req, httplib::Response& res, const std::string& allow);
  bool AllowedOrigin(const httplib::Request& req) const;
  void AddCorsHeaders(const httplib::Request& req, httplib::Response& res) const;
  bool Authorized(const httplib::Request& req) const;

  HttpSettings settings;
  Api api;  // outlives the server: open streams call back into it
  std::vector<CompiledRoute> routes;
  httplib::Server server;
  std::atomic<bool> stopping{false};
};

void HttpService::Impl::Configure() {
  const size_t threads = settings.threads;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  server.set_read_timeout(settings.readTimeout);
  server.set_write_timeout(settings.readTimeout);
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  server.set_payload_max_length(kMaxBodyBytes);
  // Answers are small: waiting to fill a segment only adds latency.
  server.set_tcp_nodelay(true);
  if (IsDirectory(settings.consoleDir)) server.set_mount_point("/", settings.consoleDir);
  const auto dispatch = [this](const httplib::Request& req, httplib::Response& res) {
    Dispatch(req, res);
  };
  server.Get(".*", dispatch);
  server.Post(".*", dispatch);
  server.Put(".*", dispatch);
  server.Patch(".*", dispatch);
  server.Delete(".*", dispatch);
  server.Options(".*", dispatch);
  // A POST with no body at all (no length, not chunked) is a command
  // without arguments; httplib would refuse it as unreadable.
  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (req.method != "POST" || req.has_header("Content-Length") ||
        req.has_header("Transfer-Encoding"))
      return httplib::Server::HandlerResponse::Unhandled;
    Dispatch(req, res);
    return httplib::Server::HandlerResponse::Handled;
  });
  server.set_error_handler([this](const httplib::Request& req, httplib::Response& res) {
    FillEmptyError(res);
    AddCorsHeaders(req, res);
  });
  server.set_exception_handler(
      [this](const httplib::Request& req, httplib::Response& res, std::exception_ptr error) {
        std::string message = "internal error";
        try {
          if (error) std::rethrow_exception(error);
        } catch (const std::exception& e) {
          message += std::string(": ") + e.what();
        } catch (...) {
        }
        SendError(res, status::kInternalError, kind::kInternal, message);
        AddCorsHeaders(req, res);
      });
}

void HttpService::Impl::Dispatch(const httplib::Request& req, httplib::Response& res) {
  AddCorsHeaders(req, res);
  const std::string method = req.method == "HEAD" ? "GET" : req.method;
  std::string allow;
  for (const CompiledRoute& compiled : routes) {
    std::smatch match;
    if (!std::regex_match(req.path, match, compiled.pattern)) continue;
    const RouteInfo& info = compiled.route->info;
    if (info.method != method) {
      // Two routes may match one path ("detect" is also a command name).
      if (!HasMethod(allow, info.method)) allow += (allow.empty() ? "" : ", ") + info.method;
      continue;
    }
    if (info.needsToken && !Authorized(req)) {
      res.set_header("WWW-Authenticate", "Bearer");
      return SendError(res, status::kUnauthorized, kind::kAuth, "a valid bearer token is needed");
    }
    PathParams params(match.begin() + 1, match.end());
    return (api.*(compiled.route->handler))(req, res, params);
  }
  if (allow.empty()) return SendError(res, status::kNotFound, kind::kNotFound, "no such route");
  if (method == "OPTIONS") return Preflight(req, res, allow);
  res.set_header("Allow", allow);
  SendError(res, status::kMethodNotAllowed, kind::kMethod,
            req.method + " is not allowed here; allowed: " + allow);
}

// Only configured origins get through; a preflight carries no token.
void HttpService::Impl::Preflight(const httplib::Request& req, httplib::Response& res,
                                  const std::string& allow) {
  res.set_header("Allow", allow + ", OPTIONS");
  if (!req.has_header("Origin")) {
    res.status = status::kNoContent;
    return;
  }
  if (!AllowedOrigin(req))
    return SendError(res, status::kForbidden, kind::kOrigin, "this origin is not allowed");
  res.set_header("Access-Control-Allow-Methods", allow + ", OPTIONS");
  res.set_header("Access-Control-Allow-Headers", kAllowedHeaders);
  res.set_header("Access-Control-Allow-Private-Network", "true");
  res.set_header("Access-Control-Max-Age", kPreflightMaxAge);
  res.status = status::kNoContent;
}

bool HttpService::Impl::AllowedOrigin(const httplib::Request& req) const {
  const std::string origin = req.get_header_value("Origin");
  return !origin.empty() && std::find(settings.corsOrigins.begin(), settings.corsOrigins.end(),
                                      origin) != settings.corsOrigins.end();
}

void HttpService::Impl::AddCorsHeaders(const httplib::Request& req, httplib::Response& res) const {
  if (!AllowedOrigin(req) || res.has_header("Access-Control-Allow-Origin")) return;
  res.set_header("Access-Control-Allow-Origin", req.get_header_value("Origin"));
  res.set_header("Vary", "Origin");
}

bool HttpService::Impl::Authorized(const httplib::Request& req) const {
  static constexpr std::string_view kScheme = "Bearer ";
  const std::string header = req.get_header_value("Authorization");
  if (header.size() <= kScheme.size() || header.compare(0, kScheme.size(), kScheme) != 0)
    return false;
  return ConstantTimeEqual(std::string_view(header).substr(kScheme.size()), settings.token);
}

HttpService::HttpService(JobService& jobs, HttpSettings settings)
    : impl_(std::make_unique<Impl>(jobs, std::move(settings))) {
  impl_->Configure();
}

HttpService::~HttpService() { Stop(); }

int HttpService::Bind(const std::string& host, int port) {
  if (port == 0) return impl_->server.bind_to_any_port(host);
  return impl_->server.bind_to_port(host, port) ? port : -1;
}

bool HttpService::Run() {
  // A stop that came before the server ran ends it at once.
  return impl_->stopping || impl_->server.listen_after_bind();
}

void HttpService::Stop() {
  impl_->stopping = true;
  impl_->api.CloseEventStreams();
  impl_->server.stop();
}

}  // namespace zuvsrv
