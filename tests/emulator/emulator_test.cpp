// The printer state machine, byte for byte: framing, each command's effect
// on the device state and reply, and the injected faults.
#include "emulator/printer_emulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "host_frames.h"

namespace {

using namespace emu_test;
using emu::Answer;
using emu::Millis;
using emu::PrinterEmulator;

constexpr uint8_t kZReport = 88;

class EmulatorTest : public ::testing::Test {
 protected:
  Bytes Send(const Bytes& request) { return emu::Flatten(e.Feed(request)); }
  Reply Ask(uint8_t cmd, const Bytes& data = {}) { return ParseReply(Send(ShortRequest(cmd, data))); }
  Reply AskLong(uint8_t start, uint8_t cmd, const Bytes& data) {
    return ParseReply(Send(LongRequest(start, cmd, data)));
  }
  // The error code of an error reply, checking its framing; -1 if it is not one.
  int ErrorOf(const Bytes& out) {
    if (out.size() != 7 || out[0] != 0x06 || out[1] != 0x02 || out[2] != 0x02 || out[3] != 0x7F) {
      ADD_FAILURE() << "not an error reply: " << ToHex(out);
      return -1;
    }
    const unsigned sum = 0x02 + 0x7F + out[4];
    EXPECT_EQ(out[5], sum >> 8);
    EXPECT_EQ(out[6], sum & 0xFF);
    return out[4];
  }
  int AskError(uint8_t cmd, const Bytes& data = {}) { return ErrorOf(Send(ShortRequest(cmd, data))); }
  Bytes Pay(int64_t hundredths, uint8_t type) { return Cat({LE(hundredths, 8), {type}}); }
  // Receipt-state reply data.
  Bytes State() { return Ask(56).data; }

