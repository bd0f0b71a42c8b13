#include "event_dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "app/debug/action_guard.h"

namespace app {

void TQtOwnerDispatcher::Wake(std::function<void()> pump) {
  QCoreApplication* application = QCoreApplication::instance();
  if (!application) return;  // the port's Close pumps what is left
  QMetaObject::invokeMethod(
      application, [pump = std::move(pump)] { diag::RunAction(pump); }, Qt::QueuedConnection);
}

void TQtOwnerDispatcher::HandleException(std::exception_ptr error) {
  QString message = QStringLiteral("Unknown error");
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    message = QString::fromUtf8(e.what());
  } catch (...) {
  }
  QCoreApplication* application = QCoreApplication::instance();
  if (!application) return;
  // May run on the event thread: the message box belongs to the UI thread.
  QMetaObject::invokeMethod(
      application, [message] { diag::HandleApplicationError(message); }, Qt::QueuedConnection);
}

TPortEventService::TPortEventService() {
  serial::SetDefaultOwnerDispatcher(std::make_shared<TQtOwnerDispatcher>());
}

TPortEventService::~TPortEventService() { serial::SetDefaultOwnerDispatcher(nullptr); }

}  // namespace app
