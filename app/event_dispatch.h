// The serial port's event thread hands its work to the UI thread through
// the Qt event loop.
#pragma once

#include "serial/owner_dispatch.h"

namespace app {

// Posts each hand-over to the application's event loop; an error that
// escapes one goes to the application's error handler.
class TQtOwnerDispatcher : public serial::TOwnerDispatcher {
 public:
  void Wake(std::function<void()> pump) override;
  void HandleException(std::exception_ptr error) override;
};

// Installs a TQtOwnerDispatcher as the process default for as long as it
// lives. Needs a QCoreApplication that outlives it.
class TPortEventService {
 public:
  TPortEventService();
  ~TPortEventService();
  TPortEventService(const TPortEventService&) = delete;
  TPortEventService& operator=(const TPortEventService&) = delete;
};

}  // namespace app
