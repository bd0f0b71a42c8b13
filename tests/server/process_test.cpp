// zuv-server as a process: its first line and token, SIGTERM with jobs
// queued, and a kill -9 in the middle of a job.
#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <set>

#include "commands/catalogue.h"
#include "event_reader.h"
#include "server_process.h"

namespace srvtest {
namespace {

uint8_t CommandByte(const char* name) { return uint8_t(zuvcmd::FindCommand(name)->printerCommand); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ServerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    printer_ = std::make_unique<clitest::Printer>(clitest::Transport::kPty, "tty-a");
    ASSERT_TRUE(printer_->Started());
    std::ofstream(state_.Path() + "/given-token") << kToken << "\n";
  }

  // Starts the server on the state directory; its port.
  int Launch(bool givenToken = true) {
    std::vector<std::string> args{"--listen", "127.0.0.1:0", "--state-dir", state_.Path() + "/state",
                                  "--printer", "a=" + printer_->Port()};
    if (givenToken) args.insert(args.end(), {"--token-file", state_.Path() + "/given-token"});
    process_ = std::make_unique<ServerProcess>(args, state_.Path() + "/stderr");
    if (!process_->Started()) return -1;
    const std::string line = process_->FirstLine();
    std::smatch match;
    static const std::regex listen("LISTEN http://127\\.0\\.0\\.1:([0-9]+)");
    if (!std::regex_match(line, match, listen)) {
      ADD_FAILURE() << "first line \"" << line << "\"; stderr: " << ReadFile(state_.Path() + "/stderr");
      return -1;
    }
    port_ = std::stoi(match[1]);
    client_ = ClientFor(port_);
    return port_;
  }

  Json Submit(const std::string& command, const std::string& body, const std::string& query) {
    auto result = client_->Post("/v1/printers/a/" + command + query, WithToken(), body, "application/json");
    return result ? BodyOf(result) : Json();
  }
  Json GetJob(const Json& id) {
    auto result = client_->Get("/v1/jobs/" + id.dump(), WithToken());
    return result ? BodyOf(result) : Json();
  }
  // The job once `done` holds for it (a restarted service settles it on
  // its own thread), told by the event stream.
  Json AwaitJob(const Json& id, const std::function<bool(const Json&)>& done) {
    EventReader reader(port_);
    reader.WaitFor(Connected);
    if (const Json job = GetJob(id); done(job)) return job;
    reader.WaitFor([&](const std::string& text) {
      for (const Event& e : ParseEvents(text))
        if (e.name == "job" && e.data["id"] == id && done(e.data)) return true;
      return false;
    });
    return GetJob(id);
  }
  // Waits until the printer received a frame of `command`.
  bool AwaitCommand(uint8_t command) {
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < end) {
      if (CountOf(command) > 0) return true;
      const size_t seen = printer_->Requests();
      printer_->RequestsOnceAt(seen + 1);
    }
    return false;
  }
  size_t CountOf(uint8_t command) {
    return printer_->Emu([command](emu::PrinterEmulator& e) {
      size_t n = 0;
      for (const auto& request : e.Requests()) n += request.command == command;
      return n;
    });
  }
  std::vector<uint8_t> CommandsAfter(size_t first) {
    return printer_->Emu([first](emu::PrinterEmulator& e) {
      std::vector<uint8_t> commands;
      for (size_t i = first; i < e.Requests().size(); ++i) commands.push_back(e.Requests()[i].command);
      return commands;
    });
  }

  clitest::PortDirectory ports_;
  TempDir state_;
  std::unique_ptr<clitest::Printer> printer_;
  std::unique_ptr<ServerProcess> process_;
  std::unique_ptr<httplib::Client> client_;
  int port_ = -1;
};

