// Waiting on several ports at once: a caller that sent to all of them takes
// the answers as they come, so that silent ports cost one wait together.
#pragma once

#include <vector>

namespace serial {

class TCustomComPort;

// Waits at most `timeoutMs` until at least one of the open `ports` has
// input waiting or its line went away. `woken[k]` tells which (a closed
// port is never woken); the caller reads them to learn which it was. False
// when the wait itself failed.
bool WaitForAnyInput(const std::vector<TCustomComPort*>& ports, int timeoutMs,
                     std::vector<bool>& woken);

}  // namespace serial
