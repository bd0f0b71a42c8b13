// Detection run by a printer's worker: it finds the speed on the printer's
// own port, the worker goes on at that speed, and nothing is ever in doubt.
#include "journal.h"
#include "service_fixture.h"

namespace zuvsrv::testing {
namespace {

constexpr int kLineBaud = 9600;
constexpr int kConfiguredBaud = 115200;

TEST_F(ServiceTest, DetectionFindsTheLineSpeedAndTheWorkerGoesOnAtIt) {
  AddPrinter("a", kLineBaud);
  StartService();
  // At the configured speed the printer hears only noise.
  EXPECT_EQ(Run("a", "test").state, JobState::Failed);
  EXPECT_EQ(StatusOf("a").baud, kConfiguredBaud);

  std::vector<Json> printerEvents;
  std::mutex eventsMutex;
  service->Subscribe([&](const std::string& event, const Json& data) {
    std::lock_guard lock(eventsMutex);
    if (event == "printer") printerEvents.push_back(data);
  });
  const Job detected = Detect("a");
  EXPECT_EQ(detected.command, kDetectCommand);
  ASSERT_EQ(detected.state, JobState::Done) << detected.error;
  EXPECT_TRUE(detected.error.is_null());
  EXPECT_EQ(detected.result["port"], "tty_a");
  EXPECT_EQ(detected.result["baud"], kLineBaud);
  EXPECT_EQ(detected.result["configured_baud"], kConfiguredBaud);
  ASSERT_EQ(detected.result["ports"].size(), 1u);
  EXPECT_EQ(detected.result["ports"][0]["finding"], "answered");

  EXPECT_EQ(StatusOf("a").baud, kLineBaud);
  EXPECT_EQ(StatusOf("a").state, PrinterState::Idle);
  EXPECT_EQ(ToJson(StatusOf("a"))["baud"], kLineBaud);
  {
    std::lock_guard lock(eventsMutex);
    const bool told = std::any_of(printerEvents.begin(), printerEvents.end(),
                                  [](const Json& p) { return p["baud"] == kLineBaud; });
    EXPECT_TRUE(told) << "listeners hear of the new speed";
  }
  const size_t before = Requests(0);
  EXPECT_EQ(Run("a", "test").state, JobState::Done);
  EXPECT_EQ(Requests(0), before + 1);
}

TEST_F(ServiceTest, NoPrinterOnThePortFailsAndSaysWhy) {
  AddMissingPrinter("gone");
  AddPrinter("quiet");
  StartService();
  Emu(0, [](emu::PrinterEmulator& e) { e.InjectSilence(1000); });

  const Job missing = Detect("gone");
  EXPECT_EQ(missing.state, JobState::Failed);
  EXPECT_EQ(missing.error["kind"], "link");
  EXPECT_NE(missing.error["message"].get<std::string>().find("no printer answered on tty_missing_gone"),
            std::string::npos) << missing.error;
  ASSERT_EQ(missing.result["ports"].size(), 1u);
  EXPECT_EQ(missing.result["ports"][0]["finding"], "unusable");
  EXPECT_FALSE(missing.result["ports"][0]["detail"].get<std::string>().empty());
  EXPECT_FALSE(missing.result.contains("baud"));
  EXPECT_EQ(StatusOf("gone").state, PrinterState::Offline);

  const Job silent = Detect("quiet");
  EXPECT_EQ(silent.state, JobState::Failed);
  EXPECT_EQ(silent.result["ports"][0]["finding"], "silent");
  EXPECT_EQ(StatusOf("quiet").baud, kConfiguredBaud) << "the speed stays as configured";
  // The port is open again: the printer serves as soon as it answers.
  Emu(0, [](emu::PrinterEmulator& e) { e.InjectSilence(0); });
  EXPECT_EQ(Run("quiet", "test").state, JobState::Done);
}

// A device server sets the line's speed: nothing is claimed, and the worker
// gives up its connection for the search's (many take one client at a time).
TEST_F(ServiceTest, DetectionOverTcpClaimsNoSpeed) {
  emu::TcpServer& server = AddTcpPrinter("net");
  StartService();
  EXPECT_EQ(Run("net", "test").state, JobState::Done);
  EXPECT_EQ(ToJson(StatusOf("net"))["baud"], nullptr);
  const Job detected = Detect("net");
  ASSERT_EQ(detected.state, JobState::Done) << detected.error;
  EXPECT_EQ(detected.result["baud"], nullptr);
  EXPECT_EQ(detected.result["ports"][0]["finding"], "answered");
  EXPECT_EQ(Run("net", "test").state, JobState::Done);
  EXPECT_EQ(server.Connections(), 3u) << "the worker's, the search's, the worker's again";
}

TEST_F(ServiceTest, JobsQueuedBehindDetectionRunAfterItInOrder) {
  AddPrinter("a", kLineBaud);
  StartService();
  const auto detect = service->Detect("a", std::nullopt);
  const auto beep = service->Submit("a", Request("beep"), std::nullopt);
  const auto job = service->WaitSettled(beep.job.id, kSettleWait);
  ASSERT_TRUE(job);
  EXPECT_EQ(job->state, JobState::Done) << "sent at the speed found";
  EXPECT_EQ(service->Get(detect.job.id)->state, JobState::Done);
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.Beeps(); }), 1);

  // One key, one detection.
  const auto first = service->Detect("a", std::string("find-1"));
  const auto again = service->Detect("a", std::string("find-1"));
  EXPECT_TRUE(again.replayed);
  EXPECT_EQ(again.job.id, first.job.id);
  EXPECT_THROW(service->Detect("nobody", std::nullopt), UnknownPrinter);
}

