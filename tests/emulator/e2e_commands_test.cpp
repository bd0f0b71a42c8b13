// Every printer command end to end, on its success path: the driver's
// result, and what the emulator received and did.
#include <algorithm>

#include "e2e_fixture.h"
#include "emulator/control.h"

namespace e2e {
namespace {

using zuv::TComPortZUV;
using zuv::TFiscal;

constexpr int64_t kMsPerDay = 86'400'000;

TEST_F(EndToEnd, ConnectionTestPortListingAndPaperCommands) {
  const std::vector<std::string> ports = TComPortZUV::GetPorts();
  EXPECT_NE(std::find(ports.begin(), ports.end(), kLinkName), ports.end());
  EXPECT_EQ(TComPortZUV::GetSettings(), (std::vector<std::string>{kLinkName, "115200"}));

  // One closing byte per successful exchange, the connection test included.
  EXPECT_TRUE(TFiscal::TestVeze());
  EXPECT_EQ(zuv::ErrorCode, 0);
  EXPECT_EQ(*zuv::receiveBuffer, Bytes{0x06});
  EXPECT_EQ(ClosingBytes(1), 1u);
  EXPECT_TRUE(TFiscal::TrakuPomeri());
  EXPECT_EQ(ClosingBytes(2), 2u);
  EXPECT_TRUE(TFiscal::TrakuPomeri());
  EXPECT_EQ(ClosingBytes(3), 3u);
  EXPECT_TRUE(TFiscal::TrakuSeci());
  EXPECT_EQ(ClosingBytes(4), 4u);
  EXPECT_TRUE(TFiscal::ZvucniSignal());
  EXPECT_EQ(ClosingBytes(5), 5u);
  Emu([](emu::PrinterEmulator& e) {
    EXPECT_EQ(e.PaperFeeds(), 2);
    EXPECT_EQ(e.PaperCuts(), 1);
    EXPECT_EQ(e.Beeps(), 1);
  });

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 5u);
  const uint8_t commands[] = {101, 28, 28, 27, 34};
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].command, commands[i]) << i;
    EXPECT_EQ(requests[i].start, 0x02) << i;
    EXPECT_TRUE(requests[i].checksum_ok) << i;
    EXPECT_TRUE(requests[i].data.empty()) << i;
  }
  EXPECT_EQ(requests[0].answer, emu::Answer::kAck);
  EXPECT_EQ(requests[1].answer, emu::Answer::kReply);
  EXPECT_EQ(Emu([](emu::PrinterEmulator& e) { return e.StrayBytes(); }), 0u);
}

TEST_F(EndToEnd, ClockReadShowsTheDeviceTimeOneHourAhead) {
  struct Case {
    int64_t device_ms;
    const char* text;
  };
  // 2024-02-29 is day 8825 of the device's epoch.
  const Case cases[] = {
      {0, "01.01.2000 01:00:00"},
      {kMsPerDay, "02.01.2000 01:00:00"},
      {23 * 3'600'000 + 30 * 60'000, "02.01.2000 00:30:00"},          // across midnight
      {8825 * kMsPerDay + kMsPerDay - 1, "01.03.2024 00:59:59"},      // ms dropped, not rounded
      {8825 * kMsPerDay - 3'600'000 + 999, "29.02.2024 00:00:00"},
  };
  for (const Case& c : cases) {
    Emu([&](emu::PrinterEmulator& e) { e.SetClock(c.device_ms, false); });
    EXPECT_EQ(TFiscal::CitajVreme(), c.text) << c.device_ms;
    EXPECT_EQ(zuv::ErrorCode, 0);
  }
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), std::size(cases));
  for (const auto& r : requests) EXPECT_EQ(r.command, 2);
}

TEST_F(EndToEnd, CountersAndIdentifier) {
  Emu([](emu::PrinterEmulator& e) {
    e.SetReceiptNumber(41);
    e.SetDailyReportNumber(7);
    ASSERT_TRUE(e.SetIdentifier("ЉЂ-Šž 12"));
  });
  EXPECT_EQ(TFiscal::CitajBI(), 41);
  EXPECT_EQ(TFiscal::CitajBD(), 7);
  EXPECT_EQ(TFiscal::CitajIBFM(), u"ЉЂ-Šž 12");

  Emu([](emu::PrinterEmulator& e) {
    e.SetReceiptNumber(0x12345678);
    e.SetDailyReportNumber(-1);  // the device's own "none": passed through
    ASSERT_TRUE(e.SetIdentifier("BG012345"));
  });
  EXPECT_EQ(TFiscal::CitajBI(), 0x12345678);
  EXPECT_EQ(TFiscal::CitajBD(), -1);
  EXPECT_EQ(zuv::ErrorCode, 0);
  EXPECT_EQ(TFiscal::CitajIBFM(), u"BG012345");

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 6u);
  const uint8_t commands[] = {56, 86, 3, 56, 86, 3};
  for (size_t i = 0; i < requests.size(); ++i) EXPECT_EQ(requests[i].command, commands[i]);
}

