// The job service against emulated printers: each printer an emulator on
// its own pseudo-terminal, linked by name in a virtual-port directory of
// the test's own, and a state directory that outlives restarts of the
// service within a test.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "emulator/pty_server.h"
#include "emulator/tcp_server.h"
#include "job_service.h"

namespace zuvsrv::testing {

using namespace std::chrono_literals;

// Generous: the machine may be loaded; nothing here measures speed.
constexpr std::chrono::milliseconds kSettleWait = 60s;

// Every event the service sends, kept for waiting on.
class EventLog {
 public:
  explicit EventLog(JobService& service) : service_(service) {
    token_ = service_.Subscribe([this](const std::string& event, const Json& data) {
      {
        std::lock_guard lock(mutex_);
        events_.emplace_back(event, data);
      }
      changed_.notify_all();
    });
  }
  ~EventLog() { service_.Unsubscribe(token_); }

  // Waits until printer `id` has shown `state`.
  bool WaitForPrinter(const std::string& id, const std::string& state) {
    return WaitFor("printer", Json(id), state);
  }
  // Waits until job `id` has been in `state`.
  bool WaitForJob(int64_t id, const std::string& state) { return WaitFor("job", Json(id), state); }

  bool WaitFor(const std::string& kind, const Json& id, const std::string& state) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kSettleWait, [&] {
      for (const auto& [event, data] : events_)
        if (event == kind && data["id"] == id && data["state"] == state) return true;
      return false;
    });
  }

 private:
  JobService& service_;
  int token_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<std::string, Json>> events_;
};

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zuv-service-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ::setenv("ZUV_PORT_DIR", (dir_ + "/ports").c_str(), 1);
  }

  void TearDown() override {
    service.reset();
    printers_.clear();
    tcpPrinters_.clear();
    ::unsetenv("ZUV_PORT_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Printer `id` served by a new emulator, linked as "tty_<id>" and
  // configured at 115200 baud. With `lineBaud` the emulator's line is set
  // to that speed and it answers nothing sent at another.
  emu::PtyServer& AddPrinter(const std::string& id, int lineBaud = 0) {
    auto server = std::make_unique<emu::PtyServer>();
    emu::PtyOptions options;
    options.link = true;
    options.link_name = "tty_" + id;
    options.match_speed = lineBaud != 0;
    if (lineBaud) server->With([lineBaud](emu::PrinterEmulator& e) { e.SetBaud(lineBaud); });
    EXPECT_TRUE(server->Start(options)) << server->Error();
    configs_.push_back({id, options.link_name, 115200, "GBR"});
    printers_.push_back(std::move(server));
    return *printers_.back();
  }
  // Printer `id` behind a device server in raw TCP mode (an emulator on a
  // loopback port).
  emu::TcpServer& AddTcpPrinter(const std::string& id) {
    auto server = std::make_unique<emu::TcpServer>();
    EXPECT_TRUE(server->Start()) << server->Error();
    configs_.push_back({id, server->PortName(), 115200, "GBR"});
    tcpPrinters_.push_back(std::move(server));
    return *tcpPrinters_.back();
  }
  // A configured printer with no device behind its port.
  void AddMissingPrinter(const std::string& id) {
    configs_.push_back({id, "tty_missing_" + id, 115200, "GBR"});
  }

  JobService& StartService(JobServiceOptions options = {}) {
    service.reset();
    service = std::make_unique<JobService>(StateDir(), configs_, std::move(options));
    return *service;
  }
  void StopService() { service.reset(); }

  std::string StateDir() const { return dir_ + "/state"; }

  emu::PtyServer& Printer(size_t index) { return *printers_.at(index); }

  template <class F>
  decltype(auto) Emu(size_t index, F&& f) {
    return Printer(index).With(std::forward<F>(f));
  }
  size_t Requests(size_t index) {
    return Emu(index, [](emu::PrinterEmulator& e) { return e.RequestCount(); });
  }

  static zuvcmd::CommandRequest Request(const std::string& command,
                                        const Json& body = Json::object()) {
    return zuvcmd::CheckRequest(command, body);
  }

  // Queues detection and waits until it has ended.
  Job Detect(const std::string& printer) {
    const auto submitted = service->Detect(printer, std::nullopt);
    const auto job = service->WaitSettled(submitted.job.id, kSettleWait);
    EXPECT_TRUE(job);
    return job ? *job : submitted.job;
  }

  PrinterStatus StatusOf(const std::string& printer) {
    for (const auto& status : service->Printers())
      if (status.id == printer) return status;
    ADD_FAILURE() << "no printer " << printer;
    return {};
  }

  // Submits and waits until the job has settled (or the wait ran out).
  Job Run(const std::string& printer, const std::string& command,
          const Json& body = Json::object(), std::optional<std::string> key = std::nullopt) {
    const auto submitted = service->Submit(printer, Request(command, body), key);
    const auto job = service->WaitSettled(submitted.job.id, kSettleWait);
    EXPECT_TRUE(job);
    return job ? *job : submitted.job;
  }

  // Runs a command with a counter on printer `index` and loses the reply
  // of the command itself: the counter reading before it goes through,
  // then the printer acknowledges, carries it out and says nothing more.
  Job RunWithLostReply(size_t index, const std::string& printer, const std::string& command,
                       const Json& body = Json::object()) {
    // Time for the test to arm the fault between the reading and the command.
    Emu(index, [](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(300)); });
    const size_t start = Requests(index);
    // An idle printer reads the counter before Submit returns.
    auto submitting = std::async(std::launch::async, [&] {
      return service->Submit(printer, Request(command, body), std::nullopt);
    });
    EXPECT_TRUE(Printer(index).WaitForRequests(start + 1, kSettleWait));
    Emu(index, [](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
    const auto submitted = submitting.get();
    const auto job = service->WaitSettled(submitted.job.id, kSettleWait);
    Emu(index, [](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(0)); });
    EXPECT_EQ(Requests(index), start + 3) << "reading, command, reading: nothing sent twice";
    EXPECT_TRUE(job);
    return job ? *job : submitted.job;
  }

  std::unique_ptr<JobService> service;

 private:
  std::string dir_;
  std::vector<PrinterConfig> configs_;
  std::vector<std::unique_ptr<emu::PtyServer>> printers_;
  std::vector<std::unique_ptr<emu::TcpServer>> tcpPrinters_;
};

}  // namespace zuvsrv::testing
