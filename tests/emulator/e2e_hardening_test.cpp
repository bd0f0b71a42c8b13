// The hardened link and commands end to end: wait codes back to back with
// the reply, late replies, refused inputs that never reach the printer,
// receipts in a row, and line settings as the terminal holds them.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "e2e_fixture.h"

namespace e2e {
namespace {

using zuv::TComPortZUV;
using zuv::TFiscal;
using zuv::TNonfiscalLine;

TEST_F(EndToEnd, WaitCodesBackToBackWithTheReply) {
  Emu([](emu::PrinterEmulator& e) {
    ASSERT_TRUE(e.Sell({{"Hleb", 13100, 1000}}));
    e.InjectWaitCodes({{0x08}, {0x09}, {0x07, 0x12}, {0x44}}, Millis(0), emu::kAlways);
    e.SetWaitCodesJoined(true);
  });
  for (int i = 0; i < 20; ++i) {
    const zuv::TStanjeRacuna state = TFiscal::StanjeRacuna();
    ASSERT_TRUE(state.UspesanOdgovor) << i << " ErrorCode " << zuv::ErrorCode;
    EXPECT_DOUBLE_EQ(state.MEDJUZBIR, 131.0);
    EXPECT_EQ(ClosingBytes(size_t(i) + 1), size_t(i) + 1);
  }
  // A wait code right before the reply, sent apart.
  Emu([](emu::PrinterEmulator& e) {
    e.SetWaitCodesJoined(false);
    e.InjectWaitCodes({{0x08}}, Millis(5), emu::kAlways);
  });
  EXPECT_TRUE(TFiscal::StanjeRacuna().UspesanOdgovor);
  EXPECT_EQ(RequestCount(), 21u);
}

TEST_F(EndToEnd, LateReplyIsNotTakenForTheNextCommand) {
  Emu([](emu::PrinterEmulator& e) {
    ASSERT_TRUE(e.Sell({{"Hleb", 13100, 1000}}));
    e.SetDailyReportNumber(9);
    e.SetReplyDelay(Millis(2800));
  });
  EXPECT_FALSE(TFiscal::StanjeRacuna().UspesanOdgovor);
  EXPECT_EQ(zuv::ErrorCode, -1);
  EXPECT_TRUE(TComPortZUV::LastRequestAcknowledged());  // taken, reply lost
  Emu([](emu::PrinterEmulator& e) { e.SetReplyDelay(Millis(0)); });
  EXPECT_EQ(TFiscal::CitajBD(), 9);
  EXPECT_EQ(zuv::ErrorCode, 0);
}

TEST_F(EndToEnd, RefusedInputsNeverReachThePrinter) {
  Emu([](emu::PrinterEmulator& e) { ASSERT_TRUE(e.Sell({{"Hleb", 10000, 1000}})); });
  ASSERT_TRUE(TFiscal::DodajArtikal(1, u"Hleb", 1, 2, 10.0));
  ASSERT_TRUE(TFiscal::ProgramirajArtikle());
  const size_t sent = RequestCount();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(TFiscal::PromenaCene(1, 50000000.0));
  EXPECT_FALSE(TFiscal::PromenaCene(1, nan));
  EXPECT_FALSE(TFiscal::PromenaCene(1, -inf));
  EXPECT_FALSE(TFiscal::PromenaCene(1, -1.0));
  EXPECT_FALSE(TFiscal::NaplataRacuna(0, nan));
  EXPECT_FALSE(TFiscal::NaplataRacuna(0, 0.004));
  EXPECT_FALSE(TFiscal::NaplataRacuna(0, -5.0));
  EXPECT_FALSE(TFiscal::DodajArtikal(2, u"Mleko", 0, 17, 1.0));
  EXPECT_FALSE(TFiscal::DodajArtikal(2, u"Mleko", 16, 0, 1.0));
  EXPECT_FALSE(TFiscal::NefiskalniIsecak({TNonfiscalLine(u"x", -1, false, u"", u"")}, 0));
  EXPECT_EQ(RequestCount(), sent);
  // The receipt is still open and unpaid, the price as programmed.
  Emu([](emu::PrinterEmulator& e) {
    EXPECT_TRUE(e.ReceiptOpen());
    EXPECT_EQ(e.Receipt().paid[0], 0);
    EXPECT_EQ(e.Articles().at(1).price, 1000);
    EXPECT_EQ(e.Articles().at(1).unit, 1);
    EXPECT_EQ(e.Articles().at(1).tax, 2);
  });
}

TEST_F(EndToEnd, TwoNonfiscalReceiptsInARow) {
  const std::vector<TNonfiscalLine> first = {TNonfiscalLine(u"PRVI", -1, false, u"", u""),
                                             TNonfiscalLine(u"a\u00EFb", -1, true, u"", u"")};
  std::vector<TNonfiscalLine> second;
  for (int i = 0; i < 20; ++i) second.emplace_back(std::u16string(40, u'w'), -1, false, u"", u"");
  second.emplace_back(u"DRUGI", 1, false, u"", u"");
  ASSERT_TRUE(TFiscal::NefiskalniIsecak(first, 10));
  const std::string paper1 = Paper();
  EXPECT_NE(paper1.find("PRVI"), std::string::npos);
  EXPECT_NE(paper1.find("B|a?b       |"), std::string::npos);  // one line, not three
  ASSERT_TRUE(TFiscal::NefiskalniIsecak(second, 34));
  const std::string paper2 = Paper();
  EXPECT_EQ(paper2.find("PRVI"), std::string::npos);
  EXPECT_NE(paper2.find("DRUGI"), std::string::npos);
  size_t lines = 0;
  for (size_t at = paper2.find(std::string(40, 'w')); at != std::string::npos;
       at = paper2.find(std::string(40, 'w'), at + 1))
    ++lines;
  EXPECT_EQ(lines, 20u);
}

// The terminal settings the port left on the pseudo-terminal.
tcflag_t TerminalCflag(const std::string& linkPath) {
  const int fd = ::open(linkPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return 0;
  termios t{};
  const int rc = ::tcgetattr(fd, &t);
  ::close(fd);
  return rc == 0 ? t.c_cflag : 0;
}

TEST_F(EndToEnd, StopBitsReachTheTerminal) {
  const std::string path = std::string(::getenv("ZUV_PORT_DIR")) + "/" + kLinkName;
  ASSERT_NE(zuv::comport, nullptr);
  EXPECT_EQ(TerminalCflag(path) & CSTOPB, 0u);
  zuv::comport->SetStopBits(serial::sbTwoStopBits);
  tcflag_t c = TerminalCflag(path);
  EXPECT_EQ(c & CSTOPB, tcflag_t(CSTOPB));
  EXPECT_EQ(c & CSIZE, tcflag_t(CS8));
  zuv::comport->SetStopBits(serial::sbOneStopBit);
  EXPECT_EQ(TerminalCflag(path) & CSTOPB, 0u);
  // 1.5 stop bits exist only with 5 data bits, where CSTOPB gives them. (A
  // pseudo-terminal always reports CS8, so the size cannot be checked here.)
  zuv::comport->SetDataBits(serial::dbFive);
  zuv::comport->SetStopBits(serial::sbOne5StopBits);
  EXPECT_EQ(zuv::comport->StopBits(), serial::sbOne5StopBits);
  EXPECT_EQ(TerminalCflag(path) & CSTOPB, tcflag_t(CSTOPB));
}

}  // namespace
}  // namespace e2e
