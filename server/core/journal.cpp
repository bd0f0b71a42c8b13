#include "journal.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

namespace zuvsrv {

namespace {

// The idempotency key is UNIQUE, so two requests with one key can never
// make two jobs, whatever the callers' timing.
constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS jobs (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  printer TEXT NOT NULL,
  command TEXT NOT NULL,
  args TEXT NOT NULL,
  state TEXT NOT NULL,
  created TEXT NOT NULL,
  started TEXT NOT NULL DEFAULT '',
  finished TEXT NOT NULL DEFAULT '',
  result TEXT NOT NULL DEFAULT 'null',
  error TEXT NOT NULL DEFAULT 'null',
  settled_by TEXT NOT NULL DEFAULT '',
  settlement TEXT NOT NULL DEFAULT 'null',
  counter_before TEXT NOT NULL DEFAULT 'null',
  idempotency_key TEXT UNIQUE,
  warnings TEXT NOT NULL DEFAULT '[]'
);
CREATE INDEX IF NOT EXISTS jobs_by_state ON jobs (state, printer);
)";

// Pages the write-ahead log may hold before the committing connection
// copies it back (SQLite's default is 1,000).
constexpr int kLogPages = 128;

constexpr const char* kColumns =
    "id, printer, command, args, state, created, started, finished, result, error, settled_by, "
    "settlement, idempotency_key, warnings";

Json ParseStored(const std::string& text) { return Json::parse(text); }

Job RowToJob(const Statement& row) {
  Job job;
  job.id = row.Int(0);
  job.printer = row.Text(1);
  job.command = row.Text(2);
  job.args = ParseStored(row.Text(3));
  job.state = ParseJobState(row.Text(4)).value_or(JobState::InDoubt);
  job.created = row.Text(5);
  job.started = row.Text(6);
  job.finished = row.Text(7);
  job.result = ParseStored(row.Text(8));
  job.error = ParseStored(row.Text(9));
  job.settledBy = row.Text(10);
  job.settlement = ParseStored(row.Text(11));
  job.idempotencyKey = row.Text(12);
  job.warnings = ParseStored(row.Text(13)).get<std::vector<std::string>>();
  return job;
}

// Key order does not matter: the same body sent twice may list its fields
// in another order.
bool SameArgs(const Json& a, const Json& b) {
  return nlohmann::json::parse(a.dump()) == nlohmann::json::parse(b.dump());
}

std::string Str(JobState state) { return std::string(ToString(state)); }

std::optional<Job> Find(Database& db, int64_t id) {
  auto find = db.Prepare(std::string("SELECT ") + kColumns + " FROM jobs WHERE id = ?");
  if (!find.Bind(1, id).Step()) return std::nullopt;
  return RowToJob(find);
}

std::optional<Job> FindByKey(Database& db, const std::string& key) {
  auto find = db.Prepare(std::string("SELECT ") + kColumns + " FROM jobs WHERE idempotency_key = ?");
  if (!find.Bind(1, key).Step()) return std::nullopt;
  return RowToJob(find);
}

// The journal holds what was sold: owner only. SQLite gives its WAL and
// shared-memory files the database file's mode when it creates them, and
// files left from an earlier run are set here too.
void KeepPrivate(const std::string& path) {
  for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
    std::error_code error;
    std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write, error);
    if (error && error != std::errc::no_such_file_or_directory)
      throw SqliteError("cannot restrict " + file + " to its owner: " + error.message());
  }
}

// The states a job ends in; retention deletes only these.
const JobState kEnded[] = {JobState::Done, JobState::Failed, JobState::NotDone};

// A journal written before jobs carried warnings gets their column.
void AddWarningsColumn(Database& db) {
  auto columns = db.Prepare("SELECT 1 FROM pragma_table_info('jobs') WHERE name = 'warnings'");
  if (!columns.Step()) db.Exec("ALTER TABLE jobs ADD COLUMN warnings TEXT NOT NULL DEFAULT '[]'");
}

