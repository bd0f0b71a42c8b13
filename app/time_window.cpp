#include "time_window.h"

#include <exception>

#include <QPushButton>
#include <QVBoxLayout>

#include "app/debug/action_guard.h"
#include "app/dialogs.h"
#include "driver/comportzuv.h"

namespace app {

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Form1"));
  setAttribute(Qt::WA_QuitOnClose, false);
  Button1 = new QPushButton(QStringLiteral("Citaj Vreme"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setAutoDefault(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Button1);
  resize(260, 120);
  connect(Button1, &QPushButton::clicked, this,
          [this] { diag::RunAction([this] { Button1Click(); }); });
}

void TForm1::Button1Click() {
  try {
    const std::string time = zuv::TFiscal::CitajVreme();
    Dialogs().Message(this, time.empty() ? QStringLiteral("* Citanje vremena nije uspelo")
                                         : QString::fromStdString(time));
  } catch (const std::exception& e) {
    Dialogs().Message(this, QStringLiteral("Exception message = ") + QString::fromUtf8(e.what()));
  }
}

}  // namespace app
