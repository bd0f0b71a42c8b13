// The event thread on Windows: the driver's EV_RXCHAR reaches the owner.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "com_link.h"
#include "driver/protocol.h"
#include "serial/event_fd.h"

using namespace serial;
using win_test::Bytes;

namespace {

class ComEvents : public win_test::ComLinkTest {
 protected:
  void SendReceiptStateRequest() {
    const Bytes request = emu::ShortFrame(zuv::cmd::ReceiptState, {});
    ASSERT_EQ(port().Write(request.data(), static_cast<int32_t>(request.size())),
              static_cast<int32_t>(request.size()));
  }
  std::mutex lock_;
  std::condition_variable changed_;
  int32_t rxCount_ = 0;
  int rxCalls_ = 0;
};

}  // namespace

TEST_F(ComEvents, ArrivalsReachOnRxCharInTheEventThreadAndStayInTheQueue) {
  port().SetSyncMethod(smNone);
  port().OnRxChar = [this](TCustomComPort*, int32_t count) {
    std::lock_guard<std::mutex> hold(lock_);
    rxCount_ = count;
    ++rxCalls_;
    changed_.notify_all();
  };
  port().Open();
  SendReceiptStateRequest();
  std::unique_lock<std::mutex> hold(lock_);
  ASSERT_TRUE(changed_.wait_for(hold, std::chrono::milliseconds(win_test::kSanityMs),
                                [this] { return rxCalls_ > 0; }));
  EXPECT_GT(rxCount_, 0);
  hold.unlock();
  // OnRxChar only counts: the bytes wait for the owner's own read.
  EXPECT_GT(port().InputCount(), 0);
  uint8_t first = 0;
  EXPECT_EQ(port().Read(&first, 1), 1);
  EXPECT_EQ(first, emu::kAck);
}

TEST_F(ComEvents, ArrivalsAreHandedToTheOwnerThreadThatPumps) {
  const auto owner = std::this_thread::get_id();
  bool inOwner = false;
  port().OnRxChar = [&](TCustomComPort*, int32_t count) {
    rxCount_ = count;
    ++rxCalls_;
    inOwner = std::this_thread::get_id() == owner;
  };
  port().Open();
  SendReceiptStateRequest();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(win_test::kSanityMs);
  const int pending[] = {port().PendingEventsHandle()};
  while (rxCalls_ == 0 && std::chrono::steady_clock::now() < end) {
    WaitReadable(pending, 1, 500);
    port().ProcessPendingEvents();
  }
  ASSERT_GT(rxCalls_, 0);
  EXPECT_TRUE(inOwner);
  EXPECT_GT(rxCount_, 0);
  port().Close();
  EXPECT_FALSE(port().Connected());
}

TEST_F(ComEvents, WaitForEventRefusesWhileTheThreadRuns) {
  port().Open();
  TComEvents events = EventBit(evRxChar);
  port().WaitForEvent(events, 0, 50);
  ASSERT_FALSE(reports_.empty());
  EXPECT_EQ(reports_.back().kind, CE_ThreadCreated);
  EXPECT_EQ(events, 0u);
}
