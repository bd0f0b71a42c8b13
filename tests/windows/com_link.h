// A port component on the COM link the test set-up made: a Windows COM port
// whose far end is an emulator's pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "frame.h"
#include "serial/comport.h"

namespace win_test {

using Bytes = std::vector<uint8_t>;

// The link's port name from the set-up ("COM5"), empty when there is none.
inline std::string LinkPort(const char* variable = "ZUV_WIN_TEST_PORT") {
  const char* name = std::getenv(variable);
  return name ? name : "";
}

// Liveness bound of every wait for the far end.
constexpr int32_t kSanityMs = 10000;

struct Report {
  serial::TComExceptions kind;
  int64_t winError;
};

class ComLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = LinkPort(Variable());
    if (name_.empty()) GTEST_SKIP() << Variable() << " is not set: run scripts/test-windows.sh";
    port_ = std::make_unique<serial::TComPort>();
    port_->OnException = [this](serial::TCustomComPort*, serial::TComExceptions kind,
                                const std::string&, int64_t win, const std::string&) {
      reports_.push_back({kind, win});
    };
    port_->SetPort(name_);
    port_->SetBaudRate(serial::br115200);
  }
  void TearDown() override { port_.reset(); }
  virtual const char* Variable() const { return "ZUV_WIN_TEST_PORT"; }

  serial::TComPort& port() { return *port_; }

  // Reads wait for what they ask, up to the sanity bound.
  void WaitingReads() {
    port().BeginUpdate();
    port().Timeouts().SetReadInterval(0);
    port().Timeouts().SetReadTotalConstant(kSanityMs);
    port().EndUpdate();
  }

  Bytes ReadExactly(size_t count) {
    Bytes got(count);
    const int32_t n = port().Read(got.data(), static_cast<int32_t>(count));
    got.resize(static_cast<size_t>(n < 0 ? 0 : n));
    return got;
  }

  // One request and its reply frame (start byte to checksum), the closing
  // byte sent after it. Empty when the printer did not answer in time.
  Bytes Exchange(const Bytes& request) {
    if (port().Write(request.data(), static_cast<int32_t>(request.size())) !=
        static_cast<int32_t>(request.size()))
      return {};
    Bytes first = ReadExactly(1);
    // Wait codes come before the reply; the ACK comes first.
    while (first.size() == 1 && first[0] != emu::kShortStart) first = ReadExactly(1);
    if (first.empty()) return {};
    Bytes length = ReadExactly(1);
    if (length.empty()) return {};
    Bytes rest = ReadExactly(size_t{length[0]} + 2);
    Bytes reply{first[0], length[0]};
    reply.insert(reply.end(), rest.begin(), rest.end());
    const uint8_t closing = emu::kClosing;
    port().Write(&closing, 1);
    return reply;
  }

  std::string name_;
  std::unique_ptr<serial::TComPort> port_;
  std::vector<Report> reports_;
};

// The unpaced link: volume tests.
class FastLinkTest : public ComLinkTest {
 protected:
  const char* Variable() const override { return "ZUV_WIN_FAST_PORT"; }
};

}  // namespace win_test
