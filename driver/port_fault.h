// A fault a port reports through its handler, noted while the failing call
// is still running and acted on by the caller once that call has returned.
// The component reports each failed step, so one failing call may report
// several times (a write on a closed port: not open, then write failed);
// the first report is the fault, the later ones add nothing.
#pragma once

#include <cstdint>
#include <string>

#include "serial/comport.h"

namespace zuv {

struct PortFault {
  bool raised = false;
  serial::TComExceptions kind = {};
  std::string message;   // the component's text
  int64_t winError = 0;  // the system error code, when above 0

  // Keeps the first report; true when this one was it.
  bool Note(serial::TComExceptions kind, const std::string& message, int64_t winError);
  // The fault as one line of text, with the system's reason when there is one.
  std::string Text() const;
};

// A port handler that notes every report in `fault`, which must outlive the
// port or the handler.
serial::TComExceptionEvent NoteFaultsIn(PortFault& fault);

}  // namespace zuv
