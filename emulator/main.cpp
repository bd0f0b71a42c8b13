// zuv_emulator: a fiscal printer on a pseudo-terminal or a TCP port.
//
// Prints "PORT <name>" as the first line of standard output (the link's
// name, which the driver resolves through the virtual-port directory, or
// with --no-link the pseudo-terminal's path, or with --tcp the
// tcp://HOST:PORT address), then serves until SIGINT, SIGTERM or SIGHUP,
// or the control command "quit". Everything the printer prints follows on
// standard output; control answers and notices go to standard error.
// `zuv_emulator --help` lists the options.
//
// Control commands on standard input, one per line: see control.h, or send
// "help".
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "control.h"
#include "pty_server.h"
#include "tcp_server.h"

namespace {

struct Settings {
  emu::PtyOptions pty{true, ""};
  std::optional<emu::TcpOptions> tcp;  // serve on TCP instead of a pty
  std::vector<std::string> controls;  // run in order before serving
  std::vector<emu::SaleItem> sales;
  bool read_stdin = true;
  bool quit_on_eof = false;
  bool quiet = false;
};

std::string Replace(std::string text, char from, char to) {
  for (char& c : text)
    if (c == from) c = to;
  return text;
}

// An option that becomes the control command of the same name, in the
// order the options were given.
void AddControlOption(CLI::App& app, Settings& s, const std::string& name, const std::string& value,
                      const std::string& help, char separator = 0) {
  const std::string command = name.substr(2);
  app.add_option_function<std::string>(
         name,
         [&s, command, separator](const std::string& v) {
           s.controls.push_back(command + " " + (separator ? Replace(v, separator, ' ') : v));
         },
         help)
      ->type_name(value)
      ->trigger_on_parse()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// --silent and --ack-silent: every request, or the first N with =N.
void AddSilenceOption(CLI::App& app, Settings& s, const std::string& name, const std::string& help) {
  const std::string command = name.substr(2);
  app.add_option_function<std::string>(
         name,
         [&s, command](const std::string& v) {
           s.controls.push_back(command + " " + (v.empty() ? "always" : v));
         },
         help)
      ->type_name("[=N]")
      ->expected(0, 1)
      ->trigger_on_parse()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void DefineOptions(CLI::App& app, Settings& s) {
  app.add_option_function<std::string>(
         "--baud",
         [&s](const std::string& v) {
           s.controls.push_back("baud " + v);
           s.pty.match_speed = true;
         },
         "the printer's line speed: pace both directions at N baud (8N1) and, on a pty, answer "
         "only a host whose line is set to N; 0: no pacing (default: no pacing, and a host at "
         "any speed is answered)")
      ->type_name("N")
      ->trigger_on_parse()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  auto* link = app.add_option_function<std::string>(
      "--link", [&s](const std::string& v) { s.pty = {true, v, s.pty.match_speed}; },
      "name of the link in the virtual-port directory (default: the first free ttyZUV<n>)");
  link->type_name("NAME");
  auto* no_link = app.add_flag_callback("--no-link", [&s] { s.pty.link = false; }, "make no link");
  link->excludes(no_link);
  app.add_option_function<std::string>(
         "--tcp",
         [&s](const std::string& v) {
           emu::TcpOptions options;
           if (!emu::ParseTcpListenAddress(v, options))
             throw CLI::ValidationError("--tcp", "expected [HOST:]PORT, got \"" + v + "\"");
           s.tcp = options;
         },
         "serve on TCP instead of a pty (HOST defaults to 127.0.0.1; PORT 0: any free port)")
      ->type_name("[HOST:]PORT")
      ->excludes(link)
      ->excludes(no_link);
  app.add_option_function<std::vector<std::string>>(
         "--sale",
         [&s](const std::vector<std::string>& values) {
           for (const std::string& v : values) {
             auto item = emu::ParseSaleItem(v);
             if (!item)
               throw CLI::ValidationError("--sale", "bad sale \"" + v + "\" (NAME:PRICE[:QTY])");
             s.sales.push_back(*item);
           }
         },
         "sell an item before serving, opening a receipt (repeatable; e.g. --sale "
         "\"Hleb:65.50:2\")")
      ->type_name("NAME:PRICE[:QTY]")
      ->allow_extra_args(false);
  AddControlOption(app, s, "--nack", "N", "NACK the first N requests");
  AddControlOption(app, s, "--error", "CODE[:N]",
                   "answer the first N requests (default 1) with printer error CODE", ':');
  AddSilenceOption(app, s, "--silent", "answer nothing (to every request, or the first N)");
  AddSilenceOption(app, s, "--ack-silent", "ACK, then nothing (every request, or the first N)");
  AddControlOption(app, s, "--delay", "MS", "send the reply frame MS after the ACK");
  AddControlOption(app, s, "--chunk", "BYTES:MS", "send replies in pieces of BYTES, MS apart", ':');
  AddControlOption(app, s, "--id", "TEXT", "fiscal memory identifier (8 characters)");
  AddControlOption(app, s, "--clock", "MS|now", "device clock, ms since 2000-01-01 00:00:00");
  AddControlOption(app, s, "--receipt-number", "N", "number of the last closed receipt");
  AddControlOption(app, s, "--report-number", "N", "number of the last daily (Z) report");
  app.add_option_function<std::vector<std::string>>(
         "--control",
         [&s](const std::vector<std::string>& lines) {
           s.controls.insert(s.controls.end(), lines.begin(), lines.end());
         },
         "run a control command before serving (repeatable; e.g. --control \"wait 1 500 08 07:12\")")
      ->type_name("LINE")
      ->allow_extra_args(false)
      ->trigger_on_parse();
  app.add_flag_callback("--no-stdin", [&s] { s.read_stdin = false; },
                        "read no control commands from standard input");
  app.add_flag_callback("--quit-on-eof", [&s] { s.quit_on_eof = true; },
                        "stop when standard input ends (by default the end of input only ends the "
                        "control channel)");
  app.add_flag_callback("--quiet", [&s] { s.quiet = true; }, "print no paper");
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += size_t(n);
  }
}

// Carries the paper to standard output on its own thread: a reader that
// stops reading (a script that took the PORT line and no more) must not
// stall the printer, so paper beyond 1 MB in waiting is dropped.
class PaperWriter {
 public:
  PaperWriter() : thread_([this] { Run(); }) {}
  ~PaperWriter() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    ready_.notify_all();
    thread_.join();
  }
  void Add(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() + text.size() > kLimit) return;
    queue_ += text;
    ready_.notify_all();
  }

