#include "server/http_server.h"

#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "server/http_limits.h"
#include "server/http_reply.h"

namespace zuvsrv {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using ErrorCode = beast::error_code;

bool IsIdentity(std::string_view encoding) {
  return encoding.empty() || EqualCaseless(encoding, "identity");
}

// The engine's own refusals: limits, and what it could not read.
HttpResponse Refusal(int code, const char* what, const std::string& message) {
  HttpResponse res;
  SendError(res, code, what, message);
  return res;
}

}  // namespace

class Session;

struct HttpServer::Impl {
  explicit Impl(EngineSettings s) : settings(s), acceptor(io) {}

  void Accept();

  EngineSettings settings;
  HttpCounters counters;
  HttpHandler* handler = nullptr;
  std::mutex sessionsMutex;
  std::set<std::weak_ptr<Session>, std::owner_less<std::weak_ptr<Session>>> sessions;
  net::io_context io;
  tcp::acceptor acceptor;
  net::thread_pool handlers{kHandlerThreads};
};

// One connection, from its first byte to its close; every step runs on the
// connection's strand.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(HttpServer::Impl& server, tcp::socket socket)
      : server_(server), stream_(std::move(socket)) {}
  ~Session() { Release(); }

  void Start() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->ReadHeader(); });
  }
  // Closes the socket; only while no engine thread runs.
  void Abort() {
    ErrorCode ignored;
    stream_.socket().close(ignored);
  }
  // Called on any thread: queues a frame, or cuts a reader that fell behind.
  void SendFrame(std::string frame);
  void CloseStream();

 private:
  void WaitForNext();
  void ReadHeader();
  void OnHeader(ErrorCode ec);
  void ReadBody();
  void OnBody(ErrorCode ec);
  void Dispatch();
  void Answer(HttpResponse response, bool close);
  void Write();
  void OnWritten(ErrorCode ec);
  std::optional<HttpResponse> CheckHeader();
  bool ClientGone();
  void Close();
  // No longer counted among the open connections; once.
  void Release() {
    if (!released_.exchange(true)) --server_.counters.connections;
  }
  void Linger();
  void Drain();

  void StartStream();
  void WriteFrames();
  void Heartbeat();
  void WatchReader();

  HttpServer::Impl& server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::empty_body>> head_;
  std::optional<http::request_parser<http::string_body>> body_;
  HttpRequest request_;
  HttpResponse response_;
  bool keepAlive_ = false;
  std::optional<http::response<http::string_body>> out_;

  // An event stream's frames; `mutex_` because workers add to them.
  std::mutex mutex_;
  std::deque<std::string> frames_;
  size_t pendingBytes_ = 0;
  std::shared_ptr<EventSink> sink_;
  bool writing_ = false;
  bool streamEnded_ = false;
  bool streaming_ = false;
  std::string frameInFlight_;
  std::unique_ptr<net::steady_timer> heartbeat_;
  std::atomic<bool> released_{false};
};

namespace {

// The connection's event stream as the routes see it.
class SessionSink : public EventSink {
 public:
  explicit SessionSink(std::weak_ptr<Session> session) : session_(std::move(session)) {}
  void Send(std::string frame) override {
    if (auto session = session_.lock()) session->SendFrame(std::move(frame));
  }
  void Close() override {
    if (auto session = session_.lock()) session->CloseStream();
  }

 private:
  std::weak_ptr<Session> session_;
};

}  // namespace

void Session::WaitForNext() {
  // An idle kept-alive connection has its own, shorter deadline; the
  // header's starts with the next request's first byte.
  stream_.expires_after(server_.settings.deadlines.idle);
  stream_.async_read_some(buffer_.prepare(1024),
                          [self = shared_from_this()](ErrorCode ec, size_t n) {
                            if (ec) return self->Close();
                            self->buffer_.commit(n);
                            self->ReadHeader();
                          });
}

void Session::ReadHeader() {
  head_.emplace();
  head_->header_limit(kMaxHeaderBytes);
  head_->body_limit(kMaxBodyBytes);
  body_.reset();
  request_ = HttpRequest();
  response_ = HttpResponse();
  stream_.expires_after(server_.settings.deadlines.header);
  http::async_read_header(stream_, buffer_, *head_,
                          [self = shared_from_this()](ErrorCode ec, size_t) { self->OnHeader(ec); });
}