  PrinterEmulator e;
};

// ---- Framing ----------------------------------------------------------------

TEST_F(EmulatorTest, ConnectionTestIsAnsweredByAckAlone) {
  EXPECT_EQ(Send(Hex("02 01 65 00 66")), Hex("06"));
  EXPECT_EQ(e.Requests().back().answer, Answer::kAck);
}

TEST_F(EmulatorTest, ReplyFormFollowsTheRequestForm) {
  const Bytes state = Send(Hex("02 01 38 00 39"));
  ASSERT_GE(state.size(), 4u);
  EXPECT_EQ(Bytes(state.begin(), state.begin() + 4), Hex("06 02 31 38"));  // 48 data bytes
  EXPECT_EQ(ParseReply(state).data.size(), 48u);

  EXPECT_EQ(Send(Hex("03 01 00 0E 00 0F")), Hex("06 03 01 00 0E 00 0F"));
  EXPECT_EQ(Send(Hex("01 01 00 0E 00 0F")), Hex("06 03 01 00 0E 00 0F"));
  // A long request for a command with reply data gets it in the long form.
  const Reply clock = AskLong(0x03, 2, {});
  EXPECT_TRUE(clock.long_form);
  EXPECT_EQ(clock.data.size(), 8u);
}

TEST_F(EmulatorTest, BadChecksumIsRefusedAndNotCarriedOut) {
  Bytes z = ShortRequest(kZReport);
  z.back() ^= 0x01;
  EXPECT_EQ(Send(z), Hex("15"));
  Bytes state = Hex("02 01 38 01 39");  // high checksum byte wrong
  EXPECT_EQ(Send(state), Hex("15"));
  EXPECT_EQ(e.DailyReportNumber(), 0);
  ASSERT_EQ(e.Requests().size(), 2u);
  EXPECT_FALSE(e.Requests()[0].checksum_ok);
  EXPECT_EQ(e.Requests()[0].command, kZReport);
  EXPECT_EQ(e.Requests()[0].answer, Answer::kNack);
}

TEST_F(EmulatorTest, ChecksumIsTakenModulo65536) {
  // 300 data bytes of 0xFF: the sum 0x12B1C goes out as 2B 1C.
  Bytes frame = Hex("03 2D 01 1A");
  frame.insert(frame.end(), 300, 0xFF);
  frame.push_back(0x2B);
  frame.push_back(0x1C);
  EXPECT_EQ(Send(frame), Hex("06 03 01 00 1A 00 1B"));
}

TEST_F(EmulatorTest, ClosingByteAndNoiseGoUnanswered) {
  EXPECT_TRUE(Send(Hex("40")).empty());
  EXPECT_TRUE(Send(Hex("00 40 FF")).empty());
  EXPECT_EQ(e.ClosingBytes(), 2u);
  EXPECT_EQ(e.StrayBytes(), 2u);
  EXPECT_EQ(e.RequestCount(), 0u);
  EXPECT_EQ(Send(Hex("02 01 65 00 66")), Hex("06"));
}

TEST_F(EmulatorTest, MalformedRequestsAreRefused) {
  EXPECT_EQ(Send(Hex("02 01 63 00 64")), Hex("06 02 02 7F 66 00 E7"));  // unknown command 99
  EXPECT_EQ(Send(Hex("02 00 00 00")), Hex("15"));                      // no command byte
  EXPECT_EQ(AskError(56, {0x00}), 101);                                 // data where none belongs
  EXPECT_EQ(AskError(51, Bytes(8, 0)), 101);                            // payment one byte short
  EXPECT_EQ(ErrorOf(Send(LongRequest(0x03, 26, Bytes(1020, 0x20)))), 101);  // beyond the limit
}

TEST_F(EmulatorTest, AnyChunkingOfTheInputGivesTheSameAnswers) {
  const Bytes stream = Cat({ShortRequest(101), ShortRequest(56), {0x40}, ShortRequest(2), {0x40},
                            LongRequest(0x03, 14), {0x40}, ShortRequest(3), {0x40}});
  auto run = [&](size_t chunk) {
    PrinterEmulator p;
    p.SetClock(123456, false);
    Bytes out;
    for (size_t pos = 0; pos < stream.size(); pos += chunk) {
      const Bytes piece(stream.begin() + long(pos),
                        stream.begin() + long(std::min(stream.size(), pos + chunk)));
      const Bytes got = emu::Flatten(p.Feed(piece));
      out.insert(out.end(), got.begin(), got.end());
    }
    EXPECT_EQ(p.ClosingBytes(), 4u);
    return out;
  };
  const Bytes whole = run(stream.size());
  EXPECT_EQ(whole.size(), 1 + (6 + 48) + (6 + 8) + 7 + (6 + 16));
  for (size_t chunk : {1, 2, 3, 7}) EXPECT_EQ(run(chunk), whole) << "chunks of " << chunk;
}

TEST_F(EmulatorTest, AbandonedPartialRequestLetsTheNextOneThrough) {
  const Bytes request = ShortRequest(56);
  EXPECT_TRUE(e.Feed(Bytes(request.begin(), request.begin() + 3)).empty());
  EXPECT_TRUE(e.HasPartialRequest());
  e.AbandonPartialRequest();
  EXPECT_FALSE(e.HasPartialRequest());
  EXPECT_TRUE(Ask(56).ok);
}

// ---- Device information -----------------------------------------------------

TEST_F(EmulatorTest, ClockReadGivesDeviceMillisecondsLittleEndian) {
  e.SetClock(0x0102030405060708, false);
  EXPECT_EQ(Ask(2).data, Hex("08 07 06 05 04 03 02 01"));
  e.SetClock(-1000, false);
  EXPECT_EQ(GetLE(Ask(2).data, 0, 8), -1000);
}

TEST_F(EmulatorTest, ClockStartsAtTheHostClockAndRuns) {
  using namespace std::chrono;
  const int64_t host =
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() - 946684800000;
  EXPECT_NEAR(double(GetLE(Ask(2).data, 0, 8)), double(host), 5000.0);

  const auto set_at = steady_clock::now();
  e.SetClock(1000);
  std::this_thread::sleep_for(Millis(30));
  const int64_t later = GetLE(Ask(2).data, 0, 8);
  const auto elapsed = duration_cast<milliseconds>(steady_clock::now() - set_at).count();
  // It runs at the pace of real time: no faster, and no slower.
  EXPECT_GE(later, 1030);
  EXPECT_LE(later, 1000 + elapsed + 1);
}

TEST_F(EmulatorTest, IdentifierSitsAtBytes8To15InThePrinterCharacterSet) {
  ASSERT_TRUE(e.SetIdentifier("ŠĐ12ćžAB"));
  const Bytes data = Ask(3).data;
  ASSERT_EQ(data.size(), 16u);
  EXPECT_EQ(Bytes(data.begin() + 8, data.end()), Hex("82 7E 31 32 5B 7B 41 42"));
  EXPECT_NE(Bytes(data.begin(), data.begin() + 8), Bytes(data.begin() + 8, data.end()));
  EXPECT_EQ(e.Identifier(), "ŠĐ12ćžAB");
  EXPECT_FALSE(e.SetIdentifier("SHORT"));
  EXPECT_FALSE(e.SetIdentifier("NINECHARS"));
  EXPECT_EQ(e.Identifier(), "ŠĐ12ćžAB");
}

TEST_F(EmulatorTest, DailyReportNumberSitsAtBytes0To3) {
  e.SetDailyReportNumber(7);
  const Bytes data = Ask(86).data;
  ASSERT_GE(data.size(), 4u);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 4), Hex("07 00 00 00"));
  e.SetDailyReportNumber(-1);
  EXPECT_EQ(GetLE(Ask(86).data, 0, 4), -1);
}

