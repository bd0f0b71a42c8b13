#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "memory_port.h"
#include "serial/error_text.h"
#include "test_support.h"

using namespace serial;

namespace {

// Counts of the three apply calls on the device.
struct Applied {
  int state, timeouts, setup;
  bool operator==(const Applied&) const = default;
};
Applied CallsOf(const MemoryDevice& d) {
  return {d.setCommStateCalls, d.setCommTimeoutsCalls, d.setupCommCalls};
}
void PrintTo(const Applied& a, std::ostream* os) {
  *os << "{state " << a.state << ", timeouts " << a.timeouts << ", setup " << a.setup << "}";
}

}  // namespace

using Settings = MemoryPortTest;

TEST_F(Settings, NewComponentHasTheDefaults) {
  EXPECT_EQ(port().BaudRate(), br9600);
  EXPECT_EQ(port().CustomBaudRate(), 9600);
  EXPECT_EQ(port().Port(), "COM1");
  EXPECT_EQ(port().StopBits(), sbOneStopBit);
  EXPECT_EQ(port().DataBits(), dbEight);
  EXPECT_EQ(port().Parity().Bits(), prNone);
  EXPECT_EQ(port().FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port().FlowControl().XonChar(), 17);
  EXPECT_EQ(port().FlowControl().XoffChar(), 19);
  const TComTimeouts& t = port().Timeouts();
  EXPECT_EQ((std::vector<int32_t>{t.ReadInterval(), t.ReadTotalMultiplier(), t.ReadTotalConstant(),
                                  t.WriteTotalMultiplier(), t.WriteTotalConstant()}),
            (std::vector<int32_t>{-1, 0, 0, 100, 1000}));
  EXPECT_EQ(port().Buffer().InputSize(), 1024);
  EXPECT_EQ(port().Buffer().OutputSize(), 1024);
  EXPECT_EQ(port().Events(), 1023);
  EXPECT_EQ(port().SyncMethod(), smThreadSync);
  EXPECT_EQ(port().EventThreadPriority(), tpNormal);
  EXPECT_TRUE(port().TriggersOnRxChar());
  EXPECT_EQ(port().StoredProps(), StoredBit(spBasic));
  EXPECT_EQ(port().Handle(), -1);
}

