// The service when its journal cannot be written: another process holding
// the write lock (as a backup tool can) or a commit that fails. Nothing
// more reaches a printer until the outcome in hand is durable, no job is
// overtaken or lost, and a stop still ends.
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>

#include <sqlite3.h>

#include "service_fixture.h"
#include "sqlite.h"

namespace zuvsrv::testing {
namespace {

// Another connection on the journal that holds its write lock.
class JournalLock {
 public:
  explicit JournalLock(const std::string& stateDir) : db_(stateDir + "/journal.sqlite") {
    db_.Exec("BEGIN IMMEDIATE");
  }
  void Release() {
    if (held_) db_.Exec("ROLLBACK");
    held_ = false;
  }
  ~JournalLock() { Release(); }

 private:
  Database db_;
  bool held_ = true;
};

// What a waiting printer may send, if it wrongly sends anything: the time a
// job takes to reach the emulator, with room for a loaded machine.
constexpr auto kQuietWait = 3s;
// How late the printer answers while a test arms a fault between a
// request's arrival and its answer.
constexpr emu::Millis kArmingTime{1000};

class JournalFaultTest : public ServiceTest {
 protected:
  // An open receipt with one sale of 500.00 on printer 0.
  void OpenReceipt() {
    EXPECT_TRUE(Emu(0, [](emu::PrinterEmulator& e) { return e.Sell({{"Kafa", 50000, 1000}}); }));
  }
  // Submits a pay and a close; the printer refuses the pay, and `fault`
  // runs while the refusal is on its way, so the pay's outcome meets it.
  std::pair<int64_t, int64_t> PayRefusedThenClose(const std::function<void()>& fault) {
    Emu(0, [](emu::PrinterEmulator& e) { e.SetReplyDelay(kArmingTime); });
    const size_t start = Requests(0);
    // The idle printer reads the pay's counter before Submit returns.
    auto submitted = std::async(std::launch::async, [this] {
      return service->Submit("a", Request("pay", {{"type", "cash"}, {"amount", "100.00"}}),
                             std::nullopt);
    });
    EXPECT_TRUE(Printer(0).WaitForRequests(start + 1, kSettleWait));
    Emu(0, [](emu::PrinterEmulator& e) { e.InjectError(38); });
    const int64_t pay = submitted.get().job.id;
    const int64_t close = service->Submit("a", Request("close"), std::nullopt).job.id;
    EXPECT_TRUE(Printer(0).WaitForRequests(start + 2, kSettleWait)) << "the pay goes out";
    fault();  // while its refusal is on the way
    Emu(0, [](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(0)); });
    return {pay, close};
  }
};

// The trial's failure: the refusal of a pay could not be written, and the
// close went out after it, so the pay later looked done.
TEST_F(JournalFaultTest, ALockedJournalHoldsThePrinterUntilTheRefusedPayIsDurable) {
  AddPrinter("a");
  StartService();
  EventLog events(*service);
  OpenReceipt();
  std::unique_ptr<JournalLock> lock;
  const auto [pay, close] =
      PayRefusedThenClose([&] { lock = std::make_unique<JournalLock>(StateDir()); });
  ASSERT_TRUE(events.WaitForPrinter("a", "journal"));
  const size_t sent = Requests(0);
  EXPECT_FALSE(Printer(0).WaitForRequests(sent + 1, kQuietWait)) << "nothing sent meanwhile";
  const auto fault = service->JournalFault();
  ASSERT_TRUE(fault);
  EXPECT_NE(fault->find("locked"), std::string::npos) << *fault;
  EXPECT_EQ(StatusOf("a").state, PrinterState::Journal);
  EXPECT_GE(service->Metrics().journalFailures, 1u);
  lock->Release();

  const auto paid = service->WaitSettled(pay, kSettleWait);
  ASSERT_TRUE(paid);
  EXPECT_EQ(paid->state, JobState::Failed);
  EXPECT_EQ(paid->error["code"], 38);
  const auto closed = service->WaitSettled(close, kSettleWait);
  ASSERT_TRUE(closed);
  EXPECT_TRUE(IsFinal(closed->state));
  EXPECT_LE(paid->finished, closed->started) << "the close went out after the pay's outcome";
  EXPECT_FALSE(service->JournalFault());
  EXPECT_NE(StatusOf("a").state, PrinterState::Journal);
}

// A stop while the outcome cannot be written ends at once; the pay stays
// running as the journal holds it, and the next start settles it by its
// counter, which nothing else has moved.
TEST_F(JournalFaultTest, StopEndsWhileACommitIsRetriedAndTheJobIsSettledAtTheNextStart) {
  AddPrinter("a");
  StartService();
  int64_t pay = 0, close = 0;
  {
    EventLog events(*service);
    OpenReceipt();
    std::unique_ptr<JournalLock> lock;
    std::tie(pay, close) =
        PayRefusedThenClose([&] { lock = std::make_unique<JournalLock>(StateDir()); });
    ASSERT_TRUE(events.WaitForPrinter("a", "journal"));
    const size_t sent = Requests(0);
    service->Stop();
    lock->Release();
    EXPECT_EQ(service->Get(pay)->state, JobState::Running);
    EXPECT_EQ(service->Get(close)->state, JobState::Queued);
    EXPECT_EQ(Requests(0), sent);
  }

  StartService();
  const auto settled = service->WaitSettled(pay, kSettleWait);
  ASSERT_TRUE(settled);
  EXPECT_EQ(settled->state, JobState::NotDone) << settled->settlement.dump();
  EXPECT_EQ(settled->settledBy, "counter");
  EXPECT_TRUE(IsFinal(service->WaitSettled(close, kSettleWait)->state));
}

// Commits that fail outright (an I/O error, say) while a Z report waits to
// be marked running: it stays at the head of the queue and runs first once
// the journal takes writes again.
TEST_F(JournalFaultTest, AJobWhoseRunningCommitFailedIsNeitherLostNorOvertaken) {
  AddPrinter("a");
  std::atomic<bool> failing{false};
  JobServiceOptions options;
  options.beforeCommit = [&] {
    if (failing) throw SqliteError("disk I/O error");
  };
  StartService(std::move(options));
  EventLog events(*service);
  Emu(0, [](emu::PrinterEmulator& e) { e.SetReplyDelay(kArmingTime); });
  const int64_t first = service->Submit("a", Request("beep"), std::nullopt).job.id;
  const int64_t report = service->Submit("a", Request("z-report"), std::nullopt).job.id;
  const int64_t beep = service->Submit("a", Request("beep"), std::nullopt).job.id;
  ASSERT_TRUE(Printer(0).WaitForRequests(2, kSettleWait)) << "the report number is read";
  failing = true;
  ASSERT_TRUE(events.WaitForPrinter("a", "journal"));
  EXPECT_FALSE(Printer(0).WaitForRequests(3, kQuietWait)) << "nothing sent meanwhile";
  EXPECT_EQ(StatusOf("a").queueLength, 2u);
  EXPECT_EQ(service->Get(first)->state, JobState::Done);
  EXPECT_EQ(service->Get(report)->state, JobState::Queued);
  EXPECT_NE(service->JournalFault()->find("disk I/O error"), std::string::npos);
  EXPECT_THROW(service->Submit("a", Request("beep"), std::nullopt), SqliteError);
  Emu(0, [](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(0)); });
  failing = false;

