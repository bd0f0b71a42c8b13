// Helpers shared by the serial tests.
#pragma once

#include <chrono>
#include <ostream>
#include <thread>
#include <string>
#include <vector>

#include "serial/comport.h"

// How long a call that should end at once may take on a loaded machine
// before a test calls it stuck. How fast it ends is for the benchmarks.
constexpr int kSanityMs = 10000;

// Waits until `done()` holds or `limitMs` have passed; whether it holds. For
// a condition another thread sets without anything to wait on: it is
// checked every few milliseconds.
template <typename Done>
bool WaitUntil(Done done, int limitMs = kSanityMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// What a component call raised, compared in one expectation.
struct Raised {
  int code = 0;  // 0: nothing was raised
  int winCode = 0;
  std::string message;
  bool operator==(const Raised&) const = default;
};

inline void PrintTo(const Raised& r, std::ostream* os) {
  *os << "{code " << r.code << ", winCode " << r.winCode << ", \"" << r.message << "\"}";
}

template <typename F>
Raised RaisedBy(F call) {
  try {
    call();
  } catch (const serial::EComPort& e) {
    return {e.Code(), e.WinCode(), e.what()};
  }
  return {};
}

// Logs the open/close notifications and line-state calls of `port` in order;
// the after-open/after-close entries carry Connected at that moment.
inline void LogNotifications(serial::TCustomComPort& port, std::vector<std::string>& log) {
  using serial::TCustomComPort;
  port.OnBeforeOpen = [&log](TCustomComPort*) { log.push_back("before-open"); };
  port.OnAfterOpen = [&log](TCustomComPort* p) {
    log.push_back("after-open " + std::to_string(p->Connected()));
  };
  port.OnBeforeClose = [&log](TCustomComPort*) { log.push_back("before-close"); };
  port.OnAfterClose = [&log](TCustomComPort* p) {
    log.push_back("after-close " + std::to_string(p->Connected()));
  };
  port.OnCTSChange = [&log](TCustomComPort*, bool on) { log.push_back("cts " + std::to_string(on)); };
  port.OnDSRChange = [&log](TCustomComPort*, bool on) { log.push_back("dsr " + std::to_string(on)); };
  port.OnRLSDChange = [&log](TCustomComPort*, bool on) {
    log.push_back("rlsd " + std::to_string(on));
  };
}
