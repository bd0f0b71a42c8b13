#include "dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QInputDialog>
#include <QMessageBox>

#include "app/debug/action_guard.h"

namespace app {

namespace {

TDialogs* g_dialogs = nullptr;

QMessageBox::StandardButton Box(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                const QString& text, QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, title, WithNewlines(text), buttons, parent);
  box.setEscapeButton(buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel
                                                            : QMessageBox::Ok);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

QString WithNewlines(QString text) {
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return text;
}

bool TQtDialogs::Confirm(QWidget* parent, const QString& text) {
  return Box(parent, QMessageBox::Question, QStringLiteral("Confirm"), text,
             QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void TQtDialogs::ErrorBox(QWidget* parent, const QString& text) {
  Box(parent, QMessageBox::Critical, QStringLiteral("Error"), text,
      QMessageBox::Ok | QMessageBox::Cancel);
}

QString TQtDialogs::InputBox(QWidget* parent, const QString& title, const QString& prompt,
                             const QString& defaultText) {
  bool ok = false;
  const QString text = QInputDialog::getText(parent, title, WithNewlines(prompt),
                                             QLineEdit::Normal, defaultText, &ok);
  return ok ? text : defaultText;
}

void TQtDialogs::Message(QWidget* parent, const QString& text) {
  Box(parent, QMessageBox::NoIcon, QString::fromUtf8(diag::kApplicationTitle), text,
      QMessageBox::Ok);
}

void TQtDialogs::ShowModal(QDialog& dialog) { dialog.exec(); }

void TQtDialogs::ApplicationError(const QString& text) {
  Box(QApplication::activeWindow(), QMessageBox::Critical,
      QString::fromUtf8(diag::kApplicationTitle), text, QMessageBox::Ok);
}

TDialogs& Dialogs() {
  static TQtDialogs qtDialogs;
  return g_dialogs ? *g_dialogs : qtDialogs;
}

void SetDialogs(TDialogs* dialogs) { g_dialogs = dialogs; }

}  // namespace app
