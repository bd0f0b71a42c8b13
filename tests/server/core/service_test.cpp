// One printer at a time: how jobs end, idempotency, resolving, events,
// metrics, stopping, and a port that comes and goes.
#include <atomic>
#include <mutex>
#include <thread>

#include "journal.h"
#include "service_fixture.h"

namespace zuvsrv::testing {
namespace {

TEST_F(ServiceTest, JobsEndDoneFailedOrInDoubt) {
  AddPrinter("a");
  StartService();

  const Job done = Run("a", "beep");
  EXPECT_EQ(done.state, JobState::Done);
  EXPECT_TRUE(done.error.is_null());
  EXPECT_FALSE(done.started.empty());
  EXPECT_FALSE(done.finished.empty());

  Emu(0, [](emu::PrinterEmulator& e) { e.InjectError(0x21); });
  const Job refused = Run("a", "feed");
  EXPECT_EQ(refused.state, JobState::Failed);
  EXPECT_EQ(refused.error["kind"], "printer");
  EXPECT_EQ(refused.error["code"], 0x21);

  // Acknowledged, carried out, reply lost: the paper moved, and nobody may
  // send it again.
  Emu(0, [](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
  const size_t before = Requests(0);
  const Job doubt = Run("a", "feed");
  EXPECT_EQ(doubt.state, JobState::InDoubt);
  EXPECT_EQ(Requests(0), before + 1);
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.PaperFeeds(); }), 1);
  EXPECT_TRUE(doubt.settledBy.empty());

  // A read that lost its reply changed nothing: failed, safe to repeat.
  Emu(0, [](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
  EXPECT_EQ(Run("a", "clock").state, JobState::Failed);

  const auto clock = Run("a", "clock");
  EXPECT_EQ(clock.state, JobState::Done);
  EXPECT_TRUE(clock.result.is_object());
  EXPECT_FALSE(clock.result.empty());
}

// The lost reply of a Z report is told by the report number: the worker
// reads it again at once and settles the job itself.
TEST_F(ServiceTest, InDoubtZReportIsSettledByItsCounter) {
  AddPrinter("a");
  StartService();
  Emu(0, [](emu::PrinterEmulator& e) { e.SetDailyReportNumber(41); });
  const Job job = RunWithLostReply(0, "a", "z-report");
  EXPECT_EQ(job.state, JobState::Done);
  EXPECT_EQ(job.settledBy, "counter");
  EXPECT_EQ(job.settlement["before"]["report_number"], 41);
  EXPECT_EQ(job.settlement["after"]["report_number"], 42);
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.ZReports().size(); }), 1u);
}

// Payments, closing and voiding are told by the open receipt's state, as
// the printer reports it.
TEST_F(ServiceTest, InDoubtReceiptCommandsAreSettledByTheReceiptState) {
  AddPrinter("a");
  StartService();
  const auto sell = [this] {
    EXPECT_TRUE(Emu(0, [](emu::PrinterEmulator& e) { return e.Sell({{"Kafa", 50000, 1000}}); }));
  };
  sell();
  const Job part = RunWithLostReply(0, "a", "pay", {{"type", "card"}, {"amount", "200.00"}});
  EXPECT_EQ(part.state, JobState::Done);
  EXPECT_EQ(part.settledBy, "counter");
  EXPECT_TRUE(Emu(0, [](emu::PrinterEmulator& e) { return e.ReceiptOpen(); }));

  const int32_t number = Emu(0, [](emu::PrinterEmulator& e) { return e.ReceiptNumber(); });
  const Job rest = RunWithLostReply(0, "a", "pay", {{"type", "cash"}, {"amount", "300.00"}});
  EXPECT_EQ(rest.state, JobState::Done) << rest.settlement.dump();
  EXPECT_FALSE(Emu(0, [](emu::PrinterEmulator& e) { return e.ReceiptOpen(); }));
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.ReceiptNumber(); }), number + 1);

  sell();
  const Job closed = RunWithLostReply(0, "a", "close");
  EXPECT_EQ(closed.state, JobState::Done) << closed.settlement.dump();
  EXPECT_FALSE(Emu(0, [](emu::PrinterEmulator& e) { return e.ReceiptOpen(); }));

  sell();
  const Job voided = RunWithLostReply(0, "a", "void");
  EXPECT_EQ(voided.state, JobState::Done) << voided.settlement.dump();
  EXPECT_EQ(voided.settlement["before"]["items"], 1);
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.Daily().voided; }), 1);
}