// ---- Receipts ---------------------------------------------------------------

TEST_F(EmulatorTest, ReceiptStateWithoutAnOpenReceipt) {
  e.SetReceiptNumber(42);
  const Bytes s = State();
  ASSERT_EQ(s.size(), 48u);
  EXPECT_EQ(GetLE(s, 0, 8), 0);
  EXPECT_EQ(GetLE(s, 8, 8), 0);
  EXPECT_EQ(GetLE(s, 16, 4), -1);  // no receipt open
  for (size_t at : {20, 28, 36}) EXPECT_EQ(GetLE(s, at, 8), 0);
  EXPECT_EQ(Bytes(s.begin() + 44, s.end()), Hex("2A 00 00 00"));
}

TEST_F(EmulatorTest, ReceiptStateReportsItemsDiscountAndPaymentsByType) {
  ASSERT_TRUE(e.Sell({{"Hleb", 6550, 2000}, {"Mleko", 12000, 500}}));
  ASSERT_TRUE(e.SetDiscount(100));
  EXPECT_TRUE(Ask(51, Pay(5000, 1)).ok);
  EXPECT_TRUE(Ask(51, Pay(2000, 2)).ok);
  const Bytes s = State();
  EXPECT_EQ(GetLE(s, 0, 8), 19100);  // subtotal
  EXPECT_EQ(GetLE(s, 8, 8), 19000);  // total
  EXPECT_EQ(GetLE(s, 16, 4), 2);
  EXPECT_EQ(GetLE(s, 20, 8), 0);
  EXPECT_EQ(GetLE(s, 28, 8), 5000);  // card
  EXPECT_EQ(GetLE(s, 36, 8), 2000);  // cheque
  EXPECT_EQ(GetLE(s, 44, 4), 0);
}

TEST_F(EmulatorTest, PaymentCoveringTheTotalClosesTheReceipt) {
  e.SetReceiptNumber(9);
  ASSERT_TRUE(e.Sell({{"Kafa", 1000, 1000}}));
  EXPECT_TRUE(Ask(51, Pay(400, 0)).ok);
  EXPECT_TRUE(e.ReceiptOpen());
  EXPECT_TRUE(Ask(51, Pay(1000, 0)).ok);
  EXPECT_FALSE(e.ReceiptOpen());
  EXPECT_EQ(GetLE(State(), 44, 4), 10);
  EXPECT_EQ(GetLE(State(), 16, 4), -1);
  EXPECT_EQ(e.Daily().receipts, 1);
  EXPECT_EQ(e.Daily().sales, 1000);
  EXPECT_EQ(e.Daily().paid[emu::kCash], 1400);
  EXPECT_EQ(e.Daily().change, 400);
  const std::string paper = e.TakePaper();
  EXPECT_NE(paper.find("Kafa"), std::string::npos);
  EXPECT_NE(paper.find("CHANGE                              4.00"), std::string::npos) << paper;
}

