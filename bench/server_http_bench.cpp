// What HTTP adds to a printer exchange: the connection test run bare on the
// driver, then the same command through zuv-server's HTTP side and its
// journal, against the same emulator in the same run. Prints the figures
// and PASS/MISS against the target.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "commands/catalogue.h"
#include "driver/comportzuv.h"
#include "emulator/pty_server.h"
#include "server/core/job_service.h"
#include "server/http_service.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 300;
constexpr double kAddedTargetMs = 1.0;
constexpr const char* kToken = "bench-token";
constexpr const char* kLink = "ttyBench";

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

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

// The `test` job over HTTP; `roundTrips` gets HTTP's own time (a request
// that reaches no printer and no journal).
std::vector<double> HttpExchanges(const std::string& stateDir, std::vector<double>& roundTrips) {
  zuvsrv::JobService jobs(stateDir, {{"a", kLink, 115200, "GBR"}});
  zuvsrv::HttpSettings settings;
  settings.token = kToken;
  zuvsrv::HttpService http(jobs, settings);
  const int port = http.Bind("127.0.0.1", 0);
  std::thread server([&] { http.Run(); });
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  const httplib::Headers headers{{"Authorization", std::string("Bearer ") + kToken}};
  std::vector<double> times;
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = Clock::now();
    auto result = client.Get("/healthz");
    if (result && result->status == 200) roundTrips.push_back(Ms(Clock::now() - t0));
  }
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = Clock::now();
    auto result = client.Post("/v1/printers/a/test", headers, "{}", "application/json");
    if (result && result->status == 200 && result->body.find("\"done\"") != std::string::npos)
      times.push_back(Ms(Clock::now() - t0));
  }
  http.Stop();
  server.join();
  jobs.Stop();
  return times;
}

void Report(const char* what, const std::vector<double>& times) {
  std::printf("%-28s n=%zu p50 %.3f ms  p90 %.3f ms  p99 %.3f ms\n", what, times.size(),
              Percentile(times, 0.5), Percentile(times, 0.9), Percentile(times, 0.99));
}

}  // namespace

int main() {
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
  emulator.Stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return bare.empty() || http.empty() ? 1 : 0;
}