  const auto printed = service->WaitSettled(report, kSettleWait);
  const auto beeped = service->WaitSettled(beep, kSettleWait);
  EXPECT_EQ(printed->state, JobState::Done);
  EXPECT_EQ(beeped->state, JobState::Done);
  EXPECT_LE(printed->finished, beeped->started);
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.ZReports().size(); }), 1u);
  EXPECT_EQ(StatusOf("a").queueLength, 0u);
}

// On an idle printer a job costs two synchronous commits: queued and
// running with its counter reading together, then the outcome.
TEST_F(JournalFaultTest, AJobOnAnIdlePrinterCostsTwoCommits) {
  AddPrinter("a");
  std::atomic<int> commits{0};
  JobServiceOptions options;
  options.beforeCommit = [&] { ++commits; };
  StartService(std::move(options));
  for (const char* command : {"beep", "z-report", "beep"}) {
    const int before = commits;
    EXPECT_EQ(Run("a", command).state, JobState::Done) << command;
    EXPECT_EQ(commits - before, 2) << command;
  }
  // Busy: the job waits in the queue, and the queued row is a commit of its own.
  Emu(0, [](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(200)); });
  const int before = commits;
  const int64_t first = service->Submit("a", Request("beep"), std::nullopt).job.id;
  const int64_t second = service->Submit("a", Request("beep"), std::nullopt).job.id;
  EXPECT_EQ(service->WaitSettled(first, kSettleWait)->state, JobState::Done);
  EXPECT_EQ(service->WaitSettled(second, kSettleWait)->state, JobState::Done);
  EXPECT_EQ(commits - before, 5);
}

