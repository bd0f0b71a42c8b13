#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "memory_port.h"
#include "test_support.h"

using namespace serial;

namespace {
using Bytes = std::vector<uint8_t>;

class Io : public MemoryPortTest {
 protected:
  void SetUp() override {
    MemoryPortTest::SetUp();
    port().Open();
  }
  void SetReadTimeouts(int32_t interval, int32_t multiplier, int32_t constant) {
    port().BeginUpdate();
    port().Timeouts().SetReadInterval(interval);
    port().Timeouts().SetReadTotalMultiplier(multiplier);
    port().Timeouts().SetReadTotalConstant(constant);
    port().EndUpdate();
  }
  // Reads up to `count` bytes; `elapsed` is the device time the read took.
  Bytes ReadBytes(int32_t count, int64_t& elapsed) {
    Bytes buf(static_cast<size_t>(count));
    const int64_t start = dev().NowMs();
    const int32_t n = port().Read(buf.data(), count);
    elapsed = dev().NowMs() - start;
    buf.resize(static_cast<size_t>(n));
    return buf;
  }
};
}  // namespace

TEST_F(Io, DefaultReadReturnsAtOnceWithWhatHasArrived) {
  int64_t elapsed;
  EXPECT_EQ(ReadBytes(10, elapsed), Bytes{});
  EXPECT_EQ(elapsed, 0);
  dev().QueueChunk({1, 2, 3, 4}, 0);
  dev().QueueChunk({5}, 100);
  EXPECT_EQ(ReadBytes(10, elapsed), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(elapsed, 0);
}

TEST_F(Io, PollingReaderGetsOneScriptedChunkPerPoll) {
  dev().QueueChunk({1, 2});
  dev().QueueChunk({3});
  EXPECT_EQ(port().InputCount(), 2);
  int64_t elapsed;
  EXPECT_EQ(ReadBytes(10, elapsed), (Bytes{1, 2}));
  EXPECT_EQ(port().InputCount(), 1);
  EXPECT_EQ(ReadBytes(10, elapsed), Bytes{3});
}

TEST_F(Io, TotalTimeoutBoundsTheRead) {
  SetReadTimeouts(0, 10, 500);
  dev().QueueChunk({1, 2, 3}, 100);
  int64_t elapsed;
  EXPECT_EQ(ReadBytes(10, elapsed), (Bytes{1, 2, 3}));
  EXPECT_EQ(elapsed, 10 * 10 + 500);
}

TEST_F(Io, IntervalTimeoutEndsTheReadAtAGap) {
  SetReadTimeouts(50, 0, 10000);
  dev().QueueChunk({1, 2}, 300);  // the interval rule starts with the first byte
  dev().QueueChunk({3}, 40);
  dev().QueueChunk({4}, 40);
  dev().QueueChunk({5}, 200);
  int64_t elapsed;
  EXPECT_EQ(ReadBytes(10, elapsed), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(elapsed, 300 + 40 + 40 + 50);
  EXPECT_EQ(ReadBytes(10, elapsed), (Bytes{5}));
}

TEST_F(Io, NoTimeoutsWaitForTheWholeCount) {
  SetReadTimeouts(0, 0, 0);
  dev().QueueChunk({1, 2}, 0);
  dev().QueueChunk({3}, 10000);
  int64_t elapsed;
  EXPECT_EQ(ReadBytes(3, elapsed), (Bytes{1, 2, 3}));
  EXPECT_EQ(elapsed, 10000);
}

// The component's default interval with a total constant: the interval
// rule never ends the read, so it lasts the whole constant.
TEST_F(Io, LargestIntervalWithATotalConstantWaitsTheConstant) {
  SetReadTimeouts(-1, 0, 200);
  int64_t elapsed;
  EXPECT_EQ(ReadBytes(10, elapsed), Bytes{});
  EXPECT_EQ(elapsed, 200);
  dev().QueueChunk({1, 2}, 0);
  dev().QueueChunk({3}, 150);
  EXPECT_EQ(ReadBytes(10, elapsed), (Bytes{1, 2, 3}));
  EXPECT_EQ(elapsed, 200);
}

TEST_F(Io, WriteSendsEverythingAndStrings) {
  const uint8_t frame[] = {2, 1, 2, 0, 3};
  EXPECT_EQ(port().Write(frame, 5), 5);
  EXPECT_EQ(port().WriteStr(u"A\u0141\u00ff"), 3);
  EXPECT_EQ(dev().AllWritten(), (Bytes{2, 1, 2, 0, 3, 'A', 0x41, 0xFF}));
  dev().ClearWrites();
  EXPECT_EQ(port().WriteStr(u""), 0);
  EXPECT_TRUE(dev().Writes().empty());
}

TEST_F(Io, ReadStrKeepsEveryByteValue) {
  dev().QueueChunk({'o', 'k', 0x00, 0x80, 0xFF});
  std::u16string s;
  EXPECT_EQ(port().ReadStr(s, 10), 5);
  EXPECT_EQ(s, (std::u16string{u'o', u'k', 0, 0x80, 0xFF}));
}

TEST_F(Io, UnicodeStringsFollowTheCodePage) {
  const std::u16string text = u"\u0160\u0111\u0416";  // Š đ Ж
  EXPECT_EQ(port().WriteUnicodeString(text), 6);
  EXPECT_EQ(dev().AllWritten(), (Bytes{0xC5, 0xA0, 0xC4, 0x91, 0xD0, 0x96}));
  dev().ClearWrites();
  port().SetCodePage(1250);
  EXPECT_EQ(port().WriteUnicodeString(u"\u0160\u0111x\u0416"), 4);  // Ж is not in 1250
  EXPECT_EQ(dev().AllWritten(), (Bytes{0x8A, 0xF0, 'x', '?'}));

  port().SetCodePage(1251);
  dev().QueueChunk({0xC6, 0xE0});
  std::u16string got;
  EXPECT_EQ(port().ReadUnicodeString(got, 10), 2);
  EXPECT_EQ(got, u"\u0416\u0430");

  port().SetCodePage(0);
  dev().QueueChunk({'a', 0xC5, 0xA0, 0xFF});
  EXPECT_EQ(port().ReadUnicodeString(got, 10), 3);
  EXPECT_EQ(got, u"a\u0160\uFFFD");
}

TEST_F(Io, ClosedPortReportsPortNotOpen) {
  port().Close();
  const uint8_t b = 0;
  EXPECT_EQ(RaisedBy([&] { port().Write(&b, 1); }), (Raised{CError_PortNotOpen, -1, "Port Not Open"}));
  // With a handler the device call fails in turn and nothing moves.
  CollectErrors();
  uint8_t buf[4];
  EXPECT_EQ(port().Write(&b, 1), 0);
  EXPECT_EQ(port().Read(buf, 4), 0);
  EXPECT_EQ(ReportedKinds(), (std::vector<TComExceptions>{CEPortNotOpen, CE_WriteFailed,
                                                           CEPortNotOpen, CE_ReadFailed}));
  EXPECT_EQ(reports_[0].winError, -24);
  EXPECT_EQ(reports_[0].winMessage, "");
  EXPECT_EQ(reports_[1].winError, EBADF);
  EXPECT_EQ(port().InputCount(), 0);
  EXPECT_FALSE(port().WaitForInput(10));
}

TEST_F(Io, AsyncReadCompletesLater) {
  SetReadTimeouts(0, 0, 1000);
  uint8_t buf[4] = {};
  PAsync async = nullptr;
  InitAsync(async);
  EXPECT_EQ(port().ReadAsync(buf, 4, async), 0);
  EXPECT_FALSE(port().IsAsyncCompleted(async));
  dev().QueueChunk({7, 8});
  EXPECT_FALSE(port().IsAsyncCompleted(async));  // 2 of 4, time left
  dev().QueueChunk({9, 10, 11});
  EXPECT_TRUE(port().IsAsyncCompleted(async));
  EXPECT_EQ(port().WaitForAsync(async), 4);
  EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{7, 8, 9, 10}));
  DoneAsync(async);

  // A read that completes at once reports its count straight away.
  InitAsync(async);
  EXPECT_EQ(port().ReadAsync(buf, 1, async), 1);
  EXPECT_EQ(buf[0], 11);
  DoneAsync(async);
}

