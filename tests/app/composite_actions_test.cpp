// The composite actions: sample articles, sample receipts, the receipt
// state, the sale dialog, the character test and the time window.
#include <QDialog>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>

#include "app/debug/debug_open.h"
#include "app/split_str.h"
#include "app_fixture.h"
#include "driver/comportzuv.h"
#include "driver/hex.h"

namespace apptest {
namespace {

constexpr uint8_t kArticleProgramming = 12;
constexpr uint8_t kNonfiscal = 26;
constexpr uint8_t kPayment = 51;

class CompositeActions : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    if (HasFatalFailure()) return;
    QLocale::setDefault(QLocale::c());
    ASSERT_TRUE(Connect());
    ClearLog();
    Emu([](emu::PrinterEmulator& e) { e.ClearRecord(); });
  }
  void TearDown() override {
    QLocale::setDefault(QLocale::system());
    AppTest::TearDown();
  }

  size_t CountCommand(uint8_t command) {
    size_t n = 0;
    for (const auto& r : Requests()) n += r.command == command;
    return n;
  }

  // The lines of every non-fiscal packet sent, in order: (bold, text).
  std::vector<std::pair<bool, std::string>> SentNonfiscalLines() {
    std::vector<std::pair<bool, std::vector<uint8_t>>> raw;
    for (const auto& r : Requests()) {
      if (r.command != kNonfiscal) continue;
      for (size_t i = 1; i < r.data.size(); ++i) {
        if (r.data[i] == 0xEF || r.data[i] == 0xFF)
          raw.push_back({r.data[i] == 0xEF, {}});
        else if (!raw.empty())
          raw.back().second.push_back(r.data[i]);
      }
    }
    std::vector<std::pair<bool, std::string>> lines;
    for (const auto& [bold, bytes] : raw)
      lines.push_back({bold, QString::fromStdU16String(zuv::TComPortZUV::ZUVbytesToString(bytes))
                                 .toStdString()});
    return lines;
  }
};

TEST_F(CompositeActions, ArticleProgrammingSendsFiftyPacketsQuietlyWithDebugOff) {
  Click("Button10");
  EXPECT_EQ(Log(), QStringList({"  >> programiraj poslednji paket",
                                "# Programiranje atrikala zavrseno"}));
  EXPECT_EQ(CountCommand(kArticleProgramming), 50u);
  EXPECT_EQ(RequestCount(), 50u);
  const auto articles = Emu([](emu::PrinterEmulator& e) { return e.Articles(); });
  ASSERT_EQ(articles.size(), 500u);
  EXPECT_EQ(articles.at(1).name_bytes, zuv::TComPortZUV::StringToZUVbytes(u"Тест артикал 1"));
  EXPECT_EQ(articles.at(500).name_bytes,
            zuv::TComPortZUV::StringToZUVbytes(u"Тест артикал 500"));
  EXPECT_EQ(articles.at(500).price, 100);
  EXPECT_EQ(articles.at(7).tax, 3);
  EXPECT_TRUE(zuv::bufferArtikala->empty());
}

TEST_F(CompositeActions, ArticleProgrammingWithDebugOnLogsItsProgress) {
  diag::DebugOpen();
  ASSERT_TRUE(zuv::DebugMode);
  Click("Button10");
  const QStringList log = Log();
  ASSERT_EQ(log.size(), 500 + 50 + 2);
  EXPECT_EQ(log[0], QStringLiteral("Artikal 1"));
  EXPECT_EQ(log[9], QStringLiteral("Artikal 10"));
  EXPECT_EQ(log[10], QStringLiteral("  >> programiraj 10"));
  EXPECT_EQ(log[11], QStringLiteral("Artikal 11"));
  EXPECT_EQ(log[548], QStringLiteral("Artikal 500"));
  EXPECT_EQ(log[549], QStringLiteral("  >> programiraj 10"));
  EXPECT_EQ(log[551], QStringLiteral("# Programiranje atrikala zavrseno"));
  EXPECT_EQ(DebugPane().filter(QStringLiteral("==> send     {cmd:12")).size(), 50);
}