// An exchange that fails by an exception after its request went out may
// have taken effect: in doubt, never taken as nothing sent.
TEST_F(JournalFaultTest, AnExchangeThatThrowsAfterItsFirstByteIsInDoubt) {
  AddPrinter("a");
  JobServiceOptions options;
  options.exchange = [](const zuvcmd::CommandRequest& request) -> zuvcmd::CommandOutcome {
    zuvcmd::Execute(request);
    throw std::runtime_error("the device failed mid-exchange");
  };
  StartService(std::move(options));
  const Job job = Run("a", "feed");
  EXPECT_EQ(job.state, JobState::InDoubt);
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.PaperFeeds(); }), 1);
}

// Whoever hears of a change can read it back from the journal: no event
// runs ahead of its commit.
TEST_F(JournalFaultTest, EveryJobEventIsAlreadyInTheJournal) {
  AddPrinter("a");
  StartService();
  std::mutex mutex;
  std::vector<std::string> mismatches;
  size_t seen = 0;
  const int token = service->Subscribe([&](const std::string& event, const Json& data) {
    if (event != "job") return;
    const auto stored = service->Get(data["id"].get<int64_t>());
    const std::string state = stored ? std::string(ToString(stored->state)) : "none";
    std::lock_guard lock(mutex);
    ++seen;
    // An idle printer commits a job queued and running at once.
    if (state != data["state"] && !(data["state"] == "queued" && state == "running"))
      mismatches.push_back(data.dump() + " stored " + state);
  });
  Run("a", "beep");
  // The second waits behind the first: queued, then running on its own.
  Emu(0, [](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(200)); });
  const int64_t first = service->Submit("a", Request("beep"), std::nullopt).job.id;
  const int64_t second = service->Submit("a", Request("z-report"), std::nullopt).job.id;
  EXPECT_EQ(service->WaitSettled(first, kSettleWait)->state, JobState::Done);
  EXPECT_EQ(service->WaitSettled(second, kSettleWait)->state, JobState::Done);
  Emu(0, [](emu::PrinterEmulator& e) { e.SetDailyReportNumber(3); });
  RunWithLostReply(0, "a", "z-report");
  service->Unsubscribe(token);
  std::lock_guard lock(mutex);
  EXPECT_GE(seen, 13u);  // three for each of three jobs, four for the one in doubt
  EXPECT_TRUE(mismatches.empty()) << mismatches.front();
}

// An online backup (SQLite's backup API, as `sqlite3 journal.sqlite
// ".backup copy"` uses) running page by page among the jobs: no job fails,
// and the copy is a whole journal.
TEST_F(JournalFaultTest, AnOnlineBackupMeanwhileFailsNoJob) {
  AddPrinter("a");
  StartService();
  for (int i = 0; i < 20; ++i) ASSERT_EQ(Run("a", "beep").state, JobState::Done);
  const std::string copyPath = StateDir() + "/backup.sqlite";
  Database source(StateDir() + "/journal.sqlite"), copy(copyPath);
  sqlite3_backup* backup = sqlite3_backup_init(copy.Handle(), "main", source.Handle(), "main");
  ASSERT_NE(backup, nullptr) << sqlite3_errmsg(copy.Handle());
  for (int i = 0; i < 30; ++i) {
    const int rc = sqlite3_backup_step(backup, 1);
    ASSERT_TRUE(rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
        << sqlite3_errstr(rc);
    EXPECT_EQ(Run("a", i % 2 ? "beep" : "z-report").state, JobState::Done) << i;
  }
  while (sqlite3_backup_step(backup, -1) == SQLITE_OK) {
  }
  EXPECT_EQ(sqlite3_backup_finish(backup), SQLITE_OK) << sqlite3_errmsg(copy.Handle());
  EXPECT_FALSE(service->JournalFault());
  EXPECT_EQ(service->Metrics().journalFailures, 0u);
  auto count = copy.Prepare("SELECT COUNT(*) FROM jobs WHERE state = 'done'");
  ASSERT_TRUE(count.Step());
  EXPECT_EQ(count.Int(0), 50);
}

}  // namespace
}  // namespace zuvsrv::testing