TEST_F(Io, AbortCompletesPendingOperationsAsFailed) {
  SetReadTimeouts(0, 0, 0);
  uint8_t buf[4];
  PAsync async = nullptr;
  InitAsync(async);
  port().ReadAsync(buf, 4, async);
  port().AbortAllAsync();
  EXPECT_EQ(dev().lastPurgeFlags, PURGE_TXABORT | PURGE_RXABORT);
  CollectErrors();
  EXPECT_TRUE(port().IsAsyncCompleted(async));
  EXPECT_EQ(port().WaitForAsync(async), 0);
  EXPECT_EQ(ReportedKinds(), (std::vector<TComExceptions>{CE_AsyncCheck, CE_ReadFailed}));
  EXPECT_EQ(reports_[1].winError, ECANCELED);
  DoneAsync(async);
}

TEST_F(Io, RecordsOutliveOrPrecedeTheirPort) {
  SetReadTimeouts(0, 0, 0);
  uint8_t buf[4];
  PAsync early = nullptr, late = nullptr;
  InitAsync(early);
  InitAsync(late);
  port().ReadAsync(buf, 4, early);
  port().ReadAsync(buf, 4, late);
  DoneAsync(early);  // gone while pending: the port must forget it
  port().Close();
  port().Open();
  port().ReadAsync(buf, 4, late);
  // The port goes first, and its Close cannot abort (the line is gone): the
  // record must still not point at it.
  dev().HangUp();
  TearDown();
  SetUp();
  CollectErrors();
  EXPECT_TRUE(port().IsAsyncCompleted(late));
  EXPECT_EQ(port().WaitForAsync(late), 0);
  DoneAsync(late);
}

