#include "port_fault.h"

#include <cstring>

namespace zuv {

bool PortFault::Note(serial::TComExceptions aKind, const std::string& aMessage, int64_t aWinError) {
  if (raised) return false;
  raised = true;
  kind = aKind;
  message = aMessage;
  winError = aWinError;
  return true;
}

std::string PortFault::Text() const {
  if (winError <= 0) return message;
  return message + ": " + std::strerror(static_cast<int>(winError));
}

serial::TComExceptionEvent NoteFaultsIn(PortFault& fault) {
  return [&fault](serial::TCustomComPort*, serial::TComExceptions kind, const std::string& message,
                  int64_t winError, const std::string&) { fault.Note(kind, message, winError); };
}

}  // namespace zuv
