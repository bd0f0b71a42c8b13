#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "server/stop_request.h"

namespace zuvsrv {
namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

void PrepareStopRequests() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

void RequestStop() { ::kill(::getpid(), SIGTERM); }

// The destructor wakes the waiting thread with SIGTERM aimed at it alone.
StopWatcher::StopWatcher(std::function<void()> onStop) {
  thread_ = std::thread([onStop = std::move(onStop)] {
    const sigset_t set = StopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    onStop();
  });
}

StopWatcher::~StopWatcher() {
  pthread_kill(thread_.native_handle(), SIGTERM);
  thread_.join();
}

}  // namespace zuvsrv