TEST_F(EndToEnd, ReceiptPaidByEveryTypeAndClosedAutomatically) {
  Emu([](emu::PrinterEmulator& e) {
    e.SetReceiptNumber(41);
    ASSERT_TRUE(e.Sell({{"Hleb", 1234, 1000}, {"Mleko", 500, 1500}}));
    ASSERT_TRUE(e.SetDiscount(84));
  });

  zuv::TStanjeRacuna s = TFiscal::StanjeRacuna();
  ASSERT_TRUE(s.UspesanOdgovor);
  EXPECT_EQ(s.MEDJUZBIR, 19.84);
  EXPECT_EQ(s.UKUPNO, 19.00);
  EXPECT_EQ(s.BROJ_STAVKI, 2);
  EXPECT_EQ(s.PLACENO_GOTOVINA, 0.0);
  EXPECT_EQ(s.PLACENO_KARTICA, 0.0);
  EXPECT_EQ(s.PLACENO_CEK, 0.0);
  EXPECT_EQ(s.BROJ_RACUNA, 41);

  EXPECT_TRUE(TFiscal::NaplataRacuna(emu::kCard, 10.0));
  EXPECT_TRUE(TFiscal::NaplataRacuna(emu::kCash, 0.125));  // 12.5 hundredths: to the even 12
  EXPECT_TRUE(TFiscal::NaplataRacuna(emu::kCheque, 5.0));
  EXPECT_EQ(TFiscal::StanjeRacunaBrojStavki(), 2);
  s = TFiscal::StanjeRacuna();
  ASSERT_TRUE(s.UspesanOdgovor);
  EXPECT_EQ(s.MEDJUZBIR, 19.84);
  EXPECT_EQ(s.UKUPNO, 19.00);
  EXPECT_EQ(s.BROJ_STAVKI, 2);
  EXPECT_EQ(s.PLACENO_GOTOVINA, 0.12);
  EXPECT_EQ(s.PLACENO_KARTICA, 10.0);
  EXPECT_EQ(s.PLACENO_CEK, 5.0);
  EXPECT_EQ(s.BROJ_RACUNA, 41);

  // The automatic close pays the remaining 3.88 in cash.
  EXPECT_TRUE(TFiscal::AutomatskiZatvoriRacun());
  EXPECT_FALSE(Emu([](emu::PrinterEmulator& e) { return e.ReceiptOpen(); }));
  EXPECT_EQ(TFiscal::CitajBI(), 42);
  s = TFiscal::StanjeRacuna();
  ASSERT_TRUE(s.UspesanOdgovor);
  EXPECT_EQ(s.BROJ_STAVKI, 0);  // the device says -1: no receipt
  EXPECT_EQ(s.MEDJUZBIR, 0.0);
  EXPECT_EQ(s.UKUPNO, 0.0);
  EXPECT_EQ(s.PLACENO_GOTOVINA + s.PLACENO_KARTICA + s.PLACENO_CEK, 0.0);
  EXPECT_EQ(s.BROJ_RACUNA, 42);
  EXPECT_EQ(TFiscal::StanjeRacunaBrojStavki(), 0);

  // A cash payment over the total closes the next receipt with change.
  Emu([](emu::PrinterEmulator& e) { ASSERT_TRUE(e.Sell({{"Čaj", 300, 1000}})); });
  EXPECT_EQ(TFiscal::StanjeRacunaBrojStavki(), 1);
  EXPECT_TRUE(TFiscal::NaplataRacuna(emu::kCash, 5.0));
  EXPECT_EQ(TFiscal::CitajBI(), 43);

  Emu([](emu::PrinterEmulator& e) {
    const emu::DailyTotals& d = e.Daily();
    EXPECT_EQ(d.receipts, 2);
    EXPECT_EQ(d.sales, 1900 + 300);
    EXPECT_EQ(d.paid[emu::kCash], 400 + 500);
    EXPECT_EQ(d.paid[emu::kCard], 1000);
    EXPECT_EQ(d.paid[emu::kCheque], 500);
    EXPECT_EQ(d.change, 200);
  });

  // The payment frames as the printer took them.
  std::vector<std::pair<int64_t, uint8_t>> payments;
  for (const auto& r : Requests())
    if (r.command == 51) {
      ASSERT_EQ(r.data.size(), 9u);
      payments.emplace_back(FieldLE(r.data, 0, 8), r.data[8]);
    }
  EXPECT_EQ(payments, (std::vector<std::pair<int64_t, uint8_t>>{
                          {1000, 1}, {12, 0}, {500, 2}, {0, 0}, {500, 0}}));
}

