// How each outcome of the tool reads: byte-order marks, one JSON object for
// every failure, lost replies to reads, article lists that stop partway,
// characters the printer cannot print, and the tool's own messages.
#include <thread>

#include <nlohmann/json.hpp>

#include "cli_fixture.h"

namespace clitest {
namespace {

using Json = nlohmann::json;

class OutcomeTest : public CliTest {
 protected:
  // The one JSON object a --json run wrote, or a null after a failure.
  static Json OnlyObject(const RunResult& r) {
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    const Json result = Json::parse(r.out, nullptr, false);
    EXPECT_TRUE(result.is_object()) << r.out;
    return result;
  }
};

const std::string kBom = "\xEF\xBB\xBF";

TEST_P(OutcomeTest, AByteOrderMarkIsSkipped) {
  const std::string file = TestFile("bom.csv", kBom + "1,Hleb,0,1,65.50\n");
  RunResult r = Run({"program-articles", file});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "programmed 1 article\n");
  EXPECT_EQ(printer().Emu([](emu::PrinterEmulator& e) { return e.Articles().at(1).name; }), "Hleb");

  printer().Emu([](emu::PrinterEmulator& e) { e.TakePaper(); });
  r = Run({"nonfiscal", "--width", "10"}, kBom + "Hleb\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "printed 1 line\n");
  const std::string paper = printer().Emu([](emu::PrinterEmulator& e) { return e.TakePaper(); });
  EXPECT_NE(paper.find("|Hleb      |"), std::string::npos) << paper;
}

TEST_P(OutcomeTest, EveryFailureIsOneJsonObjectWithItsKind) {
  const std::string bad = TestFile("bad.csv", "1,Hleb,0,1,65.50\n2,Mleko,0,1,x\n");
  Json j = OnlyObject(Run({"--json", "program-articles", bad}));
  EXPECT_EQ(j["kind"], "input");
  EXPECT_EQ(j["file"], bad);
  EXPECT_EQ(j["line"], 2);
  j = OnlyObject(Run({"--json", "pay", "cash", "x"}));
  EXPECT_EQ(j["kind"], "input");
  EXPECT_EQ(j["field"], "amount");
  j = OnlyObject(Run({"--json", "bogus"}));
  EXPECT_EQ(j["kind"], "usage");
  EXPECT_NE(j["message"].get<std::string>().find("unknown subcommand \"bogus\""), std::string::npos);
  j = OnlyObject(Run({"--json", "z-report"}));  // not confirmed
  EXPECT_EQ(j["kind"], "usage");
  EXPECT_EQ(printer().Requests(), 0u);

  printer().Emu([](emu::PrinterEmulator& e) { e.InjectError(34); });
  RunResult r = Run({"--json", "x-report"});
  EXPECT_EQ(r.status, 1);
  j = OnlyObject(r);
  EXPECT_EQ(j["kind"], "printer");
  EXPECT_EQ(j["error"], 34);
  printer().Emu([](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
  r = Run({"--json", "feed"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(OnlyObject(r)["kind"], "in-doubt");

  r = RunTool({"--json", "-p", "ttyNoSuchPort", "test"});
  EXPECT_EQ(r.status, 1);
  j = OnlyObject(r);
  EXPECT_EQ(j["kind"], "link");
  EXPECT_TRUE(j["error"].is_number()) << r.out;
  r = RunTool({"--json", "detect", "ttyNoSuchPort"});
  EXPECT_EQ(r.status, 1);
  j = OnlyObject(r);
  EXPECT_EQ(j["kind"], "link");
  ASSERT_EQ(j["ports"].size(), 1u) << r.out;
  EXPECT_EQ(j["ports"][0]["finding"], "unusable");
}

TEST_P(OutcomeTest, ALostReplyToAReadIsSafeToRepeat) {
  for (const char* read : {"clock", "receipt-state", "report-number"}) {
    SCOPED_TRACE(read);
    printer().Emu([](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
    const RunResult r = Run({read, "--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no reply; safe to repeat"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("check the paper"), std::string::npos) << r.err;
    EXPECT_EQ(OnlyObject(r)["kind"], "link");
  }
}

TEST_P(OutcomeTest, ArticlesThatStopPartwaySayHowFarTheyGot) {
  std::string list = "code,name,unit,tax,price\n";
  for (int code = 1; code <= 25; ++code) list += std::to_string(code) + ",A,0,1,1.00\n";
  const std::string file = TestFile("many.csv", list);
  // The first frame's reply comes late; meanwhile the printer is told to
  // refuse the next one.
  zuv::linkState.replyBudgetMs = 10000;
  printer().Emu([](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(2000)); });
  std::thread refuse([&] {
    for (int second = 0; second < 30 && printer().RequestsOnceAt(1) < 1; ++second) {
    }
    printer().Emu([](emu::PrinterEmulator& e) {
      e.InjectError(34);
      e.SetReplyDelay(emu::Millis(0));
    });
  });
  const RunResult r = Run({"--json", "program-articles", file});
  refuse.join();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("10 articles programmed (lines 2–11 of " + file + "), stopped at " + file +
                       ":12: error 34"),
            std::string::npos)
      << r.err;
  const Json j = OnlyObject(r);
  EXPECT_EQ(j["articles"], 10);
  EXPECT_EQ(j["line"], 12);
  EXPECT_EQ(r.err.find("programmed 10 of"), std::string::npos);  // no progress when piped
}

TEST_P(OutcomeTest, UnprintableCharactersAreNamedAndStrictRefusesThem) {
  RunResult r = Run({"nonfiscal"}, "Kafa\nSmile ☺ ☺ ♥\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("<stdin>:2: warning: the printer cannot print \"☺\", \"♥\""), std::string::npos)
      << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;  // once a line

  const size_t before = printer().Requests();
  r = Run({"--strict", "nonfiscal"}, "Kafa\nSmile ☺\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("<stdin>:2: the printer cannot print \"☺\""), std::string::npos) << r.err;
  const std::string file = TestFile("smile.csv", "1,Šljivović,0,1,1\n2,☺ Kafa,0,1,1\n");
  r = Run({"--strict", "program-articles", file});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(file + ":2: the printer cannot print \"☺\""), std::string::npos) << r.err;
  EXPECT_EQ(printer().Requests(), before);
}

TEST_P(OutcomeTest, MessagesSayWhatHappened) {
  printer().Emu([](emu::PrinterEmulator& e) { e.InjectError(200); });
  RunResult r = Run({"cut"});
  EXPECT_NE(r.err.find("printer error 200 (not in the message table; code 1200)"), std::string::npos)
      << r.err;
  r = Run({"pay", "cash", "nan"});
  EXPECT_NE(r.err.find("bad amount \"nan\"\n"), std::string::npos) << r.err;  // no hint that misleads
  r = Run({"pay", "cash", "1000000001"});
  EXPECT_NE(r.err.find("(at most 1000000000.00)"), std::string::npos) << r.err;
  printer().Emu([](emu::PrinterEmulator& e) { e.Sell({{"Hleb", 6550, 2000}}); });
  r = Run({"pay", "0", "1"});
  EXPECT_EQ(r.out, "paid 1.00 (cash)\n");
  r = Run({"--lang", "srb", "test"});
  EXPECT_EQ(r.status, 0) << r.err;

  r = RunTool({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(r.out.empty());
  r = RunTool({"pay", "--help"});
  EXPECT_NE(r.out.find("--port"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--json"), std::string::npos) << r.out;
  r = RunTool({"clock", "--help"});
  EXPECT_NE(r.out.find("fixed UTC+1"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Transports, OutcomeTest,
                         ::testing::Values(Transport::kPty, Transport::kTcp), TransportName);

}  // namespace
}  // namespace clitest
