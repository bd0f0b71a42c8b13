#include "app_fixture.h"

#include <stdlib.h>

#include <filesystem>

#include <QComboBox>
#include <QDialog>
#include <QPlainTextEdit>

#include "driver/comportzuv.h"

namespace apptest {

QApplication& Application() {
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  // Kept to process exit: Qt does not support a second application object.
  static auto* application = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return new app::TApplication(argc, argv);
  }();
  return *application;
}

void ProcessEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool ScriptedDialogs::Confirm(QWidget*, const QString& text) {
  confirmTexts << text;
  if (confirmAnswers.empty()) {
    ADD_FAILURE() << "unexpected confirmation: " << text.toStdString();
    return false;
  }
  const bool answer = confirmAnswers.front();
  confirmAnswers.pop_front();
  return answer;
}

void ScriptedDialogs::ErrorBox(QWidget*, const QString& text) { errorBoxes << text; }

QString ScriptedDialogs::InputBox(QWidget*, const QString& title, const QString& prompt,
                                  const QString& defaultText) {
  inputs.push_back({title, prompt, defaultText});
  if (inputAnswers.empty()) {
    ADD_FAILURE() << "unexpected input box: " << title.toStdString();
    return defaultText;
  }
  const std::optional<QString> answer = inputAnswers.front();
  inputAnswers.pop_front();
  return answer ? *answer : defaultText;
}

void ScriptedDialogs::Message(QWidget*, const QString& text) { messages << text; }

void ScriptedDialogs::ShowModal(QDialog& dialog) {
  ++modalShown;
  if (whileModal) whileModal(dialog);
}

void ScriptedDialogs::ApplicationError(const QString& text) { applicationErrors << text; }

void AppTest::SetUp() {
  Application();
  char tmpl[] = "/tmp/zuv-app-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  dir_ = tmpl;
  ::setenv("ZUV_PORT_DIR", (dir_ + "/ports").c_str(), 1);
  emu::PtyOptions options;
  options.link = true;
  options.link_name = kPortName;
  ASSERT_TRUE(server.Start(options)) << server.Error();
  zuv::ResetDriverState();
  portEvents_.emplace();
  app::SetDialogs(&dialogs);
  windows_ = app::CreateApplicationWindows();
  Main().show();
  ProcessEvents();
}

void AppTest::TearDown() {
  windows_.reset();
  app::SetDialogs(nullptr);
  zuv::ResetDriverState();
  portEvents_.reset();
  server.Stop();
  ::unsetenv("ZUV_PORT_DIR");
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

QPushButton* AppTest::Button(const char* name) {
  auto* button = Main().findChild<QPushButton*>(QLatin1String(name));
  if (!button) ADD_FAILURE() << "no button " << name;
  return button;
}

void AppTest::Click(const char* name) {
  if (QPushButton* button = Button(name)) button->click();
}

QStringList AppTest::Log() {
  const QString text = Main().Memo1->toPlainText();
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

QStringList AppTest::DebugPane() {
  const QString text = Debug().Memo1->toPlainText();
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

void AppTest::ClearLog() { Main().Memo1->clear(); }

bool AppTest::Connect() {
  const int index = Main().ComboBox1->findText(QLatin1String(kPortName));
  if (index < 0) return false;
  Main().ComboBox1->setCurrentIndex(index);
  const int before = int(Log().size());
  Click("Button1");
  const QStringList lines = Log().mid(before);
  return lines == QStringList{QStringLiteral(">> Otvoren port ttyPrinter  115200"),
                              QStringLiteral("# Test veze uspesan")};
}

void AppTest::SilenceEmulator() {
  Emu([](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
  zuv::linkState.replyBudgetMs = kShortBudgetMs;  // until TearDown resets the driver
}

size_t AppTest::RequestCount() {
  return Emu([](emu::PrinterEmulator& e) { return e.RequestCount(); });
}

std::vector<emu::ReceivedRequest> AppTest::Requests() {
  return Emu([](emu::PrinterEmulator& e) { return e.Requests(); });
}

std::string AppTest::Paper() {
  return Emu([](emu::PrinterEmulator& e) { return e.TakePaper(); });
}

}  // namespace apptest
