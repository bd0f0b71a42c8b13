// Modem-line and line-error events on a device that has lines and counters
// (an in-memory device with scripted lines; pseudo-terminals have none).
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "serial/comport.h"
#include "testing/memory_device.h"

using namespace serial;

namespace {

class LineDevice : public MemoryDevice {
 public:
  std::atomic<uint32_t> lines{0};
  std::atomic<uint32_t> frameErrors{0};
  int GetModemLines(uint32_t& status) const override {
    status = lines;
    return 0;
  }
  int GetLineCounters(TLineCounters& counters) const override {
    counters = TLineCounters{};
    counters.frame = frameErrors;
    return 0;
  }
};

class LineEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = TCustomComPort::SetDefaultDeviceFactory([] { return std::make_unique<LineDevice>(); });
    port_ = std::make_unique<TComPort>();
    port_->SetSyncMethod(smWindowSync);
    port_->SetPort("/dev/zuv-lines");
    port_->OnRLSDChange = [this](TCustomComPort*, bool on) { log_.push_back("rlsd " + std::to_string(on)); };
    port_->OnCTSChange = [this](TCustomComPort*, bool on) { log_.push_back("cts " + std::to_string(on)); };
    port_->OnRing = [this](TCustomComPort*) { log_.push_back("ring"); };
    port_->OnError = [this](TCustomComPort*, TComErrors) { log_.push_back("error"); };
    port_->Open();
    log_.clear();  // the states reported at open
  }
  void TearDown() override {
    port_.reset();
    TCustomComPort::SetDefaultDeviceFactory(previous_);
  }
  LineDevice& dev() { return static_cast<LineDevice&>(port_->Device()); }
  // Sets the lines as the device and its status query see them.
  void SetLines(uint32_t lines) {
    dev().modemStatus = lines;
    dev().lines = lines;
  }
  // Serves hand-overs until none came for `quietMs`.
  void Pump(int quietMs = 300) {
    struct pollfd p = {port_->PendingEventsHandle(), POLLIN, 0};
    while (::poll(&p, 1, quietMs) == 1) port_->ProcessPendingEvents();
  }

  // Serves hand-overs until `entry` is logged; false when it did not come
  // within a generous limit.
  bool PumpUntilLogged(const std::string& entry) {
    const auto logged = [&] { return std::find(log_.begin(), log_.end(), entry) != log_.end(); };
    struct pollfd p = {port_->PendingEventsHandle(), POLLIN, 0};
    while (!logged() && ::poll(&p, 1, 10000) == 1) port_->ProcessPendingEvents();
    return logged();
  }

  std::unique_ptr<TComPort> port_;
  std::vector<std::string> log_;
  DeviceFactory previous_;
};

TEST_F(LineEvents, CarrierChangeGivesExactlyOneRLSDChange) {
  SetLines(MS_RLSD_ON);
  Pump();
  EXPECT_EQ(log_, std::vector<std::string>{"rlsd 1"});
  SetLines(MS_RLSD_ON | MS_CTS_ON);
  Pump();
  EXPECT_EQ(log_, (std::vector<std::string>{"rlsd 1", "cts 1"}));
}

TEST_F(LineEvents, RingGivesOneRingAndNoRLSDChange) {
  SetLines(MS_RING_ON);
  Pump(150);
  SetLines(0);
  Pump();
  EXPECT_EQ(log_, std::vector<std::string>{"ring"});
}

TEST_F(LineEvents, RingFiresWhenTheIndicatorGoesOffNotWhileItIsOn) {
  // The CTS change is seen in the same sample as the ring indicator coming
  // on, so once it is reported, a ring taken too early would be too.
  SetLines(MS_RING_ON | MS_CTS_ON);
  ASSERT_TRUE(PumpUntilLogged("cts 1"));
  EXPECT_EQ(log_, std::vector<std::string>{"cts 1"});
  SetLines(MS_CTS_ON);
  ASSERT_TRUE(PumpUntilLogged("ring"));
  EXPECT_EQ(log_, (std::vector<std::string>{"cts 1", "ring"}));
}

TEST_F(LineEvents, ErrorEventWithNothingPendingCallsNoHandler) {
  // The counters moved, but the status query has no error to report.
  dev().frameErrors = 1;
  Pump();
  EXPECT_TRUE(log_.empty());
  EXPECT_GE(dev().statusQueries, 1);  // the error dispatch did ask
}

}  // namespace