TEST_F(EmulatorTest, AutomaticClosePaysTheRestInCash) {
  ASSERT_TRUE(e.Sell({{"Sok", 2500, 1000}}));
  EXPECT_TRUE(Ask(51, Pay(1000, 1)).ok);
  EXPECT_TRUE(Ask(51, Bytes(9, 0x00)).ok);
  EXPECT_FALSE(e.ReceiptOpen());
  EXPECT_EQ(e.ReceiptNumber(), 1);
  EXPECT_EQ(e.Daily().paid[emu::kCash], 1500);
  EXPECT_EQ(e.Daily().paid[emu::kCard], 1000);
  EXPECT_EQ(e.Daily().change, 0);
}

TEST_F(EmulatorTest, PaymentAndVoidErrors) {
  EXPECT_EQ(AskError(51, Pay(100, 0)), 38);              // no receipt
  EXPECT_EQ(AskError(50, Hex("FF FF 00 00 00 00 00 00")), 38);
  ASSERT_TRUE(e.Sell({{"Sok", 2500, 1000}}));
  EXPECT_EQ(AskError(51, Pay(100, 3)), 21);  // no such payment type
  EXPECT_EQ(AskError(51, Pay(-100, 0)), 21);
  EXPECT_EQ(e.Receipt().paid, (std::array<int64_t, 3>{0, 0, 0}));
  EXPECT_TRUE(e.ReceiptOpen());
}

TEST_F(EmulatorTest, VoidEndsTheReceiptWithoutANumber) {
  e.SetReceiptNumber(3);
  ASSERT_TRUE(e.Sell({{"Sok", 2500, 1000}}));
  EXPECT_TRUE(Ask(50, Hex("FF FF 00 00 00 00 00 00")).ok);
  EXPECT_FALSE(e.ReceiptOpen());
  EXPECT_EQ(e.ReceiptNumber(), 3);
  EXPECT_EQ(e.Daily().voided, 1);
  EXPECT_NE(e.TakePaper().find("RECEIPT VOIDED"), std::string::npos);
}

TEST_F(EmulatorTest, ItemAmountsRoundHalfToEven) {
  // 0.05 x 0.5 = 2.5 hundredths -> 2; 0.07 x 0.5 = 3.5 -> 4; 1.00 x 0.125 = 12.5 -> 12.
  ASSERT_TRUE(e.Sell({{"a", 5, 500}, {"b", 7, 500}, {"c", 100, 125}}));
  EXPECT_EQ(e.Receipt().subtotal, 18);
}

TEST_F(EmulatorTest, SaleRefusesNonsenseAndAddsNothing) {
  EXPECT_FALSE(e.Sell({}));
  EXPECT_FALSE(e.Sell({{"neg", -1, 1000}}));
  EXPECT_FALSE(e.Sell({{"zero qty", 100, 0}}));
  EXPECT_FALSE(e.Sell({{"ok", 100, 1000}, {"huge", 100, 10'000'001}}));
  EXPECT_FALSE(e.ReceiptOpen());
  EXPECT_FALSE(e.SellArticle(1));
  EXPECT_FALSE(e.SetDiscount(1));  // no receipt

  ASSERT_TRUE(AskLong(0x03, 12, Hex("0B 01 00 00 00 41 42 03 64 00 00 00")).ok);
  ASSERT_TRUE(e.SellArticle(1, 1500));
  EXPECT_EQ(e.Receipt().items.at(0).name, "AB");
  EXPECT_EQ(e.Receipt().total, 150);
  EXPECT_FALSE(e.SetDiscount(151));
}

// ---- Reports ----------------------------------------------------------------

TEST_F(EmulatorTest, DailyReportNeedsAClosedReceiptAndCountsUp) {
  e.SetDailyReportNumber(4);
  ASSERT_TRUE(e.Sell({{"Sok", 2500, 1000}}));
  EXPECT_EQ(AskError(kZReport), 34);
  EXPECT_EQ(GetLE(Ask(86).data, 0, 4), 4);
  ASSERT_TRUE(e.VoidReceipt());
  EXPECT_TRUE(Ask(kZReport).ok);
  EXPECT_TRUE(Ask(kZReport).ok);
  EXPECT_EQ(GetLE(Ask(86).data, 0, 4), 6);
  ASSERT_EQ(e.ZReports().size(), 2u);
  EXPECT_EQ(e.ZReports()[0].totals.voided, 1);  // the day's totals start again after a Z
  EXPECT_EQ(e.ZReports()[1].totals.voided, 0);
  EXPECT_NE(e.TakePaper().find("Z REPORT No. 6"), std::string::npos);
}

