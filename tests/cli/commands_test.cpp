// Every subcommand against the emulator, over a pseudo-terminal and over
// TCP: its text, its JSON, its exit status, and its failure when the printer
// says nothing.
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>

#include "cli_fixture.h"

namespace clitest {
namespace {

using Json = nlohmann::json;

struct Case {
  std::vector<std::string> args;
  std::string text;  // regular expression the output must match
  std::string key;   // field the JSON result must carry ("" for none)
  std::function<void(CliTest&, Printer&)> setup;
};

void OpenReceipt(CliTest&, Printer& p) {
  ASSERT_TRUE(p.Emu([](emu::PrinterEmulator& e) {
    return e.Sell({{"Hleb", 6550, 2000}});
  }));
}

const std::string kArticles = "code,name,unit,tax group,price\n1,Hleb,0,1,65.50\n2,\"Mleko, 1l\",1,2,129.99\n3,Шљивић,0,1,99\n";

class CommandsTest : public CliTest {
 protected:
  void ProgramArticles() {
    const std::string file = TestFile("articles.csv", kArticles);
    ASSERT_EQ(Run({"program-articles", file}).status, 0);
  }
  std::vector<Case> Cases() {
    auto programmed = [](CliTest& t, Printer&) {
      static_cast<CommandsTest&>(t).ProgramArticles();
    };
    const std::string articles = TestFile("articles.csv", kArticles);
    return {
        {{"test"}, "the printer answered", "", nullptr},
        {{"clock"}, R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)", "clock", nullptr},
        {{"fiscal-id"}, "ABCD1234", "fiscal_id",
         [](CliTest&, Printer& p) { p.Emu([](emu::PrinterEmulator& e) { e.SetIdentifier("ABCD1234"); }); }},
        {{"receipt-number"}, "^41\n$", "receipt_number",
         [](CliTest&, Printer& p) { p.Emu([](emu::PrinterEmulator& e) { e.SetReceiptNumber(41); }); }},
        {{"report-number"}, "^7\n$", "report_number",
         [](CliTest&, Printer& p) { p.Emu([](emu::PrinterEmulator& e) { e.SetDailyReportNumber(7); }); }},
        {{"item-count"}, "^1\n$", "items", OpenReceipt},
        {{"receipt-state"}, "subtotal 131.00\ntotal 131.00\nitems 1\n", "total", OpenReceipt},
        {{"x-report"}, "X report printed", "", nullptr},
        {{"z-report", "--yes"}, "Z report printed", "", nullptr},
        {{"periodic-report", "01.03.2021", "2021-03-31"}, "periodic report printed", "from", nullptr},
        {{"program-articles", articles}, "programmed 3 articles", "articles", nullptr},
        {{"change-price", "2", "140"}, "price of article 2 set to 140.00", "price", programmed},
        {{"delete-articles", "-y"}, "article base deleted", "", programmed},
        {{"pay", "card", "200"}, "paid 200.00", "amount", OpenReceipt},
        {{"close"}, "receipt closed", "", OpenReceipt},
        {{"void"}, "receipt voided", "", OpenReceipt},
        {{"nonfiscal", "--width", "20"}, "printed 3 lines", "lines", nullptr},
        {{"feed"}, "paper fed", "", nullptr},
        {{"cut"}, "paper cut", "", nullptr},
        {{"beep"}, "buzzer sounded", "", nullptr},
        {{"raw", "0x56"}, "^07 00 00 00\n$", "data",
         [](CliTest&, Printer& p) { p.Emu([](emu::PrinterEmulator& e) { e.SetDailyReportNumber(7); }); }},
        {{"raw", "101"}, R"(\(no data\))", "data", nullptr},
    };
  }
  // Each case starts without a receipt open, then gets what it needs.
  void Prepare(const Case& c) {
    printer().Emu([](emu::PrinterEmulator& e) { e.VoidReceipt(); });
    if (c.setup) c.setup(*this, printer());
  }
};

const std::string kReceiptText = "*^NASLOV\nHleb||65.50\n>kraj\n";

TEST_P(CommandsTest, EverySubcommandSucceedsInTextAndJson) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.args.front());
    Prepare(c);
    RunResult r = Run(c.args, kReceiptText);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(c.text))) << r.out;
    EXPECT_EQ(r.err, "");

    Prepare(c);
    std::vector<std::string> json = c.args;
    json.push_back("--json");
    r = Run(json, kReceiptText);
    EXPECT_EQ(r.status, 0) << r.err;
    const Json result = Json::parse(r.out, nullptr, false);
    ASSERT_TRUE(result.is_object()) << r.out;
    EXPECT_EQ(result["command"], c.args.front());
    EXPECT_EQ(result["ok"], true);
    if (!c.key.empty()) {
      EXPECT_TRUE(result.contains(c.key)) << r.out;
    }
  }
}

