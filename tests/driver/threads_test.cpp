// Several printers in one program: one thread per printer, each with its own
// driver state, against emulators on pseudo-terminals.
#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/log_sink.h"
#include "driver/comportzuv.h"
#include "emulator/pty_server.h"

using namespace zuv;

namespace {

constexpr int kRounds = 25;
constexpr uint8_t kPrinterError = 34;  // a code the error table holds

// What one printer's thread saw, checked on the test's thread.
struct Outcome {
  bool opened = false;
  std::vector<bool> results;
  std::vector<int32_t> errorCodes;
  std::vector<ByteList> replies;
  std::vector<int32_t> dataIndexes;
  diag::RecordingSink sink;
  bool portLeftOpen = false;
};

class PrintersSideBySide : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDriverState();
    ASSERT_TRUE(failing.Start()) << failing.Error();
    ASSERT_TRUE(answering.Start()) << answering.Error();
    failing.With([](emu::PrinterEmulator& e) { e.InjectError(kPrinterError, emu::kAlways); });
  }
  void TearDown() override { ResetDriverState(); }

  // Runs `exchange` kRounds times on its own thread, on its own port, with
  // the traffic log on when `debug`; both threads start exchanging together.
  std::thread Drive(emu::PtyServer& printer, Outcome& out, bool debug, bool (*exchange)()) {
    return std::thread([this, &printer, &out, debug, exchange] {
      diag::SetLogSink(&out.sink);
      out.opened = TComPortZUV::OpenPort(printer.PortName(), 115200, true, debug);
      bothOpen.arrive_and_wait();
      for (int i = 0; i < kRounds && out.opened; ++i) {
        out.results.push_back(exchange());
        out.errorCodes.push_back(ErrorCode);
        out.replies.push_back(*receiveBuffer);
        out.dataIndexes.push_back(RxDataIndex);
      }
      out.portLeftOpen = comport != nullptr;
      diag::SetLogSink(nullptr);
    });  // the thread's port closes as it ends
  }

  emu::PtyServer failing;
  emu::PtyServer answering;
  std::latch bothOpen{2};
};

bool ReadClock() { return !TFiscal::CitajVreme().empty(); }
bool InterimReport() { return TFiscal::PresekStanja(); }

size_t LinesWith(const diag::RecordingSink& sink, const std::string& text) {
  size_t n = 0;
  for (const auto& line : sink.lines) n += line.find(text) != std::string::npos;
  return n;
}

}  // namespace

TEST_F(PrintersSideBySide, EachThreadSeesOnlyItsOwnPrinter) {
  ErrorCode = 7;  // the test thread's own state stays as it is
  Outcome refused, answered;
  std::thread a = Drive(failing, refused, true, &InterimReport);
  std::thread b = Drive(answering, answered, false, &ReadClock);
  a.join();
  b.join();

  ASSERT_TRUE(refused.opened);
  ASSERT_TRUE(answered.opened);
  ASSERT_EQ(refused.results.size(), size_t(kRounds));
  ASSERT_EQ(answered.results.size(), size_t(kRounds));
  for (int i = 0; i < kRounds; ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(refused.results[i]);
    EXPECT_EQ(refused.errorCodes[i], kPrinterError);
    // The error reply, never the other printer's clock reply.
    ASSERT_GE(refused.replies[i].size(), 5u);
    EXPECT_EQ(refused.replies[i][3], 0x7F);
    EXPECT_EQ(refused.replies[i][4], kPrinterError);

    EXPECT_TRUE(answered.results[i]);
    EXPECT_EQ(answered.errorCodes[i], 0);
    ASSERT_GE(answered.replies[i].size(), 4u);
    EXPECT_EQ(answered.replies[i][3], 2);  // the clock command's reply
    EXPECT_EQ(answered.dataIndexes[i], 4);
  }
  EXPECT_TRUE(refused.portLeftOpen);
  EXPECT_TRUE(answered.portLeftOpen);

  // Each thread's log went to its own sink: only the debugging thread wrote,
  // and only about its own printer.
  EXPECT_EQ(LinesWith(refused.sink, "{cmd:89,"), size_t(kRounds));
  EXPECT_EQ(LinesWith(refused.sink, "{cmd:2,"), 0u);
  EXPECT_TRUE(answered.sink.lines.empty());

  EXPECT_EQ(ErrorCode, 7);
  EXPECT_EQ(comport, nullptr);
  EXPECT_FALSE(DebugMode);
  EXPECT_EQ(failing.With([](emu::PrinterEmulator& e) { return e.RequestCount(); }),
            size_t(kRounds));
  EXPECT_EQ(answering.With([](emu::PrinterEmulator& e) { return e.RequestCount(); }),
            size_t(kRounds));
}

TEST_F(PrintersSideBySide, AThreadsPortClosesWhenTheThreadEnds) {
  Outcome first;
  bothOpen.count_down();  // one thread only
  Drive(answering, first, false, &ReadClock).join();
  ASSERT_TRUE(first.portLeftOpen);
  // The device is locked while a port holds it: opening it here succeeds
  // only because the ended thread's port was closed.
  ASSERT_TRUE(TComPortZUV::OpenPort(answering.PortName(), 115200, true, false));
  EXPECT_TRUE(TFiscal::TestVeze());
  EXPECT_EQ(ErrorCode, 0);
}
