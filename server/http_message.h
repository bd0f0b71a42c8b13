// A request and its answer as the routes see them, apart from the HTTP
// library that carries them.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zuvsrv {

// Header names compare without regard to case.
struct Caseless {
  bool operator()(const std::string& a, const std::string& b) const;
};
using HeaderMap = std::multimap<std::string, std::string, Caseless>;

bool EqualCaseless(std::string_view a, std::string_view b);

struct HttpRequest {
  std::string method;
  std::string target;                         // as sent: path and query
  std::string path;                           // percent-decoded
  std::map<std::string, std::string> params;  // the query, decoded; the first of a name
  HeaderMap headers;
  std::string body;
  // Whether the client has gone away; checked just before a job is queued.
  std::function<bool()> clientGone = [] { return false; };

  bool HasHeader(const std::string& name) const { return headers.count(name) != 0; }
  std::string Header(const std::string& name) const;
  std::optional<std::string> Param(const std::string& name) const;
};

// Where an event stream's frames go; written by the connection that holds it.
class EventSink {
 public:
  virtual ~EventSink() = default;
  // Never blocks; a reader that falls too far behind is cut off.
  virtual void Send(std::string frame) = 0;
  // Ends the stream once what is queued has gone out.
  virtual void Close() = 0;
};

struct HttpResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string contentType;
  // An answer that comes later: the connection calls it once with
  // `resume`, which the handler calls (from any thread) once the answer
  // is filled in.
  std::function<void(std::function<void()> resume)> deferred;
  // An event stream: called with the connection's sink once the header went.
  std::function<void(const std::shared_ptr<EventSink>&)> stream;

  void SetHeader(const std::string& name, const std::string& value);
  bool HasHeader(const std::string& name) const;
  std::string Header(const std::string& name) const;
  void SetContent(std::string content, std::string type) {
    body = std::move(content);
    contentType = std::move(type);
  }
};

// "%41" -> "A"; '+' stays itself unless `plusIsSpace`. Bad escapes stay as sent.
std::string PercentDecode(std::string_view text, bool plusIsSpace);
// Splits "/path?a=1&b=2" into the decoded path and query.
void SplitTarget(const std::string& target, std::string& path,
                 std::map<std::string, std::string>& params);

}  // namespace zuvsrv