TEST_F(Settings, ClosedPortOnlyStores) {
  port().SetBaudRate(br115200);
  port().Parity().SetBits(prEven);
  port().Timeouts().SetReadTotalConstant(50);
  port().Buffer().SetInputSize(4096);
  EXPECT_EQ(CallsOf(dev()), (Applied{0, 0, 0}));
  port().Open();
  EXPECT_EQ(CallsOf(dev()), (Applied{1, 1, 1}));
  const TDCB& d = dev().lastDCB;
  EXPECT_EQ(d.BaudRate, 115200u);
  EXPECT_EQ(d.Parity, 2);
  EXPECT_EQ(d.Flags, dcb_Binary);
  EXPECT_EQ(d.XonLim, 4096 / 4);
  EXPECT_EQ(d.XoffLim, 4096 / 4);
  EXPECT_EQ(dev().lastTimeouts.ReadTotalTimeoutConstant, 50u);
  EXPECT_EQ(dev().lastTimeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(dev().lastInputSize, 4096);
}

TEST_F(Settings, SetupComPortRunsBufferThenLineThenTimeouts) {
  struct Recording : TComPort {
    std::vector<std::string> steps;
    void ApplyBuffer() override { steps.push_back("buffer"); TComPort::ApplyBuffer(); }
    void ApplyDCB() override { steps.push_back("dcb"); TComPort::ApplyDCB(); }
    void ApplyTimeouts() override { steps.push_back("timeouts"); TComPort::ApplyTimeouts(); }
  } rec;
  rec.Open();
  EXPECT_EQ(rec.steps, (std::vector<std::string>{"buffer", "dcb", "timeouts"}));
}

TEST_F(Settings, OpenPortAppliesOnlyRealChanges) {
  port().Open();
  const Applied base = CallsOf(dev());
  port().SetBaudRate(br9600);
  port().Parity().SetCheck(false);
  port().Timeouts().SetReadInterval(-1);
  EXPECT_EQ(CallsOf(dev()), base);

  port().SetBaudRate(br19200);
  EXPECT_EQ(CallsOf(dev()), (Applied{base.state + 1, base.timeouts, base.setup}));
  port().Timeouts().SetWriteTotalConstant(10);
  port().Buffer().SetOutputSize(2048);
  EXPECT_EQ(CallsOf(dev()), (Applied{base.state + 1, base.timeouts + 1, base.setup + 1}));

  // Setting a whole object applies even when nothing differs.
  TComParity same;
  port().SetParity(same);
  TComTimeouts timeouts;
  timeouts.Assign(port().Timeouts());
  port().SetTimeouts(timeouts);
  EXPECT_EQ(CallsOf(dev()), (Applied{base.state + 2, base.timeouts + 2, base.setup + 1}));
  port().FlowControl().SetFlowControl(fcCustom);
  EXPECT_EQ(dev().setCommStateCalls, base.state + 3);
}

// An enumeration can hold values it does not name (3 for the stop bits, 7
// for the parity); those must not index past the device-value tables, and
// reach the device as values it refuses.
TEST_F(Settings, UnnamedEnumerationValuesAreNotLookedUp) {
  port().Open();
  port().SetStopBits(static_cast<TStopBits>(3));
  EXPECT_EQ(dev().lastDCB.StopBits, 0xFF);
  port().Parity().SetBits(static_cast<TParityBits>(7));
  EXPECT_EQ(dev().lastDCB.Parity, 0xFF);
  port().FlowControl().SetControlDTR(static_cast<TDTRFlowControl>(3));
  EXPECT_EQ(dev().lastDCB.Flags & dcb_DTRControl, 0x0020u);
}

TEST_F(Settings, UpdatesHeldBackUntilTheOutermostEndUpdate) {
  port().Open();
  const Applied base = CallsOf(dev());
  port().BeginUpdate();
  port().BeginUpdate();
  port().SetBaudRate(br38400);
  port().Timeouts().SetReadTotalConstant(100);
  port().Buffer().SetInputSize(512);
  port().EndUpdate();
  EXPECT_EQ(CallsOf(dev()), base);
  port().EndUpdate();
  EXPECT_EQ(CallsOf(dev()), (Applied{base.state + 1, base.timeouts + 1, base.setup + 1}));
  EXPECT_EQ(dev().lastDCB.BaudRate, 38400u);
  EXPECT_EQ(dev().lastInputSize, 512);
  port().EndUpdate();
  EXPECT_EQ(CallsOf(dev()), (Applied{base.state + 1, base.timeouts + 1, base.setup + 1}));
}

TEST_F(Settings, LineRecordCarriesEverySetting) {
  port().Open();
  port().BeginUpdate();
  port().SetDataBits(dbSeven);
  port().SetStopBits(sbTwoStopBits);
  port().SetDiscardNull(true);
  port().SetEventChar(0x10D);
  port().Parity().SetBits(prMark);
  port().Parity().SetCheck(true);
  port().Parity().SetReplace(true);
  port().Parity().SetReplaceChar(0x13F);
  TComFlowControl& fc = port().FlowControl();
  fc.SetFlowControl(fcHardware);
  fc.SetOutDSRFlow(true);
  fc.SetControlDTR(dtrEnable);
  fc.SetDSRSensitivity(true);
  fc.SetTxContinueOnXoff(true);
  fc.SetXonChar(0x111);
  fc.SetXoffChar(0x113);
  port().Buffer().SetInputSize(7);
  port().EndUpdate();

  const TDCB& d = dev().lastDCB;
  EXPECT_EQ(d.Flags, dcb_Binary | dcb_Parity | dcb_OutxCTSFlow | dcb_OutxDSRFlow | 0x0010u |
                         dcb_DSRSensivity | dcb_TxContinueOnXoff | dcb_ErrorChar | dcb_Null |
                         0x2000u);
  EXPECT_EQ(d.ByteSize, 7);
  EXPECT_EQ(d.StopBits, 2);
  EXPECT_EQ(d.Parity, 3);
  EXPECT_EQ(d.EvtChar, 0x0D);
  EXPECT_EQ(d.ErrorChar, 0x3F);
  EXPECT_EQ(d.XonChar, 0x11);
  EXPECT_EQ(d.XoffChar, 0x13);
  EXPECT_EQ(d.XonLim, 1);
  EXPECT_EQ(d.XoffLim, 1);

  fc.SetFlowControl(fcSoftware);
  EXPECT_EQ(dev().lastDCB.Flags & (dcb_OutX | dcb_InX | dcb_OutxCTSFlow | dcb_RTSControl),
            dcb_OutX | dcb_InX);
}

TEST_F(Settings, ReplaceWithoutCheckSetsNeitherFlag) {
  port().Open();
  port().Parity().SetReplaceChar(u'?');
  port().Parity().SetReplace(true);
  EXPECT_EQ(dev().lastDCB.Flags & (dcb_Parity | dcb_ErrorChar), 0u);
  EXPECT_EQ(dev().lastDCB.ErrorChar, 0);
}

TEST_F(Settings, CustomRateOnlyWithCustomBaudRate) {
  port().Open();
  port().SetCustomBaudRate(31250);
  EXPECT_EQ(dev().lastDCB.BaudRate, 9600u);
  port().SetBaudRate(brCustom);
  EXPECT_EQ(dev().lastDCB.BaudRate, 31250u);
  port().SetBaudRate(br14400);
  EXPECT_EQ(dev().lastDCB.BaudRate, 14400u);
}

TEST(FlowControlSummary, ReadsAndWritesTheFourFlags) {
  TComFlowControl fc;
  fc.SetFlowControl(fcHardware);
  EXPECT_EQ(fc.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(fc.OutCTSFlow());
  fc.SetOutDSRFlow(true);  // not part of the summary
  EXPECT_EQ(fc.FlowControl(), fcHardware);
  fc.SetXonXoffIn(true);
  EXPECT_EQ(fc.FlowControl(), fcCustom);
  fc.SetFlowControl(fcCustom);
  EXPECT_TRUE(fc.XonXoffIn() && fc.OutCTSFlow());

  fc.SetFlowControl(fcSoftware);
  EXPECT_EQ(fc.ControlRTS(), rtsDisable);
  EXPECT_FALSE(fc.OutCTSFlow());
  EXPECT_EQ(fc.FlowControl(), fcSoftware);
  fc.SetFlowControl(fcNone);
  EXPECT_EQ(fc.FlowControl(), fcNone);
  fc.SetControlRTS(rtsEnable);
  EXPECT_EQ(fc.FlowControl(), fcCustom);
}

TEST(BufferSizes, OddPositiveSizesAreStoredOneLower) {
  TComBuffer b;
  const std::pair<int32_t, int32_t> cases[] = {{1025, 1024}, {7, 6}, {1, 0}, {-3, -3}, {0, 0}, {2, 2}};
  for (const auto& [given, stored] : cases) {
    b.SetInputSize(given);
    b.SetOutputSize(given);
    EXPECT_EQ(b.InputSize(), stored) << given;
    EXPECT_EQ(b.OutputSize(), stored) << given;
  }
}

TEST_F(Settings, AssignCopiesWithoutApplying) {
  port().Open();
  const Applied base = CallsOf(dev());
  TComFlowControl fc;
  fc.SetFlowControl(fcSoftware);
  fc.SetXonChar(u'A');
  port().FlowControl().Assign(fc);
  TComBuffer b;
  b.SetInputSize(64);
  b.AssignTo(port().Buffer());
  EXPECT_EQ(CallsOf(dev()), base);
  EXPECT_EQ(port().FlowControl().FlowControl(), fcSoftware);
  EXPECT_EQ(port().FlowControl().XonChar(), u'A');
  EXPECT_EQ(port().Buffer().InputSize(), 64);
  EXPECT_EQ(port().FlowControl().ComPort(), &port());
  EXPECT_EQ(fc.ComPort(), nullptr);
}

TEST(AssignTo, UnlikeClassesFailAndCopyNothing) {
  TComParity parity;
  TComTimeouts timeouts;
  timeouts.SetReadInterval(5);
  EXPECT_THROW(parity.AssignTo(timeouts), EConvertError);
  EXPECT_THROW(parity.Assign(timeouts), EConvertError);
  EXPECT_EQ(timeouts.ReadInterval(), 5);
}

TEST_F(Settings, FrozenPropertiesRefuseChangesWhileConnected) {
  port().SetSyncMethod(smWindowSync);
  EXPECT_EQ(port().SyncMethod(), smWindowSync);
  port().Open();
  EXPECT_EQ(RaisedBy([&] { port().SetSyncMethod(smNone); }),
            (Raised{CError_ConnChangeProp, -1, "Cannot set property while connected"}));
  EXPECT_EQ(port().SyncMethod(), smWindowSync);
  port().SetSyncMethod(smWindowSync);  // unchanged: no error

  CollectErrors();
  port().SetEventThreadPriority(tpHighest);
  EXPECT_EQ(port().EventThreadPriority(), tpNormal);
  EXPECT_EQ(ReportedKinds(), std::vector<TComExceptions>{CE_ConnChangeProp});
  port().Close();
  port().SetEventThreadPriority(tpHighest);
  EXPECT_EQ(port().EventThreadPriority(), tpHighest);
}

TEST_F(Settings, RefusedLineParametersReportButKeepTheValue) {
  port().Open();
  dev().setCommStateError = EINVAL;
  EXPECT_EQ(RaisedBy([&] { port().SetStopBits(sbOne5StopBits); }),
            (Raised{CError_SetStateFailed, EINVAL, "SetCommState function failed (Error: 22)"}));
  EXPECT_EQ(port().StopBits(), sbOne5StopBits);

  // With a handler the later steps of the setup still run.
  CollectErrors();
  port().Close();
  const Applied before = CallsOf(dev());
  port().Open();
  EXPECT_EQ(CallsOf(dev()), (Applied{before.state + 1, before.timeouts + 1, before.setup + 1}));
  EXPECT_EQ(ReportedKinds(), std::vector<TComExceptions>{CE_SetStateFailed});
  // The system's words for the code: errno's on Linux, Win32's on Windows.
  EXPECT_EQ(reports_[0].winMessage, "System Error.  Code: 22.\r\n" + serial::ErrorCodeText(EINVAL));
  EXPECT_TRUE(port().Connected());
}

// A link layer's handler leaves at the first error; Open must then fail on
// the second one (the setup against a device that never opened) and end up
// closed.
TEST_F(Settings, FailedOpenWithSelfRemovingHandler) {
  dev().openError = ENOENT;
  std::vector<std::string> events;
  port().OnBeforeOpen = [&](TCustomComPort*) { events.push_back("before-open"); };
  port().OnAfterOpen = [&](TCustomComPort*) { events.push_back("after-open"); };
  port().OnException = [&](TCustomComPort* sender, TComExceptions kind, const std::string& msg,
                           int64_t win, const std::string&) {
    events.push_back("handler " + std::to_string(kind) + " " + msg + " " + std::to_string(win));
    sender->OnException = nullptr;
  };
  EXPECT_EQ(RaisedBy([&] { port().Open(); }),
            (Raised{CError_SetupComFailed, EBADF, "SetupComm function failed (Error: 9)"}));
  EXPECT_EQ(events, (std::vector<std::string>{"before-open",
                                              "handler 0 Unable to open com port 2"}));
  EXPECT_FALSE(port().Connected());
  EXPECT_EQ(dev().setupCommCalls, 1);
  EXPECT_EQ(dev().setCommStateCalls, 0);
}

TEST_F(Settings, FailedOpenWithoutHandlerStaysClosed) {
  dev().openError = EBUSY;
  bool afterOpen = false;
  port().OnAfterOpen = [&](TCustomComPort*) { afterOpen = true; };
  EXPECT_EQ(RaisedBy([&] { port().Open(); }),
            (Raised{CError_OpenFailed, EBUSY, "Unable to open com port (Error: 16)"}));
  EXPECT_FALSE(port().Connected());
  EXPECT_FALSE(afterOpen);
  EXPECT_EQ(CallsOf(dev()), (Applied{0, 0, 0}));
}
