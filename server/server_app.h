// zuv-server's program: options, token, journal, HTTP, and the orderly stop
// (server/stop_request.h).
#pragma once

#include <functional>
#include <ostream>

namespace zuvsrv {

// The exit status. The caller has called PrepareStopRequests before any
// thread started (except a Windows service, which takes its stop from the
// service manager). `serving` is called once the service listens and its
// printers' workers run.
int RunServer(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
              const std::function<void()>& serving = {});

}  // namespace zuvsrv
