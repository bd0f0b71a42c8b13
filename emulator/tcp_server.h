// Serves a PrinterEmulator on a TCP port, as a serial device server in raw
// TCP mode would carry the printer's line: the host connects to
// tcp://HOST:PORT. One connection at a time; a new connection takes over
// from the previous one, which is closed (a host that lost its connection
// reconnects).
#pragma once

#include <atomic>
#include <string>

#include "line_server.h"

namespace emu {

struct TcpOptions {
  std::string host = "127.0.0.1";  // loopback unless asked otherwise
  int port = 0;                    // 0: a free port chosen by the system
};

// "[HOST:]PORT" (HOST may be a bracketed IPv6 literal); false for anything
// else.
bool ParseTcpListenAddress(const std::string& text, TcpOptions& options);

class TcpServer : public LineServer {
 public:
  TcpServer() = default;
  ~TcpServer() override { Stop(); }

  // Listens and serves on a background thread. False with Error() set when
  // something fails.
  bool Start(const TcpOptions& options = {});
  // Ends the thread and closes every socket. Harmless when not running.
  void Stop();

  int Port() const { return port_; }
  // What the host opens: tcp://HOST:PORT.
  std::string PortName() const;

  // Closes the current connection, as a device server that lost its line
  // would; the next connection is served as usual.
  void DropConnection();
  // Connections accepted so far.
  size_t Connections() const { return connections_; }

 private:
  bool Listen(const TcpOptions& options);
  void EndConnection();
  void CloseSockets();

  void BeginRound() override;
  int LineFds(pollfd* fds, bool want_write) override;
  short LineEvents(const pollfd* fds) override;
  ssize_t ReadHost(uint8_t* buffer, size_t size) override;
  ssize_t WriteHost(const uint8_t* bytes, size_t size) override;
  void AfterWait(bool gone) override;

  std::atomic<bool> drop_{false};
  std::atomic<size_t> connections_{0};
  int listener_ = -1;
  int client_ = -1;  // serving thread only while running
  std::string host_;
  int port_ = 0;
};

}  // namespace emu
