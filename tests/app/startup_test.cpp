// Start-up, the port controls of the main window and the way out.
#include <chrono>
#include <stdexcept>

#include <QComboBox>
#include <QDateEdit>
#include <QPlainTextEdit>
#include <QTimer>

#include "app/debug/debug_open.h"
#include "app_fixture.h"
#include "driver/comportzuv.h"

namespace apptest {
namespace {

using Clock = std::chrono::steady_clock;

struct Control {
  const char* name;
  const char* caption;
};

const Control kButtons[] = {
    {"Button1", "< Test veze >"},
    {"Button24", "Refresh"},
    {"Button5", "Obrisi >"},
    {"Button6", "[  OTVORI LOG  ]"},
    {"Button2", "citaj vreme"},
    {"Button3", "citaj IBFM"},
    {"Button4", "citaj BI"},
    {"Button20", "citaj BD"},
    {"Button7", "Presek stanja"},
    {"Button8", "Periodicni"},
    {"Button9", "Dnevni izvestaj"},
    {"Button11", "promena cene"},
    {"Button12", "brisanje baze"},
    {"Button15", "Storno"},
    {"Button16", "Automatski zatvori racun"},
    {"Button17", "broj stavki na racunu"},
    {"Button21", "Beep"},
    {"Button22", "^ Traka ^"},
    {"Button23", "Seci traku"},
    {"Button10", "programiraj artikle"},
    {"Button13", "nefiskalni isecak"},
    {"Button27", "nefiskalni EPSON ne radi"},
    {"Button19", "stanje racuna"},
    {"Button14", "PRODAJA"},
    {"Button26", "Tabela karaktera"},
    {"Button18", "Test1"},
};

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

TEST_F(AppTest, StartUpBuildsTheWindowsAndInitialisesTheDriver) {
  EXPECT_EQ(Main().windowTitle(), QStringLiteral("ZUV Driver Command Example 1"));
  for (const Control& c : kButtons) {
    QPushButton* button = Button(c.name);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QString::fromUtf8(c.caption)) << c.name;
    EXPECT_EQ(button->isVisible(), std::string(c.name) != "Button27") << c.name;
  }
  EXPECT_TRUE(Main().Memo1->isReadOnly());
  EXPECT_EQ(Main().DateTimePicker1->date(), QDate(2016, 2, 16));
  EXPECT_EQ(Main().DateTimePicker2->date(), QDate(2016, 2, 16));

  // Hidden windows and the data module, published where the driver looks.
  EXPECT_FALSE(Debug().isVisible());
  EXPECT_EQ(Debug().windowTitle(), QStringLiteral("ZUV Driver Debug"));
  ASSERT_NE(app::Form1, nullptr);
  EXPECT_FALSE(app::Form1->isVisible());
  EXPECT_EQ(app::Form1->windowTitle(), QStringLiteral("Form1"));
  EXPECT_EQ(app::Form1->Button1->text(), QStringLiteral("Citaj Vreme"));
  EXPECT_EQ(zuv::cdsNefiskalni, &DataModule().cdsNefiskalni);

  // The show handler initialised the driver with the Serbian messages.
  ASSERT_TRUE(zuv::ZUVtable && zuv::receiveBuffer && zuv::bufferArtikala);
  EXPECT_EQ(zuv::TComPortZUV::ErrorMessage(-1), "Nema odgovora od fiskalnog uređaja");
}

TEST_F(AppTest, ShowHandlerFillsThePortAndBaudLists) {
  QStringList ports;
  for (const std::string& p : zuv::TComPortZUV::GetPorts()) ports << QString::fromStdString(p);
  EXPECT_EQ(Items(Main().ComboBox1), ports);
  EXPECT_TRUE(ports.contains(QLatin1String(kPortName)));
  EXPECT_EQ(Main().ComboBox1->currentIndex(), 0);
  EXPECT_EQ(Items(Main().ComboBox2),
            QStringList({"9600", "19200", "38400", "57600", "115200"}));
  EXPECT_EQ(Main().ComboBox2->currentText(), QStringLiteral("115200"));
}

TEST_F(AppTest, ConnectionTestOpensThePortAndTestsTheLink) {
  ASSERT_TRUE(Connect()) << Log().join('\n').toStdString();
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].command, 101);
  EXPECT_TRUE(zuv::PrinterType);
  EXPECT_FALSE(zuv::DebugMode);
}