TEST_F(EndToEnd, VoidEndsTheReceiptWithoutNumberingIt) {
  Emu([](emu::PrinterEmulator& e) {
    e.SetReceiptNumber(9);
    ASSERT_TRUE(e.Sell({{"Sok", 250, 2000}, {"Бурић", 100, 1000}, {"Voda", 80, 1000}}));
  });
  EXPECT_EQ(TFiscal::StanjeRacunaBrojStavki(), 3);
  EXPECT_TRUE(TFiscal::NaplataRacuna(emu::kCash, 1.0));  // partly paid: stays open
  EXPECT_TRUE(TFiscal::StornoCeoRacun());
  Emu([](emu::PrinterEmulator& e) {
    EXPECT_FALSE(e.ReceiptOpen());
    EXPECT_EQ(e.ReceiptNumber(), 9);
    EXPECT_EQ(e.Daily().voided, 1);
    EXPECT_EQ(e.Daily().receipts, 0);
  });
  EXPECT_EQ(TFiscal::StanjeRacunaBrojStavki(), 0);
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[2].command, 50);
  EXPECT_EQ(requests[2].data, (Bytes{0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
}

TEST_F(EndToEnd, InterimDailyAndPeriodicReports) {
  Emu([](emu::PrinterEmulator& e) {
    e.SetDailyReportNumber(7);
    // Inside the periodic report's span below.
    e.SetClock(*emu::ParseDeviceTime("15.03.2021 12:00:00"), false);
  });
  EXPECT_TRUE(TFiscal::PresekStanja());
  EXPECT_EQ(zuv::ErrorCode, 0);
  EXPECT_NE(Paper().find("X REPORT"), std::string::npos);

  EXPECT_TRUE(TFiscal::DnevniIzvestaj());
  EXPECT_EQ(TFiscal::CitajBD(), 8);
  Emu([](emu::PrinterEmulator& e) {
    ASSERT_EQ(e.ZReports().size(), 1u);
    EXPECT_EQ(e.ZReports()[0].number, 8);
  });
  Paper();

  // The host's own clock supplies the time of day: 10:20:30 on any day.
  zuv::SetDateTimeClock([] { return 45000.0 + (10 * 3600 + 20 * 60 + 30) / 86400.0; });
  const double march1 = 44256.0, march31 = 44286.0;  // 2021, as date-times
  EXPECT_TRUE(TFiscal::PeriodicniIzvestaj(march1 + 0.75, march31 + 0.1));
  EXPECT_EQ(zuv::ErrorCode, 0);

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 4u);
  const emu::ReceivedRequest& periodic = requests.back();
  EXPECT_EQ(periodic.command, 90);
  ASSERT_EQ(periodic.data.size(), 16u);
  // 2021-03-01 is day 7730 of the device's epoch.
  const int64_t at_1020 = (10 * 3600 + 20 * 60 + 30) * int64_t(1000);
  EXPECT_EQ(FieldLE(periodic.data, 0, 8), 7730 * kMsPerDay + at_1020);
  EXPECT_EQ(FieldLE(periodic.data, 8, 8), 7760 * kMsPerDay + at_1020);

  const std::string paper = Paper();
  EXPECT_NE(paper.find("PERIODIC REPORT"), std::string::npos);
  // Whole days: the dates alone, without the host's time of day.
  EXPECT_NE(paper.find(" 01.03.2021\n"), std::string::npos) << paper;
  EXPECT_NE(paper.find(" 31.03.2021\n"), std::string::npos) << paper;
  EXPECT_EQ(paper.find("10:20:30"), std::string::npos) << paper;
  // The Z report of 15.03. lies in the span.
  EXPECT_NE(paper.find("Z 8  15.03.2021 12:00:00"), std::string::npos) << paper;
}

// ---- Articles, in both record layouts ------------------------------------

class Articles : public EndToEnd, public ::testing::WithParamInterface<bool> {
 protected:
  bool IsPrinter() const { return GetParam(); }
  // Bytes of a record after its length byte, without the name.
  size_t Fixed() const { return IsPrinter() ? 9 : 18; }
  uint8_t LongStart() const { return IsPrinter() ? 0x03 : 0x01; }
  std::map<int32_t, emu::Article> Base() {
    return Emu([](emu::PrinterEmulator& e) { return e.Articles(); });
  }
};

TEST_P(Articles, ProgrammedRepricedAndDeleted) {
  ASSERT_TRUE(Open(IsPrinter()));
  ASSERT_TRUE(TFiscal::DodajArtikal(1, u"Hleb", 1, 2, 2.98));
  ASSERT_TRUE(TFiscal::DodajArtikal(20, u"Бурић", 0, 3, 0.125));
  ASSERT_TRUE(TFiscal::DodajArtikal(300, u"Čaj Šljiva žđć ĆŽĐ", 2, 0, 1234.5));
  // Look-alike Cyrillic goes out as Latin: С has a code, о and к do not.
  ASSERT_TRUE(TFiscal::DodajArtikal(2147483647, u"Сок", 15, 15, 0.375));
  EXPECT_TRUE(TFiscal::ProgramirajArtikle());
  EXPECT_TRUE(zuv::bufferArtikala->empty());

  struct Expected {
    int32_t code;
    const char* name;
    uint8_t unit, tax;
    int32_t price;
  };
  const Expected expected[] = {{1, "Hleb", 1, 2, 298},
                               {20, "Бурић", 0, 3, 12},
                               {300, "Čaj Šljiva žđć ĆŽĐ", 2, 0, 123450},
                               {2147483647, "Сok", 15, 15, 38}};
  std::map<int32_t, emu::Article> base = Base();
  ASSERT_EQ(base.size(), std::size(expected));
  for (const Expected& x : expected) {
    const emu::Article& a = base[x.code];
    EXPECT_EQ(a.code, x.code);
    EXPECT_EQ(a.name, x.name);
    EXPECT_EQ(a.unit, x.unit) << x.code;
    EXPECT_EQ(a.tax, x.tax) << x.code;
    EXPECT_EQ(a.price, x.price) << x.code;
  }

  EXPECT_TRUE(TFiscal::PromenaCene(20, 1.005));  // 100.49999...: down to 100
  EXPECT_TRUE(TFiscal::PromenaCene(300, 99.99));
  base = Base();
  EXPECT_EQ(base[20].price, 100);
  EXPECT_EQ(base[300].price, 9999);
  EXPECT_EQ(base[1].price, 298);

  EXPECT_TRUE(TFiscal::BrisanjeBaze());
  EXPECT_TRUE(Base().empty());

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].command, 12);
  EXPECT_EQ(requests[0].start, LongStart());
  EXPECT_EQ(requests[1].command, 11);
  EXPECT_EQ(requests[1].start, LongStart());
  EXPECT_EQ(requests[1].data, (Bytes{20, 0, 0, 0, 100, 0, 0, 0}));
  EXPECT_EQ(requests[3].command, 14);
  EXPECT_EQ(requests[3].start, 0x03);  // always as the printer's
  for (const auto& r : requests) EXPECT_EQ(r.answer, emu::Answer::kReply);
}

