// Ports taken out of use by comportException. The fault is reported from
// inside a port operation that is still running, so the object cannot be
// destroyed there; it is kept here and released once that operation has
// returned (at the next OpenPort, at ResetDriverState and at exit), which
// frees its device for a reopen.
#pragma once

#include <memory>
#include <vector>

#include "serial/comport.h"

namespace zuv {

extern std::vector<std::unique_ptr<serial::TComPort>> droppedPorts;

void ReleaseDroppedPorts();

}  // namespace zuv