TEST_F(AppTest, ConnectionTestWithoutAPortSaysSo) {
  // Never the machine's own ports: the emulator's, whose link is then gone.
  Main().ComboBox1->setCurrentIndex(Main().ComboBox1->findText(kPortName));
  server.Stop();
  Click("Button1");
  EXPECT_EQ(Log(), QStringList{">> Neuspesno otvaranje serijskog porta!"});
  // No port selected at all: an empty name.
  Main().ComboBox1->setCurrentIndex(-1);
  Click("Button1");
  EXPECT_EQ(Log(), QStringList({">> Neuspesno otvaranje serijskog porta!",
                                ">> Neuspesno otvaranje serijskog porta!"}));
}

TEST_F(AppTest, ConnectionTestWithASilentPrinterWaitsOneBudgetAndLogsMinusOne) {
  Emu([](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
  Main().ComboBox1->setCurrentIndex(Main().ComboBox1->findText(kPortName));
  const auto start = Clock::now();
  Click("Button1");
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_EQ(Log(), QStringList({">> Otvoren port ttyPrinter  115200",
                                "* Test veze nije uspesan. ErrorCode: -1"}));
  EXPECT_GE(seconds, 2.4);
  EXPECT_LT(seconds, 4.0);
}

TEST_F(AppTest, ConnectionTestRefusedThreeTimesLogsMinusTwo) {
  Emu([](emu::PrinterEmulator& e) { e.InjectNack(emu::kAlways); });
  Main().ComboBox1->setCurrentIndex(Main().ComboBox1->findText(kPortName));
  Click("Button1");
  EXPECT_EQ(Log().value(1), QStringLiteral("* Test veze nije uspesan. ErrorCode: -2"));
  EXPECT_EQ(RequestCount(), 3u);
}

TEST_F(AppTest, ConnectionTestErrorGoesToTheErrorBoxNotTheLog) {
  Main().ComboBox1->setCurrentIndex(Main().ComboBox1->findText(kPortName));
  Main().ComboBox2->clear();  // no baud-rate text to read
  Click("Button1");
  EXPECT_TRUE(Log().isEmpty());
  ASSERT_EQ(dialogs.errorBoxes.size(), 1);
  EXPECT_EQ(dialogs.errorBoxes[0],
            QStringLiteral("Greška prilikom test veze. \r\n'' is not a valid integer value"));
  EXPECT_EQ(RequestCount(), 0u);
}

TEST_F(AppTest, RefreshListsANewPortAndSelectsTheFirst) {
  emu::PtyServer second;
  emu::PtyOptions options;
  options.link = true;
  options.link_name = "ttyAnother";
  ASSERT_FALSE(Items(Main().ComboBox1).contains("ttyAnother"));
  ASSERT_TRUE(second.Start(options)) << second.Error();
  Main().ComboBox1->setCurrentIndex(Main().ComboBox1->count() - 1);
  Main().ComboBox2->setCurrentIndex(0);
  Click("Button24");
  EXPECT_TRUE(Items(Main().ComboBox1).contains("ttyAnother"));
  EXPECT_TRUE(Items(Main().ComboBox1).contains(kPortName));
  EXPECT_EQ(Main().ComboBox1->currentIndex(), 0);
  // The baud list is left alone.
  EXPECT_EQ(Main().ComboBox2->count(), 5);
  EXPECT_EQ(Main().ComboBox2->currentText(), QStringLiteral("9600"));
}

TEST_F(AppTest, ClearEmptiesTheLogPane) {
  ASSERT_TRUE(Connect());
  Click("Button5");
  EXPECT_TRUE(Log().isEmpty());
}

// The main window closed with the port open (and the debug window open):
// the event loop ends, the port is released, nothing hangs.
TEST_F(AppTest, ClosingTheMainWindowWithThePortOpenEndsTheProgram) {
  ASSERT_TRUE(Connect());
  diag::DebugOpen();
  ASSERT_TRUE(Debug().isVisible());
  QTimer::singleShot(0, &Main(), [this] { Main().close(); });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  watchdog.start(5000);
  const int code = app::RunApplication(Application(), Windows());
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(Main().isVisible());
  EXPECT_EQ(zuv::comport, nullptr);
  // The device is free again: a new driver opens it.
  EXPECT_TRUE(zuv::TComPortZUV::OpenPort(kPortName, 115200, true, false));
}

// An object whose event handler fails.
class FailingObject : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("event handler failed");
    return QObject::event(e);
  }
};

TEST_F(AppTest, AnErrorEscapingAnEventHandlerEndsInTheErrorBoxAndTheProgramGoesOn) {
  FailingObject failing;
  QEvent event(QEvent::User);
  QCoreApplication::sendEvent(&failing, &event);
  EXPECT_EQ(dialogs.applicationErrors, QStringList{"event handler failed"});
  ASSERT_TRUE(Connect());
}

}  // namespace
}  // namespace apptest
