// The operator's line protocol, and the text helpers behind it and the paper.
#include "emulator/control.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "emulator/charset.h"
#include "emulator/units.h"
#include "host_frames.h"

namespace {

using namespace emu_test;
using emu::PrinterEmulator;
using emu::RunControl;

TEST(ControlTest, SaleCommandsOpenAndFillAReceipt) {
  PrinterEmulator e;
  EXPECT_TRUE(RunControl(e, "sale 65.50 2 Hleb beli").ok);
  EXPECT_TRUE(RunControl(e, "sale 1,20 0.5 Mleko").ok);
  const emu::ReceiptView r = e.Receipt();
  ASSERT_EQ(r.items.size(), 2u);
  EXPECT_EQ(r.items[0].name, "Hleb beli");
  EXPECT_EQ(r.items[0].price, 6550);
  EXPECT_EQ(r.items[0].quantity, 2000);
  EXPECT_EQ(r.items[1].quantity, 500);
  EXPECT_EQ(RunControl(e, "discount 1").text, "receipt total 130.60\n");
  EXPECT_FALSE(RunControl(e, "sale 1.234 1 x").ok);  // three decimals
  EXPECT_FALSE(RunControl(e, "sale 1 1").ok);
  EXPECT_FALSE(RunControl(e, "sell 77").ok);
  EXPECT_TRUE(RunControl(e, "void").ok);
  EXPECT_FALSE(RunControl(e, "void").ok);
}

TEST(ControlTest, FaultCommandsReachTheLine) {
  PrinterEmulator e;
  const Bytes state = ShortRequest(56);
  EXPECT_TRUE(RunControl(e, "nack 1").ok);
  EXPECT_EQ(emu::Flatten(e.Feed(state)), Hex("15"));
  EXPECT_TRUE(RunControl(e, "error 34 always").ok);
  EXPECT_EQ(emu::Flatten(e.Feed(state)), Hex("06 02 02 7F 22 00 A3"));
  EXPECT_EQ(emu::Flatten(e.Feed(state)), Hex("06 02 02 7F 22 00 A3"));
  EXPECT_TRUE(RunControl(e, "clear").ok);
  EXPECT_TRUE(RunControl(e, "wait 1 50 08 07:12").ok);
  const auto segments = e.Feed(state);
  ASSERT_EQ(segments.size(), 4u);
  EXPECT_EQ(segments[2].bytes, Hex("07 12"));
  EXPECT_EQ(segments[2].delay, emu::Millis(50));
  EXPECT_TRUE(RunControl(e, "silent always").ok);
  EXPECT_TRUE(e.Feed(state).empty());
  EXPECT_TRUE(RunControl(e, "baud 9600").ok);
  EXPECT_EQ(e.Baud(), 9600);
  EXPECT_NE(RunControl(e, "status").text.find("silence always"), std::string::npos);

  for (const char* bad : {"error 300", "wait 1 50 123", "wait 1 50", "nack x", "chunk 0 5",
                          "delay -1", "frobnicate"})
    EXPECT_FALSE(RunControl(e, bad).ok) << bad;
}

TEST(ControlTest, ClockIdentifierAndCounters) {
  PrinterEmulator e;
  // Times are given as the printer shows them, an hour ahead of the count.
  EXPECT_TRUE(RunControl(e, "clock 01.01.2000 01:00:10 stopped").ok);
  EXPECT_EQ(e.ClockMs(), 10000);
  EXPECT_NE(RunControl(e, "status").text.find("clock 01.01.2000 01:00:10 (10000 ms, stopped)"),
            std::string::npos);
  EXPECT_TRUE(RunControl(e, "clock 01.01.2000 00:00:00 stopped").ok);
  EXPECT_EQ(e.ClockMs(), -3600000);
  EXPECT_TRUE(RunControl(e, "clock 123 stopped").ok);
  EXPECT_EQ(e.ClockMs(), 123);
  EXPECT_FALSE(RunControl(e, "clock 31.02.2020 10:00:00").ok);
  EXPECT_TRUE(RunControl(e, "receipt-number 5").ok);
  EXPECT_TRUE(RunControl(e, "report-number 6").ok);
  EXPECT_EQ(e.ReceiptNumber(), 5);
  EXPECT_EQ(e.DailyReportNumber(), 6);
  EXPECT_TRUE(RunControl(e, "id ЂУРЂЕВАЦ").ok);
  EXPECT_EQ(e.Identifier(), "ЂУРЂEВAЦ");  // look-alikes come back Latin
  EXPECT_FALSE(RunControl(e, "id abc").ok);
  EXPECT_TRUE(RunControl(e, "quit").quit);
  EXPECT_TRUE(RunControl(e, "").ok);
}

TEST(ControlTest, HelpListsWhatTheDispatchTakes) {
  PrinterEmulator e;
  const std::string help = emu::ControlHelp();
  EXPECT_EQ(RunControl(e, "help").text, help);
  std::istringstream lines(help);
  int commands = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == ' ') continue;  // an explanation on its own line
    ++commands;
    const std::string name = line.substr(0, line.find(' '));
    if (name == "quit" || name == "void" || name == "clear") continue;  // no usage error
    // Too many arguments for any command: the usage line shown is the help's.
    const std::string answer =
        RunControl(e, name + " 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18").text;
    if (answer.rfind("error: usage: ", 0) == 0) {
      const std::string usage = answer.substr(14, answer.size() - 15);
      EXPECT_EQ(line.rfind(usage, 0), 0u) << line << " / " << answer;
    }
    EXPECT_EQ(answer.find("unknown command"), std::string::npos) << line;
  }
  EXPECT_GE(commands, 23);
  EXPECT_EQ(RunControl(e, "nack").text, "error: usage: nack <n|always>\n");
  EXPECT_EQ(RunControl(e, "frobnicate").text, "error: unknown command frobnicate (try help)\n");
  EXPECT_TRUE(RunControl(e, "exit").quit);
}

