// The component on real pseudo-terminals: the test plays the far end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "test_support.h"
#include "serial/comport.h"
#include "serial/input_wait.h"
#include "serial/device.h"
#include "serial/tty_termios2.h"

using namespace serial;
using Bytes = std::vector<uint8_t>;

namespace {

class Pty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    port_.SetPort(pty_.slave());
  }
  void CollectErrors() {
    port_.OnException = [this](TCustomComPort*, TComExceptions kind, const std::string&,
                               int64_t win, const std::string&) {
      kinds_.push_back(kind);
      codes_.push_back(win);
    };
  }
  void SetReadTimeouts(int32_t interval, int32_t multiplier, int32_t constant) {
    port_.Timeouts().SetReadInterval(interval);
    port_.Timeouts().SetReadTotalMultiplier(multiplier);
    port_.Timeouts().SetReadTotalConstant(constant);
  }

  PtyPair pty_;
  TComPort port_;
  std::vector<TComExceptions> kinds_;
  std::vector<int64_t> codes_;
};

// Runs `test` in a child process; true when it returns true there.
template <typename F>
bool InChild(F test) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(test() ? 0 : 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST_F(Pty, OpenAndCloseNotifyWithNoModemLines) {
  std::vector<std::string> log;
  LogNotifications(port_, log);
  port_.Open();
  EXPECT_GE(port_.Handle(), 0);
  EXPECT_EQ(port_.Signals(), 0);
  port_.SetDTR(true);  // a pty has no lines: nothing happens, nothing fails
  port_.SetRTS(false);
  port_.Close();
  EXPECT_EQ(port_.Handle(), -1);
  EXPECT_EQ(log, (std::vector<std::string>{"before-open", "after-open 1", "cts 0", "dsr 0",
                                           "rlsd 0", "cts 0", "dsr 0", "rlsd 0",
                                           "before-close", "after-close 0"}));
}

TEST_F(Pty, BytesTravelBothWays) {
  port_.Open();
  const uint8_t frame[] = {0x02, 0x01, 0x02, 0x00, 0x03};
  EXPECT_EQ(port_.Write(frame, 5), 5);
  EXPECT_EQ(pty_.Receive(5), Bytes(frame, frame + 5));

  pty_.Send({0x06, 0x15, 0x16, 0x17});
  ASSERT_TRUE(port_.WaitForInput(1000));
  EXPECT_EQ(port_.InputCount(), 4);
  uint8_t buf[10] = {};
  EXPECT_EQ(port_.Read(buf, 10), 4);
  EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{0x06, 0x15, 0x16, 0x17}));
  EXPECT_EQ(port_.InputCount(), 0);

  // Raw line: no echo, no translation of CR/LF or control characters.
  pty_.Send({'\r', '\n', 0x03, 0x11, 0x13, 0x7F, 0xFF});
  ASSERT_TRUE(port_.WaitForInput(1000));
  SetReadTimeouts(0, 0, 1000);
  EXPECT_EQ(port_.Read(buf, 7), 7);
  EXPECT_EQ(Bytes(buf, buf + 7), (Bytes{'\r', '\n', 0x03, 0x11, 0x13, 0x7F, 0xFF}));
  EXPECT_EQ(pty_.Receive(1, 50), Bytes{});

  pty_.Send({1, 2, 3});
  ASSERT_TRUE(port_.WaitForInput(1000));
  port_.ClearBuffer(true, true);
  EXPECT_EQ(port_.InputCount(), 0);
  EXPECT_EQ(port_.OutputCount(), 0);
}

TEST_F(Pty, ReadWaitsAtMostItsTotalTimeout) {
  port_.Open();
  uint8_t buf[10];
  int64_t start = SteadyMs();
  EXPECT_EQ(port_.Read(buf, 10), 0);  // defaults: at once
  EXPECT_LT(SteadyMs() - start, kSanityMs);

  SetReadTimeouts(0, 10, 200);
  start = SteadyMs();
  EXPECT_EQ(port_.Read(buf, 10), 0);
  const int64_t elapsed = SteadyMs() - start;
  EXPECT_GE(elapsed, 295);
  EXPECT_LT(elapsed, kSanityMs);
}

