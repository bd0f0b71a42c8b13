// The journal on its own: what it keeps across a reopen, idempotency keys,
// the moves between states it allows, and recovery at start.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "journal.h"

namespace zuvsrv {
namespace {

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zuv-journal-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/journal.sqlite";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string dir_, path_;
  const Json pay_ = {{"type", "cash"}, {"amount", "300.00"}};
};

TEST_F(JournalTest, KeepsJobsAndKeysAcrossReopen) {
  int64_t id = 0;
  {
    Journal journal(path_);
    const auto inserted = journal.Insert("a", "pay", pay_, "key-1");
    EXPECT_FALSE(inserted.replayed);
    EXPECT_EQ(inserted.job.state, JobState::Queued);
    EXPECT_EQ(inserted.job.idempotencyKey, "key-1");
    EXPECT_FALSE(inserted.job.created.empty());
    id = inserted.job.id;
  }
  Journal journal(path_);
  const auto job = journal.Get(id);
  ASSERT_TRUE(job);
  EXPECT_EQ(job->printer, "a");
  EXPECT_EQ(job->command, "pay");
  EXPECT_EQ(job->args, pay_);
  const auto again = journal.Insert("a", "pay", pay_, "key-1");
  EXPECT_TRUE(again.replayed);
  EXPECT_EQ(again.job.id, id);
  EXPECT_EQ(journal.Queued("a"), std::vector<int64_t>{id});
}

// Insert and Finish answer with the job they wrote, without reading it
// back: it must be the job as stored.
TEST_F(JournalTest, AJobAnsweredWithoutReadingBackIsTheStoredJob) {
  Journal journal(path_);
  const Journal::NewJob fresh{"text", {{"lines", {"Ÿ a", "b"}}, {"n", 2}}, {"line 1: 'Ÿ'"}, "k"};
  for (const auto& running : {std::optional<Json>(), std::optional<Json>(Json{{"counter", 7}})}) {
    const auto inserted = journal.Insert(running ? "b" : "a", {fresh.command, fresh.args,
                                         fresh.warnings, running ? "k2" : "k"}, running);
    const auto stored = journal.Get(inserted.job.id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(ToJson(inserted.job), ToJson(*stored));
    Job current = inserted.job;
    if (!running) {
      const auto marked = journal.MarkRunning(current, {{"counter", 3}});
      ASSERT_TRUE(marked);
      EXPECT_EQ(ToJson(*marked), ToJson(*journal.Get(current.id)));
      EXPECT_FALSE(journal.MarkRunning(current, nullptr)) << "a job runs once";
      current = *marked;
    }
    const Json error = {{"kind", "link"}, {"code", -1}, {"message", "lost"}};
    const Job finished = journal.Finish(current, JobState::InDoubt, {{"n", 1}}, error);
    EXPECT_EQ(ToJson(finished), ToJson(*journal.Get(inserted.job.id)));
    // Finished once: the answer is the stored job, not the caller's copy.
    EXPECT_EQ(journal.Finish(current, JobState::Done, nullptr, nullptr).state,
              JobState::InDoubt);
  }
  const auto keyless = journal.Insert("a", "cut", Json::object(), std::nullopt);
  EXPECT_EQ(ToJson(keyless.job), ToJson(*journal.Get(keyless.job.id)));
}

// Statements are reused per connection: one in use is not handed out again,
// one given back keeps neither its bindings nor its read snapshot.
TEST_F(JournalTest, ReusedStatementsStartClean) {
  Database writer(path_), reader(path_);
  writer.Exec("PRAGMA journal_mode=WAL; CREATE TABLE t (x INTEGER); INSERT INTO t VALUES (1), (2)");
  const std::string select = "SELECT x FROM t ORDER BY x";
  {
    auto outer = reader.Prepare(select);
    ASSERT_TRUE(outer.Step());
    {
      auto inner = reader.Prepare(select);
      ASSERT_TRUE(inner.Step());
      ASSERT_TRUE(inner.Step());
      EXPECT_EQ(inner.Int(0), 2);
    }
    EXPECT_EQ(outer.Int(0), 1);
    ASSERT_TRUE(outer.Step());
    EXPECT_EQ(outer.Int(0), 2);
  }
  reader.Prepare(select).Step();  // given back before it is done
  writer.Run("INSERT INTO t VALUES (3)");
  auto count = reader.Prepare("SELECT COUNT(*) FROM t");
  ASSERT_TRUE(count.Step());
  EXPECT_EQ(count.Int(0), 3);
  reader.Prepare("SELECT ?").Bind(1, int64_t(5)).Step();
  auto unbound = reader.Prepare("SELECT ?");
  ASSERT_TRUE(unbound.Step());
  EXPECT_TRUE(unbound.IsNull(0));
}

TEST_F(JournalTest, SameKeyWithAnotherRequestConflicts) {
  Journal journal(path_);
  journal.Insert("a", "pay", pay_, "k");
  EXPECT_THROW(journal.Insert("b", "pay", pay_, "k"), IdempotencyConflict);
  EXPECT_THROW(journal.Insert("a", "close", Json::object(), "k"), IdempotencyConflict);
  EXPECT_THROW(journal.Insert("a", "pay", Json{{"type", "card"}, {"amount", "300.00"}}, "k"),
               IdempotencyConflict);
  // The same fields in another order are the same request.
  EXPECT_TRUE(journal.Insert("a", "pay", Json{{"amount", "300.00"}, {"type", "cash"}}, "k").replayed);
  // Without a key every request is a new job.
  EXPECT_NE(journal.Insert("a", "test", Json::object(), std::nullopt).job.id,
            journal.Insert("a", "test", Json::object(), std::nullopt).job.id);
  EXPECT_EQ(journal.List(std::nullopt, std::nullopt, 100).size(), 3u);
}

// Two connections stand for two requests racing (or two processes): the
// key's uniqueness, not the callers' timing, makes one job.
TEST_F(JournalTest, ConcurrentInsertsWithOneKeyMakeOneJob) {
  { Journal create(path_); }
  for (int round = 0; round < 20; ++round) {
    const std::string key = "race-" + std::to_string(round);
    Journal first(path_), second(path_);
    Journal::Inserted a, b;
    std::thread other([&] { b = second.Insert("a", "z-report", Json::object(), key); });
    a = first.Insert("a", "z-report", Json::object(), key);
    other.join();
    EXPECT_EQ(a.job.id, b.job.id);
    EXPECT_NE(a.replayed, b.replayed);
  }
  Journal journal(path_);
  EXPECT_EQ(journal.List(std::nullopt, std::nullopt, 1000).size(), 20u);
}

TEST_F(JournalTest, StatesMoveOnlyForward) {
  Journal journal(path_);
  const int64_t id = journal.Insert("a", "z-report", Json::object(), std::nullopt).job.id;
  const Json before = {{"report_number", 4}};
  const auto running = journal.MarkRunning(id, before);
  ASSERT_TRUE(running);
  EXPECT_EQ(running->state, JobState::Running);
  EXPECT_FALSE(running->started.empty());
  EXPECT_FALSE(journal.MarkRunning(id, before)) << "a job runs once";

  const Json error = {{"kind", "link"}, {"code", -1}, {"message", "lost"}};
  const Job doubt = journal.Finish(id, JobState::InDoubt, nullptr, error);
  EXPECT_EQ(doubt.state, JobState::InDoubt);
  EXPECT_EQ(doubt.error, error);
  // A finished job is not finished again.
  EXPECT_EQ(journal.Finish(id, JobState::Done, Json::object(), nullptr).state, JobState::InDoubt);

  const Json settlement = {{"before", before}, {"after", {{"report_number", 5}}}};
  const auto settled = journal.Settle(id, true, "counter", settlement);
  ASSERT_TRUE(settled);
  EXPECT_EQ(settled->state, JobState::Done);
  EXPECT_EQ(settled->settledBy, "counter");
  // Settling keeps the exchange's end and notes its own time beside the readings.
  EXPECT_EQ(settled->finished, doubt.finished);
  ASSERT_TRUE(settled->settlement.contains("settled_at")) << settled->settlement;
  EXPECT_GE(settled->settlement["settled_at"].get<std::string>(), doubt.finished);
  Json readings = settled->settlement;
  readings.erase("settled_at");
  EXPECT_EQ(readings, settlement);
  EXPECT_FALSE(journal.Settle(id, false, "person", Json::object())) << "settled once";
  EXPECT_THROW(journal.Settle(id + 100, true, "person", Json::object()), UnknownJob);
}

TEST_F(JournalTest, RecoveryPutsRunningJobsInDoubtAndKeepsTheirReadings) {
  int64_t running = 0, queued = 0, done = 0, plain = 0;
  {
    Journal journal(path_);
    running = journal.Insert("a", "z-report", Json::object(), std::nullopt).job.id;
    plain = journal.Insert("a", "nonfiscal", Json{{"lines", {"x"}}}, std::nullopt).job.id;
    done = journal.Insert("a", "beep", Json::object(), std::nullopt).job.id;
    queued = journal.Insert("a", "feed", Json::object(), std::nullopt).job.id;
    journal.MarkRunning(running, Json{{"report_number", 7}});
    journal.MarkRunning(plain, nullptr);
    journal.MarkRunning(done, nullptr);
    journal.Finish(done, JobState::Done, Json::object(), nullptr);
  }
  Journal journal(path_);
  EXPECT_EQ(journal.RecoverRunning(), 2);
  EXPECT_EQ(journal.Get(running)->state, JobState::InDoubt);
  EXPECT_EQ(journal.Get(running)->error["kind"], "stopped");
  EXPECT_EQ(journal.Get(plain)->state, JobState::InDoubt);
  EXPECT_EQ(journal.Get(done)->state, JobState::Done);
  EXPECT_EQ(journal.Queued("a"), std::vector<int64_t>{queued});

  // Only the job with a reading can be settled by its counter.
  auto unsettled = journal.UnsettledJobs("a");
  ASSERT_EQ(unsettled.size(), 1u);
  EXPECT_EQ(unsettled[0].id, running);
  EXPECT_EQ(unsettled[0].before, (Json{{"report_number", 7}}));
  journal.LeaveToPerson(running, Json{{"before", 7}});
  EXPECT_TRUE(journal.UnsettledJobs("a").empty());
  EXPECT_EQ(journal.Get(running)->state, JobState::InDoubt);

  const auto counts = journal.Counts();
  EXPECT_EQ(counts.at("a").at("in-doubt"), 2);
  EXPECT_EQ(counts.at("a").at("queued"), 1);
}

TEST_F(JournalTest, ListsFilterByStateAndPrinterNewestFirst) {
  Journal journal(path_);
  std::vector<int64_t> ids;
  for (const char* printer : {"a", "b", "a", "b", "a"})
    ids.push_back(journal.Insert(printer, "test", Json::object(), std::nullopt).job.id);
  journal.Finish(ids[0], JobState::Failed, nullptr, Json{{"kind", "port"}});
  const auto a = journal.List(std::nullopt, std::string("a"), 10);
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[0].id, ids[4]);
  EXPECT_EQ(a[2].id, ids[0]);
  EXPECT_EQ(journal.List(JobState::Queued, std::string("a"), 10).size(), 2u);
  EXPECT_EQ(journal.List(JobState::Failed, std::nullopt, 10).at(0).id, ids[0]);
  EXPECT_EQ(journal.List(std::nullopt, std::nullopt, 2).size(), 2u);
  EXPECT_EQ(journal.Queued("a"), (std::vector<int64_t>{ids[2], ids[4]}));
  EXPECT_EQ(journal.Queued("b"), (std::vector<int64_t>{ids[1], ids[3]}));
}

// Each commit is synced (synchronous FULL = 2) to a write-ahead log, and
// the files are the owner's alone.
TEST_F(JournalTest, TheFileIsInWriteAheadModeSyncedAtEachCommitAndPrivate) {
  {
    Journal journal(path_);
    EXPECT_EQ(journal.WriterSetting("journal_mode"), "wal");
    EXPECT_EQ(journal.WriterSetting("synchronous"), "2");
    journal.Insert("a", "beep", Json::object(), std::nullopt);
    for (const std::string& file : {path_, path_ + "-wal", path_ + "-shm"}) {
      ASSERT_TRUE(std::filesystem::exists(file)) << file;
      EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
                std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
          << file;
    }
  }
  Database db(path_);
  auto mode = db.Prepare("PRAGMA journal_mode");
  ASSERT_TRUE(mode.Step());
  EXPECT_EQ(mode.Text(0), "wal");
}

// The log stays short: without copying it back it would hold some 7,000
// pages after 1,000 jobs, and 1,000 at SQLite's default.
TEST_F(JournalTest, TheLogIsCopiedBackAndWrittenAgainFromItsStart) {
  constexpr int kJobs = 1000;
  Journal journal(path_);
  for (int i = 0; i < kJobs; ++i) {
    const auto inserted = journal.Insert("a", "beep", Json::object(), std::nullopt, Json(nullptr));
    journal.Finish(inserted.job, JobState::Done, Json::object(), nullptr);
  }
  EXPECT_LT(std::filesystem::file_size(path_ + "-wal"), 1u << 20);
  EXPECT_EQ(journal.List(JobState::Done, "a", kJobs + 1).size(), size_t(kJobs));
}

// The key's uniqueness is the schema's own: a second row with a key taken,
// written past the journal's checks, is refused.
TEST_F(JournalTest, TheSchemaRefusesADuplicateIdempotencyKey) {
  { Journal(path_).Insert("a", "beep", Json::object(), "k"); }
  Database db(path_);
  const std::string insert =
      "INSERT INTO jobs (printer, command, args, state, created, idempotency_key) "
      "VALUES ('a', 'beep', '{}', 'queued', '', '%')";
  EXPECT_NO_THROW(db.Exec(std::string(insert).replace(insert.find('%'), 1, "other")));
  EXPECT_THROW(db.Exec(std::string(insert).replace(insert.find('%'), 1, "k")), SqliteError);
}

TEST_F(JournalTest, RetentionDeletesEndedJobsBeforeTheCutoffOnly) {
  Journal journal(path_);
  const auto add = [&](const char* printer, JobState end) {
    const int64_t id = journal.Insert(printer, "beep", Json::object(), std::nullopt).job.id;
    if (end == JobState::Queued) return id;
    journal.MarkRunning(id, nullptr);
    const JobState finish = end == JobState::NotDone ? JobState::InDoubt : end;
    if (end != JobState::Running) journal.Finish(id, finish, nullptr, nullptr);
    if (end == JobState::NotDone) journal.Settle(id, false, "person", Json::object());
    return id;
  };
  add("a", JobState::Done);
  add("a", JobState::Done);
  add("b", JobState::Failed);
  add("b", JobState::NotDone);
  const int64_t doubt = add("a", JobState::InDoubt);
  const int64_t queued = add("b", JobState::Queued);
  const int64_t running = add("b", JobState::Running);
  EXPECT_TRUE(journal.DeleteEnded("2000-01-01T00:00:00.000Z").empty()) << "none that old";
  const auto deleted = journal.DeleteEnded("9999-01-01T00:00:00.000Z");
  EXPECT_EQ(deleted, (std::map<std::string, std::map<std::string, int64_t>>{
                         {"a", {{"done", 2}}}, {"b", {{"failed", 1}, {"not-done", 1}}}}));
  std::vector<int64_t> left;
  for (const Job& job : journal.List(std::nullopt, std::nullopt, 100)) left.push_back(job.id);
  EXPECT_EQ(left, (std::vector<int64_t>{running, queued, doubt}));

  // An old exchange settled today is kept: it ages from its settling.
  const int64_t settledLate = add("b", JobState::NotDone);
  const int64_t doneLongAgo = add("b", JobState::Done);
  Database(path_).Exec("UPDATE jobs SET finished = '2001-01-01T00:00:00.000Z'");
  EXPECT_EQ(journal.DeleteEnded("2010-01-01T00:00:00.000Z"),
            (std::map<std::string, std::map<std::string, int64_t>>{{"b", {{"done", 1}}}}));
  EXPECT_TRUE(journal.Get(settledLate).has_value());
  EXPECT_FALSE(journal.Get(doneLongAgo).has_value());
}

// A group whose commit fails fails for every writer in it: none may
// report a change the journal does not hold.
TEST_F(JournalTest, AFailedCommitReachesEveryWriterOfItsGroup) {
  GroupCommit writer(path_);
  writer.Connection().Exec("CREATE TABLE t (x INTEGER)");
  std::atomic<bool> failing{true};
  writer.SetCommitHook([&] {
    if (failing) throw SqliteError("disk I/O error");
  });
  constexpr int kWriters = 8;
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kWriters; ++i)
    threads.emplace_back([&, i] {
      try {
        writer.Write([&](Database& db) { db.Exec("INSERT INTO t VALUES (" + std::to_string(i) + ")"); });
      } catch (const SqliteError&) {
        ++refused;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(refused, kWriters);
  failing = false;
  int64_t rows = -1;
  writer.Write([&](Database& db) {
    auto count = db.Prepare("SELECT COUNT(*) FROM t");
    count.Step();
    rows = count.Int(0);
  });
  EXPECT_EQ(rows, 0);
}

TEST_F(JournalTest, AnUnreadableFileIsAClearError) {
  std::filesystem::create_directory(path_);  // a directory where the file should be
  EXPECT_THROW(Journal journal(path_), SqliteError);
}

}  // namespace
}  // namespace zuvsrv