// The received count and the carried-out counts a script reads back.
std::map<std::string, std::string> CountsOf(PrinterEmulator& e) {
  const emu::ControlResult r = RunControl(e, "counts");
  EXPECT_TRUE(r.ok);
  std::map<std::string, std::string> values;
  std::istringstream lines(r.text);
  for (std::string line; std::getline(lines, line);) {
    const size_t last = line.rfind(' ');
    values[line.substr(0, last)] = line.substr(last + 1);
  }
  return values;
}

TEST(ControlTest, CountsTellReceivedFromCarriedOut) {
  PrinterEmulator e;
  EXPECT_EQ(CountsOf(e), (std::map<std::string, std::string>{{"received", "0"},
                                                             {"executed all", "0"}}));
  const Bytes state = ShortRequest(56);
  Bytes bad = state;
  bad.back() ^= 1;
  e.Feed(state);
  e.Feed(state);
  e.Feed(bad);                                   // NACKed
  ASSERT_TRUE(RunControl(e, "error 34").ok);
  e.Feed(state);                                 // refused by the fault
  ASSERT_TRUE(RunControl(e, "ack-silent 1").ok);
  e.Feed(ShortRequest(88));                      // carried out, reply withheld
  e.Feed(ShortRequest(200));                     // unknown: refused
  ASSERT_TRUE(RunControl(e, "silent 1").ok);
  e.Feed(ShortRequest(28));                      // never heard of
  EXPECT_EQ(e.ZReports().size(), 1u);
  EXPECT_EQ(e.PaperFeeds(), 0);
  EXPECT_EQ(CountsOf(e), (std::map<std::string, std::string>{{"received", "7"},
                                                             {"executed all", "3"},
                                                             {"executed 56", "2"},
                                                             {"executed 88", "1"}}));
  e.ClearRecord();
  EXPECT_EQ(CountsOf(e)["executed all"], "0");
  EXPECT_EQ(CountsOf(e)["received"], "0");
}

