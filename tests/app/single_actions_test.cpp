// The buttons that run one printer command: their success and failure lines.
#include <QPlainTextEdit>

#include "app_fixture.h"
#include "driver/comportzuv.h"

namespace apptest {
namespace {

// 04.03.2026 05:06:07 on the device clock; shown one hour later.
constexpr int64_t kDeviceClockMs = 825915967000;

class SingleActions : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    if (HasFatalFailure()) return;
    Emu([](emu::PrinterEmulator& e) {
      e.SetClock(kDeviceClockMs, false);
      e.SetIdentifier("ZUVTEST1");
      e.SetReceiptNumber(41);
      e.SetDailyReportNumber(7);
      e.Sell({{"Hleb", 6550, 2000}, {"Mleko", 12999, 1000}});
    });
    ASSERT_TRUE(Connect());
    ClearLog();
    Emu([](emu::PrinterEmulator& e) { e.ClearRecord(); });
  }

  // Clicks and returns the lines the click appended.
  QStringList Run(const char* button) {
    const qsizetype before = Log().size();
    Click(button);
    return Log().mid(before);
  }

  uint8_t LastCommand() {
    const auto requests = Requests();
    return requests.empty() ? 0 : requests.back().command;
  }
};

TEST_F(SingleActions, ReadsLogTheValuesTheyRead) {
  EXPECT_EQ(Run("Button2"), QStringList{"04.03.2026 06:06:07"});
  EXPECT_EQ(Run("Button3"), QStringList{"ZUVTEST1"});
  EXPECT_EQ(Run("Button4"), QStringList{"41"});
  EXPECT_EQ(Run("Button20"), QStringList{"7"});
  EXPECT_EQ(Run("Button17"), QStringList{"# Broj stavki na otvorenom racunu: 2"});
  // 0 is a value, -1 is the failure value.
  Emu([](emu::PrinterEmulator& e) { e.SetReceiptNumber(0); });
  EXPECT_EQ(Run("Button4"), QStringList{"0"});
  Emu([](emu::PrinterEmulator& e) { e.SetReceiptNumber(-1); });
  EXPECT_EQ(Run("Button4"), QStringList{"* Citanje BI nije uspelo"});
}

TEST_F(SingleActions, ReportsAndReceiptCommandsLogTheirSuccessLines) {
  EXPECT_EQ(Run("Button7"), QStringList{"# Presek stanja uspesno odstampan"});
  EXPECT_EQ(LastCommand(), 89);
  EXPECT_EQ(Run("Button8"), QStringList{"# Periodicni izvestaj je uspesno odstampan"});
  EXPECT_EQ(LastCommand(), 90);
  EXPECT_EQ(Run("Button15"), QStringList{"# Racun uspesno storiran."});
  EXPECT_FALSE(Emu([](emu::PrinterEmulator& e) { return e.ReceiptOpen(); }));

  Emu([](emu::PrinterEmulator& e) { e.Sell({{"Sok", 9900, 1000}}); });
  EXPECT_EQ(Run("Button16"), QStringList{"# Racun uspesno zatvoren."});
  EXPECT_EQ(Emu([](emu::PrinterEmulator& e) { return e.ReceiptNumber(); }), 42);

  dialogs.confirmAnswers = {true};
  EXPECT_EQ(Run("Button9"), QStringList{"# Dnevni izvestaj uspesno odstampan"});
  EXPECT_EQ(dialogs.confirmTexts, QStringList{"Da li zelite odstampati dnevni izvestaj?"});
  EXPECT_EQ(Emu([](emu::PrinterEmulator& e) { return e.DailyReportNumber(); }), 8);
}