TEST_F(Pty, IntervalTimeoutEndsTheReadAtTheGap) {
  port_.Open();
  SetReadTimeouts(100, 0, 2 * kSanityMs);
  pty_.Send({1, 2, 3});
  // More bytes come only once the read has ended, or after the sanity limit:
  // a read that missed the gap would take them too.
  std::promise<void> readEnded;
  std::thread later([this, ended = readEnded.get_future()] {
    ended.wait_for(std::chrono::milliseconds(kSanityMs));
    pty_.Send({4, 5});
  });
  uint8_t buf[10];
  const int64_t start = SteadyMs();
  const int32_t n = port_.Read(buf, 10);
  const int64_t elapsed = SteadyMs() - start;
  readEnded.set_value();
  later.join();
  EXPECT_EQ(n, 3);
  EXPECT_GE(elapsed, 95);
  EXPECT_LT(elapsed, kSanityMs);  // ended by the gap, not the total
}

TEST_F(Pty, WriteStopsAtItsTotalTimeout) {
  port_.Open();
  port_.Timeouts().SetWriteTotalMultiplier(0);
  port_.Timeouts().SetWriteTotalConstant(200);
  // Far more than a pty holds while nobody reads the other end.
  const Bytes big(256 * 1024, 0x55);
  const int64_t start = SteadyMs();
  const int32_t sent = port_.Write(big.data(), static_cast<int32_t>(big.size()));
  const int64_t elapsed = SteadyMs() - start;
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<int32_t>(big.size()));
  EXPECT_GE(elapsed, 195);
  EXPECT_LT(elapsed, kSanityMs);
}

TEST_F(Pty, SecondOpenOfTheSameDeviceFails) {
  port_.Open();
  TComPort other;
  other.SetPort(pty_.slave());
  const Raised busy{CError_OpenFailed, EBUSY, "Unable to open com port (Error: 16)"};
  EXPECT_EQ(RaisedBy([&] { other.Open(); }), busy);
  EXPECT_FALSE(other.Connected());

  const std::string path = pty_.slave();
  EXPECT_TRUE(InChild([&] {
    TComPort child;
    child.SetPort(path);
    return RaisedBy([&] { child.Open(); }) == busy;
  }));

  port_.Close();
  other.Open();
  EXPECT_TRUE(other.Connected());
}

TEST_F(Pty, MissingDeviceCannotBeOpened) {
  TComPort missing;  // keeps the default "COM1"
  bool beforeOpen = false;
  missing.OnBeforeOpen = [&](TCustomComPort*) { beforeOpen = true; };
  EXPECT_EQ(RaisedBy([&] { missing.Open(); }),
            (Raised{CError_OpenFailed, ENOENT, "Unable to open com port (Error: 2)"}));
  EXPECT_TRUE(beforeOpen);
  EXPECT_FALSE(missing.Connected());

  missing.SetPort("/dev/zuv-missing-port");
  std::string message, winMessage;
  int64_t code = 0;
  TComExceptions kind = CE_RegError;
  missing.OnException = [&](TCustomComPort* sender, TComExceptions k, const std::string& m,
                            int64_t w, const std::string& wm) {
    if (code == 0) kind = k, message = m, code = w, winMessage = wm;
    sender->OnException = nullptr;
  };
  EXPECT_THROW(missing.Open(), EComPort);
  EXPECT_EQ(kind, CE_OpenFailed);
  EXPECT_EQ(message, "Unable to open com port");
  EXPECT_EQ(code, ENOENT);
  EXPECT_EQ(winMessage, "System Error.  Code: 2.\r\nNo such file or directory");
}

