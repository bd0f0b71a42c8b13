// The command catalogue on its own: what it lists, how it checks and puts
// JSON arguments in normal form, and how a run against the emulator ends.
#include "commands/catalogue.h"

#include <set>

#include "cli_fixture.h"

namespace clitest {
namespace {

using zuvcmd::ArgumentError;
using zuvcmd::CheckRequest;
using zuvcmd::Counter;
using zuvcmd::Effect;
using Json = zuvcmd::Json;

TEST(CatalogueTest, EveryCommandWithItsEffectAndCounter) {
  const std::vector<std::string> reads = {"clock",         "fiscal-id",  "receipt-number",
                                          "report-number", "receipt-state", "item-count", "test"};
  const std::map<std::string, Counter> counters = {{"z-report", Counter::ReportNumber},
                                                   {"close", Counter::ReceiptState},
                                                   {"pay", Counter::ReceiptState},
                                                   {"void", Counter::ItemCount}};
  ASSERT_EQ(zuvcmd::Catalogue().size(), 21u);
  for (const auto& info : zuvcmd::Catalogue()) {
    SCOPED_TRACE(info.name);
    EXPECT_EQ(zuvcmd::FindCommand(info.name), &info);
    const bool read = std::find(reads.begin(), reads.end(), info.name) != reads.end();
    EXPECT_EQ(info.effect == Effect::Read, read);
    const auto counter = counters.find(info.name);
    EXPECT_EQ(info.counter, counter == counters.end() ? Counter::None : counter->second);
    EXPECT_EQ(info.confirm, info.name == "z-report" || info.name == "delete-articles");
  }
  EXPECT_EQ(zuvcmd::FindCommand("bogus"), nullptr);
  EXPECT_EQ(zuvcmd::FindCommand("ports"), nullptr);  // the tool's own, not the printer's
}

TEST(CatalogueTest, ArgumentsInNormalForm) {
  EXPECT_EQ(CheckRequest("pay", {{"type", "cash"}, {"amount", "300"}}).args,
            Json({{"type", "cash"}, {"amount", "300.00"}}));
  EXPECT_EQ(CheckRequest("pay", {{"type", "card"}, {"amount", "0,5"}}).args,
            Json({{"type", "card"}, {"amount", "0.50"}}));
  EXPECT_EQ(CheckRequest("periodic-report", {{"from", "2026-12-01"}, {"to", "2026-12-09"}}).args,
            Json({{"from", "2026-12-01"}, {"to", "2026-12-09"}}));
  EXPECT_EQ(CheckRequest("raw", {{"command", 86}}).args,
            Json({{"command", 86}, {"data", ""}, {"long", false}}));
  EXPECT_EQ(CheckRequest("raw", {{"command", 26}, {"data", "0a0B0c"}, {"long", true}}).args["data"],
            "0A0B0C");
  EXPECT_EQ(CheckRequest("nonfiscal", {{"lines", {"*^RAČUN", "Kafa||120.00"}}}).args["width"], 34);
  const Json article = {{"code", 1}, {"name", "Hleb"}, {"unit", 0}, {"tax", 1}, {"price", "65.5"}};
  EXPECT_EQ(CheckRequest("program-articles", {{"articles", {article}}}).args["articles"][0]["price"],
            "65.50");
  EXPECT_EQ(CheckRequest("change-price", {{"code", 7}, {"price", "12"}}).args,
            Json({{"code", 7}, {"price", "12.00"}}));
  // Commands without arguments take nothing, {} or null.
  EXPECT_EQ(CheckRequest("z-report", Json::object()).args, Json::object());
  EXPECT_EQ(CheckRequest("test", Json()).info->name, "test");
}

// The field an ArgumentError names, or "(accepted)".
std::string RefusedField(const std::string& name, const Json& body) {
  try {
    CheckRequest(name, body);
  } catch (const ArgumentError& e) {
    return e.Field() + ": " + e.what();
  }
  return "(accepted)";
}

TEST(CatalogueTest, EveryBadArgumentIsRefusedByName) {
  Json articles = Json::array();
  for (int code = 1; code <= 3; ++code)
    articles.push_back({{"code", code}, {"name", "A"}, {"unit", 0}, {"tax", 1}, {"price", "1.00"}});
  const auto with = [&](size_t i, const char* key, const Json& value) {
    Json copy = articles;
    copy[i][key] = value;
    return Json{{"articles", copy}};
  };
  EXPECT_EQ(RefusedField("program-articles", with(2, "price", "1.234")),
            "articles[2].price: bad price \"1.234\"");
  EXPECT_EQ(RefusedField("program-articles", with(2, "price", "21474836.48")),
            "articles[2].price: bad price \"21474836.48\" (at most 21474836.47)");
  EXPECT_EQ(RefusedField("program-articles", with(1, "price", 1.5)).rfind("articles[1].price: ", 0), 0u);
  EXPECT_EQ(RefusedField("program-articles", with(0, "unit", 16)),
            "articles[0].unit: bad unit \"16\" (0 to 15)");
  EXPECT_EQ(RefusedField("program-articles", with(0, "code", "1")).rfind("articles[0].code: ", 0), 0u);
  EXPECT_EQ(RefusedField("program-articles", with(2, "name", std::string(33, 'x'))),
            "articles[2].name: name of 33 characters; at most 32");
  EXPECT_EQ(RefusedField("program-articles", with(1, "colour", "red")),
            "articles[1].colour: unknown field \"colour\"");
  EXPECT_EQ(RefusedField("program-articles", {{"articles", Json::array()}}), "articles: no articles");
  EXPECT_EQ(RefusedField("pay", {{"type", "cash"}, {"amount", 300}}).rfind("amount: ", 0), 0u);
  EXPECT_EQ(RefusedField("pay", {{"type", "cash"}, {"amount", "0"}}),
            "amount: bad amount \"0\" (use close to pay the rest)");
  EXPECT_EQ(RefusedField("pay", {{"type", "bitcoin"}, {"amount", "1"}}).rfind("type: bad payment type", 0), 0u);
  // The tool's own spellings (0, 1, 2, "check", dd.mm.yyyy, hex words with
  // blanks) are the tool's: a request takes only the names the document lists.
  EXPECT_EQ(RefusedField("pay", {{"type", 1}, {"amount", "1"}}),
            "type: bad payment type \"1\" (cash, card or cheque)");
  EXPECT_EQ(RefusedField("pay", {{"type", "check"}, {"amount", "1"}}).rfind("type: ", 0), 0u);
  EXPECT_EQ(RefusedField("periodic-report", {{"from", "01.12.2026"}, {"to", "2026-12-09"}}),
            "from: bad date \"01.12.2026\" (yyyy-mm-dd, 2000 to 2099)");
  EXPECT_EQ(RefusedField("raw", {{"command", 1}, {"data", "0a 0b"}}), "data: data must be pairs of hex digits");
  EXPECT_EQ(RefusedField("pay", {{"amount", "1"}}), "type: missing field \"type\"");
  EXPECT_EQ(RefusedField("periodic-report", {{"from", "2026-12-09"}, {"to", "2026-12-01"}})
                .rfind("from: FROM is after TO", 0), 0u);
  EXPECT_EQ(RefusedField("periodic-report", {{"from", "2026-02-29"}, {"to", "2026-12-01"}})
                .rfind("from: bad date", 0), 0u);
  EXPECT_EQ(RefusedField("nonfiscal", {{"lines", {"ok", std::string(35, 'x')}}}),
            "lines[1]: line of 35 characters; the width is 34");
  EXPECT_EQ(RefusedField("nonfiscal", {{"lines", {"ok"}}, {"width", 72}}).rfind("width: ", 0), 0u);
  EXPECT_EQ(RefusedField("raw", {{"command", 256}}), "command: bad command \"256\" (0 to 255)");
  EXPECT_EQ(RefusedField("raw", {{"command", 1}, {"data", "0G"}}), "data: data must be pairs of hex digits");
  EXPECT_EQ(RefusedField("raw", {{"command", 1}, {"data", std::string(510, 'A')}}),
            "data: 255 data bytes; a short frame holds 254");
  EXPECT_EQ(RefusedField("feed", {{"lines", 3}}), "lines: unknown field \"lines\"");
  EXPECT_EQ(RefusedField("feed", Json::array()), ": the body must be a JSON object");
  EXPECT_EQ(RefusedField("bogus", Json::object()), ": unknown command \"bogus\"");
}

// Runs against the emulator on a pty with the driver's port open.
class ExecuteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zuv::ResetDriverState();
    zuv::linkState.replyBudgetMs = kTestReplyBudgetMs;
    zuv::TComPortZUV::Init("GBR");
    ASSERT_TRUE(printer_.Started());
    ASSERT_TRUE(zuv::TComPortZUV::OpenPort(printer_.Port(), 115200, true, false));
  }
  void TearDown() override {
    zuv::TComPortZUV::ClosePort();
    zuv::ResetDriverState();
  }
  zuvcmd::CommandOutcome Run(const std::string& name, const Json& body,
                             const zuvcmd::Progress& progress = {}) {
    return zuvcmd::Execute(CheckRequest(name, body), progress);
  }

