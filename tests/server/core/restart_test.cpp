// A service that died in the middle of a job: the journal, as the dead
// service left it, is written here directly; the new service must put the
// job in doubt, settle what a counter tells, and send nothing again.
#include "emulator/printer_codes.h"
#include "journal.h"
#include "service_fixture.h"

namespace zuvsrv::testing {
namespace {

class RestartTest : public ServiceTest {
 protected:
  // A job the dead service had marked running, with its counter reading.
  int64_t LeftRunning(const std::string& command, const Json& args, const Json& before,
                      const std::string& printer = "a") {
    std::filesystem::create_directories(StateDir());
    Journal journal(StateDir() + "/journal.sqlite");
    const int64_t id = journal.Insert(printer, command, args, std::nullopt).job.id;
    journal.MarkRunning(id, before);
    return id;
  }
  int64_t LeftQueued(const std::string& command, const std::string& printer = "a") {
    std::filesystem::create_directories(StateDir());
    Journal journal(StateDir() + "/journal.sqlite");
    return journal.Insert(printer, command, Json::object(), std::nullopt).job.id;
  }
  // Requests printer `index` received with command `command`, or with any
  // other command when `other` is set.
  size_t Sent(size_t index, uint8_t command, bool other = false) {
    return Emu(index, [&](emu::PrinterEmulator& e) {
      size_t sent = 0;
      for (const auto& request : e.Requests()) sent += (request.command == command) != other;
      return sent;
    });
  }
  size_t ReportsSent(size_t index) { return Sent(index, emu::printer::kDailyReport); }
  // Waits until the worker has dealt with what the journal held at start:
  // the queued job is the last thing it does.
  void WaitForWorker(int64_t queued) {
    const auto job = service->WaitSettled(queued, kSettleWait);
    ASSERT_TRUE(job);
    ASSERT_TRUE(IsFinal(job->state));
  }
};

TEST_F(RestartTest, AZReportThatPrintedIsSettledDone) {
  AddPrinter("a");
  Emu(0, [](emu::PrinterEmulator& e) { e.SetDailyReportNumber(8); });  // it printed
  const int64_t id = LeftRunning("z-report", Json::object(), {{"report_number", 7}});
  StartService();
  const auto settled = service->WaitSettled(id, kSettleWait);
  ASSERT_TRUE(settled);
  EXPECT_EQ(settled->state, JobState::Done);
  EXPECT_EQ(settled->settledBy, "counter");
  EXPECT_EQ(settled->settlement["before"]["report_number"], 7);
  EXPECT_EQ(settled->settlement["after"]["report_number"], 8);
  EXPECT_EQ(settled->error["kind"], "stopped");
  EXPECT_EQ(Requests(0), 1u) << "one reading, no report";
  EXPECT_TRUE(Emu(0, [](emu::PrinterEmulator& e) { return e.ZReports().empty(); }));
}

TEST_F(RestartTest, AZReportThatDidNotPrintIsSettledNotDoneAndQueuedJobsRunAfter) {
  AddPrinter("a");
  Emu(0, [](emu::PrinterEmulator& e) { e.SetDailyReportNumber(7); });
  const int64_t id = LeftRunning("z-report", Json::object(), {{"report_number", 7}});
  const int64_t queued = LeftQueued("beep");
  StartService();
  WaitForWorker(queued);
  const auto settled = service->Get(id);
  EXPECT_EQ(settled->state, JobState::NotDone);
  EXPECT_EQ(settled->settledBy, "counter");
  EXPECT_EQ(Requests(0), 2u) << "the reading and the queued beep";
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.Beeps(); }), 1);
  EXPECT_TRUE(Emu(0, [](emu::PrinterEmulator& e) { return e.ZReports().empty(); }));
}

TEST_F(RestartTest, NonfiscalTextStaysInDoubtUntilAPersonDecides) {
  AddPrinter("a");
  const int64_t id = LeftRunning("nonfiscal", Json{{"lines", {"Kafa||120.00"}}, {"width", 34}},
                                 nullptr);
  const int64_t queued = LeftQueued("beep");
  StartService();
  WaitForWorker(queued);
  EXPECT_EQ(service->Get(id)->state, JobState::InDoubt);
  EXPECT_EQ(Requests(0), 1u) << "only the queued beep";
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.TakePaper(); }).find("Kafa"),
            std::string::npos);
  EXPECT_EQ(service->Metrics().inDoubt, 1);
  StartService();  // and again: still in doubt, still nothing sent
  EXPECT_EQ(service->Get(id)->state, JobState::InDoubt);
  EXPECT_EQ(service->Resolve(id, true, "printed").state, JobState::Done);
  EXPECT_EQ(Requests(0), 1u);
}

// While the printer cannot be read, the job stays in doubt and nothing else
// is sent: a later job would change the counter and spoil the comparison.
TEST_F(RestartTest, NothingIsSentWhileAJobWaitsForItsCounter) {
  AddPrinter("a");
  Emu(0, [](emu::PrinterEmulator& e) {
    e.SetDailyReportNumber(7);
    e.InjectSilence(emu::kAlways);
  });
  const int64_t id = LeftRunning("z-report", Json::object(), {{"report_number", 7}});
  StartService();
  const Job blocked = Run("a", "z-report");
  EXPECT_EQ(blocked.state, JobState::Failed);
  const Job beep = Run("a", "beep");  // one that needs no reading of its own
  EXPECT_EQ(beep.state, JobState::Failed);
  EXPECT_EQ(Sent(0, emu::printer::kDailyReportNumber, true), 0u)
      << "nothing but readings reached the printer";
  EXPECT_EQ(service->Get(id)->state, JobState::InDoubt);
  Emu(0, [](emu::PrinterEmulator& e) { e.ClearFaults(); });
  const Job next = Run("a", "beep");
  EXPECT_EQ(next.state, JobState::Done);
  EXPECT_EQ(service->Get(id)->state, JobState::NotDone);
  EXPECT_TRUE(Emu(0, [](emu::PrinterEmulator& e) { return e.ZReports().empty(); }));
}