TEST_F(Io, StatusAndLineControlCalls) {
  dev().QueueChunk({1, 2, 3});
  EXPECT_EQ(port().InputCount(), 3);
  port().ClearBuffer(true, true);
  EXPECT_EQ(dev().lastPurgeFlags, PURGE_RXCLEAR | PURGE_TXCLEAR);
  EXPECT_EQ(port().InputCount(), 0);
  const int purges = dev().purgeCalls;
  port().ClearBuffer(false, false);
  EXPECT_EQ(dev().purgeCalls, purges + 1);
  EXPECT_EQ(dev().lastPurgeFlags, 0u);

  std::vector<int> escapes;
  for (bool on : {true, false}) {
    for (auto call : {&TCustomComPort::SetXonXoff, &TCustomComPort::SetRTS,
                      &TCustomComPort::SetDTR, &TCustomComPort::SetBreak}) {
      (port().*call)(on);
      escapes.push_back(dev().lastEscape);
    }
  }
  EXPECT_EQ(escapes, (std::vector<int>{SETXON, SETRTS, SETDTR, SETBREAK, SETXOFF, CLRRTS, CLRDTR,
                                       CLRBREAK}));
  port().TransmitChar(0x141);
  EXPECT_EQ(dev().transmitted, Bytes{0x41});
  dev().modemStatus = MS_CTS_ON | MS_RING_ON;
  EXPECT_EQ(port().Signals(), (1u << csCTS) | (1u << csRing));
  dev().modemStatus = MS_DSR_ON | MS_RLSD_ON;
  EXPECT_EQ(port().Signals(), (1u << csDSR) | (1u << csRLSD));
}

TEST_F(Io, WaitForInputSleepsOnTheDeviceAndTakesNothing) {
  dev().QueueChunk({1, 2}, 100);
  EXPECT_FALSE(port().WaitForInput(60));
  EXPECT_EQ(dev().NowMs(), 60);
  EXPECT_TRUE(port().WaitForInput(1000));
  EXPECT_EQ(dev().NowMs(), 100);
  EXPECT_EQ(port().InputCount(), 2);
}

TEST_F(Io, OpenAndCloseNotifyInOrder) {
  port().Close();
  dev().modemStatus = MS_CTS_ON | MS_RLSD_ON;
  std::vector<std::string> log;
  LogNotifications(port(), log);
  port().Open();
  port().Open();
  EXPECT_TRUE(port().ThreadCreated());  // Events not empty
  port().Close();
  port().Close();
  EXPECT_FALSE(port().ThreadCreated());
  EXPECT_EQ(log, (std::vector<std::string>{"before-open", "after-open 1", "cts 1", "dsr 0",
                                           "rlsd 1", "cts 0", "dsr 0", "rlsd 0", "before-close",
                                           "after-close 0"}));
  EXPECT_EQ(dev().openCalls, 2);
  EXPECT_EQ(dev().closeCalls, 2);
}

TEST_F(Io, NewPortNameReopens) {
  const int opens = dev().openCalls;
  port().SetPort("/dev/zuv-other");
  EXPECT_TRUE(port().Connected());
  EXPECT_EQ(dev().openCalls, opens + 1);
  EXPECT_EQ(dev().openedPath, "/dev/zuv-other");
  port().SetConnected(false);
  port().SetPort("/dev/zuv-third");
  EXPECT_EQ(dev().openCalls, opens + 1);
}

namespace {

// Reports the line errors set in `pending` at the next status query, once.
class ErrorBitsDevice : public MemoryDevice {
 public:
  uint32_t pending = 0;
  int ClearCommError(TComStat& stat) override {
    const int err = MemoryDevice::ClearCommError(stat);
    stat.Errors = pending;
    pending = 0;
    return err;
  }
};

TComErrors ErrorSet(std::initializer_list<TComError> errors) {
  TComErrors set = 0;
  for (TComError e : errors) set |= static_cast<TComErrors>(1u << e);
  return set;
}

}  // namespace

TEST(LineErrors, ParityErrorsCountOnlyWithParityChecking) {
  const DeviceFactory previous =
      TCustomComPort::SetDefaultDeviceFactory([] { return std::make_unique<ErrorBitsDevice>(); });
  TComPort port;
  port.Open();
  auto& dev = static_cast<ErrorBitsDevice&>(port.Device());
  const uint32_t every = CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK | CE_TXFULL |
                         CE_IOE | CE_MODE;
  const TComErrors others = ErrorSet({ceRxOver, ceOverrun, ceFrame, ceBreak, ceTxFull, ceIO, ceMode});
  for (bool check : {true, false}) {
    SCOPED_TRACE(check);
    port.Parity().SetCheck(check);
    dev.pending = CE_RXPARITY;
    EXPECT_EQ(port.LastErrors(), check ? ErrorSet({ceRxParity}) : 0);
    dev.pending = every;
    EXPECT_EQ(port.LastErrors(), check ? others | ErrorSet({ceRxParity}) : others);
  }
  port.Close();
  TCustomComPort::SetDefaultDeviceFactory(previous);
}
