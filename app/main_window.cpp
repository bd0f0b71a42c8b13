#include "main_window.h"

#include <stdexcept>

#include <QComboBox>
#include <QDateEdit>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/debug/action_guard.h"
#include "app/debug/debug_open.h"
#include "app/dialogs.h"
#include "driver/comportzuv.h"

namespace app {

TfrmExample* frmExample = nullptr;

namespace {

const QDate kReportDate(2016, 2, 16);
const QString kDefaultBaud = QStringLiteral("115200");

// The whole text as a decimal integer, or an error naming it.
int StrToInt(const QString& text) {
  bool ok = false;
  const int value = text.trimmed().toInt(&ok);
  if (!ok) throw std::invalid_argument("'" + text.toStdString() + "' is not a valid integer value");
  return value;
}

QGroupBox* Group(const QString& title, const QList<QWidget*>& widgets, int columns = 1) {
  auto* box = new QGroupBox(title);
  auto* grid = new QGridLayout(box);
  for (int i = 0; i < widgets.size(); ++i) grid->addWidget(widgets[i], i / columns, i % columns);
  grid->setRowStretch(int(widgets.size() + columns - 1) / columns, 1);  // buttons at the top
  return box;
}

QDateEdit* DatePicker(const char* name) {
  auto* picker = new QDateEdit(kReportDate);
  picker->setObjectName(QLatin1String(name));
  picker->setCalendarPopup(true);
  picker->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  return picker;
}

}  // namespace

TfrmExample::TfrmExample(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("frmExample"));
  setWindowTitle(QStringLiteral("ZUV Driver Command Example 1"));
  CreateControls();
  setCentralWidget(LayOutControls());
  resize(1000, 600);
  frmExample = this;
}

QPushButton* TfrmExample::MakeButton(const char* name, const QString& caption,
                                     void (TfrmExample::*handler)()) {
  auto* button = new QPushButton(caption);
  button->setObjectName(QLatin1String(name));
  connect(button, &QPushButton::clicked, this,
          [this, handler] { diag::RunAction([this, handler] { (this->*handler)(); }); });
  return button;
}

void TfrmExample::CreateControls() {
  Memo1 = new QPlainTextEdit;
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  ComboBox1 = new QComboBox;
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->setMinimumContentsLength(12);
  ComboBox2 = new QComboBox;
  ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
  DateTimePicker1 = DatePicker("DateTimePicker1");
  DateTimePicker2 = DatePicker("DateTimePicker2");

  Button1 = MakeButton("Button1", QStringLiteral("< Test veze >"), &TfrmExample::Button1Click);
  Button24 = MakeButton("Button24", QStringLiteral("Refresh"), &TfrmExample::Button24Click);
  Button5 = MakeButton("Button5", QStringLiteral("Obrisi >"), &TfrmExample::Button5Click);
  Button6 = MakeButton("Button6", QStringLiteral("[  OTVORI LOG  ]"), &TfrmExample::Button6Click);
  Button2 = MakeButton("Button2", QStringLiteral("citaj vreme"), &TfrmExample::Button2Click);
  Button3 = MakeButton("Button3", QStringLiteral("citaj IBFM"), &TfrmExample::Button3Click);
  Button4 = MakeButton("Button4", QStringLiteral("citaj BI"), &TfrmExample::Button4Click);
  Button20 = MakeButton("Button20", QStringLiteral("citaj BD"), &TfrmExample::Button20Click);
  Button7 = MakeButton("Button7", QStringLiteral("Presek stanja"), &TfrmExample::Button7Click);
  Button8 = MakeButton("Button8", QStringLiteral("Periodicni"), &TfrmExample::Button8Click);
  Button9 = MakeButton("Button9", QStringLiteral("Dnevni izvestaj"), &TfrmExample::Button9Click);
  Button11 = MakeButton("Button11", QStringLiteral("promena cene"), &TfrmExample::Button11Click);
  Button12 = MakeButton("Button12", QStringLiteral("brisanje baze"), &TfrmExample::Button12Click);
  Button15 = MakeButton("Button15", QStringLiteral("Storno"), &TfrmExample::Button15Click);
  Button16 = MakeButton("Button16", QStringLiteral("Automatski zatvori racun"),
                        &TfrmExample::Button16Click);
  Button17 = MakeButton("Button17", QStringLiteral("broj stavki na racunu"),
                        &TfrmExample::Button17Click);
  Button21 = MakeButton("Button21", QStringLiteral("Beep"), &TfrmExample::Button21Click);
  Button22 = MakeButton("Button22", QStringLiteral("^ Traka ^"), &TfrmExample::Button22Click);
  Button23 = MakeButton("Button23", QStringLiteral("Seci traku"), &TfrmExample::Button23Click);
  Button10 = MakeButton("Button10", QStringLiteral("programiraj artikle"),
                        &TfrmExample::Button10Click);
  Button13 = MakeButton("Button13", QStringLiteral("nefiskalni isecak"),
                        &TfrmExample::Button13Click);
  Button27 = MakeButton("Button27", QStringLiteral("nefiskalni EPSON ne radi"),
                        &TfrmExample::Button27Click);
  Button19 = MakeButton("Button19", QStringLiteral("stanje racuna"), &TfrmExample::Button19Click);
  Button14 = MakeButton("Button14", QStringLiteral("PRODAJA"), &TfrmExample::Button14Click);
  Button26 = MakeButton("Button26", QStringLiteral("Tabela karaktera"),
                        &TfrmExample::Button26Click);
  Button18 = MakeButton("Button18", QStringLiteral("Test1"), &TfrmExample::Button18Click);
  // Laid out but never visible: the operator cannot start it.
  Button27->setVisible(false);
}