TEST_F(Pty, NameWithEmbeddedNulIsRefusedNotTruncated) {
  // Cut at the NUL the name would be the open pty itself.
  TComPort other;
  other.SetPort(pty_.slave() + std::string("\0x", 2));
  EXPECT_EQ(RaisedBy([&] { other.Open(); }),
            (Raised{CError_OpenFailed, ENOENT, "Unable to open com port (Error: 2)"}));
  EXPECT_FALSE(other.Connected());
}

TEST_F(Pty, NonTerminalIsNotAPort) {
  port_.SetPort("/dev/null");
  EXPECT_EQ(RaisedBy([&] { port_.Open(); }).winCode, ENOTTY);
}

TEST_F(Pty, FarEndHangingUpIsReportedNotHung) {
  port_.Open();
  CollectErrors();
  pty_.HangUp();
  uint8_t buf[8] = {};
  EXPECT_EQ(port_.InputCount(), 0);
  EXPECT_EQ(port_.Read(buf, 8), 0);
  EXPECT_EQ(port_.Write(buf, 8), 0);
  port_.ClearBuffer(true, true);
  EXPECT_FALSE(port_.WaitForInput(10));
  EXPECT_EQ(kinds_, (std::vector<TComExceptions>{CE_ClearComFailed, CE_ReadFailed,
                                                  CE_WriteFailed, CE_PurgeFailed}));
  for (int64_t code : codes_) EXPECT_EQ(code, EIO);
  port_.Close();
  EXPECT_FALSE(port_.Connected());
}

TEST_F(Pty, HangUpEndsAWaitingRead) {
  port_.Open();
  SetReadTimeouts(0, 0, 2 * kSanityMs);
  std::thread hangup([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty_.HangUp();
  });
  uint8_t buf[8];
  const int64_t start = SteadyMs();
  EXPECT_EQ(RaisedBy([&] { port_.Read(buf, 8); }),
            (Raised{CError_ReadFailed, EIO, "ReadFile function failed (Error: 5)"}));
  hangup.join();
  EXPECT_LT(SteadyMs() - start, kSanityMs);
}

// The waits report a hung-up line at once: reception sleeps in them, and a
// wait that ignored the hang-up would hold the caller for its whole budget.
TEST(TtyDevice, WaitsOnAHungUpLineReportTheFaultAtOnce) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto device = MakeTtyDevice();
  ASSERT_EQ(device->Open(pty.slave()), 0);
  pty.HangUp();
  bool ready = true;
  const int64_t start = SteadyMs();
  EXPECT_EQ(device->WaitReadable(2 * kSanityMs, ready), EIO);
  EXPECT_FALSE(ready);
  EXPECT_EQ(device->WaitWritable(2 * kSanityMs, ready), EIO);
  EXPECT_LT(SteadyMs() - start, kSanityMs);
  EXPECT_EQ(device->Close(), 0);
}

