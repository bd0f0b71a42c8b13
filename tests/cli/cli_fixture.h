// The zuv tool run in-process against the emulator, over a pseudo-terminal
// or over TCP on loopback: each test gets its own emulator and its own
// virtual-port directory.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/app.h"
#include "driver/comportzuv.h"
#include "emulator/pty_server.h"
#include "emulator/tcp_server.h"

namespace clitest {

enum class Transport { kPty, kTcp };

inline std::string TransportName(const ::testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::kPty ? "Pty" : "Tcp";
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// A file of the test process's own (tests run side by side in separate
// processes), removed when the process ends.
inline std::string TestFile(const std::string& name, const std::string& text) {
  static const struct Directory {
    Directory() {
      char tmpl[] = "/tmp/zuv-cli-files-XXXXXX";
      if (::mkdtemp(tmpl)) path = tmpl;
    }
    ~Directory() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
    std::string path;
  } directory;
  const std::string path = directory.path + "/" + name;
  std::ofstream(path) << text;
  return path;
}

// A private virtual-port directory for the test's links.
class PortDirectory {
 public:
  PortDirectory() {
    char tmpl[] = "/tmp/zuv-cli-XXXXXX";
    if (::mkdtemp(tmpl)) path_ = tmpl;
    ::setenv("ZUV_PORT_DIR", (path_ + "/ports").c_str(), 1);
  }
  ~PortDirectory() {
    ::unsetenv("ZUV_PORT_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// One emulator on either transport.
class Printer {
 public:
  explicit Printer(Transport transport, const std::string& linkName = "ttyPrinter",
                   bool matchSpeed = false)
      : transport_(transport) {
    if (transport == Transport::kPty) {
      pty_ = std::make_unique<emu::PtyServer>();
      emu::PtyOptions options{true, linkName, matchSpeed};
      started_ = pty_->Start(options);
    } else {
      tcp_ = std::make_unique<emu::TcpServer>();
      started_ = tcp_->Start();
    }
  }
  bool Started() const { return started_; }
  std::string Port() const { return pty_ ? pty_->PortName() : tcp_->PortName(); }

  template <class F>
  decltype(auto) Emu(F&& f) {
    return pty_ ? pty_->With(std::forward<F>(f)) : tcp_->With(std::forward<F>(f));
  }
  size_t Requests() {
    return Emu([](emu::PrinterEmulator& e) { return e.RequestCount(); });
  }
  // The request count once it has reached `count` (or after a generous
  // limit): a frame written just before may still be on its way.
  size_t RequestsOnceAt(size_t count) {
    const emu::Millis wait(10000);
    if (pty_) pty_->WaitForRequests(count, wait);
    else tcp_->WaitForRequests(count, wait);
    return Requests();
  }
  emu::TcpServer* Tcp() { return tcp_.get(); }

 private:
  Transport transport_;
  std::unique_ptr<emu::PtyServer> pty_;
  std::unique_ptr<emu::TcpServer> tcp_;
  bool started_ = false;
};

// Runs zuv with `args` (without the program name); `input` is its standard
// input, never a terminal.
inline RunResult RunTool(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<const char*> argv{"zuv"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::istringstream in(input);
  std::ostringstream out, err;
  zuvcli::Io io{in, out, err, false};
  RunResult r;
  r.status = zuvcli::RunZuv(static_cast<int>(argv.size()), argv.data(), io);
  r.out = out.str();
  r.err = err.str();
  return r;
}

// Short reply budget so that the silent-printer cases stay quick; the tool
// itself never changes it.
constexpr int64_t kTestReplyBudgetMs = 200;

class CliTest : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    ::unsetenv("ZUV_PORT");
    ::unsetenv("ZUV_BAUD");
    zuv::ResetDriverState();
    budget_.emplace(kTestReplyBudgetMs);
    printer_ = std::make_unique<Printer>(GetParam());
    ASSERT_TRUE(printer_->Started());
  }
  void TearDown() override {
    printer_.reset();
    budget_.reset();
    zuv::ResetDriverState();
  }

  // zuv -p <the emulator> args...
  RunResult Run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"-p", printer_->Port()});
    return RunTool(args, input);
  }
  Printer& printer() { return *printer_; }

 private:
  PortDirectory ports_;
  std::unique_ptr<Printer> printer_;
  std::optional<zuv::ScopedLinkSettings> budget_;
};

}  // namespace clitest