TEST_F(EmulatorTest, InterimReportPrintsWithoutCountingUp) {
  ASSERT_TRUE(e.Sell({{"Sok", 2500, 1000}}));
  EXPECT_TRUE(Ask(89).ok);
  EXPECT_EQ(e.DailyReportNumber(), 0);
  EXPECT_NE(e.TakePaper().find("X REPORT"), std::string::npos);
}

TEST_F(EmulatorTest, PeriodicReportListsTheDailyReportsInItsSpan) {
  // Whole days, each Z report by the day it showed (an hour ahead of the
  // count): 00:10 and 01:23:20 on 01.01.2000, then 00:10 the day after.
  const int64_t day = 86'400'000;
  for (int64_t at : {int64_t(-3'000'000), int64_t(1'400'000), day - 3'000'000}) {
    e.SetClock(at, false);
    ASSERT_TRUE(Ask(kZReport).ok);
  }
  e.TakePaper();
  // Sent with the time of day of the host, before and after the reports.
  EXPECT_TRUE(Ask(90, Cat({LE(900'000, 8), LE(20'000, 8)})).ok);
  const std::string paper = e.TakePaper();
  EXPECT_NE(paper.find("01.01.2000\n"), std::string::npos) << paper;  // from, to
  EXPECT_NE(paper.find("Z 1  01.01.2000 00:10:00"), std::string::npos) << paper;
  EXPECT_NE(paper.find("Z 2  01.01.2000 01:23:20"), std::string::npos) << paper;
  EXPECT_EQ(paper.find("Z 3 "), std::string::npos) << paper;
  EXPECT_EQ(AskError(90, LE(0, 8)), 101);
}

// ---- Articles ---------------------------------------------------------------

TEST_F(EmulatorTest, ArticleRecordsInThePrinterLayout) {
  const Bytes batch = Cat({Hex("0B 01 00 00 00 41 42 03 64 00 00 00"),
                           Hex("0C 02 00 00 00 99 65 6D 23 2A 01 00 00")});
  EXPECT_EQ(Send(LongRequest(0x03, 12, batch)), Hex("06 03 01 00 0C 00 0D"));
  ASSERT_EQ(e.Articles().size(), 2u);
  const emu::Article& ab = e.Articles().at(1);
  EXPECT_EQ(ab.name, "AB");
  EXPECT_EQ(ab.unit, 0);
  EXPECT_EQ(ab.tax, 3);
  EXPECT_EQ(ab.price, 100);
  const emu::Article& jam = e.Articles().at(2);
  EXPECT_EQ(jam.name, "Џem");
  EXPECT_EQ(jam.unit, 2);
  EXPECT_EQ(jam.tax, 3);
  EXPECT_EQ(jam.price, 298);
}

TEST_F(EmulatorTest, ArticleRecordsInTheHostLayout) {
  EXPECT_TRUE(AskLong(0x01, 12,
                      Hex("14 01 00 00 00 FF FF FF FF FF FF FF FF 41 42 00 03 64 00 00 00"))
                  .ok);
  ASSERT_EQ(e.Articles().count(1), 1u);
  EXPECT_EQ(e.Articles().at(1).name, "AB");
  EXPECT_EQ(e.Articles().at(1).price, 100);
  // The start byte decides the layout: a short record under 0x01 is refused.
  EXPECT_EQ(ErrorOf(Send(LongRequest(0x01, 12, Hex("0B 02 00 00 00 41 42 03 64 00 00 00")))), 101);
  EXPECT_EQ(ErrorOf(Send(LongRequest(
                0x01, 12, Hex("14 03 00 00 00 FF FF FF FF FF FF FF 00 41 42 00 03 64 00 00 00")))),
            21);
  EXPECT_EQ(e.Articles().size(), 1u);
}

