// What the tool accepts from its arguments and files, and how it points at
// what it refuses.
#include <gtest/gtest.h>

#include <sstream>

#include "commands/input.h"
#include "serial/names.h"
#include "serial/utf8.h"

namespace zuvcmd {
namespace {

TEST(MoneyTest, DecimalsWithPointOrCommaWithinTheLimit) {
  EXPECT_EQ(ParseMoney("12", 100000), 1200);
  EXPECT_EQ(ParseMoney("12.5", 100000), 1250);
  EXPECT_EQ(ParseMoney("12,34", 100000), 1234);
  EXPECT_EQ(ParseMoney("0.07", 100000), 7);
  EXPECT_EQ(ParseMoney("21474836.47", kMaxPriceHundredths), kMaxPriceHundredths);
  for (const char* bad : {"", "-1", "1.234", "1.", ".5", "1e3", "nan", "inf", "12 ", "1.2.3",
                          "0x10", "21474836.48", "99999999999999999999"})
    EXPECT_FALSE(ParseMoney(bad, kMaxPriceHundredths)) << bad;
}

TEST(DateTest, TwoFormsOfRealDates) {
  // 2021-03-01 is day 44256 counted from 1899-12-30.
  EXPECT_EQ(ParseDate("01.03.2021"), 44256.0);
  EXPECT_EQ(ParseDate("2021-03-01"), 44256.0);
  EXPECT_EQ(ParseDate("29.02.2024"), 45351.0);
  EXPECT_EQ(ParseDate("2000-01-01"), 36526.0);
  for (const char* bad : {"29.02.2023", "31.04.2021", "00.01.2021", "1.3.2021", "2021/03/01",
                          "01.13.2021", "01.01.1999", "01.01.2100", "", "aa.bb.cccc"})
    EXPECT_FALSE(ParseDate(bad)) << bad;
}

TEST(DateTest, NormalFormOfEitherForm) {
  EXPECT_EQ(FormatDate(*ParseCivilDate("09.12.2026")), "2026-12-09");
  EXPECT_EQ(FormatDate(*ParseCivilDate("2024-02-29")), "2024-02-29");
}

TEST(Utf8Test, OneDecoderForTheToolAndThePortNames) {
  EXPECT_EQ(serial::DecodeUtf8("Aš Ж€"), u"Aš Ж€");
  EXPECT_EQ(serial::DecodeUtf8(""), u"");
  for (const char* bad : {"\x80", "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xED\xA0\x80",
                          "\xF0\x9F\x98\x80", "\xC3", "\xE2\x82", "a\xC3(", "\xFF"})
    EXPECT_FALSE(serial::DecodeUtf8(bad)) << bad;
  const auto c = serial::DecodeUtf8Char("x€", 1);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->code, u'€');
  EXPECT_EQ(c->length, 3u);
  EXPECT_FALSE(serial::DecodeUtf8Char("x", 1));
  // The port names' character setting reads its first character the same way.
  EXPECT_EQ(serial::StrToChar("€uro"), u'€');
  EXPECT_EQ(serial::StrToChar("\xED\xA0\x80"), 0);
}

TEST(HexTest, PairsOfDigitsInAnyGrouping) {
  EXPECT_EQ(ParseHexWords({"0A", "ff", "0b0C"}), (std::vector<uint8_t>{0x0A, 0xFF, 0x0B, 0x0C}));
  EXPECT_EQ(ParseHexWords({}), std::vector<uint8_t>{});
  EXPECT_FALSE(ParseHexWords({"0"}));
  EXPECT_FALSE(ParseHexWords({"0G"}));
  EXPECT_FALSE(ParseHexWords({"+1"}));
}

std::vector<ArticleRow> Articles(const std::string& text) {
  std::istringstream in(text);
  return ReadArticles(in, "a.csv");
}

std::string ArticleError(const std::string& text) {
  try {
    Articles(text);
  } catch (const InputError& e) {
    return e.what();
  }
  return "no error";
}

TEST(ArticlesTest, CommasSemicolonsQuotesHeaderAndComments) {
  const auto rows = Articles(
      "Code;Name;Unit;Tax;Price\r\n# a comment\n\n7;\"Mleko; 1l \"\"A\"\"\";1;2;129,99\n8;Čaj "
      "šumski;0;15;1\n");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].code, 7);
  EXPECT_EQ(rows[0].name, u"Mleko; 1l \"A\"");
  EXPECT_EQ(rows[0].unit, 1);
  EXPECT_EQ(rows[0].tax, 2);
  EXPECT_EQ(rows[0].price, 12999);
  EXPECT_EQ(rows[0].line, 4);
  EXPECT_EQ(rows[1].name, u"Čaj šumski");
  EXPECT_EQ(rows[1].tax, 15);

  const auto cyrillic = Articles("1,Шећер кристал,0,1,99.90\n");
  EXPECT_EQ(cyrillic[0].name, u"Шећер кристал");
}

