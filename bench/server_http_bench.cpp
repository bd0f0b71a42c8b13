// What HTTP adds to a printer exchange: the connection test run bare on the
// driver, then the same command through zuv-server's HTTP side and its
// journal, against the same emulator in the same run; `test` jobs a second
// from 8 clients; /healthz while 200 event streams and 150 idle
// connections are open; the process's peak memory with 512 connections and
// 256 streams. Prints the figures and PASS/MISS against the targets.
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <atomic>
#include <fstream>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "commands/catalogue.h"
#include "driver/comportzuv.h"
#include "emulator/pty_server.h"
#include "server/core/job_service.h"
#include "server/http_service.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 300;
constexpr double kAddedTargetMs = 1.0;
constexpr int kClients = 8;
constexpr int kJobsPerClient = 250;
constexpr double kJobsTarget = 500;
constexpr double kHealthP99TargetMs = 5.0;
constexpr int kStreams = 200, kIdle = 150;
constexpr int kMemConnections = 512, kMemStreams = 256;
constexpr const char* kToken = "bench-token";
constexpr const char* kLink = "ttyBench";

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

namespace http = boost::beast::http;

// One kept-alive connection, a request at a time.
class Client {
 public:
  explicit Client(int port) : stream_(io_) {
    stream_.socket().connect({boost::asio::ip::make_address("127.0.0.1"), uint16_t(port)});
    stream_.socket().set_option(boost::asio::ip::tcp::no_delay(true));
    host_ = "127.0.0.1:" + std::to_string(port);
  }
  // The status and body, or 0 on a failed exchange.
  int Send(http::verb verb, const std::string& target, std::string* body = nullptr) {
    http::request<http::string_body> req(verb, target, 11);
    req.set(http::field::host, host_);
    req.set(http::field::authorization, std::string("Bearer ") + kToken);
    if (verb == http::verb::post) {
      req.set(http::field::content_type, "application/json");
      req.body() = "{}";
      req.prepare_payload();
    }
    boost::beast::error_code ec;
    http::write(stream_, req, ec);
    http::response<http::string_body> res;
    if (!ec) http::read(stream_, buffer_, res, ec);
    if (ec) return 0;
    if (body) *body = std::move(res.body());
    return int(res.result_int());
  }

 private:
  boost::asio::io_context io_;
  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::string host_;
};

// A raw connection: idle, or an event stream whose header was sent.
int OpenConnection(int port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (!request.empty() && ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string StreamRequest(int port) {
  return "GET /v1/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nAuthorization: Bearer " + kToken + "\r\n\r\n";
}

// Waits until the stream's first frame came (the service attached it).
bool AwaitConnected(int fd) {
  std::string text;
  char buffer[1024];
  while (text.find(": connected") == std::string::npos) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    text.append(buffer, size_t(n));
  }
  return true;
}

long PeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[size_t(p * double(v.size() - 1))];
}

std::vector<double> BareExchanges() {
  std::vector<double> times;
  if (!zuv::TComPortZUV::OpenPort(kLink, 115200, true, false)) return times;
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = Clock::now();
    const bool ok = zuv::TFiscal::TestVeze();
    if (ok) times.push_back(Ms(Clock::now() - t0));
  }
  zuv::TComPortZUV::ClosePort();
  return times;
}

// The job service alone: the journal and the worker, no HTTP.
std::vector<double> JournalledExchanges(const std::string& stateDir) {
  zuvsrv::JobService jobs(stateDir, {{"a", kLink, 115200, "GBR"}});
  const zuvcmd::CommandRequest request = zuvcmd::CheckRequest("test", zuvsrv::Json::object());
  std::vector<double> times;
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = Clock::now();
    const int64_t id = jobs.Submit("a", request, std::nullopt).job.id;
    const std::optional<zuvsrv::Job> job = jobs.WaitSettled(id, std::chrono::seconds(30));
    if (job && job->state == zuvsrv::JobState::Done) times.push_back(Ms(Clock::now() - t0));
  }
  jobs.Stop();
  return times;
}

// A service over the emulator, served on a thread of its own.
struct Served {
  Served(const std::string& stateDir, size_t maxConnections, size_t maxStreams)
      : jobs(stateDir, {{"a", kLink, 115200, "GBR"}}), http(Settings(maxConnections, maxStreams)) {
    port = http.Bind("127.0.0.1", 0);
    http.Attach(jobs);
    thread = std::thread([this] { http.Run(); });
  }
  ~Served() {
    http.Stop();
    thread.join();
    jobs.Stop();
  }
  static zuvsrv::HttpSettings Settings(size_t maxConnections, size_t maxStreams) {
    zuvsrv::HttpSettings settings;
    settings.token = kToken;
    settings.maxConnections = maxConnections;
    settings.maxEventStreams = maxStreams;
    return settings;
  }
  zuvsrv::JobService jobs;
  zuvsrv::HttpService http;
  int port = -1;
  std::thread thread;
};

// The `test` job over HTTP; `roundTrips` gets HTTP's own time (a request
// that reaches no printer and no journal).
std::vector<double> HttpExchanges(const std::string& stateDir, std::vector<double>& roundTrips) {
  Served served(stateDir, 512, 256);
  Client client(served.port);
  std::vector<double> times;
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = Clock::now();
    if (client.Send(http::verb::get, "/healthz") == 200) roundTrips.push_back(Ms(Clock::now() - t0));
  }
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = Clock::now();
    std::string body;
    if (client.Send(http::verb::post, "/v1/printers/a/test", &body) == 200 &&
        body.find("\"done\"") != std::string::npos)
      times.push_back(Ms(Clock::now() - t0));
  }
  return times;
}