void Session::OnHeader(ErrorCode ec) {
  if (ec == http::error::header_limit)
    return Answer(Refusal(status::kHeadersTooLarge, kind::kHeadersTooLarge,
                          "the request's header is over 16 KiB"), true);
  if (ec == http::error::body_limit)
    return Answer(Refusal(status::kPayloadTooLarge, kind::kTooLarge, "the body is over 1 MiB"), true);
  if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == net::error::eof ||
      ec == net::error::connection_reset || ec == net::error::operation_aborted ||
      ec == net::error::bad_descriptor)
    return Close();
  if (ec)
    return Answer(Refusal(status::kBadRequest, kind::kInput, "the request could not be read"), true);
  const auto& head = head_->get();
  request_.method = std::string(head.method_string());
  request_.target = std::string(head.target());
  SplitTarget(request_.target, request_.path, request_.params);
  for (const auto& field : head)
    request_.headers.emplace(std::string(field.name_string()), std::string(field.value()));
  if (auto refusal = CheckHeader()) return Answer(std::move(*refusal), !head_->is_done());
  if (auto refusal = server_.handler->Screen(request_))
    return Answer(std::move(*refusal), !head_->is_done());
  ReadBody();
}

// The limits a header shows, before anything reads the body.
std::optional<HttpResponse> Session::CheckHeader() {
  if (request_.headers.size() > kMaxHeaderFields)
    return Refusal(status::kHeadersTooLarge, kind::kHeadersTooLarge,
                   "the request has over " + std::to_string(kMaxHeaderFields) + " header fields");
  if (!IsIdentity(request_.Header("Content-Encoding")))
    return Refusal(status::kUnsupportedMediaType, kind::kMediaType,
                   "a body must be sent without Content-Encoding");
  const auto length = head_->content_length();
  if (length && *length > kMaxBodyBytes)
    return Refusal(status::kPayloadTooLarge, kind::kTooLarge, "the body is over 1 MiB");
  return std::nullopt;
}

void Session::ReadBody() {
  body_.emplace(std::move(*head_));
  body_->body_limit(kMaxBodyBytes);
  head_.reset();
  stream_.expires_after(server_.settings.deadlines.body);
  http::async_read(stream_, buffer_, *body_,
                   [self = shared_from_this()](ErrorCode ec, size_t) { self->OnBody(ec); });
}

void Session::OnBody(ErrorCode ec) {
  if (ec == http::error::body_limit)
    return Answer(Refusal(status::kPayloadTooLarge, kind::kTooLarge, "the body is over 1 MiB"), true);
  if (ec == beast::error::timeout || ec == http::error::partial_message || ec == net::error::eof ||
      ec == net::error::connection_reset || ec == net::error::operation_aborted)
    return Close();
  if (ec)
    return Answer(Refusal(status::kBadRequest, kind::kInput, "the body could not be read"), true);
  request_.body = std::move(body_->get().body());
  keepAlive_ = body_->keep_alive();
  Dispatch();
}

void Session::Dispatch() {
  std::weak_ptr<Session> weak = weak_from_this();
  request_.clientGone = [weak] {
    auto self = weak.lock();
    return !self || self->ClientGone();
  };
  // Handlers may wait for the journal's commits: on threads of their own,
  // so that the network threads never do, and so that concurrent
  // submissions share commits.
  net::post(server_.handlers, [self = shared_from_this()] {
    self->server_.handler->Handle(self->request_, self->response_);
    auto resume = [self] { net::post(self->stream_.get_executor(), [self] { self->Write(); }); };
    if (!self->response_.deferred) return resume();
    auto later = std::move(self->response_.deferred);
    later(resume);
  });
}

// A peek that does not wait: the peer's end of stream or a reset.
bool Session::ClientGone() {
  auto& socket = stream_.socket();
  ErrorCode ec;
  socket.non_blocking(true, ec);
  char byte = 0;
  socket.receive(net::buffer(&byte, 1), tcp::socket::message_peek, ec);
  const bool gone = ec && ec != net::error::would_block && ec != net::error::try_again;
  ErrorCode ignored;
  socket.non_blocking(false, ignored);
  return gone;
}

