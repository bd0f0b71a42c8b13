// zuv-server as a process: its first line and token, SIGTERM with jobs
// queued, and a kill -9 in the middle of a job.
#include <algorithm>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>

#include <fstream>
#include <regex>
#include <set>

#include "commands/catalogue.h"
#include "event_reader.h"
#include "raw_socket.h"
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

  std::vector<std::string> Args(const std::string& listen = "127.0.0.1:0") {
    return {"--listen", listen, "--state-dir", state_.Path() + "/state", "--printer", "a=" + printer_->Port(),
            "--token-file", state_.Path() + "/given-token"};
  }
  // Starts the server on the state directory; its port.
  int Launch(bool givenToken = true) {
    std::vector<std::string> args = Args();
    if (!givenToken) args.resize(args.size() - 2);
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
  std::unique_ptr<HttpClient> client_;
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

TEST_F(ServerProcessTest, StartWarnsOfAnOpenCorsOriginAndAShortReadableToken) {
  const std::string config = state_.Path() + "/config.toml";
  std::ofstream(config) << "cors_origins = [\"https://till.example\", \"null\", \"*\"]\n";
  ::chmod((state_.Path() + "/given-token").c_str(), 0644);
  std::vector<std::string> args = Args();
  args.insert(args.end(), {"--config", config});
  ServerProcess server(args, state_.Path() + "/stderr");
  EXPECT_EQ(server.FirstLine().rfind("LISTEN ", 0), 0u);
  EXPECT_EQ(server.Kill(SIGTERM), 0);
  const std::string err = ReadFile(state_.Path() + "/stderr");
  for (const char* warning : {"cors_origins holds \"null\"", "cors_origins holds \"*\"",
                              "readable by others", "shorter than 32"})
    EXPECT_NE(err.find(warning), std::string::npos) << warning << " in " << err;
  EXPECT_EQ(err.find("till.example"), std::string::npos) << err;
  EXPECT_EQ(err.find(kToken), std::string::npos) << "the token was logged";
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
  // In flight when the signal comes: a stream and a request waiting for its job.
  const int stream = RawConnect(port_, "GET /v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                                           std::string(kToken) + "\r\n\r\n");
  ReadUntil(stream, Connected);
  const int waiting = RawConnect(port_, "POST /v1/printers/a/beep?wait=600000 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                        "Authorization: Bearer " + std::string(kToken) +
                                        "\r\nContent-Length: 2\r\n\r\n{}");
  const std::string told =
      ReadUntil(stream, [](const std::string& t) { return t.find("\"queued\"") != std::string::npos; });
  // The job's own event; its printer's (a longer queue) may follow it.
  const std::vector<Event> events = ParseEvents(told);
  const auto queued = std::find_if(events.rbegin(), events.rend(), [](const Event& e) {
    return e.name == "job" && e.data["state"] == "queued";
  });
  ASSERT_NE(queued, events.rend()) << told;
  jobs.push_back(queued->data);
  EXPECT_EQ(process_->Kill(SIGTERM), 0);
  EXPECT_TRUE(ClosedByPeer(stream));
  EXPECT_TRUE(ClosedByPeer(waiting));
  ::close(stream);
  ::close(waiting);
  EXPECT_EQ(CountOf(beep), 1u) << "queued jobs ran after SIGTERM";

  printer_->Emu([](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(0)); });
  ASSERT_GT(Launch(), 0);
  auto settled = [](const Json& job) { return job["state"] == "done"; };
  EXPECT_EQ(AwaitJob(jobs[0]["id"], settled)["state"], "done");  // it had finished
  EXPECT_EQ(AwaitJob(jobs[1]["id"], settled)["state"], "done");
  EXPECT_EQ(AwaitJob(jobs[2]["id"], settled)["state"], "done");
  // The waiting request's job was queued: it runs after the restart.
  EXPECT_EQ(AwaitJob(jobs[3]["id"], settled)["state"], "done");
  EXPECT_EQ(CountOf(beep), 4u);
}

TEST_F(ServerProcessTest, ASecondInstanceOnTheStateDirIsRefusedAndTheFirstGoesOn) {
  ASSERT_GT(Launch(), 0);
  ASSERT_EQ(Submit("beep", "{}", "")["state"], "done");
  const std::string stateDir = state_.Path() + "/state";
  const std::string lock = ReadFile(stateDir + "/lock");
  EXPECT_EQ(lock, std::to_string(process_->Pid()) + "\n");
  ServerProcess second(Args(), state_.Path() + "/stderr-second");
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_EQ(ReadFile(state_.Path() + "/stderr-second"),
            "another zuv-server (pid " + std::to_string(process_->Pid()) + ") is using " + stateDir + "\n");
  EXPECT_EQ(ReadFile(stateDir + "/lock"), lock);
  // The first one still answers and still prints.
  auto health = client_->Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  EXPECT_EQ(Submit("beep", "{}", "")["state"], "done");
  EXPECT_EQ(CountOf(CommandByte("beep")), 2u);
}

TEST_F(ServerProcessTest, APortInUseEndsTheStartBeforeTheJournalIsOpened) {
  const int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  ASSERT_EQ(::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &size), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));
  ServerProcess server(Args("127.0.0.1:" + port), state_.Path() + "/stderr");
  EXPECT_EQ(server.Wait(), 1);
  const std::string err = ReadFile(state_.Path() + "/stderr");
  EXPECT_NE(err.find("cannot listen on 127.0.0.1:" + port), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(state_.Path() + "/state/journal.sqlite")) << "the journal was opened";
  ::close(taken);
}

