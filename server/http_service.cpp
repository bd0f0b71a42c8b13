#include "server/http_service.h"

#include <algorithm>
#include <optional>
#include <regex>

#include "server/access_token.h"
#include "server/api_routes.h"
#include "server/http_reply.h"
#include "server/http_server.h"
#include "server/static_files.h"

namespace zuvsrv {
namespace {

constexpr const char* kAllowedHeaders = "Authorization, Content-Type, Idempotency-Key";
constexpr const char* kExposedHeaders = "Location, Idempotent-Replayed";
constexpr const char* kPreflightMaxAge = "600";

// Every answer, to keep a browser from guessing types, framing the console
// or leaking where it came from.
const std::pair<const char*, const char*> kBrowserHeaders[] = {
    {"X-Content-Type-Options", "nosniff"},
    {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"},
    {"Referrer-Policy", "no-referrer"},
};

// "/v1/jobs/{id}" -> ^/v1/jobs/([^/]+)$
std::regex PathPattern(const std::string& path) {
  static constexpr std::string_view kSpecial = ".^$|()[]*+?\\";
  std::string pattern = "^";
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '{' && path.find('}', i) != std::string::npos) {
      pattern += "([^/]+)";
      i = path.find('}', i);
      continue;
    }
    if (kSpecial.find(path[i]) != std::string_view::npos) pattern += '\\';
    pattern += path[i];
  }
  return std::regex(pattern + "$");
}

struct CompiledRoute {
  const Api::Route* route;
  std::regex pattern;
};

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

// The Host header's name: without its port, brackets or a trailing dot.
std::string HostName(const std::string& host) {
  std::string name = host;
  if (!name.empty() && name[0] == '[') {
    const size_t close = name.find(']');
    name = close == std::string::npos ? name : name.substr(1, close - 1);
  } else if (const size_t colon = name.find(':'); colon != std::string::npos) {
    name.resize(colon);
  }
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

}  // namespace

std::vector<RouteInfo> Routes() {
  std::vector<RouteInfo> routes;
  for (const Api::Route& route : Api::Table()) routes.push_back(route.info);
  return routes;
}

// What the engine hands each request to.
class ServiceHandler : public HttpHandler {
 public:
  ServiceHandler(JobService& jobs, const HttpSettings& settings, const HttpCounters& counters,
                 std::string listenHost)
      : settings_(settings), api_(jobs, settings, counters), files_(settings.consoleDir),
        listenHost_(std::move(listenHost)) {
    for (const Api::Route& route : Api::Table())
      routes_.push_back({&route, PathPattern(route.info.path)});
  }
  void CloseEventStreams() { api_.CloseEventStreams(); }

  std::optional<HttpResponse> Screen(const HttpRequest& head) override;
  void Handle(HttpRequest& req, HttpResponse& res) override;
  void Finish(const HttpRequest& req, HttpResponse& res) override;

 private:
  // The route for the request's path and method, or nothing with `allow`
  // naming the methods the path has.
  const CompiledRoute* Match(const HttpRequest& req, std::smatch& match, std::string& allow) const;
  void Dispatch(HttpRequest& req, HttpResponse& res);
  void Preflight(const HttpRequest& req, HttpResponse& res, const std::string& allow) const;
  bool AllowedOrigin(const HttpRequest& req) const;
  bool AllowedHost(const HttpRequest& req) const;
  bool Authorized(const HttpRequest& req) const;

