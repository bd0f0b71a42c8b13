// CPU the driver spends while it waits out a reply that never comes, and how
// quickly it takes a reply that does come, over a real pseudo-terminal.
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "driver/comportzuv.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("pseudo-terminal");
    return 1;
  }
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);
  const std::string slave = ptsname(master);
  if (!zuv::TComPortZUV::OpenPort(slave, 115200, true, false)) {
    std::fprintf(stderr, "cannot open %s\n", slave.c_str());
    return 1;
  }

  // (1) A request that is never answered: the whole 2.5 s budget runs out.
  const double cpu0 = CpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  const bool answered = zuv::TComPortZUV::SendFrame(56, {}, true, false);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = CpuSeconds() - cpu0;
  std::printf("time-out: result %s, ErrorCode %d, waited %.3f s, CPU %.4f s (%.2f %% of the wait)\n",
              answered ? "true" : "false", zuv::ErrorCode, wall, cpu, 100.0 * cpu / wall);

  // (2) Latency: a responder answers the connection test at once; the
  // driver's part of the round trip is what remains.
  tcflush(master, TCIFLUSH);  // the unanswered request of (1)
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  std::atomic<bool> stop{false};
  std::thread responder([&] {
    uint8_t buf[64];
    while (!stop) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n >= 5) {
        const uint8_t ack = 0x06;
        if (write(master, &ack, 1) != 1) return;
      } else if (n <= 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
  });
  std::vector<double> trips;
  for (int i = 0; i < 200; ++i) {
    const auto s = std::chrono::steady_clock::now();
    if (!zuv::TFiscal::TestVeze()) break;
    trips.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - s).count());
  }
  stop = true;
  responder.join();
  if (!trips.empty()) {
    std::sort(trips.begin(), trips.end());
    std::printf("connection test round trip over a pty: median %.3f ms, max %.3f ms (%zu trips)\n",
                trips[trips.size() / 2], trips.back(), trips.size());
  }
  zuv::ResetDriverState();
  close(master);
  return 0;
}