// What a busy till's network may hold open: idle connections, clients that
// never finish their header, event streams. None of them keeps the service
// from answering or from printing.
TEST_F(ServerProcessTest, HeldConnectionsAndStreamsLeaveTheServiceAnswering) {
  ASSERT_GT(Launch(), 0);
  std::vector<int> held;
  for (int i = 0; i < 150; ++i) held.push_back(RawConnect(port_));
  for (int i = 0; i < 100; ++i) held.push_back(RawConnect(port_, "GET /healthz HTTP/1.1\r\nHost: 127.0"));
  std::vector<int> streams;
  const std::string events = "GET /v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                             std::string(kToken) + "\r\n\r\n";
  for (int i = 0; i < 200; ++i) streams.push_back(RawConnect(port_, events));
  for (int fd : streams) EXPECT_TRUE(Connected(ReadUntil(fd, Connected)));
  for (int fd : held) EXPECT_GE(fd, 0);

  auto health = ClientFor(port_)->Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  const Json job = Submit("beep", "{}", "");
  EXPECT_EQ(job["state"], "done") << job;
  // The job's end reaches every stream.
  const std::string done = "\"id\":" + job["id"].dump() + ",";
  size_t told = 0;
  for (int fd : streams) {
    const std::string text = ReadUntil(fd, [&](const std::string& t) {
      return t.find(done) != std::string::npos && t.find("\"done\"", t.find(done)) != std::string::npos;
    });
    told += text.find(done) != std::string::npos;
  }
  EXPECT_EQ(told, streams.size());
  for (int fd : held) ::close(fd);
  for (int fd : streams) ::close(fd);
}

TEST_F(ServerProcessTest, OversizedAndEncodedRequestsAreRefusedWithoutHoldingMemory) {
  ASSERT_GT(Launch(), 0);
  ASSERT_EQ(client_->Get("/healthz")->status, 200);
  const long before = process_->PeakKiB();
  ASSERT_GT(before, 0);
  const std::string head = "POST /v1/printers/a/nonfiscal HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                           "Authorization: Bearer " + std::string(kToken) + "\r\n";
  std::string chunks;
  for (int i = 0; i < 64; ++i) chunks += "40000\r\n" + std::string(0x40000, ' ') + "\r\n";
  const std::vector<std::pair<std::string, int>> requests{
      {head + "Transfer-Encoding: chunked\r\n\r\n" + chunks + "0\r\n\r\n", 413},
      {head + "Content-Encoding: gzip\r\nContent-Length: 524288\r\n\r\n" + std::string(1 << 19, 'z'), 415},
      {head + "X-Huge: " + std::string(16 << 20, 'h') + "\r\n\r\n", 431},
  };
  std::vector<std::thread> senders;
  std::atomic<int> refused{0};
  for (int round = 0; round < 4; ++round)
    for (const auto& [request, status] : requests)
      senders.emplace_back([&, &request = request, status = status] {
        const std::string answer = RawExchange(port_, request);
        refused += StatusOf(answer) == status;
        if (StatusOf(answer) != status) ADD_FAILURE() << status << " " << answer.substr(0, 200);
      });
  for (std::thread& t : senders) t.join();
  EXPECT_EQ(refused, int(senders.size()));
  EXPECT_LT(process_->PeakKiB() - before, 32 * 1024) << "KiB over the peak before";
  EXPECT_EQ(client_->Get("/healthz")->status, 200);
  EXPECT_EQ(printer_->Requests(), 0u);
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