  const HttpSettings& settings_;
  Api api_;
  StaticFiles files_;
  std::string listenHost_;
  std::vector<CompiledRoute> routes_;
};

const CompiledRoute* ServiceHandler::Match(const HttpRequest& req, std::smatch& match,
                                           std::string& allow) const {
  const std::string method = req.method == "HEAD" ? "GET" : req.method;
  for (const CompiledRoute& compiled : routes_) {
    if (!std::regex_match(req.path, match, compiled.pattern)) continue;
    const RouteInfo& info = compiled.route->info;
    if (info.method == method) return &compiled;
    // Two routes may match one path ("detect" is also a command name).
    if (!HasMethod(allow, info.method)) allow += (allow.empty() ? "" : ", ") + info.method;
  }
  return nullptr;
}

// Refused on the header alone: a foreign Host, a missing token.
std::optional<HttpResponse> ServiceHandler::Screen(const HttpRequest& head) {
  HttpResponse res;
  if (!AllowedHost(head)) {
    SendError(res, status::kMisdirected, kind::kHost, "this service does not answer for that Host");
    return res;
  }
  std::smatch match;
  std::string allow;
  const CompiledRoute* route = Match(head, match, allow);
  if (!route || !route->route->info.needsToken || Authorized(head)) return std::nullopt;
  res.SetHeader("WWW-Authenticate", "Bearer");
  SendError(res, status::kUnauthorized, kind::kAuth, "a valid bearer token is needed");
  return res;
}

void ServiceHandler::Handle(HttpRequest& req, HttpResponse& res) {
  try {
    if ((req.method == "GET" || req.method == "HEAD") && files_.Serve(req.path, res)) return;
    Dispatch(req, res);
  } catch (const std::exception& e) {
    res = HttpResponse();
    SendError(res, status::kInternalError, kind::kInternal, std::string("internal error: ") + e.what());
  }
}

void ServiceHandler::Dispatch(HttpRequest& req, HttpResponse& res) {
  std::smatch match;
  std::string allow;
  if (const CompiledRoute* compiled = Match(req, match, allow)) {
    if (compiled->route->info.needsToken && !Authorized(req)) {
      res.SetHeader("WWW-Authenticate", "Bearer");
      return SendError(res, status::kUnauthorized, kind::kAuth, "a valid bearer token is needed");
    }
    PathParams params(match.begin() + 1, match.end());
    return (api_.*(compiled->route->handler))(req, res, params);
  }
  if (allow.empty()) return SendError(res, status::kNotFound, kind::kNotFound, "no such route");
  if (req.method == "OPTIONS") return Preflight(req, res, allow);
  res.SetHeader("Allow", allow);
  SendError(res, status::kMethodNotAllowed, kind::kMethod,
            req.method + " is not allowed here; allowed: " + allow);
}

// Only configured origins get through; a preflight carries no token.
void ServiceHandler::Preflight(const HttpRequest& req, HttpResponse& res,
                               const std::string& allow) const {
  res.SetHeader("Allow", allow + ", OPTIONS");
  res.status = status::kNoContent;
  if (!req.HasHeader("Origin")) return;
  if (!AllowedOrigin(req))
    return SendError(res, status::kForbidden, kind::kOrigin, "this origin is not allowed");
  res.SetHeader("Access-Control-Allow-Methods", allow + ", OPTIONS");
  res.SetHeader("Access-Control-Allow-Headers", kAllowedHeaders);
  res.SetHeader("Access-Control-Allow-Private-Network", "true");
  res.SetHeader("Access-Control-Max-Age", kPreflightMaxAge);
}

void ServiceHandler::Finish(const HttpRequest& req, HttpResponse& res) {
  for (const auto& [name, value] : kBrowserHeaders) res.SetHeader(name, value);
  if (!res.HasHeader("Cache-Control")) res.SetHeader("Cache-Control", "no-store");
  if (!AllowedOrigin(req) || res.HasHeader("Access-Control-Allow-Origin")) return;
  res.SetHeader("Access-Control-Allow-Origin", req.Header("Origin"));
  res.SetHeader("Access-Control-Expose-Headers", kExposedHeaders);
  res.SetHeader("Vary", "Origin");
}

bool ServiceHandler::AllowedOrigin(const HttpRequest& req) const {
  const std::string origin = req.Header("Origin");
  return !origin.empty() && std::find(settings_.corsOrigins.begin(), settings_.corsOrigins.end(),
                                      origin) != settings_.corsOrigins.end();
}

// A page from elsewhere that rebinds its own name to this address sends
// its own name as the Host: such requests are misdirected.
bool ServiceHandler::AllowedHost(const HttpRequest& req) const {
  const std::string name = HostName(req.Header("Host"));
  if (name.empty()) return false;
  if (EqualCaseless(name, "localhost") || EqualCaseless(name, listenHost_)) return true;
  return std::any_of(settings_.allowedHosts.begin(), settings_.allowedHosts.end(),
                     [&](const std::string& host) { return EqualCaseless(name, host); });
}

bool ServiceHandler::Authorized(const HttpRequest& req) const {
  const std::string header = req.Header("Authorization");
  const size_t space = header.find(' ');
  if (space == std::string::npos || !EqualCaseless(std::string_view(header).substr(0, space), "Bearer"))
    return false;
  const size_t start = header.find_first_not_of(' ', space);
  if (start == std::string::npos) return false;
  return ConstantTimeEqual(std::string_view(header).substr(start), settings_.token);
}

struct HttpService::Impl {
  explicit Impl(HttpSettings s)
      : settings(std::move(s)),
        server(EngineSettings{settings.threads, settings.maxConnections, settings.eventHeartbeat,
                              settings.deadlines}) {}

  HttpSettings settings;
  HttpServer server;
  std::string listenHost = "127.0.0.1";
  std::string bindError;
  std::unique_ptr<ServiceHandler> handler;  // after the server: closed first
};

HttpService::HttpService(HttpSettings settings) : impl_(std::make_unique<Impl>(std::move(settings))) {}

HttpService::HttpService(JobService& jobs, HttpSettings settings)
    : HttpService(std::move(settings)) {
  Attach(jobs);
}

HttpService::~HttpService() {
  Stop();
  Detach();
}

int HttpService::Bind(const std::string& host, int port) {
  impl_->listenHost = host;
  return impl_->server.Bind(host, port, impl_->bindError);
}

const std::string& HttpService::BindError() const { return impl_->bindError; }

void HttpService::Attach(JobService& jobs) {
  impl_->handler = std::make_unique<ServiceHandler>(jobs, impl_->settings, impl_->server.Counters(),
                                                    impl_->listenHost);
}

void HttpService::Detach() { impl_->handler.reset(); }

bool HttpService::Run() {
  if (!impl_->handler) return false;
  impl_->server.Run(*impl_->handler);
  return true;
}

void HttpService::Stop() {
  if (impl_->handler) impl_->handler->CloseEventStreams();
  impl_->server.Stop();
}

}  // namespace zuvsrv