TEST_F(ServerProcessTest, FirstLineIsTheAddressAndTheTokenIsMadePrivately) {
  ::unsetenv("ZUV_SERVER_TOKEN");
  ASSERT_GT(Launch(false), 0);
  const std::string tokenFile = state_.Path() + "/state/token";
  struct stat info {};
  ASSERT_EQ(::stat(tokenFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::string token = ReadFile(tokenFile);
  while (!token.empty() && token.back() == '\n') token.pop_back();
  ASSERT_EQ(token.size(), 64u);
  auto printers = client_->Get("/v1/printers", {{"Authorization", "Bearer " + token}});
  ASSERT_TRUE(printers);
  EXPECT_EQ(printers->status, 200);
  // Run from the build tree without --console-dir: the source tree's console.
  auto console = client_->Get("/");
  ASSERT_TRUE(console);
  EXPECT_EQ(console->status, 200);
  EXPECT_NE(console->body.find("<title>zuv console</title>"), std::string::npos);
  EXPECT_EQ(process_->Kill(SIGTERM), 0);
  const std::string err = ReadFile(state_.Path() + "/stderr");
  EXPECT_EQ(err.find(token), std::string::npos) << "the token was logged";
  EXPECT_NE(err.find(tokenFile), std::string::npos) << err;
  EXPECT_NE(err.find("the console is served from /"), std::string::npos) << err;
}

TEST_F(ServerProcessTest, VersionAndBadOptionsStartNothing) {
  ServerProcess version({"--version"}, state_.Path() + "/stderr");
  EXPECT_EQ(version.FirstLine().rfind("zuv-server ", 0), 0u);
  ServerProcess bad({"--state-dir", state_.Path(), "--printer", "no-port"}, state_.Path() + "/stderr");
  EXPECT_EQ(bad.FirstLine(), "");
  EXPECT_NE(ReadFile(state_.Path() + "/stderr").find("ID=PORT"), std::string::npos);
}

TEST_F(ServerProcessTest, SigtermFinishesTheRunningJobAndLeavesTheQueuedOnes) {
  ASSERT_GT(Launch(), 0);
  printer_->Emu([](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(1500)); });
  std::vector<Json> jobs;
  for (int i = 0; i < 3; ++i) jobs.push_back(Submit("beep", "{}", "?wait=0"));
  const uint8_t beep = CommandByte("beep");
  ASSERT_TRUE(AwaitCommand(beep));
  EXPECT_EQ(process_->Kill(SIGTERM), 0);
  EXPECT_EQ(CountOf(beep), 1u) << "queued jobs ran after SIGTERM";

  printer_->Emu([](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(0)); });
  ASSERT_GT(Launch(), 0);
  auto settled = [](const Json& job) { return job["state"] == "done"; };
  EXPECT_EQ(AwaitJob(jobs[0]["id"], settled)["state"], "done");  // it had finished
  EXPECT_EQ(AwaitJob(jobs[1]["id"], settled)["state"], "done");
  EXPECT_EQ(AwaitJob(jobs[2]["id"], settled)["state"], "done");
  EXPECT_EQ(CountOf(beep), 3u);
}

TEST_F(ServerProcessTest, KillDuringAZReportThenTheCounterSettlesItAndNothingIsResent) {
  ASSERT_GT(Launch(), 0);
  // Within the reply budget, so that the reading before the report works.
  printer_->Emu([](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(2000)); });
  const Json job = Submit("z-report", "{}", "?wait=0");
  ASSERT_TRUE(job["id"].is_number()) << job;
  const uint8_t zReport = CommandByte("z-report");
  ASSERT_TRUE(AwaitCommand(zReport));
  process_->Kill(SIGKILL);
  const size_t before = printer_->Requests();

  printer_->Emu([](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(0)); });
  ASSERT_GT(Launch(), 0);
  const Json settled = AwaitJob(job["id"], [](const Json& j) { return j["state"] == "done"; });
  EXPECT_EQ(settled["state"], "done") << settled;
  EXPECT_EQ(settled["settled_by"], "counter") << settled;
  // Done: no error; the stop that left it in doubt is the cause.
  EXPECT_EQ(settled["error"], nullptr) << settled;
  EXPECT_EQ(settled["settlement"]["cause"]["kind"], "stopped") << settled;
  EXPECT_TRUE(settled["settlement"]["after"].contains("report_number")) << settled;
  EXPECT_TRUE(settled["settled_at"].is_string()) << settled;
  EXPECT_EQ(CountOf(zReport), 1u);
  // After the restart only the counter was read.
  for (uint8_t command : CommandsAfter(before)) EXPECT_NE(command, zReport);
}

TEST_F(ServerProcessTest, KillDuringANonfiscalLeavesItInDoubtAndNothingIsResent) {
  ASSERT_GT(Launch(), 0);
  printer_->Emu([](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(3000)); });
  const Json job = Submit("nonfiscal", R"({"lines":["Kafa||120.00"]})", "?wait=0");
  ASSERT_TRUE(job["id"].is_number()) << job;
  ASSERT_TRUE(AwaitCommand(CommandByte("nonfiscal")));
  process_->Kill(SIGKILL);
  const size_t before = printer_->RequestsOnceAt(0);

  printer_->Emu([](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(0)); });
  ASSERT_GT(Launch(), 0);
  const Json doubtful = AwaitJob(job["id"], [](const Json& j) { return j["state"] == "in-doubt"; });
  EXPECT_EQ(doubtful["state"], "in-doubt") << doubtful;
  // A later job runs, and the one in doubt was not sent again.
  EXPECT_EQ(Submit("test", "{}", "")["state"], "done");
  const std::vector<uint8_t> after = CommandsAfter(before);
  EXPECT_EQ(after.size(), 1u);
  EXPECT_EQ(GetJob(job["id"])["state"], "in-doubt");
}

}  // namespace
}  // namespace srvtest