QWidget* TfrmExample::LayOutControls() {
  auto* groups = new QGridLayout;
  groups->addWidget(Group(QStringLiteral("Port"), {ComboBox1, ComboBox2, Button1, Button24}, 2),
                    0, 0, 1, 2);
  groups->addWidget(Group(QStringLiteral("Citanje"),
                          {Button2, Button3, Button4, Button20, Button17, Button19}, 2),
                    1, 0, 1, 2);
  groups->addWidget(Group(QStringLiteral("Izvestaji"),
                          {Button7, Button9, DateTimePicker1, DateTimePicker2, Button8}),
                    2, 0);
  groups->addWidget(Group(QStringLiteral("Racun"), {Button14, Button15, Button16}), 2, 1);
  groups->addWidget(Group(QStringLiteral("Artikli"), {Button10, Button11, Button12}), 3, 0);
  groups->addWidget(Group(QStringLiteral("Stampac"),
                          {Button13, Button26, Button22, Button23, Button21, Button18, Button27},
                          2),
                    3, 1);
  groups->setRowStretch(4, 1);

  auto* paneButtons = new QHBoxLayout;
  paneButtons->addWidget(Button5);
  paneButtons->addStretch(1);
  paneButtons->addWidget(Button6);
  auto* pane = new QVBoxLayout;
  pane->addLayout(paneButtons);
  pane->addWidget(Memo1, 1);

  auto* central = new QWidget;
  auto* layout = new QHBoxLayout(central);
  layout->addLayout(groups);
  layout->addLayout(pane, 1);
  return central;
}

void TfrmExample::AddLine(const QString& text) { Memo1->appendPlainText(WithNewlines(text)); }

void TfrmExample::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The main window is shown once per run; restoring it is no new start.
  if (shown_) return;
  shown_ = true;
  diag::RunAction([this] { FormShow(); });
}

void TfrmExample::FormShow() {
  zuv::TComPortZUV::Init("SRB");
  FillPortList();
  for (int rate : zuv::TComPortZUV::GetBaudRates()) ComboBox2->addItem(QString::number(rate));
  if (ComboBox2->count() > 0) ComboBox2->setCurrentIndex(ComboBox2->findText(kDefaultBaud));
}

void TfrmExample::FillPortList() {
  ComboBox1->clear();
  for (const std::string& port : zuv::TComPortZUV::GetPorts())
    ComboBox1->addItem(QString::fromStdString(port));
  if (ComboBox1->count() > 0) ComboBox1->setCurrentIndex(0);
}

void TfrmExample::Button1Click() {
  try {
    const int baud = StrToInt(ComboBox2->currentText());
    const std::string port = ComboBox1->currentText().toStdString();
    if (!zuv::TComPortZUV::OpenPort(port, baud, true, false)) {
      AddLine(QStringLiteral(">> Neuspesno otvaranje serijskog porta!"));
      return;
    }
    const std::vector<std::string> settings = zuv::TComPortZUV::GetSettings();
    if (settings.size() >= 2)
      AddLine(QString::fromStdString(">> Otvoren port " + settings[0] + "  " + settings[1]));
    if (zuv::TFiscal::TestVeze())
      AddLine(QStringLiteral("# Test veze uspesan"));
    else
      AddLine(QStringLiteral("* Test veze nije uspesan. ErrorCode: ") +
              QString::number(zuv::ErrorCode));
  } catch (const std::exception& e) {
    Dialogs().ErrorBox(this, QStringLiteral("Greška prilikom test veze. \r\n") +
                                 QString::fromUtf8(e.what()));
  }
}

void TfrmExample::Button24Click() { FillPortList(); }

void TfrmExample::Button5Click() { Memo1->clear(); }

void TfrmExample::Button6Click() { diag::DebugOpen(); }

}  // namespace app
