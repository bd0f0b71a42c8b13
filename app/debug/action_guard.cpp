#include "app/debug/action_guard.h"

#include <exception>

#include <QApplication>
#include <QMessageBox>

namespace diag {

namespace {

ErrorHandler& Handler() {
  static ErrorHandler handler;
  return handler;
}

void DefaultHandler(const QString& message) {
  QMessageBox::critical(QApplication::activeWindow(), QString::fromUtf8(kApplicationTitle),
                        message);
}

}  // namespace

void SetApplicationErrorHandler(ErrorHandler handler) { Handler() = std::move(handler); }

void HandleApplicationError(const QString& message) {
  if (Handler())
    Handler()(message);
  else
    DefaultHandler(message);
}

void RunAction(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    HandleApplicationError(QString::fromUtf8(e.what()));
  } catch (...) {
    HandleApplicationError(QStringLiteral("Unknown error"));
  }
}

}  // namespace diag