Job Load(Database& db, int64_t id) {
  auto job = Find(db, id);
  if (!job) throw UnknownJob("no job " + std::to_string(id));
  return *job;
}

}  // namespace

std::string UtcTime(std::chrono::system_clock::time_point now) {
  const auto day = std::chrono::floor<std::chrono::days>(now);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{std::chrono::floor<std::chrono::milliseconds>(now - day)};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                int(time.minutes().count()), int(time.seconds().count()),
                int(time.subseconds().count()));
  return text;
}

Journal::Journal(const std::string& path) : writer_(path), reader_(path) {
  KeepPrivate(path);
  Database& db = writer_.Connection();
  db.Exec("PRAGMA journal_mode=WAL");
  db.Exec("PRAGMA synchronous=FULL");
  // A short log is written again from its start once copied back, and a
  // sync of blocks the file has costs the disk one write where a growing
  // file costs two (its data and its size): about a quarter off a commit.
  // A copy every twenty jobs or so is the price.
  db.Exec("PRAGMA wal_autocheckpoint=" + std::to_string(kLogPages));
  db.Exec(kSchema);
  AddWarningsColumn(db);
  KeepPrivate(path);
}

int Journal::RecoverRunning(const std::function<bool(const std::string&)>& changesNothing) {
  const Json inDoubt = {{"kind", "stopped"},
                        {"code", 0},
                        {"message", "the service stopped while the job was running"}};
  const Json failed = {{"kind", "stopped"},
                       {"code", 0},
                       {"message", "the service stopped while the job was running; it changes "
                                   "nothing on the printer and can be run again"}};
  int changed = 0;
  writer_.Write([&](Database& db) {
    std::vector<std::pair<int64_t, bool>> running;  // id, whether it may have taken effect
    auto list = db.Prepare("SELECT id, command FROM jobs WHERE state = ?");
    list.Bind(1, Str(JobState::Running));
    while (list.Step())
      running.emplace_back(list.Int(0), !(changesNothing && changesNothing(list.Text(1))));
    for (const auto& [id, mayHaveTakenEffect] : running) {
      db.Prepare("UPDATE jobs SET state = ?, finished = ?, error = ? WHERE id = ?")
          .Bind(1, Str(mayHaveTakenEffect ? JobState::InDoubt : JobState::Failed))
          .Bind(2, NowUtc())
          .Bind(3, (mayHaveTakenEffect ? inDoubt : failed).dump())
          .Bind(4, id)
          .Run();
      changed += db.Changes();
    }
  });
  return changed;
}