TEST_F(CompositeActions, ArticleProgrammingStopsAtTheFirstRefusedPacket) {
  Emu([](emu::PrinterEmulator& e) { e.InjectError(19); });
  Click("Button10");
  EXPECT_EQ(Log(), QStringList{"* Neuspesno programiranje artikala. Stop: 10"});
  EXPECT_EQ(RequestCount(), 1u);
  EXPECT_TRUE(zuv::bufferArtikala->empty());
}

TEST_F(CompositeActions, OrderReceiptPrintsItsTwentyNineLines) {
  Click("Button13");
  EXPECT_TRUE(Log().isEmpty());
  const auto lines = SentNonfiscalLines();
  ASSERT_EQ(lines.size(), 29u);
  EXPECT_EQ(CountCommand(kNonfiscal), 3u);  // 14 + 14 + 1 lines
  const std::string dashes(34, '-');
  EXPECT_EQ(lines[0], std::make_pair(true, dashes));
  EXPECT_EQ(lines[1], std::make_pair(true, std::string(9, ' ') + "Test Firma d.o.o." +
                                               std::string(8, ' ')));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^PORUDŽBINA br\\.: \\d{1,3} *$"))
                  .match(QString::fromStdString(lines[3].second))
                  .hasMatch())
      << lines[3].second;
  EXPECT_EQ(lines[6], std::make_pair(true, "Artikli" + std::string(21, ' ') + " Iznos"));
  EXPECT_EQ(lines[7].second, "Artikal 1" + std::string(25, ' '));
  EXPECT_EQ(lines[8].second, std::string(20, ' ') + "2.000 x 350.00");
  EXPECT_EQ(lines[23], std::make_pair(true, std::string(19, ' ') + "UKUPNO: 2236.00"));
  for (const auto& [bold, text] : lines) EXPECT_EQ(QString::fromStdString(text).size(), 34) << text;
  // The printer printed it as one receipt.
  const std::string paper = Paper();
  EXPECT_NE(paper.find("B|         Test Firma d.o.o.        |"), std::string::npos) << paper;
  EXPECT_NE(paper.find(" |         FISKALNOG RAČUNA         |"), std::string::npos) << paper;
}

TEST_F(CompositeActions, ReceiptsLogTheirFailureLineWhenThePrinterIsSilent) {
  SilenceEmulator();
  Click("Button13");
  Click("Button27");
  EXPECT_EQ(Log(), QStringList({"* Neuspelo stampanje nefiskalnog isecka!",
                                "* Neuspelo stampanje nefiskalnog isecka!"}));
  EXPECT_EQ(DataModule().cdsNefiskalni.RecordCount(), 0);
  Click("Button19");
  EXPECT_EQ(Log().value(2), QStringLiteral("* Neuspelo citanje stanja racuna!"));
}

TEST_F(CompositeActions, TableReceiptPrintsTheRowsLastInsertedFirst) {
  ASSERT_FALSE(Button("Button27")->isVisible());
  Click("Button27");
  EXPECT_TRUE(Log().isEmpty());
  EXPECT_EQ(DataModule().cdsNefiskalni.RecordCount(), 0);
  const std::string s40 = "123456789-123456789-123456789-ABCDEFGHI-";
  const std::vector<std::pair<bool, std::string>> expected = {
      {false, std::string(15, ' ') + "kraj" + std::string(15, ' ')},
      {true, std::string(34, ' ')},
      {true, std::string(34, ' ')},
      {true, std::string(34, ' ')},
      {false, "10" + std::string(32, ' ')},
      {false, std::string(34, '-')},
      {false, "LEVO5" + s40},
      {true, s40},
      {true, s40},
      {true, s40},
      {false, "levo" + std::string(25, ' ') + "desno"},
      {true, std::string(22, ' ') + "Treca linija"},
      {true, std::string(11, ' ') + "Druga linija" + std::string(11, ' ')},
      {true, "Prva linija" + std::string(23, ' ')},
  };
  EXPECT_EQ(SentNonfiscalLines(), expected);
}