// A z-report in doubt cannot be settled while the printer is heard at the
// wrong speed; once detection finds the speed its counter settles it.
TEST_F(ServiceTest, DetectionLetsAJobInDoubtBeSettled) {
  AddPrinter("a", kLineBaud);
  Emu(0, [](emu::PrinterEmulator& e) { e.SetDailyReportNumber(8); });
  int64_t id = 0;
  {
    std::filesystem::create_directories(StateDir());
    Journal journal(StateDir() + "/journal.sqlite");
    id = journal.Insert("a", "z-report", Json::object(), std::nullopt).job.id;
    journal.MarkRunning(id, {{"report_number", 7}});
  }
  StartService();
  EXPECT_EQ(service->WaitSettled(id, kSettleWait)->state, JobState::InDoubt);
  EXPECT_EQ(Detect("a").state, JobState::Done);
  const auto settled = service->Get(id);
  EXPECT_EQ(settled->state, JobState::Done);
  EXPECT_EQ(settled->settledBy, "counter");
  EXPECT_TRUE(Emu(0, [](emu::PrinterEmulator& e) { return e.ZReports().empty(); }))
      << "settled by reading, never by sending again";
}

// Cut off by a stop, detection and reads changed nothing: they fail and may
// be run again; a command that prints stays in doubt.
TEST_F(ServiceTest, CutOffJobsThatChangeNothingFailInsteadOfWaitingForAPerson) {
  AddPrinter("a");
  std::filesystem::create_directories(StateDir());
  int64_t detect = 0, read = 0, print = 0;
  {
    Journal journal(StateDir() + "/journal.sqlite");
    for (auto [command, id] : {std::pair{kDetectCommand, &detect}, {"clock", &read},
                               {"feed", &print}}) {
      *id = journal.Insert("a", command, Json::object(), std::nullopt).job.id;
      journal.MarkRunning(*id, nullptr);
    }
  }
  StartService();
  for (int64_t id : {detect, read}) {
    const auto job = service->Get(id);
    EXPECT_EQ(job->state, JobState::Failed) << job->command;
    EXPECT_EQ(job->error["kind"], "stopped");
  }
  EXPECT_EQ(service->Get(print)->state, JobState::InDoubt);
  EXPECT_EQ(Requests(0), 0u);
}

}  // namespace
}  // namespace zuvsrv::testing