// A job in doubt holds up its own printer only: the other printer's jobs
// run, and its counter is never read for the job of another.
TEST_F(RestartTest, AJobInDoubtHoldsUpOnlyItsOwnPrinter) {
  AddPrinter("a");
  AddPrinter("b");
  Emu(0, [](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
  const int64_t id = LeftRunning("z-report", Json::object(), {{"report_number", 7}});
  StartService();
  EXPECT_EQ(Run("b", "beep").state, JobState::Done);
  EXPECT_EQ(Run("b", "z-report").state, JobState::Done);
  EXPECT_EQ(Requests(1), 3u) << "the beep, the report's reading and the report";
  EXPECT_EQ(service->Get(id)->state, JobState::InDoubt);
  EXPECT_EQ(ReportsSent(0), 0u);
}

// Queued jobs left for two printers each go to their own printer, in order;
// the jobs of a printer that cannot be opened fail, and no other's do.
TEST_F(RestartTest, QueuedJobsRunOnTheirOwnPrinterAtTheNextStart) {
  AddPrinter("a");
  AddPrinter("b");
  const int64_t a1 = LeftQueued("beep", "a"), b1 = LeftQueued("feed", "b");
  const int64_t a2 = LeftQueued("beep", "a"), b2 = LeftQueued("cut", "b");
  StartService();
  for (const int64_t id : {a1, a2, b1, b2})
    EXPECT_EQ(service->WaitSettled(id, kSettleWait)->state, JobState::Done) << id;
  EXPECT_EQ(Requests(0), 2u);
  EXPECT_EQ(Requests(1), 2u);
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.Beeps(); }), 2);
  EXPECT_EQ(Emu(1, [](emu::PrinterEmulator& e) { return e.PaperFeeds(); }), 1);
  EXPECT_EQ(Emu(1, [](emu::PrinterEmulator& e) { return e.Beeps(); }), 0);
  StopService();

  AddMissingPrinter("gone");
  const int64_t a3 = LeftQueued("beep", "a"), gone = LeftQueued("beep", "gone");
  const int64_t a4 = LeftQueued("beep", "a");
  StartService();
  EXPECT_EQ(service->WaitSettled(gone, kSettleWait)->error["kind"], "port");
  EXPECT_EQ(service->WaitSettled(a3, kSettleWait)->state, JobState::Done);
  EXPECT_EQ(service->WaitSettled(a4, kSettleWait)->state, JobState::Done);
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.Beeps(); }), 4);
}

// The worker reads the counter again by itself every few seconds: the job
// is settled once the printer answers, though no other job comes.
TEST_F(RestartTest, ACounterThatDidNotAnswerIsReadAgainWithoutAnotherJob) {
  AddPrinter("a");
  Emu(0, [](emu::PrinterEmulator& e) {
    e.SetDailyReportNumber(7);
    e.InjectSilence(emu::kAlways);
  });
  const int64_t id = LeftRunning("z-report", Json::object(), {{"report_number", 7}});
  StartService();
  EventLog events(*service);
  ASSERT_TRUE(Printer(0).WaitForRequests(1, kSettleWait));
  Emu(0, [](emu::PrinterEmulator& e) { e.ClearFaults(); });
  ASSERT_TRUE(events.WaitForJob(id, "not-done"));
  EXPECT_EQ(service->Get(id)->settledBy, "counter");
  EXPECT_TRUE(Emu(0, [](emu::PrinterEmulator& e) { return e.ZReports().empty(); }));
}

// Ended jobs past their retention are deleted at start (and daily); jobs in
// doubt and queued ones stay, and the metrics follow.
TEST_F(RestartTest, RetentionDeletesEndedJobsOnly) {
  AddPrinter("a");
  StartService();
  Run("a", "beep");
  Emu(0, [](emu::PrinterEmulator& e) { e.InjectError(0x21); });
  Run("a", "feed");
  Emu(0, [](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
  const Job doubt = Run("a", "cut");
  ASSERT_EQ(doubt.state, JobState::InDoubt);
  StopService();
  const int64_t queued = LeftQueued("beep");

  JobServiceOptions keepAll;  // the default 90 days keeps today's jobs
  StartService(keepAll);
  WaitForWorker(queued);
  EXPECT_EQ(service->List(std::nullopt, std::nullopt, 100).size(), 4u);
  StopService();

  JobServiceOptions none;
  none.retentionDays = 0;
  StartService(std::move(none));
  const auto left = service->List(std::nullopt, std::nullopt, 100);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].id, doubt.id);
  const auto metrics = service->Metrics();
  EXPECT_EQ(metrics.jobs, (std::map<std::string, std::map<std::string, int64_t>>{
                              {"a", {{"in-doubt", 1}}}}));
}

}  // namespace
}  // namespace zuvsrv::testing
