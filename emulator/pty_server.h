// Serves a PrinterEmulator on a pseudo-terminal: the host opens the slave
// side by its path (or by the name of a link in the virtual-port
// directory) as it would open a serial port.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "printer_emulator.h"

namespace emu {

struct PtyOptions {
  // Make a link to the slave in serial::PortDirectory(), so that port
  // enumeration lists it and the host can open it by name.
  bool link = false;
  // The link's name; empty takes the first free ttyZUV<n>.
  std::string link_name;
  // With a line speed set (PrinterEmulator::SetBaud), bytes from a host whose
  // line is set to another speed are noise to the printer: it answers none.
  bool match_speed = false;
};

class PtyServer {
 public:
  PtyServer() = default;
  ~PtyServer() { Stop(); }
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Opens a new pseudo-terminal (raw mode) and serves it on a background
  // thread. False with Error() set when something fails. The emulator and
  // its state outlive Stop and Start.
  bool Start(const PtyOptions& options = {});
  // Ends the thread at once and closes the master side: the host sees a
  // hang-up. Removes the link. Harmless when not running.
  void Stop();
  bool Running() const { return thread_.joinable(); }
  const std::string& Error() const { return error_; }

  const std::string& SlavePath() const { return slave_path_; }
  // Full path of the link, empty without one.
  const std::string& LinkPath() const { return link_path_; }
  // What the host opens: the link's name, else the slave path.
  std::string PortName() const;

  // Runs f(emulator) with the emulator locked against the serving thread.
  // f must not call back into the server. The emulator's paper sink also
  // runs under this lock.
  template <class F>
  decltype(auto) With(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(emulator_);
  }

  // Blocks until the emulator has received `count` request frames in all
  // (PrinterEmulator::RequestCount), or the timeout passes.
  bool WaitForRequests(size_t count, Millis timeout);

  // How long a request may stay unfinished before the printer drops it.
  static constexpr Millis kAbandonAfter{500};
  // How often a hung-up master (no host has the slave open) is looked at.
  static constexpr Millis kHangUpCheck{5};

 private:
  void Serve();
  int CurrentBaud();
  bool HostSpeedMatches();
  bool MakeLink(const std::string& name);
  void RemoveLink();
  void CloseAll();

  PrinterEmulator emulator_;
  std::mutex mutex_;
  std::condition_variable requests_cv_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  bool match_speed_ = false;
  int master_ = -1;
  int wake_read_ = -1;
  int wake_write_ = -1;
  std::string slave_path_;
  std::string link_path_;
  std::string error_;
};

}  // namespace emu
