// The debug window: debug mode, the traffic log, the figures repainted
// inside an exchange, the buffer dump, clear and close.
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>

#include "app/debug/debug_open.h"
#include "app_fixture.h"
#include "driver/comportzuv.h"
#include "driver/hex.h"

namespace apptest {
namespace {

const QString kRule = QString(42, QLatin1Char('='));

class DebugWindow : public AppTest {
 protected:
  void Activate() {
    QEvent change(QEvent::ActivationChange);
    QCoreApplication::sendEvent(&Debug(), &change);
  }
  void ClickDebugModeLabel() {
    QLabel* label = Debug().DebugModeLabel;
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, label->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, label->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(label, &press);
    QCoreApplication::sendEvent(label, &release);
  }
  void ClickDebug(QPushButton* button) { button->click(); }
};

// Records the text a label shows each time it is painted.
class PaintRecorder : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted << static_cast<QLabel*>(watched)->text();
    return false;
  }
  QStringList painted;
};

TEST(DebugWindowPlace, BottomRightFiftyPixelsAboveTheBottom) {
  EXPECT_EQ(diag::DebugWindowPlace(QRect(0, 0, 1920, 1080), QSize(500, 400)), QPoint(1420, 630));
  EXPECT_EQ(diag::DebugWindowPlace(QRect(1920, 0, 1280, 1024), QSize(500, 400)),
            QPoint(2700, 574));
}

TEST_F(DebugWindow, OpeningShowsItBottomRightWithDebugModeOn) {
  ASSERT_FALSE(zuv::DebugMode);
  Click("Button6");
  ProcessEvents();
  EXPECT_TRUE(Debug().isVisible());
  EXPECT_TRUE(zuv::DebugMode);
  Activate();
  EXPECT_EQ(Debug().DebugModeLabel->text(), QStringLiteral("Debug Mode is enabled"));
  EXPECT_EQ(Debug().ComPortLabel->text(), QStringLiteral("-"));
  EXPECT_EQ(Debug().Label1->text(), QStringLiteral("COM PORT:"));
  const QRect screen = Debug().screen()->geometry();
  EXPECT_EQ(Debug().frameGeometry().right(), screen.right());
  EXPECT_EQ(Debug().frameGeometry().bottom(), screen.bottom() - 50);
  EXPECT_EQ(Debug().Button1->text(), QStringLiteral("Clear >>"));
  EXPECT_EQ(Debug().Button2->text(), QStringLiteral("Read buffer"));
  EXPECT_EQ(Debug().Button3->text(), QStringLiteral("Close"));
}

TEST_F(DebugWindow, ConnectionTestTurnsDebugOffAndALabelClickTurnsItOn) {
  Click("Button6");
  ASSERT_TRUE(Connect());
  EXPECT_FALSE(zuv::DebugMode);
  Activate();
  EXPECT_EQ(Debug().DebugModeLabel->text(), QStringLiteral("Debug Mode is disabled"));
  EXPECT_EQ(Debug().ComPortLabel->text(), QStringLiteral("ttyPrinter  115200"));
  EXPECT_EQ(Debug().DebugModeLabel->cursor().shape(), Qt::PointingHandCursor);
  ClickDebugModeLabel();
  EXPECT_TRUE(zuv::DebugMode);
  EXPECT_EQ(Debug().DebugModeLabel->text(), QStringLiteral("Debug Mode is enabled"));
  ClickDebugModeLabel();  // never turns it off
  EXPECT_TRUE(zuv::DebugMode);
  EXPECT_EQ(Debug().DebugModeLabel->text(), QStringLiteral("Debug Mode is enabled"));
}

TEST_F(DebugWindow, TrafficLogFillsThePaneWhileDebugModeIsOn) {
  ASSERT_TRUE(Connect());
  Click("Button6");
  Click("Button2");
  const QStringList pane = DebugPane();
  EXPECT_EQ(pane.filter(QStringLiteral("==> send     {cmd:2, 0x02")).size(), 1)
      << pane.join('\n').toStdString();
  EXPECT_EQ(pane.filter(QStringLiteral(" 02 01 02 00 03")).size(), 1);
  EXPECT_EQ(pane.filter(QStringLiteral("[Finished]")).size(), 1);
  // The last report leaves both figures at 0.
  EXPECT_EQ(Debug().TimeLabel->text(), QStringLiteral("time: 0ms"));
  EXPECT_EQ(Debug().IterationLabel->text(), QStringLiteral("iteration: 0"));
}

// The figures change on screen while the exchange holds the UI thread;
// nothing else runs meanwhile (no event loop inside an exchange).
TEST_F(DebugWindow, FiguresRepaintDuringAnExchangeWithoutRunningTheEventLoop) {
  ASSERT_TRUE(Connect());
  Click("Button6");
  ProcessEvents();
  Emu([](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(150)); });
  PaintRecorder timePaints, iterationPaints;
  Debug().TimeLabel->installEventFilter(&timePaints);
  Debug().IterationLabel->installEventFilter(&iterationPaints);
  bool posted = false;
  QTimer::singleShot(0, &Debug(), [&] { posted = true; });
  Click("Button2");
  EXPECT_EQ(Log().size(), 3);  // the two connection lines and the time
  // Live figures while the reply was awaited, not only the final zeros.
  EXPECT_GE(timePaints.painted.size(), 3);
  EXPECT_FALSE(timePaints.painted.filter(QRegularExpression("^time: [1-9][0-9]*ms$")).isEmpty())
      << timePaints.painted.join(", ").toStdString();
  EXPECT_FALSE(
      iterationPaints.painted.filter(QRegularExpression("^iteration: [1-9][0-9]*$")).isEmpty())
      << iterationPaints.painted.join(", ").toStdString();
  EXPECT_FALSE(posted);
  ProcessEvents();
  EXPECT_TRUE(posted);
  Debug().TimeLabel->removeEventFilter(&timePaints);
  Debug().IterationLabel->removeEventFilter(&iterationPaints);
}

