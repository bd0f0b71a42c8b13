// The debug window: the open port, the debug flag, and the traffic log that
// the link layer writes while debug mode is on. It is the traffic log's
// view, so it exists (hidden or shown) for the whole run.
#pragma once

#include <QDialog>

#include "diagnostics/log_sink.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace diag {

class TfrmDebug : public QDialog, public LogSink {
  Q_OBJECT

 public:
  explicit TfrmDebug(QWidget* parent = nullptr);
  ~TfrmDebug() override;

  // LogSink: called by the traffic log on the UI thread, also in the middle
  // of an exchange, when the event loop is not running. The two figures are
  // repainted at once for that reason; the pane shows its lines when the
  // exchange has ended.
  void AppendLine(const std::string& text) override;
  void SetTimeText(const std::string& text) override;
  void SetIterationText(const std::string& text) override;

  // Port label and debug-mode label from the driver state.
  void Refresh();

  QLabel* Label1;
  QLabel* ComPortLabel;
  QLabel* TimeLabel;
  QLabel* IterationLabel;
  QLabel* DebugModeLabel;
  QPlainTextEdit* Memo1;
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void reject() override;  // Escape: as "Close"
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormShow();
  void FormClose();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void DebugModeLabelClick();
  void SetPortLabel();
  void ClearView();
};

// The application's one debug window (set while it exists).
extern TfrmDebug* frmDebug;

}  // namespace diag