// `test` jobs a second, 8 clients on one printer, each waiting for its job.
double JobsPerSecond(const std::string& stateDir, int& done) {
  Served served(stateDir, 512, 256);
  std::atomic<int> finished{0};
  std::vector<std::thread> clients;
  const auto t0 = Clock::now();
  for (int c = 0; c < kClients; ++c)
    clients.emplace_back([&] {
      Client client(served.port);
      for (int i = 0; i < kJobsPerClient; ++i) {
        std::string body;
        if (client.Send(http::verb::post, "/v1/printers/a/test", &body) == 200 &&
            body.find("\"done\"") != std::string::npos)
          ++finished;
      }
    });
  for (std::thread& t : clients) t.join();
  done = finished;
  return finished / std::chrono::duration<double>(Clock::now() - t0).count();
}

// /healthz round trips while streams and idle connections are open.
std::vector<double> HealthUnderLoad(const std::string& stateDir, int streams, int idle) {
  Served served(stateDir, 512, 256);
  std::vector<int> fds;
  for (int i = 0; i < streams; ++i) {
    const int fd = OpenConnection(served.port, StreamRequest(served.port));
    if (fd >= 0 && AwaitConnected(fd)) fds.push_back(fd);
  }
  for (int i = 0; i < idle; ++i)
    if (const int fd = OpenConnection(served.port, ""); fd >= 0) fds.push_back(fd);
  std::vector<double> times;
  Client client(served.port);
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = Clock::now();
    if (client.Send(http::verb::get, "/healthz") == 200) times.push_back(Ms(Clock::now() - t0));
  }
  for (int fd : fds) ::close(fd);
  return times;
}

// The process's peak memory once 512 connections (256 of them event
// streams) are open, over its peak before the service started.
void PeakMemory(const std::string& stateDir) {
  const long before = PeakKiB();
  {
    Served served(stateDir, kMemConnections + 8, kMemStreams);
    std::vector<int> fds;
    int streams = 0;
    for (int i = 0; i < kMemStreams; ++i) {
      const int fd = OpenConnection(served.port, StreamRequest(served.port));
      if (fd >= 0 && AwaitConnected(fd)) fds.push_back(fd), ++streams;
    }
    for (int i = kMemStreams; i < kMemConnections; ++i)
      if (const int fd = OpenConnection(served.port, ""); fd >= 0) fds.push_back(fd);
    Client(served.port).Send(http::verb::post, "/v1/printers/a/test");
    std::printf("peak memory, %zu connections (%d streams): %ld KiB, %ld KiB over the start\n",
                fds.size(), streams, PeakKiB(), PeakKiB() - before);
    for (int fd : fds) ::close(fd);
  }
}

void Report(const char* what, const std::vector<double>& times) {
  std::printf("%-28s n=%zu p50 %.3f ms  p90 %.3f ms  p99 %.3f ms\n", what, times.size(),
              Percentile(times, 0.5), Percentile(times, 0.9), Percentile(times, 0.99));
}

}  // namespace

int main() {
  // Both ends of 512 connections live in this process.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 4096) {
    files.rlim_cur = std::min<rlim_t>(4096, files.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  char tmpl[] = "/tmp/zuv-http-bench-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  ::setenv("ZUV_PORT_DIR", (dir + "/ports").c_str(), 1);
  emu::PtyServer emulator;
  emu::PtyOptions options;
  options.link = true;
  options.link_name = kLink;
  if (!emulator.Start(options)) {
    std::fprintf(stderr, "emulator: %s\n", emulator.Error().c_str());
    return 1;
  }
  const std::vector<double> bare = BareExchanges();
  const std::vector<double> journalled = JournalledExchanges(dir + "/state-core");
  std::vector<double> roundTrips;
  const std::vector<double> http = HttpExchanges(dir + "/state", roundTrips);
  int jobsDone = 0;
  const double jobsPerSecond = JobsPerSecond(dir + "/state-jobs", jobsDone);
  const std::vector<double> loaded = HealthUnderLoad(dir + "/state-load", kStreams, kIdle);
  Report("bare driver test", bare);
  Report("job service (journal)", journalled);
  Report("HTTP test (journal, sync)", http);
  Report("HTTP round trip (/healthz)", roundTrips);
  // Over the bare exchange: HTTP's own share (a round trip), and all of it
  // (the journal's synchronous commits included; the core's benchmark
  // measures those on their own).
  const double httpShare = Percentile(roundTrips, 0.5);
  const double added = Percentile(http, 0.5) - Percentile(bare, 0.5);
  std::printf("added by HTTP, p50: %.3f ms (target <= %.1f ms) %s\n", httpShare, kAddedTargetMs,
              httpShare <= kAddedTargetMs ? "PASS" : "MISS");
  std::printf("added by HTTP and the journal, p50: %.3f ms (target <= %.1f ms) %s\n", added,
              kAddedTargetMs, added <= kAddedTargetMs ? "PASS" : "MISS");
  std::printf("test jobs/s, %d clients, one printer: %.0f (%d done; target >= %.0f) %s\n", kClients,
              jobsPerSecond, jobsDone, kJobsTarget, jobsPerSecond >= kJobsTarget ? "PASS" : "MISS");
  Report("/healthz, 200 streams+150 idle", loaded);
  const double p99 = Percentile(loaded, 0.99);
  std::printf("/healthz p99 under load: %.3f ms (target <= %.1f ms) %s\n", p99, kHealthP99TargetMs,
              p99 <= kHealthP99TargetMs ? "PASS" : "MISS");
  PeakMemory(dir + "/state-memory");
  emulator.Stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return bare.empty() || http.empty() ? 1 : 0;
}
