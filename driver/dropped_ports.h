// Ports taken out of use by a fault. comportException only notes the fault
// (linkState.portFault), because the failing operation is still running on
// the port; the caller drops the port once that operation has returned. The
// dropped object is kept in linkState.droppedPorts and released later (at
// the next OpenPort, at ResetDriverState and at thread exit), which frees
// its device for a reopen.
#pragma once

namespace zuv {

// Drops comport when it reported a fault during the call that has just
// returned; true when it did (the call failed).
bool DropFaultedPort();

void ReleaseDroppedPorts();

}  // namespace zuv
