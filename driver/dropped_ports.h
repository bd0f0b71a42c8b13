// Ports taken out of use by comportException (linkState.droppedPorts). The
// fault is reported from inside a port operation that is still running, so
// the object cannot be destroyed there; it is kept and released once that
// operation has returned (at the next OpenPort, at ResetDriverState and at
// thread exit), which frees its device for a reopen.
#pragma once

namespace zuv {

void ReleaseDroppedPorts();

}  // namespace zuv