TEST_F(EmulatorTest, ArticleBatchIsAllOrNothing) {
  const Bytes good = Hex("0B 01 00 00 00 41 42 03 64 00 00 00");
  EXPECT_EQ(ErrorOf(Send(LongRequest(0x03, 12, Cat({good, Hex("0B 02 00 00")})))), 101);
  EXPECT_EQ(ErrorOf(Send(LongRequest(0x03, 12, Cat({good, Hex("09 02 00 00 00 03 64 00 00 00")})))),
            20);  // empty name
  EXPECT_TRUE(e.Articles().empty());
  EXPECT_TRUE(AskLong(0x03, 12, {}).ok);  // an empty batch is fine
}

TEST_F(EmulatorTest, PriceChangeAndDeleteBase) {
  ASSERT_TRUE(AskLong(0x03, 12, Hex("0B 02 00 00 00 41 42 03 64 00 00 00")).ok);
  EXPECT_TRUE(AskLong(0x03, 11, Hex("02 00 00 00 2A 01 00 00")).ok);
  EXPECT_EQ(e.Articles().at(2).price, 298);
  EXPECT_EQ(ErrorOf(Send(LongRequest(0x01, 11, Hex("05 00 00 00 2A 01 00 00")))), 18);
  EXPECT_EQ(ErrorOf(Send(LongRequest(0x03, 11, Cat({LE(2, 4), LE(-1, 4)})))), 12);
  EXPECT_EQ(e.Articles().at(2).price, 298);
  EXPECT_TRUE(AskLong(0x03, 14, {}).ok);
  EXPECT_TRUE(e.Articles().empty());
}

// ---- Non-fiscal receipts, paper ---------------------------------------------

TEST_F(EmulatorTest, NonfiscalLinesAreSplitByTheirAttributeBytes) {
  EXPECT_TRUE(AskLong(0x03, 26, Hex("01 FF 41 42 20 20 FF 43 44 20 20 EF 45 46 20 20")).ok);
  const std::string paper = e.TakePaper();
  EXPECT_NE(paper.find(" |AB  |\n |CD  |\nB|EF  |\n"), std::string::npos) << paper;
}

TEST_F(EmulatorTest, NonfiscalReceiptPrintsWhenTheLastPacketArrives) {
  EXPECT_TRUE(AskLong(0x03, 26, Hex("00 FF 31")).ok);
  EXPECT_EQ(e.TakePaper(), "");
  EXPECT_TRUE(AskLong(0x01, 26, Hex("01 EF 32")).ok);
  const std::string paper = e.TakePaper();
  EXPECT_NE(paper.find(" |1|\nB|2|\n"), std::string::npos) << paper;
  EXPECT_EQ(ErrorOf(Send(LongRequest(0x03, 26, {}))), 101);
  // The record keeps the packets as received, for counting flags.
  ASSERT_GE(e.Requests().size(), 2u);
  EXPECT_EQ(e.Requests()[0].data.at(0), 0);
  EXPECT_EQ(e.Requests()[1].data.at(0), 1);
  EXPECT_EQ(e.Requests()[1].start, 0x01);
}

TEST_F(EmulatorTest, NonfiscalTextIsDecodedFromThePrinterCharacterSet) {
  EXPECT_TRUE(AskLong(0x03, 26, Hex("01 FF 82 74 61 20 7F B0 5B E9 01")).ok);
  EXPECT_NE(e.TakePaper().find(" |Šta Шшćé.|"), std::string::npos);
}

TEST_F(EmulatorTest, FeedCutAndBuzzerReachThePaper) {
  std::string sunk;
  e.SetPaperSink([&](const std::string& text) { sunk += text; });
  EXPECT_TRUE(Ask(28).ok);
  EXPECT_TRUE(Ask(27).ok);
  EXPECT_TRUE(Ask(34).ok);
  EXPECT_EQ(e.PaperFeeds(), 1);
  EXPECT_EQ(e.PaperCuts(), 1);
  EXPECT_EQ(e.Beeps(), 1);
  const std::string paper = e.TakePaper();
  EXPECT_EQ(sunk, paper);
  EXPECT_NE(paper.find("8<"), std::string::npos);
  EXPECT_NE(paper.find("[buzzer]"), std::string::npos);
}

// ---- Faults -----------------------------------------------------------------