TEST_F(CompositeActions, TableReceiptTrimsTheStoredTexts) {
  zuv::TLineTable& table = DataModule().cdsNefiskalni;
  table.Insert({std::u16string(u"   "), 0, true});
  table.Insert({std::u16string(), 2, false, std::u16string(u" L "), std::u16string(u"\tR ")});
  table.Insert({std::u16string(u"  padded  "), -1, false});
  ASSERT_TRUE(zuv::TFiscal::NefiskalniIsecakEPSON(10));
  const std::vector<std::pair<bool, std::string>> expected = {
      {false, "padded    "}, {false, "L        R"}, {true, std::string(10, ' ')}};
  EXPECT_EQ(SentNonfiscalLines(), expected);
}

TEST_F(CompositeActions, ReceiptStateShowsItsSevenLines) {
  Emu([](emu::PrinterEmulator& e) {
    e.SetReceiptNumber(41);
    e.Sell({{"Hleb", 6550, 2000}, {"Mleko", 12999, 1000}});
  });
  Click("Button19");
  EXPECT_EQ(Log(), QStringList({"# MEDJUZBIR:       260.99", "# UKUPNO:            260.99",
                                "# BROJ_STAVKI:    2", "# PLACENO_GOTOVINA : 0",
                                "# PLACENO_KARTICA    : 0", "# PLACENO_CEK            : 0",
                                "# BROJ_RACUNA: 41"}));
  // Amounts take the platform's decimal separator.
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  ClearLog();
  Click("Button19");
  EXPECT_EQ(Log().value(0), QStringLiteral("# MEDJUZBIR:       260,99"));
}

TEST_F(CompositeActions, SaleDialogEchoesPairsAndPaysOneHundredInCash) {
  Emu([](emu::PrinterEmulator& e) { e.Sell({{"Hleb", 6550, 2000}, {"Mleko", 12999, 1000}}); });
  dialogs.confirmAnswers = {true, true};
  dialogs.inputAnswers = {QStringLiteral("35,1"), QStringLiteral("35,1,2"), QStringLiteral(","),
                          QStringLiteral("7"), std::nullopt};
  Click("Button14");
  EXPECT_EQ(dialogs.confirmTexts, QStringList({"Otvaranje racuna!", "Naplata!"}));
  ASSERT_EQ(dialogs.inputs.size(), 5u);
  EXPECT_EQ(dialogs.inputs[0].title, QStringLiteral("PRODAJA"));
  EXPECT_EQ(dialogs.inputs[0].prompt,
            QStringLiteral("Za nastavak ostaviti prazno\r\nUnesi SIFRA,KOLICINA (35,1):"));
  EXPECT_EQ(dialogs.inputs[0].defaultText, QString());
  EXPECT_EQ(Log(), QStringList({"# 35,1", "# ,", "# Naplata gotovinom uspesna."}));
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].command, kPayment);
  const auto receipt = Emu([](emu::PrinterEmulator& e) { return e.Receipt(); });
  EXPECT_EQ(receipt.paid[emu::kCash], 10000);

  // Without an open receipt the printer refuses the payment.
  Emu([](emu::PrinterEmulator& e) { e.VoidReceipt(); });
  ClearLog();
  dialogs.confirmAnswers = {true, true};
  dialogs.inputAnswers = {QString()};
  Click("Button14");
  EXPECT_EQ(Log(), QStringList{"* Naplata gotovinom neuspesna!"});
}

TEST_F(CompositeActions, SaleDialogCancelledSendsNothing) {
  dialogs.confirmAnswers = {false};
  Click("Button14");
  EXPECT_TRUE(dialogs.inputs.empty());
  dialogs.confirmAnswers = {true, false};
  dialogs.inputAnswers = {QStringLiteral("35,1"), QString()};
  Click("Button14");
  EXPECT_EQ(Log(), QStringList{"# 35,1"});
  EXPECT_EQ(RequestCount(), 0u);
}

