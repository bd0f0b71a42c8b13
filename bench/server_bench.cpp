// The print service's core against emulated printers paced at 115200 baud:
// what the journal costs per job, how throughput grows with printers side
// by side, whether a slow printer slows another, and the memory a large
// journal takes. Prints figures and PASS/MISS against the targets.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator/pty_server.h"
#include "job_service.h"
#include "journal.h"

namespace {

using Clock = std::chrono::steady_clock;
using zuvsrv::Json;

constexpr int kBaud = 115200;
constexpr double kParallelTarget = 3.6;     // four printers against one
constexpr double kNeighbourTarget = 0.10;   // p50 change beside a slow printer
constexpr std::chrono::milliseconds kSlowReply{2000};
constexpr std::chrono::minutes kWait{5};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

const char* Verdict(bool pass) { return pass ? "PASS" : "MISS"; }

long RssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

// A receipt-sized text: at 115200 baud its wire time, not the CPU, sets
// the pace, as with a real printer.
zuvcmd::CommandRequest Receipt() {
  Json lines = Json::array();
  for (int i = 0; i < 20; ++i) lines.push_back("Article " + std::to_string(i) + "||120.00");
  return zuvcmd::CheckRequest("nonfiscal", Json{{"lines", lines}, {"width", 34}});
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A scratch directory with its own virtual ports and state.
class Bench {
 public:
  Bench() {
    char tmpl[] = "/tmp/zuv-server-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    ::setenv("ZUV_PORT_DIR", (dir_ + "/ports").c_str(), 1);
  }
  ~Bench() {
    service_.reset();
    printers_.clear();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  emu::PtyServer& AddPrinter(const std::string& id) {
    auto server = std::make_unique<emu::PtyServer>();
    emu::PtyOptions options;
    options.link = true;
    options.link_name = "tty_" + id;
    if (!server->Start(options)) throw std::runtime_error(server->Error());
    server->With([](emu::PrinterEmulator& e) { e.SetBaud(kBaud); });
    configs_.push_back({id, options.link_name, kBaud, "GBR"});
    printers_.push_back(std::move(server));
    return *printers_.back();
  }

  zuvsrv::JobService& Start() {
    service_ = std::make_unique<zuvsrv::JobService>(dir_ + "/state", configs_);
    return *service_;
  }

  std::string StateDir() const { return dir_ + "/state"; }

 private:
  std::string dir_;
  std::vector<zuvsrv::PrinterConfig> configs_;
  std::vector<std::unique_ptr<emu::PtyServer>> printers_;
  std::unique_ptr<zuvsrv::JobService> service_;
};

// Latency of one job from Submit until it settled, in ms.
double RunOne(zuvsrv::JobService& service, const std::string& printer,
              const zuvcmd::CommandRequest& request) {
  const auto t0 = Clock::now();
  const auto job = service.Submit(printer, request, std::nullopt).job;
  service.WaitSettled(job.id, kWait);
  return Ms(Clock::now() - t0);
}

void JournalCost() {
  constexpr int kJobs = 300;
  Bench bench;
  std::filesystem::create_directories(bench.StateDir());
  zuvsrv::Journal journal(bench.StateDir() + "/journal.sqlite");
  const auto t0 = Clock::now();
  for (int i = 0; i < kJobs; ++i) {
    const auto id = journal.Insert("a", "beep", Json::object(), "key-" + std::to_string(i)).job.id;
    journal.MarkRunning(id, nullptr);
    journal.Finish(id, zuvsrv::JobState::Done, Json::object(), nullptr);
  }
  std::printf("journal, synchronous=FULL: %.2f ms per job (3 commits: queued, running, done)\n",
              Ms(Clock::now() - t0) / kJobs);
  // A job an idle printer takes at once: queued and running in one commit.
  const auto t1 = Clock::now();
  for (int i = 0; i < kJobs; ++i) {
    const auto id = journal.Insert("a", "beep", Json::object(), "at-once-" + std::to_string(i),
                                   Json(nullptr)).job.id;
    journal.Finish(id, zuvsrv::JobState::Done, Json::object(), nullptr);
  }
  std::printf("journal, synchronous=FULL: %.2f ms per job taken at once (2 commits)\n",
              Ms(Clock::now() - t1) / kJobs);
}

// Jobs a second with `printers` printers each given `perPrinter` jobs at once.
double Throughput(int printers, int perPrinter) {
  Bench bench;
  std::vector<std::string> ids;
  for (int p = 0; p < printers; ++p) {
    ids.push_back("p" + std::to_string(p));
    bench.AddPrinter(ids.back());
  }
  auto& service = bench.Start();
  const auto request = Receipt();
  const auto t0 = Clock::now();
  std::vector<int64_t> jobs;
  for (int i = 0; i < perPrinter; ++i)
    for (const auto& id : ids) jobs.push_back(service.Submit(id, request, std::nullopt).job.id);
  for (int64_t id : jobs) service.WaitSettled(id, kWait);
  return double(jobs.size()) / std::chrono::duration<double>(Clock::now() - t0).count();
}

void Parallel() {
  constexpr int kJobs = 60;
  const double one = Throughput(1, kJobs);
  const double four = Throughput(4, kJobs);
  std::printf("one printer: %.1f jobs/s; four printers: %.1f jobs/s; %.2fx (target >= %.1fx) %s\n",
              one, four, four / one, kParallelTarget, Verdict(four / one >= kParallelTarget));
}

// p50 of printer "a" alone, and while printer "slow" answers every request
// two seconds late, in alternating rounds so that a change in the
// machine's load falls on both alike.
void SlowNeighbour() {
  constexpr int kRounds = 4, kJobsPerRound = 20, kSlowJobsPerRound = 2;
  Bench bench;
  bench.AddPrinter("a");
  auto& slow = bench.AddPrinter("slow");
  slow.With([](emu::PrinterEmulator& e) { e.SetReplyDelay(kSlowReply); });
  auto& service = bench.Start();
  const auto request = Receipt();
  const auto slowRequest = zuvcmd::CheckRequest("clock", Json::object());
  std::vector<double> alone, beside;
  for (int round = 0; round < kRounds; ++round) {
    for (int i = 0; i < kJobsPerRound; ++i) alone.push_back(RunOne(service, "a", request));
    std::vector<int64_t> slowJobs;
    for (int i = 0; i < kSlowJobsPerRound; ++i)
      slowJobs.push_back(service.Submit("slow", slowRequest, std::nullopt).job.id);
    for (int i = 0; i < kJobsPerRound; ++i) beside.push_back(RunOne(service, "a", request));
    if (zuvsrv::IsFinal(service.Get(slowJobs.front())->state))
      std::printf("  (round %d: the slow printer finished early)\n", round);
    for (int64_t id : slowJobs) service.WaitSettled(id, kWait);
  }
  const double p50Alone = Median(alone), p50Beside = Median(beside);
  const double change = std::abs(p50Beside - p50Alone) / p50Alone;
  std::printf("p50 alone %.2f ms, beside a printer %lld ms late: %.2f ms (%+.1f %%, target "
              "within %.0f %%) %s\n",
              p50Alone, static_cast<long long>(kSlowReply.count()), p50Beside,
              100 * (p50Beside - p50Alone) / p50Alone, 100 * kNeighbourTarget,
              Verdict(change <= kNeighbourTarget));
}

// A journal in the bench's state folder holding `count` rows of `insertSql`,
// each bound by `bind`, written in one transaction; returns its path.
template <typename Bind>
std::string FillJournal(Bench& bench, int count, const char* insertSql, Bind bind) {
  std::filesystem::create_directories(bench.StateDir());
  const std::string path = bench.StateDir() + "/journal.sqlite";
  zuvsrv::Journal create(path);
  zuvsrv::Database db(path);
  zuvsrv::Transaction transaction(db);
  auto insert = db.Prepare(insertSql);
  for (int i = 0; i < count; ++i) {
    bind(insert, i);
    insert.Run();
    insert.Reset();
  }
  transaction.Commit();
  return path;
}

// A journal of 10,000 finished jobs, filled in one transaction.
void Memory() {
  constexpr int kJobs = 10000;
  Bench bench;
  bench.AddPrinter("a");
  const std::string args = Json{{"type", "cash"}, {"amount", "300.00"}}.dump();
  const std::string path = FillJournal(
      bench, kJobs,
      "INSERT INTO jobs (printer, command, args, state, created, started, finished, result, "
      "idempotency_key) VALUES ('a', 'pay', ?1, 'done', ?2, ?2, ?2, '{}', ?3)",
      [&](zuvsrv::Statement& insert, int i) {
        insert.Bind(1, args).Bind(2, zuvsrv::NowUtc()).Bind(3, "till-1-sale-" + std::to_string(i));
      });
  const long before = RssKiB();
  auto& service = bench.Start();
  const auto metrics = service.Metrics();
  const auto page = service.List(std::nullopt, std::nullopt, 100);
  const long after = RssKiB();
  std::printf("10,000 jobs in the journal: file %.1f MiB; service RSS +%ld KiB after start, "
              "metrics and a page of 100 (%ld KiB in all)\n",
              double(std::filesystem::file_size(path)) / (1024 * 1024), after - before, after);
  (void)metrics;
  (void)page;
}

// /metrics with 300,000 jobs in the journal: its counts are kept in
// memory, so a snapshot should not depend on the journal's size.
void MetricsOfALargeJournal() {
  constexpr int kJobs = 300000, kSnapshots = 200;
  constexpr double kTargetMs = 1.0;
  Bench bench;
  bench.AddPrinter("a");
  const std::string now = zuvsrv::NowUtc();
  FillJournal(bench, kJobs,
              "INSERT INTO jobs (printer, command, args, state, created, started, finished) "
              "VALUES ('a', 'beep', '{}', ?1, ?2, ?2, ?2)",
              [&](zuvsrv::Statement& insert, int i) {
                insert.Bind(1, std::string(i % 100 ? "done" : "failed")).Bind(2, now);
              });
  const auto t0 = Clock::now();
  auto& service = bench.Start();
  const double startMs = Ms(Clock::now() - t0);
  std::vector<double> times;
  for (int i = 0; i < kSnapshots; ++i) {
    const auto t = Clock::now();
    const auto metrics = service.Metrics();
    times.push_back(Ms(Clock::now() - t));
    if (metrics.jobs.at("a").at("done") + metrics.jobs.at("a").at("failed") != kJobs)
      std::printf("  (metrics miscounted)\n");
  }
  const double p50 = Median(times);
  std::printf("metrics with %d jobs in the journal: p50 %.3f ms (target %.0f ms) %s; service "
              "start %.0f ms\n",
              kJobs, p50, kTargetMs, Verdict(p50 <= kTargetMs), startMs);
}

}  // namespace

int main() {
  JournalCost();
  Parallel();
  SlowNeighbour();
  Memory();
  MetricsOfALargeJournal();
  return 0;
}