  PortDirectory ports_;
  Printer printer_{Transport::kPty};
};

Json Articles(int count) {
  Json list = Json::array();
  for (int code = 1; code <= count; ++code)
    list.push_back({{"code", code}, {"name", "A" + std::to_string(code)}, {"unit", 0}, {"tax", 1},
                    {"price", "2.50"}});
  return {{"articles", list}};
}

TEST_F(ExecuteTest, ArticlesGoTenAFrameAndAStopSaysHowFarItGot) {
  std::vector<size_t> told;
  auto outcome = Run("program-articles", Articles(25), [&](size_t done, size_t total) {
    told.push_back(done);
    EXPECT_EQ(total, 25u);
  });
  EXPECT_TRUE(outcome.ok) << outcome.message;
  EXPECT_EQ(outcome.result["articles"], 25);
  EXPECT_EQ(told, (std::vector<size_t>{10, 20, 25}));
  EXPECT_EQ(printer_.RequestsOnceAt(3), 3u);
  EXPECT_EQ(printer_.Emu([](emu::PrinterEmulator& e) { return e.Articles().size(); }), 25u);

  // The printer refuses the second frame: ten were taken, the rest not.
  outcome = Run("program-articles", Articles(25), [&](size_t done, size_t) {
    if (done == 10) printer_.Emu([](emu::PrinterEmulator& e) { e.InjectError(34); });
  });
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.errorCode, 34);
  EXPECT_EQ(outcome.result["articles"], 10);
  EXPECT_EQ(outcome.result["stopped_at"], 10);
  EXPECT_FALSE(outcome.message.empty());
  EXPECT_EQ(printer_.RequestsOnceAt(5), 5u);  // nothing after the refused frame
}

