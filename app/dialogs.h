// The application's dialogs behind one seam, so that tests can answer them.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace app {

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // OK and Cancel; true for OK. Closing the box counts as Cancel.
  virtual bool Confirm(QWidget* parent, const QString& text) = 0;
  // Error symbol, OK and Cancel; the answer is not used.
  virtual void ErrorBox(QWidget* parent, const QString& text) = 0;
  // The edited text, or `defaultText` when the operator cancels.
  virtual QString InputBox(QWidget* parent, const QString& title, const QString& prompt,
                           const QString& defaultText) = 0;
  // A message with an OK button.
  virtual void Message(QWidget* parent, const QString& text) = 0;
  // Shows `dialog` modally until it closes.
  virtual void ShowModal(QDialog& dialog) = 0;
  // An error that escaped an action: its message, and the program goes on.
  virtual void ApplicationError(const QString& text) = 0;
};

// The message boxes and input dialog of Qt.
class TQtDialogs : public TDialogs {
 public:
  bool Confirm(QWidget* parent, const QString& text) override;
  void ErrorBox(QWidget* parent, const QString& text) override;
  QString InputBox(QWidget* parent, const QString& title, const QString& prompt,
                   const QString& defaultText) override;
  void Message(QWidget* parent, const QString& text) override;
  void ShowModal(QDialog& dialog) override;
  void ApplicationError(const QString& text) override;
};

TDialogs& Dialogs();
// Replaces the dialogs (not owned); nullptr restores TQtDialogs.
void SetDialogs(TDialogs* dialogs);

// Texts are written with Windows line breaks; Qt wants "\n".
QString WithNewlines(QString text);

}  // namespace app