Journal::Inserted Journal::Insert(const std::string& printer, const NewJob& fresh,
                                  const std::optional<Json>& runningBefore) {
  Inserted inserted;
  writer_.Write([&](Database& db) {
    if (fresh.key) {
      if (auto earlier = FindByKey(db, *fresh.key)) {
        if (earlier->printer != printer || earlier->command != fresh.command ||
            !SameArgs(earlier->args, fresh.args))
          throw IdempotencyConflict("the idempotency key was used for another request (job " +
                                    std::to_string(earlier->id) + ")");
        inserted = {std::move(*earlier), true};
        return;
      }
    }
    const std::string now = NowUtc();
    db.Prepare("INSERT INTO jobs (printer, command, args, state, created, idempotency_key, "
               "started, counter_before, warnings) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .Bind(1, printer)
        .Bind(2, fresh.command)
        .Bind(3, fresh.args.dump())
        .Bind(4, Str(runningBefore ? JobState::Running : JobState::Queued))
        .Bind(5, now)
        .Bind(6, fresh.key)
        .Bind(7, runningBefore ? now : std::string())
        .Bind(8, runningBefore ? runningBefore->dump() : std::string("null"))
        .Bind(9, Json(fresh.warnings).dump())
        .Run();
    // The row holds nothing but what was just written: no need to read it.
    Job job;
    job.id = db.LastInsertId();
    job.printer = printer;
    job.command = fresh.command;
    job.args = fresh.args;
    job.state = runningBefore ? JobState::Running : JobState::Queued;
    job.created = now;
    if (runningBefore) job.started = now;
    job.idempotencyKey = fresh.key.value_or(std::string());
    job.warnings = fresh.warnings;
    inserted = {std::move(job), false};
  });
  return inserted;
}

std::optional<Job> Journal::MarkRunning(int64_t id, const Json& counterBefore) {
  return MarkRunning(id, nullptr, counterBefore);
}

std::optional<Job> Journal::MarkRunning(const Job& queued, const Json& counterBefore) {
  return MarkRunning(queued.id, &queued, counterBefore);
}

std::optional<Job> Journal::MarkRunning(int64_t id, const Job* known, const Json& counterBefore) {
  std::optional<Job> job;
  writer_.Write([&](Database& db) {
    const std::string now = NowUtc();
    db.Prepare("UPDATE jobs SET state = ?, started = ?, counter_before = ? "
               "WHERE id = ? AND state = ?")
        .Bind(1, Str(JobState::Running))
        .Bind(2, now)
        .Bind(3, counterBefore.dump())
        .Bind(4, id)
        .Bind(5, Str(JobState::Queued))
        .Run();
    if (db.Changes() == 0) return;
    if (!known) {
      job = Load(db, id);
      return;
    }
    // Only its worker changes a queued row: see Finish.
    job = *known;
    job->state = JobState::Running;
    job->started = now;
  });
  return job;
}

Job Journal::Finish(int64_t id, JobState state, const Json& result, const Json& error) {
  return Finish(id, nullptr, state, result, error);
}

Job Journal::Finish(const Job& running, JobState state, const Json& result, const Json& error) {
  return Finish(running.id, &running, state, result, error);
}

Job Journal::Finish(int64_t id, const Job* known, JobState state, const Json& result,
                    const Json& error) {
  Job job;
  writer_.Write([&](Database& db) {
    const std::string now = NowUtc();
    db.Prepare("UPDATE jobs SET state = ?, finished = ?, result = ?, error = ? "
               "WHERE id = ? AND state IN (?, ?)")
        .Bind(1, Str(state))
        .Bind(2, now)
        .Bind(3, result.dump())
        .Bind(4, error.dump())
        .Bind(5, id)
        .Bind(6, Str(JobState::Queued))
        .Bind(7, Str(JobState::Running))
        .Run();
    // Only its worker changes a queued or running row, so the caller's copy
    // is the row but for what was just written.
    if (db.Changes() == 0 || !known) {
      job = Load(db, id);
      return;
    }
    job = *known;
    job.state = state;
    job.finished = now;
    job.result = result;
    job.error = error;
  });
  return job;
}

std::optional<Job> Journal::Settle(int64_t id, bool done, const std::string& settledBy,
                                   const Json& settlement) {
  std::optional<Job> job;
  writer_.Write([&](Database& db) {
    // `finished` stays the exchange's end; the settling has its own time.
    Json stamped = settlement.is_object() ? settlement : Json::object();
    stamped["settled_at"] = NowUtc();
    db.Prepare("UPDATE jobs SET state = ?, settled_by = ?, settlement = ? "
               "WHERE id = ? AND state = ?")
        .Bind(1, Str(done ? JobState::Done : JobState::NotDone))
        .Bind(2, settledBy)
        .Bind(3, stamped.dump())
        .Bind(4, id)
        .Bind(5, Str(JobState::InDoubt))
        .Run();
    const bool settled = db.Changes() != 0;
    job = Load(db, id);  // throws UnknownJob
    if (!settled) job.reset();
  });
  return job;
}

void Journal::LeaveToPerson(int64_t id, const Json& settlement) {
  writer_.Write([&](Database& db) {
    db.Prepare("UPDATE jobs SET counter_before = 'null', settlement = ? "
               "WHERE id = ? AND state = ?")
        .Bind(1, settlement.dump())
        .Bind(2, id)
        .Bind(3, Str(JobState::InDoubt))
        .Run();
  });
}

std::optional<Job> Journal::Get(int64_t id) {
  std::lock_guard lock(readMutex_);
  return Find(reader_, id);
}

std::vector<Job> Journal::List(std::optional<JobState> state, std::optional<std::string> printer,
                               int limit) {
  std::lock_guard lock(readMutex_);
  auto list = reader_.Prepare(std::string("SELECT ") + kColumns +
                              " FROM jobs WHERE (?1 IS NULL OR state = ?1) AND "
                              "(?2 IS NULL OR printer = ?2) ORDER BY id DESC LIMIT ?3");
  list.Bind(1, state ? std::optional<std::string>(Str(*state)) : std::nullopt)
      .Bind(2, printer)
      .Bind(3, int64_t(limit));
  std::vector<Job> jobs;
  while (list.Step()) jobs.push_back(RowToJob(list));
  return jobs;
}

std::vector<int64_t> Journal::Queued(const std::string& printer) {
  std::lock_guard lock(readMutex_);
  auto list = reader_.Prepare("SELECT id FROM jobs WHERE state = ? AND printer = ? ORDER BY id");
  list.Bind(1, Str(JobState::Queued)).Bind(2, printer);
  std::vector<int64_t> ids;
  while (list.Step()) ids.push_back(list.Int(0));
  return ids;
}

std::vector<Journal::Unsettled> Journal::UnsettledJobs(const std::string& printer) {
  std::lock_guard lock(readMutex_);
  auto list = reader_.Prepare(
      "SELECT id, command, args, counter_before FROM jobs "
      "WHERE state = ? AND printer = ? AND counter_before != 'null' ORDER BY id");
  list.Bind(1, Str(JobState::InDoubt)).Bind(2, printer);
  std::vector<Unsettled> jobs;
  while (list.Step())
    jobs.push_back({list.Int(0), list.Text(1), ParseStored(list.Text(2)),
                    ParseStored(list.Text(3))});
  return jobs;
}

std::map<std::string, std::map<std::string, int64_t>> Journal::DeleteEnded(
    const std::string& cutoff) {
  std::map<std::string, std::map<std::string, int64_t>> deleted;
  // A job settled by a person ages from the settling, not from its exchange:
  // it stays the whole period after someone last looked at it.
  const std::string ended =
      "state = ? AND COALESCE(json_extract(settlement, '$.settled_at'), finished) < ?";
  writer_.Write([&](Database& db) {
    for (const JobState state : kEnded) {
      auto count =
          db.Prepare("SELECT printer, COUNT(*) FROM jobs WHERE " + ended + " GROUP BY printer");
      count.Bind(1, Str(state)).Bind(2, cutoff);
      while (count.Step()) deleted[count.Text(0)][Str(state)] = count.Int(1);
      db.Prepare("DELETE FROM jobs WHERE " + ended)
          .Bind(1, Str(state))
          .Bind(2, cutoff)
          .Run();
    }
  });
  return deleted;
}

std::string Journal::WriterSetting(const std::string& pragma) {
  std::string value;
  writer_.Write([&](Database& db) {
    auto read = db.Prepare("PRAGMA " + pragma);
    if (read.Step()) value = read.Text(0);
  });
  return value;
}

std::map<std::string, std::map<std::string, int64_t>> Journal::Counts() {
  std::lock_guard lock(readMutex_);
  auto count =
      reader_.Prepare("SELECT printer, state, COUNT(*) FROM jobs GROUP BY printer, state");
  std::map<std::string, std::map<std::string, int64_t>> counts;
  while (count.Step()) counts[count.Text(0)][count.Text(1)] = count.Int(2);
  return counts;
}

}  // namespace zuvsrv