TEST_F(CompositeActions, CharacterTableShowsTheDumpAndTheDecodedLine) {
  dialogs.inputAnswers = {std::nullopt};  // cancelled: the default text
  Click("Button26");
  ASSERT_EQ(dialogs.inputs.size(), 1u);
  EXPECT_EQ(dialogs.inputs[0].title, QStringLiteral("Test za ZUV tabelu karaktera"));
  EXPECT_EQ(dialogs.inputs[0].prompt, QStringLiteral("Uneti tekst:"));
  const QString text = QStringLiteral("АаБбВвГгДдЂђЕеЖжЗзИиЈјКкЛлЉљМм12");
  EXPECT_EQ(dialogs.inputs[0].defaultText, text);
  const QStringList log = Log();
  ASSERT_EQ(log.size(), 2);
  EXPECT_TRUE(log[0].startsWith(QStringLiteral(" 41 61 84 9A 85 9B"))) << log[0].toStdString();
  EXPECT_TRUE(log[0].endsWith(QStringLiteral(" 31 32"))) << log[0].toStdString();
  EXPECT_EQ(log[0].size(), 3 * text.size());
  EXPECT_TRUE(log[1].startsWith(QStringLiteral("   A   a   Б   б   В   в"))) << log[1].toStdString();
  EXPECT_EQ(log[1].size(), 4 * text.size());
  EXPECT_EQ(RequestCount(), 0u);

  // Characters the printer lacks: as the character set makes them.
  const QString lacking = QStringLiteral("€ж");
  dialogs.inputAnswers = {lacking};
  ClearLog();
  Click("Button26");
  const auto bytes = zuv::TComPortZUV::StringToZUVbytes(lacking.toStdU16String());
  const QString decoded =
      QString::fromStdU16String(zuv::TComPortZUV::ZUVbytesToString(bytes));
  EXPECT_EQ(Log(), QStringList({QString::fromStdString(zuv::TBytesToHEX(bytes)),
                                "   " + decoded.left(1) + "   " + decoded.mid(1)}));
}

TEST_F(CompositeActions, Test1OpensANewTimeWindowThatReadsTheClock) {
  Emu([](emu::PrinterEmulator& e) { e.SetClock(825915967000, false); });
  QDialog* shown = nullptr;
  dialogs.whileModal = [&](QDialog& dialog) {
    shown = &dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Form1"));
    auto* button = dialog.findChild<QPushButton*>(QStringLiteral("Button1"));
    ASSERT_NE(button, nullptr);
    button->click();
  };
  Click("Button18");
  EXPECT_EQ(dialogs.modalShown, 1);
  EXPECT_NE(shown, nullptr);
  EXPECT_NE(shown, app::Form1);  // not the instance made at start-up
  EXPECT_EQ(dialogs.messages, QStringList{"04.03.2026 06:06:07"});
  EXPECT_EQ(Log(), QStringList{"# ok"});
}

TEST_F(AppTest, TimeWindowBeforeAnyConnectionSaysTheReadFailed) {
  app::Form1->Button1->click();
  EXPECT_EQ(dialogs.messages, QStringList{"* Citanje vremena nije uspelo"});
  EXPECT_EQ(RequestCount(), 0u);
}

TEST(SplitStr, SplitsAtEveryDelimiter) {
  using app::SplitStr;
  EXPECT_EQ(SplitStr("35,1", ","), QStringList({"35", "1"}));
  EXPECT_EQ(SplitStr("35,1,2", ","), QStringList({"35", "1", "2"}));
  EXPECT_EQ(SplitStr("35", ","), QStringList{"35"});
  EXPECT_EQ(SplitStr("", ","), QStringList{""});
  EXPECT_EQ(SplitStr("35,", ","), QStringList({"35", ""}));
  EXPECT_EQ(SplitStr(",", ","), QStringList({"", ""}));
  EXPECT_EQ(SplitStr("a::b::", "::"), QStringList({"a", "b", ""}));
  EXPECT_EQ(SplitStr("a,b", ""), QStringList{"a,b"});
  EXPECT_EQ(SplitStr(QString::fromUtf16(u"a,b\0,c", 6), ","), QStringList({"a", "b"}));
}

}  // namespace
}  // namespace apptest
