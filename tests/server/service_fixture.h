// The print service run in-process on 127.0.0.1 (any free port) over
// emulated printers on pseudo-terminals, and a client that speaks to it.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "../cli/cli_fixture.h"
#include "http_client.h"
#include "server/core/job_service.h"
#include "server/http_service.h"

namespace srvtest {

using Json = nlohmann::ordered_json;
using namespace std::chrono_literals;

constexpr const char* kToken = "0123456789abcdef-test-token";
constexpr const char* kAllowedOrigin = "https://till.example";

// A directory of the test's own, removed with it.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/zuv-server-test-XXXXXX";
    if (::mkdtemp(tmpl)) path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A JobService and an HttpService serving on a thread of their own.
class RunningService {
 public:
  RunningService(const std::string& stateDir, std::vector<zuvsrv::PrinterConfig> printers,
                 zuvsrv::HttpSettings settings)
      : jobs_(stateDir, std::move(printers)), http_(std::move(settings)) {
    port_ = http_.Bind("127.0.0.1", 0);
    http_.Attach(jobs_);
    if (port_ > 0) thread_ = std::thread([this] { http_.Run(); });
  }
  ~RunningService() {
    http_.Stop();
    if (thread_.joinable()) thread_.join();
    jobs_.Stop();
  }
  int Port() const { return port_; }
  zuvsrv::JobService& Jobs() { return jobs_; }

 private:
  zuvsrv::JobService jobs_;
  zuvsrv::HttpService http_;
  int port_ = -1;
  std::thread thread_;
};

inline Headers WithToken(Headers headers = {}) {
  headers.emplace("Authorization", std::string("Bearer ") + kToken);
  return headers;
}

inline Json BodyOf(const Result& result) {
  if (!result) return Json();
  return Json::parse(result->body, nullptr, false);
}

// A client on the service's port.
inline std::unique_ptr<HttpClient> ClientFor(int port) {
  return std::make_unique<HttpClient>("127.0.0.1", port);
}

// Printers "a" (and "b" when asked) on emulators, the service on them.
class ServiceTest : public ::testing::Test {
 protected:
  // The test thread never drives a printer: each worker has its own driver
  // state.
  void SetUp() override {
    AddPrinter("a");
    Start();
  }
  void TearDown() override {
    service_.reset();
    printers_.clear();
  }

  void AddPrinter(const std::string& id) {
    auto printer = std::make_unique<clitest::Printer>(clitest::Transport::kPty, "tty-" + id);
    ASSERT_TRUE(printer->Started());
    configs_.push_back({id, printer->Port(), 115200, "GBR"});
    printers_[id] = std::move(printer);
  }

  void Start() {
    service_ = std::make_unique<RunningService>(state_.Path(), configs_, settings_);
    ASSERT_GT(service_->Port(), 0);
    client_ = ClientFor(service_->Port());
  }
  // The same state directory, a new service: what a restart sees.
  void Restart() {
    client_.reset();
    service_.reset();
    Start();
  }

  HttpClient& Client() { return *client_; }
  int Port() const { return service_->Port(); }
  clitest::Printer& Printer(const std::string& id = "a") { return *printers_.at(id); }
  zuvsrv::JobService& Jobs() { return service_->Jobs(); }
  const std::string& StateDir() const { return state_.Path(); }
  // What the next Start() or Restart() serves with.
  zuvsrv::HttpSettings& Settings() { return settings_; }

  Result Get(const std::string& path) { return Client().Get(path, WithToken()); }
  Result Post(const std::string& path, const std::string& body = "{}",
                       Headers headers = {}) {
    return Client().Post(path, WithToken(std::move(headers)), body, "application/json");
  }
  // The job as the service tells it once it left queued and running.
  Json AwaitJob(int64_t id) {
    Jobs().WaitSettled(id, 60s);
    return BodyOf(Get("/v1/jobs/" + std::to_string(id)));
  }

 private:
  clitest::PortDirectory ports_;
  TempDir state_;
  std::vector<zuvsrv::PrinterConfig> configs_;
  zuvsrv::HttpSettings settings_ = [] {
    zuvsrv::HttpSettings settings;
    settings.token = kToken;
    settings.corsOrigins = {kAllowedOrigin};
    settings.threads = 2;
    return settings;
  }();
  std::map<std::string, std::unique_ptr<clitest::Printer>> printers_;
  std::unique_ptr<RunningService> service_;
  std::unique_ptr<HttpClient> client_;
};

}  // namespace srvtest
