#include "startup.h"

#include <exception>

#include "app/debug/action_guard.h"
#include "app/dialogs.h"
#include "app/event_dispatch.h"
#include "driver/comportzuv.h"

namespace app {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // No display name: the platform would append it to every window title.
  setApplicationName(QStringLiteral("ZUV_Driver_Project"));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    diag::HandleApplicationError(QString::fromUtf8(e.what()));
  } catch (...) {
    diag::HandleApplicationError(QStringLiteral("Unknown error"));
  }
  return false;
}

TApplicationWindows::~TApplicationWindows() {
  // The data module goes first: the driver must not print from a dead table.
  ComP_ZUV.reset();
  app::Form1 = nullptr;
  Form1.reset();
  frmDebug.reset();
  app::frmExample = nullptr;
  frmExample.reset();
}

std::unique_ptr<TApplicationWindows> CreateApplicationWindows() {
  diag::SetApplicationErrorHandler([](const QString& message) {
    Dialogs().ApplicationError(message);
  });
  auto windows = std::make_unique<TApplicationWindows>();
  windows->frmExample = std::make_unique<TfrmExample>();
  windows->frmDebug = std::make_unique<diag::TfrmDebug>();
  windows->Form1 = std::make_unique<TForm1>();
  Form1 = windows->Form1.get();
  windows->ComP_ZUV = std::make_unique<TComP_ZUV>();
  return windows;
}

int RunApplication(QApplication& application, TApplicationWindows& windows) {
  TPortEventService portEvents;
  windows.frmExample->show();
  const int code = application.exec();
  // Close the port (and end its event thread) while the event loop's
  // dispatcher, the windows and Qt still exist, not in the static
  // destructors after them.
  zuv::ResetDriverState();
  return code;
}

}  // namespace app