TEST_F(ServiceTest, OnlyJobsInDoubtAreResolvedAndOnlyOnce) {
  AddPrinter("a");
  StartService();
  Emu(0, [](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
  const Job doubt = Run("a", "cut");
  ASSERT_EQ(doubt.state, JobState::InDoubt);
  const Job resolved = service->Resolve(doubt.id, true, "paper was cut");
  EXPECT_EQ(resolved.state, JobState::Done);
  EXPECT_EQ(resolved.settledBy, "person");
  EXPECT_EQ(resolved.settlement["note"], "paper was cut");
  EXPECT_EQ(service->Get(doubt.id)->state, JobState::Done);
  EXPECT_THROW(service->Resolve(doubt.id, false, "again"), NotInDoubt);
  EXPECT_THROW(service->Resolve(Run("a", "beep").id, true, ""), NotInDoubt);
  EXPECT_THROW(service->Resolve(doubt.id + 1000, true, ""), UnknownJob);

  Emu(0, [](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
  const Job second = Run("a", "cut");
  EXPECT_EQ(service->Resolve(second.id, false, "").state, JobState::NotDone);
}

TEST_F(ServiceTest, AKeyBindsOneJobAlsoAfterARestartAndUnderRace) {
  AddPrinter("a");
  StartService();
  const Job first = Run("a", "beep", Json::object(), "sale-1");
  const size_t sent = Requests(0);
  const auto again = service->Submit("a", Request("beep"), "sale-1");
  EXPECT_TRUE(again.replayed);
  EXPECT_EQ(again.job.id, first.id);
  EXPECT_EQ(again.job.state, JobState::Done);
  EXPECT_THROW(service->Submit("a", Request("feed"), "sale-1"), IdempotencyConflict);
  EXPECT_THROW(service->Submit("b", Request("beep"), "sale-1"), UnknownPrinter);

  StartService();
  const auto afterRestart = service->Submit("a", Request("beep"), "sale-1");
  EXPECT_TRUE(afterRestart.replayed);
  EXPECT_EQ(afterRestart.job.id, first.id);

  // Twenty keys, each sent by two threads at once.
  std::vector<int64_t> ids[2];
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&, t] {
      for (int k = 0; k < 20; ++k)
        ids[t].push_back(
            service->Submit("a", Request("beep"), "race-" + std::to_string(k)).job.id);
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ids[0], ids[1]);
  for (int64_t id : ids[0]) EXPECT_EQ(service->WaitSettled(id, kSettleWait)->state, JobState::Done);
  EXPECT_EQ(Requests(0), sent + 20) << "one exchange per key";
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.Beeps(); }), 21);
}

TEST_F(ServiceTest, EventsFollowEachJobInOrder) {
  AddPrinter("a");
  StartService();
  std::mutex mutex;
  std::vector<std::pair<std::string, Json>> events;
  const int token = service->Subscribe([&](const std::string& event, const Json& data) {
    std::lock_guard lock(mutex);
    events.emplace_back(event, data);
  });
  const Job first = Run("a", "beep");
  Emu(0, [](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
  const Job second = Run("a", "feed");
  service->Resolve(second.id, false, "");
  service->Unsubscribe(token);
  Run("a", "beep");

  std::lock_guard lock(mutex);
  std::vector<std::string> states[2];
  std::vector<std::string> printerStates;
  for (const auto& [event, data] : events) {
    if (event == "printer") {
      printerStates.push_back(data["state"]);
      continue;
    }
    ASSERT_EQ(event, "job");
    const int64_t id = data["id"];
    ASSERT_TRUE(id == first.id || id == second.id) << "nothing after Unsubscribe";
    states[id == first.id ? 0 : 1].push_back(data["state"]);
  }
  EXPECT_EQ(states[0], (std::vector<std::string>{"queued", "running", "done"}));
  EXPECT_EQ(states[1], (std::vector<std::string>{"queued", "running", "in-doubt", "not-done"}));
  ASSERT_FALSE(printerStates.empty());
  EXPECT_EQ(printerStates.back(), "idle");
  EXPECT_NE(std::find(printerStates.begin(), printerStates.end(), "busy"), printerStates.end());
}

// A job queued or taken changes the printer's queue: each says so.
TEST_F(ServiceTest, PrinterEventsFollowTheQueue) {
  auto& printer = AddPrinter("a");
  StartService();
  std::mutex mutex;
  std::vector<size_t> lengths;
  const int token = service->Subscribe([&](const std::string& event, const Json& data) {
    std::lock_guard lock(mutex);
    if (event == "printer") lengths.push_back(data["queue_length"]);
  });
  // The first job holds the printer (its reply comes well within the
  // driver's budget) while two more come.
  Emu(0, [](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(1500)); });
  std::vector<int64_t> ids{service->Submit("a", Request("beep"), std::nullopt).job.id};
  ASSERT_TRUE(printer.WaitForRequests(1, kSettleWait));
  for (int i = 0; i < 2; ++i) ids.push_back(service->Submit("a", Request("beep"), std::nullopt).job.id);
  {
    // Heard at once, while the first job still runs.
    std::lock_guard lock(mutex);
    ASSERT_FALSE(lengths.empty());
    EXPECT_EQ(lengths.back(), 2u);
  }
  Emu(0, [](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(0)); });
  for (int64_t id : ids) EXPECT_EQ(service->WaitSettled(id, kSettleWait)->state, JobState::Done);
  service->Unsubscribe(token);
  std::lock_guard lock(mutex);
  EXPECT_EQ(lengths.back(), 0u);
}

