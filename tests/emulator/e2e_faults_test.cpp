// The printer misbehaving, end to end: refusals, device errors, silence,
// busy codes and a line that goes away. The time-out cases wait out the
// real 2.5 s reply budget, one per test so that they can run side by side.
#include "e2e_fixture.h"

namespace e2e {
namespace {

using zuv::TComPortZUV;
using zuv::TFiscal;

TEST_F(EndToEnd, ThreeNacksGiveUpAndTwoDoNot) {
  Emu([](emu::PrinterEmulator& e) {
    e.SetDailyReportNumber(7);
    e.InjectNack(3);
  });
  EXPECT_EQ(TFiscal::CitajBD(), -1);
  EXPECT_EQ(zuv::ErrorCode, -2);
  auto requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& r : requests) {
    EXPECT_EQ(r.answer, emu::Answer::kNack);
    EXPECT_TRUE(r.checksum_ok);
    EXPECT_EQ(r.command, 86);
  }

  // A refused daily report is not done, whatever the rule for reports says.
  Emu([](emu::PrinterEmulator& e) { e.InjectNack(3); });
  EXPECT_FALSE(TFiscal::DnevniIzvestaj());
  EXPECT_EQ(zuv::ErrorCode, -2);
  EXPECT_EQ(RequestCount(), 6u);
  EXPECT_EQ(Emu([](emu::PrinterEmulator& e) { return e.DailyReportNumber(); }), 7);

