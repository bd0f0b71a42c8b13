// zuv-server's program: options, token, journal, HTTP, and the orderly stop
// on SIGTERM or SIGINT.
#pragma once

#include <ostream>

namespace zuvsrv {

// The exit status. The caller has blocked SIGTERM and SIGINT in every
// thread (BlockStopSignals) before any thread started.
int RunServer(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// Blocks SIGTERM and SIGINT in the calling thread and the threads it
// starts, so that one thread can wait for them; ignores SIGPIPE.
void BlockStopSignals();

}  // namespace zuvsrv