 private:
  static constexpr size_t kLimit = 1 << 20;

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ready_.wait_for(lock, std::chrono::seconds(1), [&] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) {
        if (stop_) return;
        continue;
      }
      // At most a pipe buffer's worth, so that a write after POLLOUT does
      // not block.
      const std::string chunk = queue_.substr(0, 4096);
      lock.unlock();
      pollfd p{1, POLLOUT, 0};
      const int ready = ::poll(&p, 1, 200);
      ssize_t n = 0;
      if (ready > 0 && (p.revents & POLLOUT))
        n = ::write(1, chunk.data(), chunk.size());
      else if (ready > 0)
        n = ssize_t(chunk.size());  // the reader is gone
      lock.lock();
      if (n > 0) queue_.erase(0, size_t(n));
      if (stop_ && n <= 0) return;  // a stuck reader does not hold up the exit
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::string queue_;
  bool stop_ = false;
  std::thread thread_;
};

// Sets the printer up, serves it and runs the control channel until a
// signal, "quit" or (with --quit-on-eof) the end of input.
template <class Server>
int Serve(Server& server, const Settings& settings, int signal_fd,
          const std::function<bool()>& start,
          const std::function<std::string()>& where) {
  bool setup_ok = server.With([&](emu::PrinterEmulator& e) {
    for (const std::string& line : settings.controls) {
      const emu::ControlResult r = emu::RunControl(e, line);
      if (!r.ok) {
        std::fprintf(stderr, "zuv_emulator: %s: %s", line.c_str(), r.text.c_str());
        return false;
      }
    }
    if (!settings.sales.empty() && !e.Sell(settings.sales)) {
      std::fprintf(stderr, "zuv_emulator: sale refused\n");
      return false;
    }
    return true;
  });
  if (!setup_ok) return 2;
  if (!start()) {
    std::fprintf(stderr, "zuv_emulator: %s\n", server.Error().c_str());
    return 1;
  }
  WriteAll(1, "PORT " + server.PortName() + "\n");
  // Paper only after the PORT line, which scripts read first.
  PaperWriter paper;
  if (!settings.quiet)
    server.With([&](emu::PrinterEmulator& e) {
      e.SetPaperSink([&](const std::string& text) { paper.Add(text); });
    });
  std::fprintf(stderr, "zuv_emulator: serving %s\n", where().c_str());

  std::string pending;
  bool stdin_open = settings.read_stdin;
  bool quit = false;
  while (!quit) {
    pollfd fds[2] = {{signal_fd, POLLIN, 0}, {stdin_open ? 0 : -1, POLLIN, 0}};
    if (::poll(fds, 2, 1000) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) break;
    if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buffer[1024];
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      stdin_open = false;
      if (settings.quit_on_eof) break;
      continue;
    }
    pending.append(buffer, size_t(n));
    for (size_t eol; !quit && (eol = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 1);
      const emu::ControlResult r =
          server.With([&](emu::PrinterEmulator& e) { return emu::RunControl(e, line); });
      WriteAll(2, r.text);
      quit = r.quit;
    }
  }
  server.Stop();  // before the paper writer goes, as the sink refers to it
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  CLI::App app{"zuv_emulator: a fiscal printer on a pseudo-terminal or a TCP port"};
  DefineOptions(app, settings);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return e.get_exit_code() == 0 ? status : 2;
  }

  // Signals arrive through a descriptor; the serving thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);  // the terminal went away: stop and remove the link
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  const int signal_fd = ::signalfd(-1, &signals, SFD_CLOEXEC);
  if (signal_fd < 0) {
    std::perror("zuv_emulator: signalfd");
    return 1;
  }
  int status;
  if (settings.tcp) {
    emu::TcpServer server;
    status = Serve(server, settings, signal_fd, [&] { return server.Start(*settings.tcp); },
                   [&] { return server.PortName(); });
  } else {
    emu::PtyServer server;
    status = Serve(server, settings, signal_fd, [&] { return server.Start(settings.pty); },
                   [&] {
                     return server.SlavePath() +
                            (server.LinkPath().empty() ? "" : " as " + server.LinkPath());
                   });
  }
  ::close(signal_fd);
  return status;
}