TEST_P(CommandsTest, EverySubcommandFailsWithStatusOneWhenThePrinterIsSilent) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.args.front());
    Prepare(c);
    printer().Emu([](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
    const size_t before = printer().Requests();
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const RunResult r = Run(args, kReceiptText);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error -1: No response from fiscal device"), std::string::npos) << r.err;
    const Json result = Json::parse(r.out, nullptr, false);
    ASSERT_TRUE(result.is_object()) << r.out;
    EXPECT_EQ(result["ok"], false);
    EXPECT_EQ(result["error"], -1);
    EXPECT_EQ(printer().Requests(), before + 1);  // one frame, no retry after a time-out
    printer().Emu([](emu::PrinterEmulator& e) { e.ClearFaults(); });
  }
}

TEST_P(CommandsTest, ResultsReachThePrinter) {
  ProgramArticles();
  auto articles = printer().Emu([](emu::PrinterEmulator& e) { return e.Articles(); });
  ASSERT_EQ(articles.size(), 3u);
  EXPECT_EQ(articles.at(2).name, "Mleko, 1l");
  EXPECT_EQ(articles.at(2).price, 12999);
  EXPECT_EQ(articles.at(2).unit, 1);
  EXPECT_EQ(articles.at(2).tax, 2);
  EXPECT_EQ(articles.at(3).name, "Шљивић");

  printer().Emu([](emu::PrinterEmulator& e) { e.TakePaper(); });
  ASSERT_EQ(Run({"nonfiscal", "--width", "20"}, kReceiptText).status, 0);
  const std::string paper = printer().Emu([](emu::PrinterEmulator& e) { return e.TakePaper(); });
  EXPECT_NE(paper.find("B|       NASLOV       |"), std::string::npos) << paper;
  EXPECT_NE(paper.find("|Hleb           65.50|"), std::string::npos) << paper;
  EXPECT_NE(paper.find("|                kraj|"), std::string::npos) << paper;

  OpenReceipt(*this, printer());
  ASSERT_EQ(Run({"pay", "cheque", "100,5"}).status, 0);
  EXPECT_EQ(printer().Emu([](emu::PrinterEmulator& e) { return e.Receipt().paid[emu::kCheque]; }),
            10050);
}

TEST_P(CommandsTest, PrinterErrorGivesStatusOneWithItsMessage) {
  printer().Emu([](emu::PrinterEmulator& e) { e.InjectError(34); });
  RunResult r = Run({"x-report"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 34"), std::string::npos) << r.err;

  printer().Emu([](emu::PrinterEmulator& e) { e.InjectError(34); });
  r = Run({"--lang", "SRB", "feed"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 34: "), std::string::npos) << r.err;

  // A code the table lacks is named as such.
  printer().Emu([](emu::PrinterEmulator& e) { e.InjectError(5); });
  r = Run({"cut"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 1005: printer error 5"), std::string::npos) << r.err;
}

TEST_P(CommandsTest, AcknowledgedButLostReplyGivesStatusThree) {
  printer().Emu([](emu::PrinterEmulator& e) { e.InjectAckThenSilence(emu::kAlways); });
  RunResult r = Run({"x-report"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("acknowledged"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("check the paper"), std::string::npos) << r.err;

  r = Run({"nonfiscal", "--json"}, "one line\n");
  EXPECT_EQ(r.status, 3);
  const Json result = Json::parse(r.out, nullptr, false);
  ASSERT_TRUE(result.is_object()) << r.out;
  EXPECT_EQ(result["acknowledged"], true);
}

TEST_P(CommandsTest, TraceShowsEveryFrameOnStandardError) {
  const RunResult r = Run({"--trace", "test"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("==> send     {cmd:101, 0x65}   size: 5"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" 02 01 65 00 66"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "the printer answered\n");
}

INSTANTIATE_TEST_SUITE_P(Transports, CommandsTest,
                         ::testing::Values(Transport::kPty, Transport::kTcp), TransportName);

}  // namespace
}  // namespace clitest