TEST(ControlTest, SaleItemFromTheCommandLine) {
  auto item = emu::ParseSaleItem("Hleb:65.50:2");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->name, "Hleb");
  EXPECT_EQ(item->price, 6550);
  EXPECT_EQ(item->quantity, 2000);
  item = emu::ParseSaleItem("Mleko:120");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->price, 12000);
  EXPECT_EQ(item->quantity, 1000);
  item = emu::ParseSaleItem("Kafa: 2:1.5:0.125");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->name, "Kafa: 2");
  EXPECT_EQ(item->quantity, 125);
  EXPECT_FALSE(emu::ParseSaleItem("A:B"));
  EXPECT_FALSE(emu::ParseSaleItem(":1.00"));
  EXPECT_FALSE(emu::ParseSaleItem("Hleb"));
}

TEST(UnitsTest, RoundingParsingAndFormatting) {
  EXPECT_EQ(emu::DivRoundHalfEven(5, 2), 2);
  EXPECT_EQ(emu::DivRoundHalfEven(7, 2), 4);
  EXPECT_EQ(emu::DivRoundHalfEven(-5, 2), -2);
  EXPECT_EQ(emu::DivRoundHalfEven(-7, 2), -4);
  EXPECT_EQ(emu::DivRoundHalfEven(10, 3), 3);
  EXPECT_EQ(emu::DivRoundHalfEven(11, 3), 4);
  EXPECT_EQ(emu::ParseDecimal("12,5", 2), 1250);
  EXPECT_EQ(emu::ParseDecimal("-0.05", 2), -5);
  EXPECT_FALSE(emu::ParseDecimal("1.234", 2));
  EXPECT_FALSE(emu::ParseDecimal("1.2.3", 2));
  EXPECT_FALSE(emu::ParseDecimal("", 2));
  EXPECT_FALSE(emu::ParseDecimal("12a", 2));
  EXPECT_EQ(emu::FormatAmount(-5), "-0.05");
  EXPECT_EQ(emu::FormatAmount(123456), "1234.56");
  EXPECT_EQ(emu::FormatQuantity(1500), "1.5");
  EXPECT_EQ(emu::FormatQuantity(2000), "2");
  // Shown an hour ahead of the count, dates included.
  EXPECT_EQ(emu::FormatDeviceTime(0), "01.01.2000 01:00:00");
  EXPECT_EQ(emu::FormatDeviceTime(-3600000), "01.01.2000 00:00:00");
  EXPECT_EQ(emu::FormatDeviceTime(-3601000), "31.12.1999 23:59:59");
  EXPECT_EQ(emu::FormatDeviceTime(82800000 + 999), "02.01.2000 00:00:00");
  EXPECT_EQ(emu::ParseDeviceTime("29.02.2024 13:14:15"),
            int64_t(8825) * 86400000 + (12 * 3600 + 14 * 60 + 15) * 1000);
  EXPECT_EQ(emu::DayOfCount(-1), -1);
  EXPECT_EQ(emu::DayOfCount(86399999), 0);
  EXPECT_EQ(emu::ShownDay(82800000), 1);
  EXPECT_EQ(emu::ShownDay(82799999), 0);
  EXPECT_EQ(emu::FormatDay(-1), "31.12.1999");
  EXPECT_EQ(emu::FormatDay(8825), "29.02.2024");
}

TEST(CharsetTest, PrinterBytesAndUnicode) {
  EXPECT_EQ(emu::EncodeText("Šta"), Hex("82 74 61"));
  EXPECT_EQ(emu::EncodeText("Aкмто"), Hex("41 6B 6D 74 6F"));
  EXPECT_EQ(emu::EncodeText("€"), Hex("AC"));       // low 8 bits
  EXPECT_EQ(emu::EncodeText("😀").size(), 2u);       // two UTF-16 units
  EXPECT_EQ(emu::EncodeText(""), Bytes{});
  EXPECT_EQ(emu::DecodeText(Hex("7F B0 5B 5C 5D 7B 7D 7E 80 81 82 83")), "ШшćđčžšĐĆČŠŽ");
  EXPECT_EQ(emu::DecodeText(Hex("84 99 9A AF 41 E9")), "БЏбџAé");
  EXPECT_EQ(emu::DecodeText(Hex("00 1F 20")), ".. ");
  EXPECT_EQ(emu::DecodeText(emu::EncodeText("Ђурђевдан, ČAJ")), "Ђурђeвдaн, ČAJ");
}

}  // namespace