TEST_F(ServiceTest, MetricsCountJobsAndExchanges) {
  AddPrinter("a");
  StartService();
  for (int i = 0; i < 3; ++i) Run("a", "beep");
  Emu(0, [](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
  Run("a", "feed");
  service->Resolve(service->List(JobState::InDoubt, std::nullopt, 1).at(0).id, false, "");
  Emu(0, [](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
  Run("a", "feed");
  const auto metrics = service->Metrics();
  // Kept in memory as jobs change: the same as the journal holds.
  EXPECT_EQ(metrics.jobs, Journal(StateDir() + "/journal.sqlite").Counts());
  EXPECT_EQ(metrics.jobs.at("a").at("not-done"), 1);
  EXPECT_EQ(metrics.jobs.at("a").at("done"), 3);
  EXPECT_EQ(metrics.jobs.at("a").at("in-doubt"), 1);
  EXPECT_EQ(metrics.inDoubt, 1);
  EXPECT_EQ(metrics.queueDepth.at("a"), 0u);
  EXPECT_EQ(metrics.exchange.count, 5u);
  EXPECT_GT(metrics.exchange.sum, 0.0);
  ASSERT_EQ(metrics.exchange.counts.size(), metrics.exchange.bounds.size());
  EXPECT_EQ(metrics.exchange.counts.back(), 5u);  // the lost reply waited seconds, not minutes
  for (size_t i = 1; i < metrics.exchange.counts.size(); ++i)
    EXPECT_LE(metrics.exchange.counts[i - 1], metrics.exchange.counts[i]);
}

// Stop lets the exchange in hand finish and leaves the rest queued; the
// next start runs them.
TEST_F(ServiceTest, StopLeavesQueuedJobsForTheNextStart) {
  auto& printer = AddPrinter("a");
  StartService();
  Emu(0, [](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(300)); });
  std::vector<int64_t> ids;
  for (int i = 0; i < 5; ++i)
    ids.push_back(service->Submit("a", Request("beep"), std::nullopt).job.id);
  ASSERT_TRUE(printer.WaitForRequests(1, kSettleWait));
  service->Stop();
  EXPECT_EQ(service->Get(ids[0])->state, JobState::Done);
  const size_t ran = Requests(0);
  size_t queued = 0;
  for (int64_t id : ids) queued += service->Get(id)->state == JobState::Queued;
  EXPECT_EQ(queued, ids.size() - ran);
  EXPECT_GE(queued, 1u);
  // Submitted after Stop: kept for the next start.
  ids.push_back(service->Submit("a", Request("beep"), std::nullopt).job.id);
  StopService();

  Emu(0, [](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(0)); });
  StartService();
  for (int64_t id : ids) EXPECT_EQ(service->WaitSettled(id, kSettleWait)->state, JobState::Done);
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.Beeps(); }), 6);
}

TEST_F(ServiceTest, APortThatFailsIsReopenedOnTheNextJob) {
  auto& printer = AddPrinter("a");
  AddMissingPrinter("none");
  StartService();
  const Job missing = Run("none", "beep");
  EXPECT_EQ(missing.state, JobState::Failed);
  EXPECT_EQ(missing.error["kind"], "port");
  const auto statuses = service->Printers();
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_EQ(statuses[1].state, PrinterState::Offline);
  EXPECT_FALSE(statuses[1].lastError.is_null());

  EXPECT_EQ(Run("a", "beep").state, JobState::Done);
  printer.Stop();  // unplugged: the line hangs up
  const Job lost = Run("a", "beep");
  EXPECT_EQ(lost.state, JobState::Failed);
  emu::PtyOptions options;
  options.link = true;
  options.link_name = "tty_a";
  ASSERT_TRUE(printer.Start(options)) << printer.Error();
  EXPECT_EQ(Run("a", "beep").state, JobState::Done);
  EXPECT_EQ(service->Printers()[0].state, PrinterState::Idle);
}

TEST_F(ServiceTest, UnknownPrinterAndDuplicateConfigurationAreRefused) {
  AddPrinter("a");
  StartService();
  EXPECT_THROW(service->Submit("nope", Request("beep"), std::nullopt), UnknownPrinter);
  EXPECT_TRUE(service->HasPrinter("a"));
  EXPECT_FALSE(service->HasPrinter("nope"));
  EXPECT_EQ(service->List(std::nullopt, std::nullopt, 10).size(), 0u);
  StopService();
  std::vector<PrinterConfig> twice = {{"a", "tty_a", 115200, "GBR"}, {"a", "tty_b", 115200, "GBR"}};
  EXPECT_THROW(JobService(StateDir(), twice), std::invalid_argument);
}

}  // namespace
}  // namespace zuvsrv::testing
