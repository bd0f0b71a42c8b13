// The component on a TCP port: how a "tcp://" name is read, and a device
// server (played by the test on loopback) that closes or resets the
// connection.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "loopback_listener.h"
#include "test_support.h"
#include "serial/comport.h"
#include "serial/tcp_device.h"

using namespace serial;
using Bytes = std::vector<uint8_t>;

namespace {

TEST(TcpPortName, HostAndPortOrABracketedV6Address) {
  auto a = ParseTcpPortName("tcp://127.0.0.1:4001");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->host, "127.0.0.1");
  EXPECT_EQ(a->port, "4001");
  a = ParseTcpPortName("tcp://[::1]:65535");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->host, "::1");
  EXPECT_EQ(a->port, "65535");
  a = ParseTcpPortName("tcp://printer.local:1");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->host, "printer.local");
  EXPECT_EQ(a->port, "1");
  for (const char* bad : {"tcp://host", "tcp://:1", "tcp://h:0", "tcp://h:65536", "tcp://h:1x",
                          "tcp://h:", "tcp://h:-1", "tcp://h:123456", "tcp://::1:5", "tcp://[::1:5",
                          "tcp://[]:5", "tcp://h/x:5", "ttyS0", "tcp:/h:5", "udp://h:5", ""})
    EXPECT_FALSE(ParseTcpPortName(bad)) << bad;
  EXPECT_TRUE(IsTcpPortName("tcp://x"));
  EXPECT_FALSE(IsTcpPortName("ttyUSB0"));
  EXPECT_FALSE(IsTcpPortName("/dev/tcp://h:5"));
}

class TcpPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(far_.ok());
    port_.SetEvents(0);  // no event thread to query the connection meanwhile
    port_.SetPort(far_.Name());
  }
  // Opens the port and takes the connection at the far end.
  void Connect() {
    port_.Open();
    ASSERT_TRUE(far_.Accept());
    port_.OnException = [this](TCustomComPort*, TComExceptions kind, const std::string&,
                               int64_t win, const std::string&) { faults_.push_back({kind, win}); };
  }
  struct Fault {
    TComExceptions kind;
    int64_t code;
    bool operator==(const Fault&) const = default;
  };

  LoopbackListener far_;
  TComPort port_;
  std::vector<Fault> faults_;
};

TEST_F(TcpPort, BytesTravelBothWays) {
  Connect();
  const uint8_t frame[] = {0x02, 0x01, 0x65, 0x00, 0x66};
  EXPECT_EQ(port_.Write(frame, 5), 5);
  EXPECT_EQ(far_.Receive(5), Bytes(frame, frame + 5));
  ASSERT_TRUE(far_.Send({0x06, 0x15}));
  ASSERT_TRUE(port_.WaitForInput(LoopbackListener::kPatienceMs));
  uint8_t buf[4] = {};
  EXPECT_EQ(port_.Read(buf, 4), 2);
  EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{0x06, 0x15}));
  EXPECT_TRUE(faults_.empty());
}

TEST_F(TcpPort, WhatCameBeforeThePeerClosedIsReadThenTheCloseIsAFault) {
  Connect();
  ASSERT_TRUE(far_.Send({1, 2, 3}));
  far_.CloseOrderly();
  // The close follows the data: both are there once the end is readable.
  port_.Timeouts().SetReadInterval(0);
  port_.Timeouts().SetReadTotalConstant(LoopbackListener::kPatienceMs);
  uint8_t buf[8] = {};
  EXPECT_EQ(port_.Read(buf, 3), 3);
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{1, 2, 3}));
  EXPECT_TRUE(faults_.empty());
  ASSERT_TRUE(port_.WaitForInput(LoopbackListener::kPatienceMs));
  EXPECT_EQ(port_.InputCount(), 0);
  EXPECT_EQ(port_.Read(buf, 8), 0);
  EXPECT_EQ(faults_, (std::vector<Fault>{{CE_ClearComFailed, EIO}, {CE_ReadFailed, EIO}}));
}

TEST_F(TcpPort, AResetConnectionReportsTheReset) {
  Connect();
  far_.Reset();
  bool ready = false;
  // The wait sees the reset as the device's error, not as input.
  EXPECT_EQ(port_.Device().WaitReadable(LoopbackListener::kPatienceMs, ready), ECONNRESET);
  EXPECT_FALSE(ready);
  EXPECT_EQ(port_.InputCount(), 0);
  ASSERT_EQ(faults_.size(), 1u);
  EXPECT_EQ(faults_[0].kind, CE_ClearComFailed);
  uint8_t byte = 0;
  EXPECT_EQ(port_.Write(&byte, 1), 0);  // no signal ends the process
  ASSERT_EQ(faults_.size(), 2u);
  EXPECT_EQ(faults_[1].kind, CE_WriteFailed);
  port_.Close();
  EXPECT_FALSE(port_.Connected());
}

TEST_F(TcpPort, NobodyListeningOrABadNameCannotBeOpened) {
  port_.SetPort(LoopbackListener::RefusingName());
  EXPECT_EQ(RaisedBy([&] { port_.Open(); }),
            (Raised{CError_OpenFailed, ECONNREFUSED, "Unable to open com port (Error: 111)"}));
  EXPECT_FALSE(port_.Connected());
  port_.SetPort("tcp://127.0.0.1:0");
  EXPECT_EQ(RaisedBy([&] { port_.Open(); }).winCode, EINVAL);
  EXPECT_FALSE(port_.Connected());
}

}  // namespace
