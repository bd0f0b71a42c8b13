// A small blocking HTTP/1.1 client on Boost.Beast for the service's tests:
// one kept-alive connection, and a streaming GET for the event stream.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "server/http_message.h"

namespace srvtest {

using Headers = zuvsrv::HeaderMap;

struct Reply {
  int status = 0;
  std::string body;
  Headers headers;
  bool has_header(const std::string& name) const { return headers.count(name) != 0; }
  std::string get_header_value(const std::string& name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};
// Empty when the exchange failed (no connection, closed without an answer).
using Result = std::optional<Reply>;

class HttpClient {
 public:
  HttpClient(std::string host, int port) : host_(std::move(host)), port_(port) {}

  Result Get(const std::string& path, const Headers& headers = {}) {
    return Send("GET", path, headers, "", "");
  }
  Result Post(const std::string& path, const Headers& headers, const std::string& body,
              const std::string& type) {
    return Send("POST", path, headers, body, type);
  }
  Result Put(const std::string& path, const Headers& headers, const std::string& body,
             const std::string& type) {
    return Send("PUT", path, headers, body, type);
  }
  Result Delete(const std::string& path, const Headers& headers = {}) {
    return Send("DELETE", path, headers, "", "");
  }
  Result Options(const std::string& path, const Headers& headers = {}) {
    return Send("OPTIONS", path, headers, "", "");
  }

  // A GET whose body goes to `receive` as it arrives, until the end, an
  // error, Stop(), or `receive` returning false. The status, or 0.
  int Stream(const std::string& path, const Headers& headers,
             const std::function<bool(const char*, size_t)>& receive) {
    namespace http = boost::beast::http;
    boost::beast::error_code ec;
    if (!Connect()) return 0;
    http::write(*stream_, Request("GET", path, headers, "", ""), ec);
    http::response_parser<http::buffer_body> parser;
    parser.body_limit(boost::none);
    boost::beast::flat_buffer buffer;
    if (!ec) http::read_header(*stream_, buffer, parser, ec);
    if (ec) return Drop(), 0;
    const int status = int(parser.get().result_int());
    char data[4096];
    while (!parser.is_done() && !stopped_) {
      parser.get().body().data = data;
      parser.get().body().size = sizeof data;
      http::read_some(*stream_, buffer, parser, ec);
      if (ec == http::error::need_buffer) ec = {};
      const size_t n = sizeof data - parser.get().body().size;
      if (n > 0 && !receive(data, n)) break;
      if (ec) break;
    }
    Drop();
    return status;
  }
  // Ends a Stream() running on another thread.
  void Stop() {
    stopped_ = true;
    if (const int fd = fd_.load(); fd >= 0) ::shutdown(fd, SHUT_RDWR);
  }

 private:
  using Message = boost::beast::http::request<boost::beast::http::string_body>;

  Message Request(const std::string& method, const std::string& path, const Headers& headers,
                  const std::string& body, const std::string& type) {
    Message req(boost::beast::http::string_to_verb(method), path, 11);
    req.method_string(method);
    if (!headers.count("Host")) req.set("Host", host_ + ":" + std::to_string(port_));
    for (const auto& [name, value] : headers) req.insert(name, value);
    if (!type.empty()) req.set("Content-Type", type);
    req.body() = body;
    if (!body.empty() || method == "POST" || method == "PUT") req.prepare_payload();
    return req;
  }

  Result Send(const std::string& method, const std::string& path, const Headers& headers,
              const std::string& body, const std::string& type) {
    // A kept connection the service closed meanwhile is opened again once.
    for (int attempt = 0; attempt < 2; ++attempt) {
      const bool reused = stream_ != nullptr;
      if (Result reply = Exchange(Request(method, path, headers, body, type))) return reply;
      if (!reused) break;
    }
    return std::nullopt;
  }

  Result Exchange(const Message& req) {
    namespace http = boost::beast::http;
    if (!Connect()) return std::nullopt;
    boost::beast::error_code ec;
    http::write(*stream_, req, ec);
    http::response_parser<http::string_body> parser;
    parser.body_limit(boost::none);
    if (req.method() == http::verb::head) parser.skip(true);
    if (!ec) http::read(*stream_, buffer_, parser, ec);
    if (ec) return Drop(), std::nullopt;
    Reply reply;
    reply.status = int(parser.get().result_int());
    reply.body = parser.get().body();
    for (const auto& field : parser.get())
      reply.headers.emplace(std::string(field.name_string()), std::string(field.value()));
    if (!parser.keep_alive()) Drop();
    return reply;
  }

  bool Connect() {
    if (stream_) return true;
    stream_ = std::make_unique<boost::beast::tcp_stream>(io_);
    boost::beast::error_code ec;
    stream_->socket().connect(
        {boost::asio::ip::make_address(host_), static_cast<unsigned short>(port_)}, ec);
    if (ec) return Drop(), false;
    stream_->socket().set_option(boost::asio::ip::tcp::no_delay(true), ec);
    fd_ = stream_->socket().native_handle();
    if (stopped_) ::shutdown(fd_, SHUT_RDWR);
    return true;
  }
  void Drop() {
    fd_ = -1;
    stream_.reset();
    buffer_.clear();
  }

  std::string host_;
  int port_;
  boost::asio::io_context io_;
  std::unique_ptr<boost::beast::tcp_stream> stream_;
  boost::beast::flat_buffer buffer_;
  std::atomic<int> fd_{-1};
  std::atomic<bool> stopped_{false};
};

}  // namespace srvtest
