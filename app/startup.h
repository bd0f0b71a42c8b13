// Start-up and shut-down of the example application.
#pragma once

#include <memory>

#include <QApplication>

#include "app/data_module.h"
#include "app/debug/debug_window.h"
#include "app/main_window.h"
#include "app/time_window.h"

namespace app {

// The application object: an error that escapes an event handler ends at
// the application's error handler instead of unwinding through Qt.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// The windows and the data module, alive from start-up to exit.
struct TApplicationWindows {
  std::unique_ptr<TfrmExample> frmExample;
  std::unique_ptr<diag::TfrmDebug> frmDebug;
  std::unique_ptr<TForm1> Form1;
  std::unique_ptr<TComP_ZUV> ComP_ZUV;
  ~TApplicationWindows();
};

// Routes escaping errors to the dialogs' application error box and
// creates, in this order, the main window, the hidden debug window, the
// hidden time window and the data module. Needs a QApplication.
std::unique_ptr<TApplicationWindows> CreateApplicationWindows();

// Shows the main window and runs the event loop until the main window is
// closed; then releases the printer port while Qt still runs. The exit code.
int RunApplication(QApplication& application, TApplicationWindows& windows);

}  // namespace app