void Session::Answer(HttpResponse response, bool close) {
  response_ = std::move(response);
  keepAlive_ = !close && head_ && head_->keep_alive();
  Write();
}

void Session::Write() {
  server_.handler->Finish(request_, response_);
  out_.emplace(static_cast<http::status>(response_.status), 11);
  for (const auto& [name, value] : response_.headers) out_->insert(name, value);
  if (!response_.contentType.empty()) out_->set(http::field::content_type, response_.contentType);
  if (response_.stream) return StartStream();
  out_->keep_alive(keepAlive_);
  out_->body() = std::move(response_.body);
  out_->prepare_payload();
  if (request_.method == "HEAD") out_->body().clear();
  stream_.expires_after(server_.settings.deadlines.write);
  http::async_write(stream_, *out_,
                    [self = shared_from_this()](ErrorCode ec, size_t) { self->OnWritten(ec); });
}

void Session::OnWritten(ErrorCode ec) {
  out_.reset();
  if (ec) return Close();
  if (!keepAlive_) return Linger();
  WaitForNext();
}

// The answer went; what the client still sends is read and dropped for a
// moment, so that closing does not reset the connection before the client
// read the answer.
void Session::Linger() {
  ErrorCode ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  buffer_.clear();
  stream_.expires_after(kLingerDeadline);
  Drain();
}

void Session::Drain() {
  stream_.async_read_some(buffer_.prepare(16 * 1024), [self = shared_from_this()](ErrorCode ec, size_t) {
    if (ec) return self->Close();
    self->Drain();
  });
}

void Session::Close() {
  {
    std::lock_guard lock(mutex_);
    streamEnded_ = true;
  }
  if (heartbeat_) heartbeat_->cancel();
  Release();
  ErrorCode ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
  stream_.socket().close(ignored);
}

// The header goes out chunked; frames follow as chunks until the end.
void Session::StartStream() {
  out_->chunked(true);
  out_->keep_alive(false);
  auto serializer = std::make_shared<http::response_serializer<http::string_body>>(*out_);
  stream_.expires_after(server_.settings.deadlines.write);
  http::async_write_header(stream_, *serializer,
                           [self = shared_from_this(), serializer](ErrorCode ec, size_t) {
                             if (ec) return self->Close();
                             self->streaming_ = true;
                             // The hub holds the sink weakly: the stream is open while
                             // this connection is.
                             self->sink_ = std::make_shared<SessionSink>(self);
                             auto attach = std::move(self->response_.stream);
                             attach(self->sink_);
                             self->WatchReader();
                             self->Heartbeat();
                             self->WriteFrames();
                           });
}

// A stream's reader sends nothing more: a read ends when it goes away.
void Session::WatchReader() {
  stream_.socket().async_read_some(
      buffer_.prepare(256), [self = shared_from_this()](ErrorCode ec, size_t n) {
        if (ec) return self->Close();
        self->buffer_.consume(n);
        self->WatchReader();
      });
}

// A comment now and then finds readers that went away.
void Session::Heartbeat() {
  heartbeat_ = std::make_unique<net::steady_timer>(stream_.get_executor());
  heartbeat_->expires_after(server_.settings.eventHeartbeat);
  heartbeat_->async_wait([self = shared_from_this()](ErrorCode ec) {
    if (ec) return;
    self->SendFrame(":\n\n");
    self->Heartbeat();
  });
}

void Session::SendFrame(std::string frame) {
  {
    std::lock_guard lock(mutex_);
    if (streamEnded_) return;
    if (pendingBytes_ + frame.size() > kMaxPendingEventBytes) {
      // Too far behind: cut off rather than hold the service's memory.
      streamEnded_ = true;
      frames_.clear();
      pendingBytes_ = 0;
      net::post(stream_.get_executor(), [self = shared_from_this()] { self->Close(); });
      return;
    }
    pendingBytes_ += frame.size();
    frames_.push_back(std::move(frame));
  }
  net::post(stream_.get_executor(), [self = shared_from_this()] { self->WriteFrames(); });
}

