// How an orderly stop reaches the service: SIGTERM or SIGINT on Linux; on
// Windows Ctrl+C, Ctrl+Break, closing the console, log-off or shut-down, or
// the service manager's stop (RequestStop). All lead to the same path.
#pragma once

#include <functional>
#include <thread>

namespace zuvsrv {

// Called first in main, before any thread starts: on Linux blocks SIGTERM
// and SIGINT in every thread (one thread waits for them) and ignores
// SIGPIPE; on Windows installs the console's control handler.
void PrepareStopRequests();

// Asks for the stop from within the program (the service manager's stop).
void RequestStop();

// Runs `onStop` once, on a thread of its own: when a stop is asked for, or
// at the latest when the watcher is destroyed (so it must be harmless once
// the service ended by itself).
class StopWatcher {
 public:
  explicit StopWatcher(std::function<void()> onStop);
  ~StopWatcher();
  StopWatcher(const StopWatcher&) = delete;
  StopWatcher& operator=(const StopWatcher&) = delete;

 private:
  std::thread thread_;
};

}  // namespace zuvsrv
