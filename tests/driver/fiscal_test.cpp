// Fiscal commands: frames sent, result rules and decoded reply fields.
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <limits>

#include "driver_fixture.h"

using namespace zuv;

namespace {

class FiscalTest : public DriverTest {
 protected:
  // Data block of the only request frame sent (short form).
  Bytes OnlyShortData() {
    const auto frames = Frames();
    EXPECT_EQ(frames.size(), 1u);
    if (frames.size() != 1 || frames[0].size() < 5) return {};
    return Bytes(frames[0].begin() + 3, frames[0].end() - 2);
  }
  static Bytes Le(int64_t v, int n) {
    Bytes b;
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    return b;
  }
  static Bytes Concat2(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
  static Bytes StateReply(int64_t sub, int64_t total, int32_t items, int64_t cash, int64_t card,
                          int64_t cheque, int32_t number) {
    Bytes d;
    for (const Bytes& f : {Le(sub, 8), Le(total, 8), Le(items, 4), Le(cash, 8), Le(card, 8),
                           Le(cheque, 8), Le(number, 4)})
      d.insert(d.end(), f.begin(), f.end());
    return d;
  }
  std::string ClockText(int64_t deviceMs) {
    ReplyAlways({ShortReply(2, Le(deviceMs, 8))});
    return TFiscal::CitajVreme();
  }
};

struct Fixed {
  const char* name;
  std::function<bool()> op;
  Bytes frame;
  Bytes reply;
};

}  // namespace

TEST_F(FiscalTest, FixedCommandsSendTheirFrameAndCloseTheExchange) {
  const Fixed cases[] = {
      {"TestVeze", TFiscal::TestVeze, ShortFrame(101, {}), {0x06}},  // ACK alone completes it
      {"PresekStanja", TFiscal::PresekStanja, ShortFrame(89, {}), ShortReply(89, {})},
      {"DnevniIzvestaj", TFiscal::DnevniIzvestaj, ShortFrame(88, {}), ShortReply(88, {})},
      {"BrisanjeBaze", TFiscal::BrisanjeBaze, {0x03, 0x01, 0x00, 0x0E, 0x00, 0x0F}, ShortReply(14, {})},
      {"AutomatskiZatvoriRacun", TFiscal::AutomatskiZatvoriRacun, ShortFrame(51, Bytes(9, 0)),
       ShortReply(51, {})},
      {"StornoCeoRacun", TFiscal::StornoCeoRacun, ShortFrame(50, {0xFF, 0xFF, 0, 0, 0, 0, 0, 0}),
       ShortReply(50, {})},
      {"TrakuPomeri", TFiscal::TrakuPomeri, ShortFrame(28, {}), ShortReply(28, {})},
      {"TrakuSeci", TFiscal::TrakuSeci, ShortFrame(27, {}), ShortReply(27, {})},
      {"ZvucniSignal", TFiscal::ZvucniSignal, ShortFrame(34, {}), ShortReply(34, {})},
  };
  for (const Fixed& c : cases) {
    SCOPED_TRACE(c.name);
    dev().ClearWrites();
    ErrorCode = 99;
    ReplyAlways({c.reply});
    EXPECT_TRUE(c.op());
    EXPECT_EQ(ErrorCode, 0);
    EXPECT_EQ(Frames(), std::vector<Bytes>{c.frame});
    EXPECT_EQ(ClosingBytes(), 1);
  }
}

TEST_F(FiscalTest, SilentPrinterFailsPlainCommands) {
  for (auto op : {TFiscal::TrakuPomeri, TFiscal::TrakuSeci, TFiscal::ZvucniSignal, TFiscal::TestVeze}) {
    dev().ClearWrites();
    EXPECT_FALSE(op());
    EXPECT_EQ(ErrorCode, -1);
    EXPECT_EQ(Frames().size(), 1u);
    EXPECT_EQ(ClosingBytes(), 0);
  }
}

TEST_F(FiscalTest, AcknowledgedReportRule) {
  ReplyAlways({{0x06}});  // ACK, then the report reply misses the budget
  EXPECT_TRUE(TFiscal::PresekStanja());
  EXPECT_EQ(ErrorCode, -1);
  ReplyAlways({ErrorReply(34)});
  EXPECT_FALSE(TFiscal::DnevniIzvestaj());
  EXPECT_EQ(ErrorCode, 34);
  ReplyAlways({ErrorReply(0x28)});  // not in the table
  EXPECT_FALSE(TFiscal::PresekStanja());
  EXPECT_EQ(ErrorCode, 1040);
  ReplyAlways({{0x15}});
  EXPECT_FALSE(TFiscal::DnevniIzvestaj());
  EXPECT_EQ(ErrorCode, -2);
  ReplyAlways({});
  EXPECT_FALSE(TFiscal::PresekStanja());
  EXPECT_EQ(ErrorCode, -1);
}

TEST(FiscalWithoutPort, EveryCommandFailsQuietly) {
  for (bool initialised : {false, true}) {
    ResetDriverState();
    if (initialised) TComPortZUV::Init("SRB");  // buffers exist, the port does not
    ErrorCode = 5;
    EXPECT_FALSE(TFiscal::TestVeze());
    EXPECT_FALSE(TFiscal::PresekStanja());
    EXPECT_FALSE(TFiscal::DnevniIzvestaj());
    EXPECT_FALSE(TFiscal::PeriodicniIzvestaj(44256, 44286));
    EXPECT_FALSE(TFiscal::BrisanjeBaze());
    EXPECT_FALSE(TFiscal::NaplataRacuna(0, 1.0));
    EXPECT_FALSE(TFiscal::AutomatskiZatvoriRacun());
    EXPECT_FALSE(TFiscal::StornoCeoRacun());
    EXPECT_FALSE(TFiscal::StanjeRacuna().UspesanOdgovor);
    EXPECT_EQ(TFiscal::StanjeRacunaBrojStavki(), -1);
    EXPECT_EQ(TFiscal::CitajBI(), -1);
    EXPECT_EQ(TFiscal::CitajBD(), -1);
    EXPECT_EQ(TFiscal::CitajIBFM(), u"");
    EXPECT_EQ(TFiscal::CitajVreme(), "");
    EXPECT_EQ(TFiscal::DodajArtikal(1, u"AB", 0, 3, 1.0), initialised);
    EXPECT_FALSE(TFiscal::ProgramirajArtikle());
    EXPECT_FALSE(TFiscal::PromenaCene(1, 1.0));
    EXPECT_FALSE(TFiscal::NefiskalniIsecak({TNonfiscalLine(u"A", -1, false, u"", u"")}, 4));
    EXPECT_FALSE(TFiscal::TrakuPomeri());
    EXPECT_FALSE(TFiscal::TrakuSeci());
    EXPECT_FALSE(TFiscal::ZvucniSignal());
    EXPECT_EQ(ErrorCode, 5);
  }
  ResetDriverState();
}

TEST(ReplyFieldTest, NeverReadsPastDataOrBuffer) {
  ResetDriverState();
  uint8_t out[4] = {};
  EXPECT_FALSE(ReplyField(0, 1, out));  // no buffer
  receiveBuffer = std::make_unique<ByteList>(ByteList{0x06, 0x02, 0x04, 0x56, 0x11, 0x22, 0x33, 0x0, 0x0});
  RxDataIndex = 4;
  RxExpectDataLen = 4;  // three data bytes
  EXPECT_TRUE(ReplyField(0, 3, out));
  EXPECT_EQ(out[0], 0x11);
  EXPECT_EQ(out[2], 0x33);
  EXPECT_TRUE(ReplyField(2, 1, out));
  EXPECT_EQ(out[0], 0x33);
  EXPECT_FALSE(ReplyField(1, 3, out));   // past the data, though inside the buffer
  EXPECT_FALSE(ReplyField(-1, 2, out));
  EXPECT_FALSE(ReplyField(0, -1, out));
  RxExpectDataLen = 100;                 // length claims more than arrived
  EXPECT_FALSE(ReplyField(3, 4, out));
  EXPECT_FALSE(ReplyField(std::numeric_limits<int>::max(), 2, out));
  RxDataIndex = 0;                       // no reply header seen
  EXPECT_FALSE(ReplyField(0, 1, out));
  ResetDriverState();
}

TEST(ToHundredthsTest, HalvesGoToEven) {
  EXPECT_EQ(ToHundredths(0.125), 12);
  EXPECT_EQ(ToHundredths(0.375), 38);
  EXPECT_EQ(ToHundredths(2.98), 298);
  EXPECT_EQ(ToHundredths(-0.125), -12);
  EXPECT_EQ(ToHundredths(-0.375), -38);
  EXPECT_EQ(ToHundredths(1.005), 100);  // 100.49999999999999 in binary
  EXPECT_EQ(ToHundredths(123.45), 12345);
  std::fesetround(FE_UPWARD);  // the rule must not follow the FPU mode
  EXPECT_EQ(ToHundredths(0.125), 12);
  EXPECT_EQ(ToHundredths(2.98), 298);
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(ToHundredths(1e300), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(ToHundredths(-INFINITY), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(ToHundredths(NAN), 0);
}

TEST_F(FiscalTest, CounterReads) {
  ReplyAlways({ShortReply(86, {0x07, 0, 0, 0})});
  EXPECT_EQ(TFiscal::CitajBD(), 7);
  EXPECT_EQ(Frames().back(), ShortFrame(86, {}));
  ReplyAlways({ShortReply(86, {0xFF, 0xFF, 0xFF, 0xFF})});
  EXPECT_EQ(TFiscal::CitajBD(), -1);
  ReplyAlways({ShortReply(86, {0x07, 0, 0})});
  EXPECT_EQ(TFiscal::CitajBD(), -1);

  ReplyAlways({ShortReply(56, StateReply(0, 0, 0, 0, 0, 0, 42))});
  EXPECT_EQ(TFiscal::CitajBI(), 42);
  EXPECT_EQ(Frames().back(), ShortFrame(56, {}));
  Bytes shortState = StateReply(0, 0, 0, 0, 0, 0, 42);
  shortState.pop_back();
  ReplyAlways({ShortReply(56, shortState)});
  EXPECT_EQ(TFiscal::CitajBI(), -1);
}

TEST_F(FiscalTest, FiscalMemoryIdentifierKeepsAllEightBytes) {
  Bytes data(8, 0x30);
  for (uint8_t b : {0x41, 0x84, 0x30, 0x00, 0x7F, 0x31, 0x32, 0x20}) data.push_back(b);
  ReplyAlways({ShortReply(3, data)});
  EXPECT_EQ(TFiscal::CitajIBFM(), std::u16string(u"AБ0\0Ш12 ", 8));
  EXPECT_EQ(Frames().back(), ShortFrame(3, {}));
  data.pop_back();
  ReplyAlways({ShortReply(3, data)});
  EXPECT_EQ(TFiscal::CitajIBFM(), u"");
  ReplyAlways({});
  EXPECT_EQ(TFiscal::CitajIBFM(), u"");
  EXPECT_EQ(ErrorCode, -1);
}

TEST_F(FiscalTest, DeviceClockIsShownOneHourAhead) {
  EXPECT_EQ(ClockText(0), "01.01.2000 01:00:00");
  EXPECT_EQ(Frames().back(), ShortFrame(2, {}));
  EXPECT_EQ(ClockText(86400000), "02.01.2000 01:00:00");
  EXPECT_EQ(ClockText(84600000), "02.01.2000 00:30:00");       // the hour carries the day
  EXPECT_EQ(ClockText(762521696789), "29.02.2024 12:34:56");    // milliseconds dropped
  EXPECT_EQ(ClockText(1999), "01.01.2000 01:00:01");
  EXPECT_EQ(ClockText(-3600001), "31.12.1999 23:59:59");        // before the epoch
  // The text must not follow the host's zone.
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  SetZone("EST5EDT");  // a form both C libraries read
  EXPECT_EQ(ClockText(0), "01.01.2000 01:00:00");
  SetZone(old ? saved.c_str() : nullptr);
  // No calendar date for these: a failed read.
  EXPECT_EQ(ClockText(std::numeric_limits<int64_t>::max()), "");
  EXPECT_EQ(ClockText(std::numeric_limits<int64_t>::min()), "");
  ReplyAlways({ShortReply(2, Bytes(7, 0))});
  EXPECT_EQ(TFiscal::CitajVreme(), "");
}

TEST_F(FiscalTest, PaymentFrames) {
  const std::pair<std::pair<int, double>, Bytes> cases[] = {
      {{0, 100.0}, {0x10, 0x27, 0, 0, 0, 0, 0, 0, 0x00}},
      {{1, 2.98}, {0x2A, 0x01, 0, 0, 0, 0, 0, 0, 0x01}},
      {{0, 0.125}, {0x0C, 0, 0, 0, 0, 0, 0, 0, 0x00}},
      {{0, 0.375}, {0x26, 0, 0, 0, 0, 0, 0, 0, 0x00}},
      {{2, 0.0}, {0, 0, 0, 0, 0, 0, 0, 0, 0x02}},  // zero: the rest of the receipt
  };
  for (const auto& [args, data] : cases) {
    dev().ClearWrites();
    ReplyAlways({ShortReply(51, {})});
    EXPECT_TRUE(TFiscal::NaplataRacuna(args.first, args.second));
    EXPECT_EQ(Frames(), std::vector<Bytes>{ShortFrame(51, data)});
  }
  ReplyAlways({ErrorReply(38)});
  EXPECT_FALSE(TFiscal::NaplataRacuna(0, 1.0));
  EXPECT_EQ(ErrorCode, 38);
  dev().ClearWrites();
  EXPECT_FALSE(TFiscal::NaplataRacuna(3, 10.0));
  EXPECT_FALSE(TFiscal::NaplataRacuna(-1, 10.0));
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(ErrorCode, 38);
}

TEST_F(FiscalTest, ReceiptStateDecoding) {
  ReplyAlways({ShortReply(56, StateReply(12345, -100, -1, int64_t{1} << 32, 150, 0, 77))});
  TStanjeRacuna s = TFiscal::StanjeRacuna();
  EXPECT_EQ(Frames().back(), ShortFrame(56, {}));
  ASSERT_TRUE(s.UspesanOdgovor);
  EXPECT_DOUBLE_EQ(s.MEDJUZBIR, 123.45);
  EXPECT_EQ(s.UKUPNO, 0.0);
  EXPECT_EQ(s.BROJ_STAVKI, 0);
  EXPECT_DOUBLE_EQ(s.PLACENO_GOTOVINA, 42949672.96);
  EXPECT_DOUBLE_EQ(s.PLACENO_KARTICA, 1.5);
  EXPECT_EQ(s.PLACENO_CEK, 0.0);
  EXPECT_EQ(s.BROJ_RACUNA, 77);
  EXPECT_EQ(TFiscal::StanjeRacunaBrojStavki(), 0);

  ReplyAlways({ShortReply(56, StateReply(0, 0, 3, 0, 0, 0, -1))});
  s = TFiscal::StanjeRacuna();
  EXPECT_EQ(s.BROJ_STAVKI, 3);
  EXPECT_EQ(s.BROJ_RACUNA, -1);
  ReplyAlways({ShortReply(56, StateReply(0, 0, -2, 0, 0, 0, 0))});
  EXPECT_EQ(TFiscal::StanjeRacunaBrojStavki(), -2);

  Bytes shortState = StateReply(100, 100, 3, 0, 0, 0, 1);
  shortState.resize(47);
  ReplyAlways({ShortReply(56, shortState)});
  s = TFiscal::StanjeRacuna();
  EXPECT_FALSE(s.UspesanOdgovor);
  EXPECT_EQ(s.MEDJUZBIR, 0.0);
  EXPECT_EQ(TFiscal::StanjeRacunaBrojStavki(), -1);
  ReplyAlways({});
  EXPECT_FALSE(TFiscal::StanjeRacuna().UspesanOdgovor);
  EXPECT_EQ(TFiscal::StanjeRacunaBrojStavki(), -1);
}

TEST_F(FiscalTest, PeriodicReport) {
  const double now = 50000 + 37230 / 86400.0;  // some day, 10:20:30
  SetDateTimeClock([&] { return now; });
  ReplyAlways({ShortReply(90, {})});
  // 2021-03-01 and 2021-03-31, their own times of day ignored.
  EXPECT_TRUE(TFiscal::PeriodicniIzvestaj(44256.9, 44286.1));
  EXPECT_EQ(OnlyShortData(), (Bytes{0xB0, 0x0D, 0x7E, 0x82, 0x9B, 0, 0, 0,
                                    0xB0, 0xD5, 0xFC, 0x1C, 0x9C, 0, 0, 0}));

  // The clock is read once per date; seconds round to the nearest.
  dev().ClearWrites();
  const double clock[] = {45000.0, 45000.5 + 0.6 / 86400, 45000.5 + 0.4 / 86400};
  size_t reads = 0;
  SetDateTimeClock([&] { return clock[reads++ % 3]; });
  EXPECT_TRUE(TFiscal::PeriodicniIzvestaj(36526, 36526));  // midnight, then 12:00:00.600
  EXPECT_EQ(OnlyShortData(), Concat2(Le(0, 8), Le(43201000, 8)));
  dev().ClearWrites();
  reads = 2;  // 12:00:00.400, then midnight again
  EXPECT_TRUE(TFiscal::PeriodicniIzvestaj(36525, 36525));
  EXPECT_EQ(OnlyShortData(), Concat2(Le(-86400000 + 43200000, 8), Le(-86400000, 8)));

  ReplyAlways({{0x06}});
  EXPECT_TRUE(TFiscal::PeriodicniIzvestaj(44256, 44286));
  EXPECT_EQ(ErrorCode, -1);
  ReplyAlways({ErrorReply(39)});
  EXPECT_FALSE(TFiscal::PeriodicniIzvestaj(44256, 44286));
  EXPECT_EQ(ErrorCode, 39);
  dev().ClearWrites();
  EXPECT_FALSE(TFiscal::PeriodicniIzvestaj(NAN, 44286));
  EXPECT_FALSE(TFiscal::PeriodicniIzvestaj(44256, 1e300));
  EXPECT_TRUE(Frames().empty());
}
