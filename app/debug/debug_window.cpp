#include "app/debug/debug_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/debug/action_guard.h"
#include "driver/comportzuv.h"
#include "driver/hex.h"
#include "driver/protocol.h"

namespace diag {

TfrmDebug* frmDebug = nullptr;

namespace {

const QString kRule = QString(42, QLatin1Char('='));

// The driver writes Windows line breaks; the pane wants one kind.
QString PaneText(const std::string& text) {
  QString s = QString::fromUtf8(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QLatin1String(name));
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QLatin1String(name));
  button->setAutoDefault(false);
  return button;
}

}  // namespace

TfrmDebug::TfrmDebug(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("frmDebug"));
  setWindowTitle(QStringLiteral("ZUV Driver Debug"));
  // Closing it must not keep the application alive, nor end it.
  setAttribute(Qt::WA_QuitOnClose, false);

  Label1 = MakeLabel(this, "Label1", QStringLiteral("COM PORT:"));
  ComPortLabel = MakeLabel(this, "ComPortLabel", QStringLiteral("-"));
  TimeLabel = MakeLabel(this, "TimeLabel", QStringLiteral("-"));
  IterationLabel = MakeLabel(this, "IterationLabel", QStringLiteral("-"));
  DebugModeLabel = MakeLabel(this, "DebugModeLabel", QStringLiteral("-"));
  DebugModeLabel->setCursor(Qt::PointingHandCursor);
  DebugModeLabel->installEventFilter(this);
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  ComPortLabel->setFont(bold);
  // The figures change while the layout cannot run (inside an exchange):
  // give them room for any figure up front.
  TimeLabel->setMinimumWidth(180);
  IterationLabel->setMinimumWidth(180);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

  Button1 = MakeButton(this, "Button1", QStringLiteral("Clear >>"));
  Button2 = MakeButton(this, "Button2", QStringLiteral("Read buffer"));
  Button3 = MakeButton(this, "Button3", QStringLiteral("Close"));

  auto* status = new QGridLayout;
  status->addWidget(Label1, 0, 0);
  status->addWidget(ComPortLabel, 0, 1);
  status->addWidget(DebugModeLabel, 0, 2, Qt::AlignRight);
  status->addWidget(TimeLabel, 1, 0, 1, 2);
  status->addWidget(IterationLabel, 1, 2);
  status->setColumnStretch(1, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  buttons->addStretch(1);
  buttons->addWidget(Button3);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(status);
  layout->addWidget(Memo1, 1);
  layout->addLayout(buttons);
  setFixedSize(720, 440);

  connect(Button1, &QPushButton::clicked, this, [this] { RunAction([this] { Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this, [this] { RunAction([this] { Button2Click(); }); });
  connect(Button3, &QPushButton::clicked, this, [this] { RunAction([this] { Button3Click(); }); });

  frmDebug = this;
  SetLogSink(this);
}

TfrmDebug::~TfrmDebug() {
  if (CurrentLogSink() == this) SetLogSink(nullptr);
  if (frmDebug == this) frmDebug = nullptr;
}

void TfrmDebug::AppendLine(const std::string& text) { Memo1->appendPlainText(PaneText(text)); }

void TfrmDebug::SetTimeText(const std::string& text) {
  TimeLabel->setText(QString::fromStdString(text));
  TimeLabel->repaint();
}

void TfrmDebug::SetIterationText(const std::string& text) {
  IterationLabel->setText(QString::fromStdString(text));
  IterationLabel->repaint();
}

void TfrmDebug::SetPortLabel() {
  const std::vector<std::string> settings = zuv::TComPortZUV::GetSettings();
  if (settings.size() < 2) return;
  ComPortLabel->setText(QString::fromStdString(settings[0] + "  " + settings[1]));
}

void TfrmDebug::Refresh() {
  SetPortLabel();
  DebugModeLabel->setText(zuv::DebugMode ? QStringLiteral("Debug Mode is enabled")
                                         : QStringLiteral("Debug Mode is disabled"));
}

void TfrmDebug::FormShow() {
  zuv::DebugMode = true;
  SetPortLabel();
}

void TfrmDebug::FormClose() { zuv::DebugMode = false; }

void TfrmDebug::ClearView() {
  Memo1->clear();
  TimeLabel->clear();
  IterationLabel->clear();
}

void TfrmDebug::Button1Click() { ClearView(); }

void TfrmDebug::Button2Click() {
  const int32_t code = zuv::ErrorCode;
  // Throws for a code the table lacks: the action then appends nothing.
  const std::string message =
      (code != 0 && code < zuv::linkerr::UnlistedOffset) ? zuv::TComPortZUV::ErrorMessage(code)
                                                         : std::string();
  const std::string dump = zuv::receiveBuffer ? zuv::TBytesToHEX(*zuv::receiveBuffer) : "";
  const QStringList entry = {
      kRule,
      QStringLiteral("ErrorMsg : ") + QString::fromUtf8(message),
      QStringLiteral("ErrorCode: ") + QString::number(code),
      QStringLiteral("RxDataIndex: ") + QString::number(zuv::RxDataIndex),
      QStringLiteral("RxExpectDataLen: ") + QString::number(zuv::RxExpectDataLen),
      QString::fromStdString(dump),
      kRule,
  };
  Memo1->appendPlainText(entry.join(QLatin1Char('\n')));
}

void TfrmDebug::Button3Click() {
  ClearView();
  close();
}

void TfrmDebug::DebugModeLabelClick() {
  zuv::DebugMode = true;
  Refresh();
}

void TfrmDebug::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) RunAction([this] { FormShow(); });
}

void TfrmDebug::closeEvent(QCloseEvent* event) {
  // Not QDialog's: that would reject, which stands for "Close" here. A
  // window manager's close (Alt+F4) clears too, so a reopened window
  // starts empty whichever way it was closed.
  RunAction([this] {
    ClearView();
    FormClose();
  });
  event->accept();
}

void TfrmDebug::reject() { RunAction([this] { Button3Click(); }); }

void TfrmDebug::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange) RunAction([this] { Refresh(); });
}

bool TfrmDebug::eventFilter(QObject* watched, QEvent* event) {
  if (watched == DebugModeLabel && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    RunAction([this] { DebugModeLabelClick(); });
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace diag