TEST_F(DebugWindow, ReadBufferAfterATimeOutShowsTheMessageAndMinusOne) {
  ASSERT_TRUE(Connect());
  Click("Button6");
  SilenceEmulator();
  Click("Button2");
  Debug().Memo1->clear();
  ClickDebug(Debug().Button2);
  const QStringList pane = DebugPane();
  ASSERT_EQ(pane.size(), 7) << pane.join('\n').toStdString();
  EXPECT_EQ(pane[0], kRule);
  EXPECT_EQ(pane[1], QStringLiteral("ErrorMsg : Nema odgovora od fiskalnog uređaja"));
  EXPECT_EQ(pane[2], QStringLiteral("ErrorCode: -1"));
  EXPECT_TRUE(pane[3].startsWith(QStringLiteral("RxDataIndex: ")));
  EXPECT_TRUE(pane[4].startsWith(QStringLiteral("RxExpectDataLen: ")));
  EXPECT_EQ(pane[5], QString());
  EXPECT_EQ(pane[6], kRule);
}

TEST_F(DebugWindow, ReadBufferAfterSuccessDumpsTheReply) {
  ASSERT_TRUE(Connect());
  Click("Button2");  // the clock: a reply with data
  ClickDebug(Debug().Button2);
  const QStringList pane = DebugPane();
  ASSERT_EQ(pane.size(), 7) << pane.join('\n').toStdString();
  EXPECT_EQ(pane[1], QStringLiteral("ErrorMsg : "));
  EXPECT_EQ(pane[2], QStringLiteral("ErrorCode: 0"));
  EXPECT_EQ(pane[3], QStringLiteral("RxDataIndex: 4"));
  EXPECT_EQ(pane[4], QStringLiteral("RxExpectDataLen: ") + QString::number(zuv::RxExpectDataLen));
  EXPECT_EQ(pane[5], QString::fromStdString(zuv::TBytesToHEX(*zuv::receiveBuffer)));
  EXPECT_TRUE(pane[5].startsWith(QStringLiteral(" 06 02")));
}

TEST_F(DebugWindow, ReadBufferAfterAnUnknownPrinterErrorShowsItPlus1000) {
  ASSERT_TRUE(Connect());
  ASSERT_FALSE(zuv::TComPortZUV::HasErrorMessage(200));
  Emu([](emu::PrinterEmulator& e) { e.InjectError(200); });
  Click("Button2");
  ClickDebug(Debug().Button2);
  const QStringList pane = DebugPane();
  ASSERT_EQ(pane.size(), 7) << pane.join('\n').toStdString();
  EXPECT_EQ(pane[1], QStringLiteral("ErrorMsg : "));
  EXPECT_EQ(pane[2], QStringLiteral("ErrorCode: 1200"));
}

// A code the message table lacks fails the lookup: nothing is appended, the
// application's error handler shows it, and the program goes on.
TEST_F(DebugWindow, ReadBufferFailureGoesToTheApplicationErrorHandler) {
  ASSERT_FALSE(zuv::TComPortZUV::HasErrorMessage(3));
  zuv::ErrorCode = 3;
  ClickDebug(Debug().Button2);
  EXPECT_TRUE(DebugPane().isEmpty());
  EXPECT_EQ(dialogs.applicationErrors.size(), 1);
  zuv::ErrorCode = 0;
  ClickDebug(Debug().Button2);
  EXPECT_EQ(DebugPane().size(), 7);
}

TEST_F(DebugWindow, ClearEmptiesThePaneAndFiguresAndCloseStartsAfresh) {
  ASSERT_TRUE(Connect());
  Click("Button6");
  Click("Button2");
  ASSERT_FALSE(DebugPane().isEmpty());
  ClickDebug(Debug().Button1);
  EXPECT_TRUE(DebugPane().isEmpty());
  EXPECT_EQ(Debug().TimeLabel->text(), QString());
  EXPECT_EQ(Debug().IterationLabel->text(), QString());

  Click("Button2");
  ASSERT_FALSE(DebugPane().isEmpty());
  ClickDebug(Debug().Button3);
  EXPECT_FALSE(Debug().isVisible());
  EXPECT_FALSE(zuv::DebugMode);
  const size_t logged = size_t(DebugPane().size());
  Click("Button2");  // debug mode off: no traffic log
  EXPECT_EQ(size_t(DebugPane().size()), logged);

  Click("Button6");
  EXPECT_TRUE(Debug().isVisible());
  EXPECT_TRUE(zuv::DebugMode);
  EXPECT_TRUE(DebugPane().isEmpty());

  // Escape stands for "Close".
  Click("Button2");
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(&Debug(), &escape);
  EXPECT_FALSE(Debug().isVisible());
  EXPECT_FALSE(zuv::DebugMode);
  EXPECT_TRUE(DebugPane().isEmpty());

  // So does the window manager's close (Alt+F4).
  Click("Button6");
  Click("Button2");
  ASSERT_FALSE(DebugPane().isEmpty());
  Debug().close();
  EXPECT_FALSE(Debug().isVisible());
  EXPECT_FALSE(zuv::DebugMode);
  Click("Button6");
  EXPECT_TRUE(DebugPane().isEmpty());
}

}  // namespace
}  // namespace apptest