// Records of the largest name the length byte takes, in a batch of exactly
// the long frame's data limit.
TEST_P(Articles, BatchOfTheLargestFrame) {
  ASSERT_TRUE(Open(IsPrinter()));
  const size_t longest = 255 - Fixed();
  const size_t last = 1019 - 3 * 256 - 1 - Fixed();
  for (int32_t code = 1; code <= 3; ++code)
    ASSERT_TRUE(TFiscal::DodajArtikal(code, std::u16string(longest, u'A' + code), 0, 1, code));
  ASSERT_TRUE(TFiscal::DodajArtikal(4, std::u16string(last, u'ž'), 0, 1, 4));
  EXPECT_EQ(zuv::bufferArtikala->size(), 1019u);
  // Not one more record fits.
  EXPECT_FALSE(TFiscal::DodajArtikal(5, u"X", 0, 1, 5));
  EXPECT_EQ(zuv::bufferArtikala->size(), 1019u);
  EXPECT_TRUE(TFiscal::ProgramirajArtikle());

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].data.size(), 1019u);
  EXPECT_EQ(requests[0].length, 1020u);
  const std::map<int32_t, emu::Article> base = Base();
  ASSERT_EQ(base.size(), 4u);
  for (int32_t code = 1; code <= 3; ++code) {
    EXPECT_EQ(base.at(code).name, std::string(longest, char('A' + code)));
    EXPECT_EQ(base.at(code).price, code * 100);
  }
  EXPECT_EQ(base.at(4).name_bytes, Bytes(last, 0x7B));

  // One character more would wrap the record's length byte.
  EXPECT_FALSE(TFiscal::DodajArtikal(6, std::u16string(longest + 1, u'A'), 0, 1, 1));
  EXPECT_TRUE(zuv::bufferArtikala->empty());
}

INSTANTIATE_TEST_SUITE_P(PrinterTypes, Articles, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "FiscalPrinter" : "OtherDevice"; });

}  // namespace

// The purge that opens each exchange must not throw away the closing byte
// of the one before, even when the printer has not read it yet.
TEST_F(EndToEnd, BackToBackExchangesKeepEveryClosingByte) {
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(zuv::TFiscal::TrakuPomeri()) << i;
  EXPECT_EQ(ClosingBytes(300), 300u);
  EXPECT_EQ(Emu([](emu::PrinterEmulator& e) { return e.PaperFeeds(); }), 300);
}

}  // namespace e2e
