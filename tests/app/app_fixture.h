// The application's windows, as start-up makes them, against the printer
// emulator on a pseudo-terminal; the dialogs answered by the test.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QPushButton>
#include <QString>
#include <QStringList>

#include "app/dialogs.h"
#include "app/event_dispatch.h"
#include "app/startup.h"
#include "emulator/pty_server.h"

namespace apptest {

// The one application object of the test process.
QApplication& Application();

// Runs posted events and timers that are due.
void ProcessEvents();

// Dialog answers queued by the test, and a record of every dialog shown.
class ScriptedDialogs : public app::TDialogs {
 public:
  struct Input {
    QString title, prompt, defaultText;
  };

  bool Confirm(QWidget* parent, const QString& text) override;
  void ErrorBox(QWidget* parent, const QString& text) override;
  QString InputBox(QWidget* parent, const QString& title, const QString& prompt,
                   const QString& defaultText) override;
  void Message(QWidget* parent, const QString& text) override;
  void ShowModal(QDialog& dialog) override;
  void ApplicationError(const QString& text) override;

  std::deque<bool> confirmAnswers;
  std::deque<std::optional<QString>> inputAnswers;  // nullopt: the operator cancels
  std::function<void(QDialog&)> whileModal;

  QStringList confirmTexts, errorBoxes, messages, applicationErrors;
  std::vector<Input> inputs;
  int modalShown = 0;
};

class AppTest : public ::testing::Test {
 protected:
  static constexpr const char* kPortName = "ttyPrinter";
  // Reply budget for the tests of failure lines, so that a silent printer
  // costs little; one test keeps the real budget.
  static constexpr int64_t kShortBudgetMs = 250;

  void SetUp() override;
  void TearDown() override;

  app::TfrmExample& Main() { return *windows_->frmExample; }
  diag::TfrmDebug& Debug() { return *windows_->frmDebug; }
  app::TComP_ZUV& DataModule() { return *windows_->ComP_ZUV; }
  app::TApplicationWindows& Windows() { return *windows_; }

  QPushButton* Button(const char* name);
  void Click(const char* name);
  // The log pane, one item per line.
  QStringList Log();
  QStringList DebugPane();
  void ClearLog();

  // Selects the emulator's port and runs "< Test veze >"; true when both
  // of its lines say so.
  bool Connect();
  // Every further request goes unanswered; failures cost kShortBudgetMs.
  void SilenceEmulator();

  template <class F>
  decltype(auto) Emu(F&& f) {
    return server.With(std::forward<F>(f));
  }
  size_t RequestCount();
  std::vector<emu::ReceivedRequest> Requests();
  std::string Paper();

  emu::PtyServer server;
  ScriptedDialogs dialogs;

 private:
  std::string dir_;
  std::optional<app::TPortEventService> portEvents_;
  std::unique_ptr<app::TApplicationWindows> windows_;
};

}  // namespace apptest