TEST_F(Pty, LineModeReachesTheTerminal) {
  port_.SetBaudRate(brCustom);
  port_.SetCustomBaudRate(31250);
  port_.Open();
  // A second descriptor on the same terminal shows what the kernel holds.
  const int fd = ::open(pty_.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  TtyMode mode;
  ASSERT_EQ(GetTtyMode(fd, mode), 0);
  EXPECT_EQ(mode.speed, 31250u);
  for (TBaudRate rate : {br14400, br56000, br128000, br256000, br110, br115200}) {
    port_.SetBaudRate(rate);
    ASSERT_EQ(GetTtyMode(fd, mode), 0);
    EXPECT_EQ(mode.speed, static_cast<uint32_t>(CBaudRate[rate]));
  }
  EXPECT_EQ(mode.lflag & (ECHO | ICANON | ISIG), 0u);
  EXPECT_EQ(mode.oflag & OPOST, 0u);
  EXPECT_EQ(mode.cc[VMIN], 0);
  EXPECT_EQ(mode.iflag & (IXON | IXOFF | ICRNL), 0u);

  port_.FlowControl().SetXonChar(0x01);
  port_.FlowControl().SetXoffChar(0x02);
  port_.FlowControl().SetFlowControl(fcSoftware);
  ASSERT_EQ(GetTtyMode(fd, mode), 0);
  EXPECT_EQ(mode.iflag & (IXON | IXOFF), static_cast<uint32_t>(IXON | IXOFF));
  EXPECT_EQ(mode.cc[VSTART], 0x01);
  EXPECT_EQ(mode.cc[VSTOP], 0x02);
  ::close(fd);
}

TEST_F(Pty, WhatLinuxCannotDoIsRefused) {
  port_.Open();
  const auto refused = [](auto change) {
    return RaisedBy(change) == Raised{CError_SetStateFailed, EINVAL,
                                      "SetCommState function failed (Error: 22)"};
  };
  EXPECT_TRUE(refused([&] { port_.SetStopBits(sbOne5StopBits); }));
  port_.SetDataBits(dbFive);  // 1.5 stop bits with 5 data bits exist
  EXPECT_TRUE(refused([&] { port_.SetStopBits(sbTwoStopBits); }));
  port_.SetStopBits(sbOneStopBit);
  port_.SetDataBits(dbEight);

  EXPECT_TRUE(refused([&] { port_.FlowControl().SetControlDTR(dtrHandshake); }));
  port_.FlowControl().SetControlDTR(dtrEnable);
  EXPECT_TRUE(refused([&] { port_.FlowControl().SetControlRTS(rtsToggle); }));
  port_.FlowControl().SetControlRTS(rtsDisable);
  EXPECT_TRUE(refused([&] { port_.FlowControl().SetOutDSRFlow(true); }));
  port_.FlowControl().SetOutDSRFlow(false);
  EXPECT_TRUE(refused([&] { port_.SetDiscardNull(true); }));
  port_.SetDiscardNull(false);

  port_.Parity().SetBits(prMark);
  port_.Parity().SetCheck(true);
  port_.Parity().SetReplace(true);  // replacement by zero is what Linux does
  EXPECT_TRUE(refused([&] { port_.Parity().SetReplaceChar(u'?'); }));
  port_.Parity().SetReplaceChar(0);
  port_.FlowControl().SetFlowControl(fcHardware);
  port_.FlowControl().SetFlowControl(fcSoftware);
}

TEST_F(Pty, VirtualPortOpensByItsName) {
  char dir[] = "/tmp/zuv-ports-test-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string link = std::string(dir) + "/zuv-pty";
  ASSERT_EQ(::symlink(pty_.slave().c_str(), link.c_str()), 0);
  ::setenv("ZUV_PORT_DIR", dir, 1);
  port_.SetPort("zuv-pty");
  port_.Open();
  ::unsetenv("ZUV_PORT_DIR");
  ::unlink(link.c_str());
  ::rmdir(dir);
  const uint8_t b = 0x5A;
  EXPECT_EQ(port_.Write(&b, 1), 1);
  EXPECT_EQ(pty_.Receive(1), Bytes{0x5A});
}

// One wait over several ports wakes those with input waiting or a line gone
// away, and never a closed port.
TEST(PtyWait, OnlyPortsWithInputOrAHangUpWake) {
  PtyPair a, b;
  ASSERT_TRUE(a.ok() && b.ok());
  TComPort pa, pb, closed;
  for (auto [port, pty] : {std::pair{&pa, &a}, std::pair{&pb, &b}}) {
    port->SetPort(pty->slave());
    port->SetEvents(0);
    port->Open();
  }
  const std::vector<TCustomComPort*> ports{&pa, &pb, &closed};
  std::vector<bool> woken;
  ASSERT_TRUE(WaitForAnyInput(ports, 20, woken));
  EXPECT_EQ(woken, (std::vector<bool>{false, false, false}));
  b.Send({0x06});
  ASSERT_TRUE(WaitForAnyInput(ports, 10000, woken));
  EXPECT_EQ(woken, (std::vector<bool>{false, true, false}));
  a.HangUp();
  ASSERT_TRUE(WaitForAnyInput(ports, 10000, woken));
  EXPECT_EQ(woken, (std::vector<bool>{true, true, false}));
}