TEST_F(SingleActions, ArticleCommandsLogTheirSuccessLines) {
  ASSERT_TRUE(zuv::TFiscal::DodajArtikal(2, u"Hleb", 0, 3, 1.0));
  ASSERT_TRUE(zuv::TFiscal::ProgramirajArtikle());
  EXPECT_EQ(Run("Button11"), QStringList{"# Uspesno promenjena cena artikla"});
  EXPECT_EQ(Emu([](emu::PrinterEmulator& e) { return e.Articles().at(2).price; }), 298);
  EXPECT_EQ(Run("Button12"), QStringList{"# Baza uspesno obrisana"});
  EXPECT_TRUE(Emu([](emu::PrinterEmulator& e) { return e.Articles().empty(); }));
  // The price of an article that no longer exists cannot change.
  EXPECT_EQ(Run("Button11"), QStringList{"* Neuspesna promena cene"});
}

TEST_F(SingleActions, PaperAndBuzzerLogNothingEitherWay) {
  EXPECT_TRUE(Run("Button21").isEmpty());
  EXPECT_TRUE(Run("Button22").isEmpty());
  EXPECT_TRUE(Run("Button23").isEmpty());
  EXPECT_EQ(Emu([](emu::PrinterEmulator& e) { return e.Beeps(); }), 1);
  EXPECT_EQ(Emu([](emu::PrinterEmulator& e) { return e.PaperFeeds(); }), 1);
  EXPECT_EQ(Emu([](emu::PrinterEmulator& e) { return e.PaperCuts(); }), 1);
  SilenceEmulator();
  EXPECT_TRUE(Run("Button21").isEmpty());
  EXPECT_TRUE(Run("Button22").isEmpty());
  EXPECT_TRUE(Run("Button23").isEmpty());
  EXPECT_EQ(RequestCount(), 6u);
}

TEST_F(SingleActions, DailyReportCancelledSendsNothingAndRefusedFails) {
  dialogs.confirmAnswers = {false};
  EXPECT_TRUE(Run("Button9").isEmpty());
  EXPECT_EQ(dialogs.confirmTexts.size(), 1);
  EXPECT_EQ(RequestCount(), 0u);
  // With a receipt open the printer refuses the Z report.
  dialogs.confirmAnswers = {true};
  EXPECT_EQ(Run("Button9"), QStringList{"* Dnevni izvestaj nije uspeo"});
  EXPECT_EQ(zuv::ErrorCode, 34);
}

TEST_F(SingleActions, EveryCommandLogsItsFailureLineWhenThePrinterIsSilent) {
  SilenceEmulator();
  const std::pair<const char*, const char*> expected[] = {
      {"Button2", "* Citanje vremena nije uspelo"},
      {"Button3", "* Citanje IBFM nije uspelo"},
      {"Button4", "* Citanje BI nije uspelo"},
      {"Button20", "* Citanje BD nije uspelo"},
      {"Button7", "* Presek stanja nije uspeo"},
      {"Button8", "* Periodicni izvestaj nije uspeo"},
      {"Button9", "* Dnevni izvestaj nije uspeo"},
      {"Button11", "* Neuspesna promena cene"},
      {"Button12", "* Baza se ne moze obrisati!"},
      {"Button15", "* Neuspelo storniranje racuna!"},
      {"Button16", "* Neuspelo zatvaranje racuna!"},
      {"Button17", "* Neuspelo citanje stanja racuna - broj stavki!"},
  };
  dialogs.confirmAnswers = {true};
  for (const auto& [button, line] : expected) {
    EXPECT_EQ(Run(button), QStringList{QString::fromUtf8(line)}) << button;
    EXPECT_EQ(zuv::ErrorCode, -1) << button;
  }
  EXPECT_EQ(RequestCount(), std::size(expected));
}

TEST_F(AppTest, ACommandBeforeAnyConnectionFailsWithoutSending) {
  Click("Button4");
  Click("Button7");
  EXPECT_EQ(Log(), QStringList({"* Citanje BI nije uspelo", "* Presek stanja nije uspeo"}));
  EXPECT_EQ(RequestCount(), 0u);
}

}  // namespace
}  // namespace apptest