TEST(ArticlesTest, EveryBadLineIsNamedByFileAndLine) {
  EXPECT_EQ(ArticleError("1,A,0,1,1\n2,B,0,1\n"),
            "a.csv:2: expected 5 fields (code, name, unit, tax group, price), found 4");
  EXPECT_EQ(ArticleError("\n1,A,0,1,1.999\n"), "a.csv:2: bad price \"1.999\"");
  EXPECT_EQ(ArticleError("1,A,0,1,-1\n"), "a.csv:1: bad price \"-1\"");
  EXPECT_EQ(ArticleError("1,A,0,1,21474836.48\n"), "a.csv:1: bad price \"21474836.48\"");
  EXPECT_EQ(ArticleError("0,A,0,1,1\n"), "a.csv:1: bad article code \"0\"");
  EXPECT_EQ(ArticleError("x,A,0,1,1\n"), "a.csv:1: bad article code \"x\"");
  EXPECT_EQ(ArticleError("1,A,16,1,1\n"), "a.csv:1: bad unit \"16\" (0 to 15)");
  EXPECT_EQ(ArticleError("1,A,0,-1,1\n"), "a.csv:1: bad tax group \"-1\" (0 to 15)");
  EXPECT_EQ(ArticleError("1,,0,1,1\n"), "a.csv:1: empty article name");
  EXPECT_EQ(ArticleError("1,\"A,0,1,1\n"), "a.csv:1: unterminated quote");
  EXPECT_EQ(ArticleError("1,\xC3\x28,0,1,1\n"), "a.csv:1: the name is not valid UTF-8");
  EXPECT_EQ(ArticleError("1," + std::string(33, 'x') + ",0,1,1\n"),
            "a.csv:1: name of 33 characters; at most 32");
  // 32 Cyrillic letters are 64 bytes of UTF-8 and still fit.
  std::string longest;
  for (int i = 0; i < 32; ++i) longest += "Ж";
  EXPECT_EQ(Articles("1," + longest + ",0,1,1\n").size(), 1u);
  EXPECT_EQ(ArticleError("# only a comment\n"), "a.csv: no articles");
}

std::vector<zuv::TNonfiscalLine> Receipt(const std::string& text, int width = 20) {
  std::istringstream in(text);
  return ReadNonfiscal(in, "r.txt", width);
}

TEST(NonfiscalTest, MarksForBoldAlignmentAndColumns) {
  const auto lines = Receipt("*^TITLE\nplain\n>right\n<^literal\n*A||1.00\n\n");
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(lines[0].Bold());
  EXPECT_EQ(lines[0].Align(), 0);
  EXPECT_EQ(lines[0].Text(), u"TITLE");
  EXPECT_FALSE(lines[1].Bold());
  EXPECT_EQ(lines[1].Align(), -1);
  EXPECT_EQ(lines[2].Align(), 1);
  EXPECT_EQ(lines[2].Text(), u"right");
  EXPECT_EQ(lines[3].Align(), -1);
  EXPECT_EQ(lines[3].Text(), u"^literal");
  EXPECT_TRUE(lines[4].Bold());
  EXPECT_EQ(lines[4].Align(), 2);
  EXPECT_EQ(lines[4].TextLeft(), u"A");
  EXPECT_EQ(lines[4].TextRight(), u"1.00");
  EXPECT_EQ(lines[5].Text(), u"");
}

TEST(NonfiscalTest, OversizeLinesAndBadTextAreNamedByLine) {
  auto error = [](const std::string& text) -> std::string {
    try {
      Receipt(text, 10);
    } catch (const InputError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(error("ok\n12345678901\n"), "r.txt:2: line of 11 characters; the width is 10");
  EXPECT_EQ(error("^1234567890\n"), "no error");
  EXPECT_EQ(error("abcde||12345\n"), "r.txt:1: two columns of 10 characters do not fit a line of 10");
  EXPECT_EQ(error("\xFF\n"), "r.txt:1: not valid UTF-8");
  EXPECT_EQ(error(""), "r.txt: nothing to print");
}

}  // namespace
}  // namespace zuvcmd