void Session::CloseStream() {
  {
    std::lock_guard lock(mutex_);
    if (streamEnded_) return;
    frames_.push_back(std::string());  // the end, once what is queued went
  }
  net::post(stream_.get_executor(), [self = shared_from_this()] { self->WriteFrames(); });
}

void Session::WriteFrames() {
  if (!streaming_ || writing_) return;
  {
    std::lock_guard lock(mutex_);
    if (frames_.empty() || streamEnded_) return;
    frameInFlight_ = std::move(frames_.front());
    frames_.pop_front();
    pendingBytes_ -= frameInFlight_.size();
    if (frameInFlight_.empty()) streamEnded_ = true;
  }
  writing_ = true;
  stream_.expires_after(server_.settings.deadlines.write);
  auto done = [self = shared_from_this()](ErrorCode ec, size_t) {
    self->writing_ = false;
    bool ended = false;
    {
      std::lock_guard lock(self->mutex_);
      ended = self->streamEnded_;
    }
    if (ec || ended) return self->Close();
    self->WriteFrames();
  };
  if (frameInFlight_.empty())
    net::async_write(stream_, http::make_chunk_last(), std::move(done));
  else
    net::async_write(stream_, http::make_chunk(net::buffer(frameInFlight_)), std::move(done));
}

void HttpServer::Impl::Accept() {
  acceptor.async_accept(net::make_strand(io), [this](ErrorCode ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
    if (!ec) {
      if (counters.connections >= settings.maxConnections) {
        ++counters.refusedConnections;
        ErrorCode ignored;
        socket.close(ignored);
      } else {
        ++counters.connections;
        ErrorCode ignored;
        // Answers are small: waiting to fill a segment only adds latency.
        socket.set_option(tcp::no_delay(true), ignored);
        auto session = std::make_shared<Session>(*this, std::move(socket));
        {
          std::lock_guard lock(sessionsMutex);
          // Forget the ones that ended, now and then, not on every close.
          if (sessions.size() >= 2 * settings.maxConnections)
            for (auto it = sessions.begin(); it != sessions.end();)
              it = it->expired() ? sessions.erase(it) : std::next(it);
          sessions.insert(session);
        }
        session->Start();
      }
    }
    Accept();
  });
}

}  // namespace zuvsrv

namespace zuvsrv {

HttpServer::HttpServer(EngineSettings settings) : impl_(std::make_unique<Impl>(settings)) {}

HttpServer::~HttpServer() = default;

int HttpServer::Bind(const std::string& host, int port, std::string& error) {
  ErrorCode ec;
  const auto address = net::ip::make_address(host == "localhost" ? "127.0.0.1" : host, ec);
  if (ec) {
    error = "not an address: " + host;
    return -1;
  }
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  tcp::acceptor& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), ec);
#ifndef _WIN32
  // Lets a restart bind while the last run's connections linger; never
  // SO_REUSEPORT, so a port in use is refused.
  if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    error = ec.message();
    ErrorCode ignored;
    acceptor.close(ignored);
    return -1;
  }
  return acceptor.local_endpoint().port();
}

void HttpServer::Run(HttpHandler& handler) {
  impl_->handler = &handler;
  if (impl_->acceptor.is_open()) impl_->Accept();
  std::vector<std::thread> threads;
  for (size_t i = 1; i < impl_->settings.threads; ++i)
    threads.emplace_back([this] { impl_->io.run(); });
  impl_->io.run();
  for (std::thread& t : threads) t.join();
  // A route still running finishes before the routes may go.
  impl_->handlers.join();
  // No engine thread runs now: what is still open is closed here.
  ErrorCode ignored;
  impl_->acceptor.close(ignored);
  std::lock_guard lock(impl_->sessionsMutex);
  for (const auto& weak : impl_->sessions)
    if (auto session = weak.lock()) session->Abort();
}

void HttpServer::Stop() {
  impl_->io.stop();
  impl_->handlers.stop();
}

const HttpCounters& HttpServer::Counters() const { return impl_->counters; }

}  // namespace zuvsrv