TEST_F(EmulatorTest, InjectedNacksRefuseThenTheRequestGoesThrough) {
  e.InjectNack(2);
  const Bytes z = ShortRequest(kZReport);
  EXPECT_EQ(Send(z), Hex("15"));
  EXPECT_EQ(Send(z), Hex("15"));
  EXPECT_TRUE(ParseReply(Send(z)).ok);
  EXPECT_EQ(e.DailyReportNumber(), 1);  // carried out once
  e.InjectNack(1);
  EXPECT_EQ(Send(ShortRequest(101)), Hex("15"));
  EXPECT_EQ(Send(ShortRequest(101)), Hex("06"));
}

TEST_F(EmulatorTest, InjectedErrorReplacesTheReply) {
  e.InjectError(34);
  EXPECT_EQ(Send(ShortRequest(kZReport)), Hex("06 02 02 7F 22 00 A3"));
  EXPECT_EQ(e.DailyReportNumber(), 0);
  EXPECT_EQ(e.Requests().back().error_code, 34);
  e.InjectError(5, 2);
  EXPECT_EQ(AskError(56), 5);
  EXPECT_EQ(AskError(2), 5);
  EXPECT_TRUE(Ask(56).ok);
}

TEST_F(EmulatorTest, SilenceAndAckThenSilence) {
  e.InjectSilence(1);
  EXPECT_TRUE(Send(ShortRequest(kZReport)).empty());
  EXPECT_EQ(e.DailyReportNumber(), 0);
  e.InjectAckThenSilence(1);
  EXPECT_EQ(Send(ShortRequest(kZReport)), Hex("06"));
  EXPECT_EQ(e.DailyReportNumber(), 1);  // the printer did print it
  EXPECT_EQ(e.Requests().back().answer, Answer::kAckThenSilence);
  EXPECT_TRUE(Ask(kZReport).ok);
}

TEST_F(EmulatorTest, FaultsMarkedAlwaysLastUntilCleared) {
  e.InjectNack(emu::kAlways);
  e.InjectSilence(1);  // silence takes precedence
  EXPECT_TRUE(Send(ShortRequest(56)).empty());
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Send(ShortRequest(56)), Hex("15"));
  e.ClearFaults();
  EXPECT_TRUE(Ask(56).ok);
}

TEST_F(EmulatorTest, WaitCodesGoOutOneByOneBeforeTheReply) {
  e.InjectWaitCodes({{0x08}, {0x07, 0x12}, {0x09}}, Millis(300));
  const auto segments = e.Feed(ShortRequest(56));
  ASSERT_EQ(segments.size(), 5u);
  EXPECT_EQ(segments[0].bytes, Hex("06"));
  EXPECT_EQ(segments[0].delay, Millis(0));
  EXPECT_EQ(segments[1].bytes, Hex("08"));
  EXPECT_EQ(segments[2].bytes, Hex("07 12"));
  EXPECT_TRUE(segments[2].atomic);
  EXPECT_EQ(segments[3].bytes, Hex("09"));
  for (size_t i = 1; i < 5; ++i) EXPECT_EQ(segments[i].delay, Millis(300));
  EXPECT_EQ(ParseReply(Cat({Hex("06"), segments[4].bytes})).data.size(), 48u);
  EXPECT_EQ(e.Feed(ShortRequest(56)).size(), 1u);  // one request only
}

TEST_F(EmulatorTest, ReplyDelayAndChunking) {
  e.SetClock(0, false);
  const Bytes reference = Send(ShortRequest(56));

  e.SetReplyDelay(Millis(200));
  auto segments = e.Feed(ShortRequest(56));
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].bytes, Hex("06"));
  EXPECT_EQ(segments[1].delay, Millis(200));
  EXPECT_EQ(emu::Flatten(segments), reference);

  e.SetReplyDelay(Millis(0));
  e.SetChunking(10, Millis(30));
  segments = e.Feed(ShortRequest(56));
  ASSERT_EQ(segments.size(), 6u);  // 54 bytes: ACK and a 53-byte frame
  for (size_t i = 0; i < segments.size(); ++i) {
    EXPECT_EQ(segments[i].bytes.size(), i < 5 ? 10u : 4u);
    EXPECT_EQ(segments[i].delay, Millis(i == 0 ? 0 : 30));
  }
  EXPECT_EQ(emu::Flatten(segments), reference);
}

}  // namespace