TEST_F(ExecuteTest, ALostReplyIsInDoubtOnlyForWhatPrintsOrChanges) {
  const auto& clock = *zuvcmd::FindCommand("clock");
  const auto& xReport = *zuvcmd::FindCommand("x-report");
  printer_.Emu([](emu::PrinterEmulator& e) { e.InjectAckThenSilence(emu::kAlways); });
  auto outcome = Run("x-report", Json::object());
  EXPECT_FALSE(outcome.ok);
  EXPECT_TRUE(outcome.acknowledged);
  EXPECT_TRUE(outcome.sent);
  EXPECT_TRUE(zuvcmd::InDoubt(xReport, outcome));
  outcome = Run("clock", Json::object());
  EXPECT_FALSE(outcome.ok);
  EXPECT_FALSE(zuvcmd::InDoubt(clock, outcome));

  // A printer error reply is a plain failure, in doubt for nobody.
  printer_.Emu([](emu::PrinterEmulator& e) {
    e.ClearFaults();
    e.InjectError(34);
  });
  outcome = Run("x-report", Json::object());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.errorCode, 34);
  EXPECT_FALSE(zuvcmd::InDoubt(xReport, outcome));
}

TEST_F(ExecuteTest, ResultsAndCountersAsThePrinterHasThem) {
  printer_.Emu([](emu::PrinterEmulator& e) {
    e.SetDailyReportNumber(7);
    e.Sell({{"Hleb", 6550, 2000}});
  });
  auto outcome = Run("pay", {{"type", "card"}, {"amount", "100.00"}});
  EXPECT_TRUE(outcome.ok) << outcome.message;
  EXPECT_EQ(outcome.text, "paid 100.00 (card)");
  EXPECT_EQ(printer_.Emu([](emu::PrinterEmulator& e) { return e.Receipt().paid[emu::kCard]; }), 10000);
  EXPECT_EQ(zuvcmd::ReadCounter(Counter::ReportNumber), Json({{"report_number", 7}}));
  EXPECT_EQ((*zuvcmd::ReadCounter(Counter::ReceiptState))["paid_card"], "100.00");
  EXPECT_EQ(zuvcmd::ReadCounter(Counter::ItemCount), Json({{"items", 1}}));
  EXPECT_EQ(zuvcmd::ReadCounter(Counter::None), std::nullopt);
  printer_.Emu([](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
  EXPECT_EQ(zuvcmd::ReadCounter(Counter::ReportNumber), std::nullopt);
}

// Every command run once against the emulator: each result has the shape
// its row's result schema gives the API document.
TEST_F(ExecuteTest, EveryResultHasItsRowsShape) {
  const auto sell = [&] { printer_.Emu([](emu::PrinterEmulator& e) { return e.Sell({{"Hleb", 6550, 2000}}); }); };
  const std::vector<std::pair<std::string, Json>> runs = {
      {"test", {}},
      {"clock", {}},
      {"fiscal-id", {}},
      {"receipt-number", {}},
      {"report-number", {}},
      {"x-report", {}},
      {"z-report", {}},
      {"periodic-report", {{"from", "2026-01-01"}, {"to", "2026-12-31"}}},
      {"program-articles", Articles(2)},
      {"change-price", {{"code", 1}, {"price", "3.00"}}},
      {"delete-articles", {}},
      {"receipt-state", {}},
      {"item-count", {}},
      {"pay", {{"type", "card"}, {"amount", "100.00"}}},
      {"close", {}},
      {"void", {}},
      {"nonfiscal", {{"lines", {"*^RAČUN", "Kafa||120.00"}}}},
      {"feed", {}},
      {"cut", {}},
      {"beep", {}},
      {"raw", {{"command", 86}}},
  };
  std::set<std::string> ran;
  for (const auto& [name, args] : runs) {
    SCOPED_TRACE(name);
    if (name == "receipt-state" || name == "void") sell();
    const auto outcome = Run(name, args.is_null() ? Json::object() : args);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_NO_THROW(zuvcmd::Check(zuvcmd::FindCommand(name)->result, outcome.result)) << outcome.result.dump();
    ran.insert(name);
  }
  EXPECT_EQ(ran.size(), zuvcmd::Catalogue().size());

  // A read that fails has no result at all, not a sentinel.
  printer_.Emu([](emu::PrinterEmulator& e) { e.InjectError(20); });
  EXPECT_EQ(Run("report-number", Json::object()).result, nullptr);
}

}  // namespace
}  // namespace clitest
