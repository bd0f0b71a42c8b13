// zuv_emulator: a fiscal printer on a pseudo-terminal.
//
// Prints "PORT <name>" as the first line of standard output (the link's
// name, which the driver resolves through the virtual-port directory, or
// with --no-link the pseudo-terminal's path), then serves until SIGINT or
// SIGTERM, or the control command "quit". Everything the printer prints
// follows on standard output; control answers and notices go to standard
// error.
//
// Options:
//   --baud N              pace both directions at N baud (8N1, 10 bits a
//                         byte); 0 or absent: no pacing
//   --link NAME           name of the link in the virtual-port directory
//                         (default: the first free ttyZUV<n>)
//   --no-link             make no link
//   --sale NAME:PRICE[:QTY]
//                         sell an item before serving, opening a receipt
//                         (repeatable; e.g. --sale "Hleb:65.50:2")
//   --nack N              NACK the first N requests
//   --error CODE[:N]      error reply CODE to the first N requests (1)
//   --silent[=N]          answer nothing (to every request, or the first N)
//   --ack-silent[=N]      ACK, then nothing (every request, or the first N)
//   --delay MS            send the reply frame MS after the ACK
//   --chunk BYTES:MS      send replies in pieces of BYTES, MS apart
//   --id TEXT             fiscal memory identifier (8 characters)
//   --clock MS|now        device clock, ms since 2000-01-01 00:00:00
//   --receipt-number N    number of the last closed receipt
//   --report-number N     number of the last daily (Z) report
//   --control "LINE"      run a control command before serving (repeatable;
//                         e.g. --control "wait 1 500 08 07:12")
//   --no-stdin            read no control commands from standard input
//   --quit-on-eof         stop when standard input ends; by default the end
//                         of input only ends the control channel, so
//                         "zuv_emulator </dev/null &" keeps serving
//   --quiet               print no paper
//   --help
//
// Control commands on standard input, one per line: see control.h, or send
// "help".
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control.h"
#include "pty_server.h"

namespace {

const char* const kUsage =
    "usage: zuv_emulator [--baud N] [--link NAME | --no-link] [--sale NAME:PRICE[:QTY]]...\n"
    "                    [--nack N] [--error CODE[:N]] [--silent[=N]] [--ack-silent[=N]]\n"
    "                    [--delay MS] [--chunk BYTES:MS] [--id TEXT] [--clock MS|now]\n"
    "                    [--receipt-number N] [--report-number N] [--control LINE]...\n"
    "                    [--no-stdin] [--quit-on-eof] [--quiet]\n";

struct Settings {
  emu::PtyOptions pty{true, ""};
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

// Fills `s` from the command line; false (after a message) on a bad option.
bool ParseArgs(int argc, char** argv, Settings& s) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool has_value = false;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      has_value = true;
    }
    auto next = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= argc) {
        std::fprintf(stderr, "zuv_emulator: %s needs a value\n", arg.c_str());
        return false;
      }
      value = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--no-link") {
      s.pty.link = false;
    } else if (arg == "--no-stdin") {
      s.read_stdin = false;
    } else if (arg == "--quit-on-eof") {
      s.quit_on_eof = true;
    } else if (arg == "--quiet") {
      s.quiet = true;
    } else if (arg == "--silent" || arg == "--ack-silent") {
      s.controls.push_back(arg.substr(2) + " " + (has_value ? value : "always"));
    } else if (arg == "--link") {
      if (!next()) return false;
      s.pty = {true, value};
    } else if (arg == "--sale") {
      if (!next()) return false;
      auto item = emu::ParseSaleItem(value);
      if (!item) {
        std::fprintf(stderr, "zuv_emulator: bad sale \"%s\" (NAME:PRICE[:QTY])\n", value.c_str());
        return false;
      }
      s.sales.push_back(*item);
    } else if (arg == "--baud" || arg == "--nack" || arg == "--delay" || arg == "--clock" ||
               arg == "--id" || arg == "--receipt-number" || arg == "--report-number") {
      if (!next()) return false;
      s.controls.push_back(arg.substr(2) + " " + value);
    } else if (arg == "--error" || arg == "--chunk") {
      if (!next()) return false;
      s.controls.push_back(arg.substr(2) + " " + Replace(value, ':', ' '));
    } else if (arg == "--control") {
      if (!next()) return false;
      s.controls.push_back(value);
    } else {
      std::fprintf(stderr, "zuv_emulator: unknown option %s\n%s", arg.c_str(), kUsage);
      return false;
    }
  }
  return true;
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

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ParseArgs(argc, argv, settings)) return 2;

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

  emu::PtyServer server;
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
  if (!server.Start(settings.pty)) {
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
  std::fprintf(stderr, "zuv_emulator: serving %s%s%s\n", server.SlavePath().c_str(),
               server.LinkPath().empty() ? "" : " as ", server.LinkPath().c_str());

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
  ::close(signal_fd);
  return 0;
}
