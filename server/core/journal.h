// The durable record of every job: one SQLite database (WAL, synchronous
// FULL) that every state change is committed to before anyone hears of it.
// Thread-safe: changes go through group commits, reads through a second
// connection that sees only what is committed.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "group_commit.h"
#include "job_service.h"
#include "sqlite.h"

namespace zuvsrv {

// A time as ISO 8601 UTC with milliseconds.
std::string UtcTime(std::chrono::system_clock::time_point time);
inline std::string NowUtc() { return UtcTime(std::chrono::system_clock::now()); }

class Journal {
 public:
  // Opens or creates `path`; it and its WAL and shared-memory files are
  // readable by the owner only.
  explicit Journal(const std::string& path);

  // At start: jobs left running become in-doubt, or failed when their
  // command `changesNothing` on the printer. Returns how many changed.
  int RecoverRunning(const std::function<bool(const std::string& command)>& changesNothing = {});

  struct Inserted {
    Job job;
    bool replayed = false;
  };
  struct NewJob {
    std::string command;
    Json args;
    std::vector<std::string> warnings;
    std::optional<std::string> key;
  };
  // A new queued job, or the earlier job with the same key. Throws
  // IdempotencyConflict when that job differs in printer, command or args.
  // With `runningBefore` the new job goes straight to running with that
  // counter reading, in the same commit.
  Inserted Insert(const std::string& printer, const NewJob& job,
                  const std::optional<Json>& runningBefore = std::nullopt);
  // The same for a job without warnings.
  Inserted Insert(const std::string& printer, const std::string& command, const Json& args,
                  const std::optional<std::string>& key,
                  const std::optional<Json>& runningBefore = std::nullopt) {
    return Insert(printer, NewJob{command, args, {}, key}, runningBefore);
  }

  // queued -> running with the counter reading taken before (null when the
  // command has none). Nothing when the job is no longer queued.
  std::optional<Job> MarkRunning(int64_t id, const Json& counterBefore);
  // The same for the job as the journal holds it queued: the running job is
  // made from it instead of read back.
  std::optional<Job> MarkRunning(const Job& queued, const Json& counterBefore);
  // running -> done | failed | in-doubt; queued -> failed when the job
  // failed before anything was sent.
  Job Finish(int64_t id, JobState state, const Json& result, const Json& error);
  // The same for the job as the journal holds it queued or running: the
  // finished job is made from it instead of read back.
  Job Finish(const Job& running, JobState state, const Json& result, const Json& error);
  // in-doubt -> done | not-done, keeping `finished`: the settling time goes
  // in the settlement as "settled_at". Nothing when the job is not in doubt
  // (any more). Throws UnknownJob for an id never given.
  std::optional<Job> Settle(int64_t id, bool done, const std::string& settledBy,
                            const Json& settlement);

  std::optional<Job> Get(int64_t id);
  std::vector<Job> List(std::optional<JobState> state, std::optional<std::string> printer,
                        int limit);
  // The printer's queued jobs, oldest first.
  std::vector<int64_t> Queued(const std::string& printer);

  // An in-doubt job whose counter was read before it was sent: the worker
  // settles it by reading the counter again.
  struct Unsettled {
    int64_t id;
    std::string command;
    Json args;
    Json before;
  };
  // The readings did not tell: the job waits for a person, and the worker
  // stops reading its counter. Keeps the readings in its settlement.
  void LeaveToPerson(int64_t id, const Json& settlement);
  std::vector<Unsettled> UnsettledJobs(const std::string& printer);

  // printer -> state -> count.
  std::map<std::string, std::map<std::string, int64_t>> Counts();

  // Deletes ended jobs (done, failed, not-done) that finished before
  // `cutoff` (ISO 8601 UTC, as NowUtc); jobs in doubt stay. Returns what it
  // deleted, printer -> state -> count.
  std::map<std::string, std::map<std::string, int64_t>> DeleteEnded(const std::string& cutoff);

  // A PRAGMA's value on the connection that commits: its durability.
  std::string WriterSetting(const std::string& pragma);

  // See GroupCommit::SetCommitHook.
  void SetCommitHook(std::function<void()> hook) { writer_.SetCommitHook(std::move(hook)); }

 private:
  std::optional<Job> MarkRunning(int64_t id, const Job* known, const Json& counterBefore);
  Job Finish(int64_t id, const Job* known, JobState state, const Json& result,
             const Json& error);

  GroupCommit writer_;
  std::mutex readMutex_;
  Database reader_;
};

}  // namespace zuvsrv
