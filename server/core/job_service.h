// The print service's core: one queue and one worker thread per printer, a
// durable journal of every job, idempotent submission, and the settling of
// jobs whose outcome is in doubt. Knows nothing of HTTP.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands/catalogue.h"

namespace zuvsrv {

using Json = nlohmann::ordered_json;

// queued -> running -> done | failed | in-doubt; in-doubt -> done | not-done.
enum class JobState { Queued, Running, Done, Failed, InDoubt, NotDone };
std::string_view ToString(JobState state);                  // "in-doubt"
std::optional<JobState> ParseJobState(std::string_view text);
bool IsFinal(JobState state);  // done, failed, not-done; in-doubt waits for settling
std::vector<std::string_view> JobStateNames();  // every state, in lifecycle order

struct Job {
  int64_t id = 0;
  std::string printer;
  std::string command;
  Json args = Json::object();
  JobState state = JobState::Queued;
  std::string created, started, finished;  // ISO 8601 UTC, "" when not yet
  Json result;          // the fields `zuv --json` prints, or null
  Json error;           // {"kind","code","message"} or null
  std::string settledBy;  // "", "counter" or "person"
  Json settlement;      // {"before":…, "after":…} counter readings, or {"note":…}
  std::string idempotencyKey;
  // Text arguments with characters the printer cannot print (sent as '?').
  std::vector<std::string> warnings;
};
Json ToJson(const Job& job);  // the API's job object

struct PrinterConfig {
  std::string id;
  std::string port;  // anything zuv accepts, tcp:// included
  int baud = 115200;
  std::string lang = "GBR";
};

// Journal: the worker cannot commit to the journal and sends nothing until
// it can; lastError says why.
enum class PrinterState { Idle, Busy, Offline, Journal };
std::string_view ToString(PrinterState state);
std::vector<std::string_view> PrinterStateNames();

struct PrinterStatus {
  std::string id;
  std::string port;
  int baud = 0;  // the speed in use; 0 for a tcp:// port, whose device server sets it
  PrinterState state = PrinterState::Idle;
  size_t queueLength = 0;
  Json lastError;  // null when none
};
Json ToJson(const PrinterStatus& status);

// The job that finds the speed a printer answers at on its own port: it
// sends connection tests only, so it is never in doubt.
constexpr const char* kDetectCommand = "detect";

class UnknownPrinter : public std::runtime_error { using std::runtime_error::runtime_error; };
class UnknownJob : public std::runtime_error { using std::runtime_error::runtime_error; };
// The same idempotency key with another printer, command or body (409).
class IdempotencyConflict : public std::runtime_error { using std::runtime_error::runtime_error; };
// Resolving a job that is not in doubt (409).
class NotInDoubt : public std::runtime_error { using std::runtime_error::runtime_error; };

struct ExchangeHistogram {
  std::vector<double> bounds;       // seconds, upper bounds of the buckets
  std::vector<uint64_t> counts;     // cumulative, one per bound
  uint64_t count = 0;
  double sum = 0;
};

struct MetricsSnapshot {
  std::map<std::string, std::map<std::string, int64_t>> jobs;  // printer -> state -> count
  std::map<std::string, size_t> queueDepth;                    // printer -> queued jobs
  int64_t inDoubt = 0;
  ExchangeHistogram exchange;
  uint64_t journalFailures = 0;  // journal commits that failed and were retried
};

struct JobServiceOptions {
  // Ended jobs (done, failed, not-done) older than this are deleted, once a
  // day; jobs in doubt never are.
  int retentionDays = 90;
  // Seams for tests: runs in each journal commit just before COMMIT (may
  // throw to fail it), and replaces the exchange of a job with its printer.
  std::function<void()> beforeCommit;
  std::function<zuvcmd::CommandOutcome(const zuvcmd::CommandRequest&)> exchange;
};

class JobService {
 public:
  // Opens (or creates) DIR/journal.sqlite; jobs left running become
  // in-doubt (and are settled by counter where one tells), jobs left queued
  // run. Starts one worker per printer.
  JobService(const std::string& stateDir, std::vector<PrinterConfig> printers,
             JobServiceOptions options = {});
  ~JobService();  // Stop()
  JobService(const JobService&) = delete;
  JobService& operator=(const JobService&) = delete;

  // Lets each printer finish the exchange in hand and commit its outcome,
  // leaves every queued job queued, then returns. A commit being retried
  // is given up: its job stays as the journal holds it.
  void Stop();

  struct Submitted {
    Job job;
    bool replayed = false;  // an earlier request with the same key made it
  };
  // Commits the job before it returns: queued, or already running when its
  // printer is idle and takes it at once (one commit for both). Returns it
  // as queued, with a warning for each text argument holding characters the
  // printer cannot print. Throws UnknownPrinter, IdempotencyConflict.
  Submitted Submit(const std::string& printer, const zuvcmd::CommandRequest& request,
                   const std::optional<std::string>& idempotencyKey);

  // Queues detection on the printer's own port (kDetectCommand). The worker
  // then uses the speed found until the service stops. Throws
  // UnknownPrinter, IdempotencyConflict.
  Submitted Detect(const std::string& printer, const std::optional<std::string>& idempotencyKey);

  std::optional<Job> Get(int64_t id);
  // Whether the job is queued or running, from memory: false for a job that
  // ended, waits in doubt, or was never given. Every change is counted
  // before anyone hears of it, so a false here is in the journal already.
  bool Moving(int64_t id);
  std::vector<Job> List(std::optional<JobState> state, std::optional<std::string> printer,
                        int limit);
  // The job once it left queued/running, or as it is when `wait` ran out.
  std::optional<Job> WaitSettled(int64_t id, std::chrono::milliseconds wait);
  // Throws UnknownJob, NotInDoubt.
  Job Resolve(int64_t id, bool done, const std::string& note);

  std::vector<PrinterStatus> Printers();
  bool HasPrinter(std::string_view id) const;
  // Why a printer cannot commit to the journal, or nothing when all can.
  std::optional<std::string> JournalFault() const;

  // Every job state change ("job", job object) and printer state change
  // ("printer", printer object), in the order they happen. Listeners run on
  // worker threads and must not block.
  using Listener = std::function<void(const std::string& event, const Json& data)>;
  int Subscribe(Listener listener);
  void Unsubscribe(int token);

  MetricsSnapshot Metrics();

 private:
  Submitted Queue(const std::string& printer, const std::string& command, const Json& args,
                  const std::vector<std::string>& warnings,
                  const std::optional<std::string>& idempotencyKey);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zuvsrv