  Emu([](emu::PrinterEmulator& e) { e.InjectNack(2); });
  EXPECT_EQ(TFiscal::CitajBD(), 7);
  EXPECT_EQ(zuv::ErrorCode, 0);
  requests = Requests();
  ASSERT_EQ(requests.size(), 9u);
  EXPECT_EQ(requests[6].answer, emu::Answer::kNack);
  EXPECT_EQ(requests[7].answer, emu::Answer::kNack);
  EXPECT_EQ(requests[8].answer, emu::Answer::kReply);
  // Only the one exchange that succeeded was closed.
  EXPECT_EQ(ClosingBytes(1), 1u);
}

TEST_F(EndToEnd, DeviceErrorsReachTheCaller) {
  Emu([](emu::PrinterEmulator& e) {
    e.SetDailyReportNumber(3);
    ASSERT_TRUE(e.Sell({{"Hleb", 100, 1000}}));
  });
  // A Z report with a receipt open: the printer's listed code 34 as it is.
  EXPECT_FALSE(TFiscal::DnevniIzvestaj());
  EXPECT_EQ(zuv::ErrorCode, 34);
  Emu([](emu::PrinterEmulator& e) {
    EXPECT_TRUE(e.ZReports().empty());
    EXPECT_EQ(e.DailyReportNumber(), 3);
    EXPECT_TRUE(e.ReceiptOpen());
  });

  // Codes the driver has no message for come back raised by 1000.
  Emu([](emu::PrinterEmulator& e) { e.InjectError(5); });
  EXPECT_FALSE(TFiscal::TrakuSeci());
  EXPECT_EQ(zuv::ErrorCode, 1005);
  EXPECT_EQ(Emu([](emu::PrinterEmulator& e) { return e.PaperCuts(); }), 0);

  // Reports too fail on an error reply, although it began with an ACK.
  Emu([](emu::PrinterEmulator& e) { e.InjectError(5); });
  EXPECT_FALSE(TFiscal::PresekStanja());
  EXPECT_EQ(zuv::ErrorCode, 1005);
  Emu([](emu::PrinterEmulator& e) { e.InjectError(200); });
  EXPECT_FALSE(TFiscal::PeriodicniIzvestaj(44256.0, 44286.0));
  EXPECT_EQ(zuv::ErrorCode, 1200);

  EXPECT_FALSE(TFiscal::PromenaCene(77, 1.0));  // no such article
  EXPECT_EQ(zuv::ErrorCode, 18);
  EXPECT_EQ(ClosingBytes(0), 0u);
  EXPECT_EQ(TFiscal::CitajIBFM(), u"ZU123456");
  EXPECT_EQ(ClosingBytes(1), 1u);
  EXPECT_TRUE(TFiscal::StornoCeoRacun());
  EXPECT_EQ(ClosingBytes(2), 2u);
  EXPECT_FALSE(TFiscal::NaplataRacuna(0, 1.0));  // nothing open to pay
  EXPECT_EQ(zuv::ErrorCode, 38);
  EXPECT_FALSE(TFiscal::StornoCeoRacun());
  EXPECT_EQ(zuv::ErrorCode, 38);

  // A payment type the printer does not have is refused before sending.
  const size_t sent = RequestCount();
  EXPECT_FALSE(TFiscal::NaplataRacuna(3, 10.0));
  EXPECT_FALSE(TFiscal::NaplataRacuna(-1, 10.0));
  EXPECT_EQ(zuv::ErrorCode, 38);
  EXPECT_EQ(RequestCount(), sent);

  for (const auto& r : Requests()) {
    if (r.command == 3 || r.command == 50) continue;
    EXPECT_EQ(r.answer, emu::Answer::kError) << int(r.command);
  }
  // No error reply was closed: the next closing byte is the third.
  EXPECT_TRUE(TFiscal::TestVeze());
  EXPECT_EQ(ClosingBytes(3), 3u);
}

TEST_F(EndToEnd, SilenceTimesOutWithoutRetry) {
  Emu([](emu::PrinterEmulator& e) { e.InjectSilence(1); });
  const auto t0 = Clock::now();
  EXPECT_EQ(TFiscal::CitajIBFM(), u"");
  const double waited = MsSince(t0);
  EXPECT_EQ(zuv::ErrorCode, -1);
  EXPECT_GE(waited, 2500.0);
  EXPECT_EQ(RequestCount(), 1u);
  EXPECT_TRUE(zuv::receiveBuffer->empty());

  EXPECT_EQ(TFiscal::CitajIBFM(), u"ZU123456");
  EXPECT_EQ(ClosingBytes(1), 1u);
}

TEST_F(EndToEnd, AcknowledgedReportCountsWithoutItsReply) {
  Emu([](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
  EXPECT_TRUE(TFiscal::PresekStanja());
  EXPECT_EQ(zuv::ErrorCode, -1);
  EXPECT_EQ(*zuv::receiveBuffer, Bytes{0x06});
  EXPECT_NE(Paper().find("X REPORT"), std::string::npos);
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].answer, emu::Answer::kAckThenSilence);
  EXPECT_EQ(ClosingBytes(0), 0u);
}

TEST_F(EndToEnd, WaitCodesKeepTheExchangeAlivePastTheBudget) {
  Emu([](emu::PrinterEmulator& e) {
    e.SetDailyReportNumber(12);
    // Reply 2.8 s after the ACK, never 2.5 s without a sign of life.
    e.InjectWaitCodes({{0x08}, {0x09}, {0x07, 0x12}}, Millis(700));
  });
  const auto t0 = Clock::now();
  EXPECT_EQ(TFiscal::CitajBD(), 12);
  EXPECT_GE(MsSince(t0), 2800.0);
  EXPECT_EQ(zuv::ErrorCode, 0);
  EXPECT_EQ(RequestCount(), 1u);
  EXPECT_EQ(ClosingBytes(1), 1u);
}

TEST_F(EndToEnd, StoppedPrinterIsAPortFaultAndReopens) {
  Emu([](emu::PrinterEmulator& e) { e.SetReceiptNumber(5); });
  EXPECT_EQ(TFiscal::CitajBI(), 5);

  server.Stop();
  EXPECT_FALSE(TFiscal::TestVeze());
  EXPECT_EQ(zuv::ErrorCode, -5);  // the port fault, not the time-out of a silent printer
  EXPECT_TRUE(TComPortZUV::GetSettings().empty());
  // Without a port nothing is tried and the fault stays the reason.
  EXPECT_EQ(TFiscal::CitajBI(), -1);
  EXPECT_EQ(zuv::ErrorCode, -5);

  emu::PtyOptions options;
  options.link = true;
  options.link_name = kLinkName;
  ASSERT_TRUE(server.Start(options)) << server.Error();
  ASSERT_TRUE(Open(true));
  EXPECT_EQ(TComPortZUV::GetSettings(), (std::vector<std::string>{kLinkName, "115200"}));
  EXPECT_TRUE(TFiscal::TestVeze());
  EXPECT_EQ(TFiscal::CitajBI(), 5);
  EXPECT_EQ(zuv::ErrorCode, 0);
}

}  // namespace
}  // namespace e2e
