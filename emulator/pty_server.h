// Serves a PrinterEmulator on a pseudo-terminal: the host opens the slave
// side by its path (or by the name of a link in the virtual-port
// directory) as it would open a serial port.
#pragma once

#include <string>

#include "line_server.h"
#include "port_link.h"

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

class PtyServer : public LineServer {
 public:
  PtyServer() = default;
  ~PtyServer() override { Stop(); }

  // Opens a new pseudo-terminal (raw mode) and serves it on a background
  // thread. False with Error() set when something fails. The emulator and
  // its state outlive Stop and Start.
  bool Start(const PtyOptions& options = {});
  // Ends the thread at once and closes the master side: the host sees a
  // hang-up. Removes the link. Harmless when not running.
  void Stop();

  const std::string& SlavePath() const { return slave_path_; }
  // Full path of the link, empty without one.
  const std::string& LinkPath() const { return link_.Path(); }
  // What the host opens: the link's name, else the slave path.
  std::string PortName() const;

  // How often a hung-up master (no host has the slave open) is looked at.
  static constexpr Millis kHangUpCheck{5};

 private:
  bool OpenMaster();
  bool HostSpeedMatches();
  void CloseMaster();

  std::chrono::nanoseconds LongestSleep() const override;
  int LineFds(pollfd* fds, bool want_write) override;
  short LineEvents(const pollfd* fds) override;
  ssize_t ReadHost(uint8_t* buffer, size_t size) override;
  ssize_t WriteHost(const uint8_t* bytes, size_t size) override;
  void AfterWait(bool gone) override;

  bool match_speed_ = false;
  int master_ = -1;
  bool hung_up_ = false;  // serving thread only
  std::string slave_path_;
  PortLink link_;
};

}  // namespace emu
