// Serves a PrinterEmulator on a TCP port, as a serial device server in raw
// TCP mode would carry the printer's line: the host connects to
// tcp://HOST:PORT. One connection at a time; a new connection takes over
// from the previous one, which is closed (a host that lost its connection
// reconnects).
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "printer_emulator.h"

namespace emu {

struct TcpOptions {
  std::string host = "127.0.0.1";  // loopback unless asked otherwise
  int port = 0;                    // 0: a free port chosen by the system
};

// "[HOST:]PORT" (HOST may be a bracketed IPv6 literal); false for anything
// else.
bool ParseTcpListenAddress(const std::string& text, TcpOptions& options);

class TcpServer {
 public:
  TcpServer() = default;
  ~TcpServer() { Stop(); }
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Listens and serves on a background thread. False with Error() set when
  // something fails.
  bool Start(const TcpOptions& options = {});
  // Ends the thread and closes every socket. Harmless when not running.
  void Stop();
  bool Running() const { return thread_.joinable(); }
  const std::string& Error() const { return error_; }

  int Port() const { return port_; }
  // What the host opens: tcp://HOST:PORT.
  std::string PortName() const;

  template <class F>
  decltype(auto) With(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(emulator_);
  }

  bool WaitForRequests(size_t count, Millis timeout);
  // Closes the current connection, as a device server that lost its line
  // would; the next connection is served as usual.
  void DropConnection();
  // Connections accepted so far.
  size_t Connections() const { return connections_; }

  static constexpr Millis kAbandonAfter{500};

 private:
  void Serve();
  void Wake();
  int CurrentBaud();
  void CloseAll();

  PrinterEmulator emulator_;
  std::mutex mutex_;
  std::condition_variable requests_cv_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> drop_{false};
  std::atomic<size_t> connections_{0};
  int listener_ = -1;
  int wake_read_ = -1;
  int wake_write_ = -1;
  std::string host_;
  int port_ = 0;
  std::string error_;
};

}  // namespace emu
