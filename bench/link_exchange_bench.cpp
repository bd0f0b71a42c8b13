// The connection-test exchange through the port component, and the CPU an
// open port costs while nothing arrives. Built for Linux and for Windows
// (run under wine), so that both can be measured against one emulator.
// Usage: bench_link_exchange PORT [EXCHANGES] [IDLE_MS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/protocol.h"
#include "frame.h"
#include "serial/comport.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// CPU time of this process (all its threads), in milliseconds.
double ProcessCpuMs() {
#ifdef _WIN32
  FILETIME created, ended, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
#else
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
#endif
}

const char* Platform() {
#ifdef _WIN32
  return "windows";
#else
  return "linux";
#endif
}

// One connection test: the request out, its ACK in. False when no ACK came.
bool ConnectionTest(serial::TComPort& port, const std::vector<uint8_t>& request) {
  if (port.Write(request.data(), static_cast<int32_t>(request.size())) !=
      static_cast<int32_t>(request.size()))
    return false;
  uint8_t ack = 0;
  return port.Read(&ack, 1) == 1 && ack == emu::kAck;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PORT [EXCHANGES] [IDLE_MS]\n", argv[0]);
    return 2;
  }
  const int exchanges = argc > 2 ? std::atoi(argv[2]) : 200;
  const int idleMs = argc > 3 ? std::atoi(argv[3]) : 5000;
  try {
    serial::TComPort port;
    port.SetPort(argv[1]);
    port.SetBaudRate(serial::br115200);
    port.Open();
    port.BeginUpdate();
    port.Timeouts().SetReadInterval(0);
    port.Timeouts().SetReadTotalConstant(2500);
    port.EndUpdate();

    const std::vector<uint8_t> request = emu::ShortFrame(zuv::cmd::ConnectionTest, {});
    std::vector<double> us;
    for (int i = 0; i < exchanges; ++i) {
      port.ClearBuffer(true, true);
      const auto start = Clock::now();
      if (!ConnectionTest(port, request)) {
        std::fprintf(stderr, "%s: exchange %d got no ACK\n", Platform(), i);
        return 1;
      }
      us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us) sum += v;
    std::printf("%-8s connection test x%d at 115200: median %.0f us, mean %.0f us, p95 %.0f us\n",
                Platform(), exchanges, us[us.size() / 2], sum / us.size(),
                us[us.size() * 95 / 100]);

    // Idle: the event thread waits, the owner waits in a read that gets
    // nothing until its time-out.
    port.Timeouts().SetReadTotalConstant(idleMs);
    const double cpuBefore = ProcessCpuMs();
    const auto start = Clock::now();
    uint8_t none[1];
    const int32_t got = port.Read(none, 1);
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const double cpuMs = ProcessCpuMs() - cpuBefore;
    std::printf("%-8s idle port, %.0f ms waiting (%d byte): %.1f ms CPU in the process (%.2f %%)\n",
                Platform(), wallMs, got, cpuMs, 100.0 * cpuMs / wallMs);
    port.Close();
  } catch (const serial::EComPort& e) {
    std::fprintf(stderr, "%s: %s\n", Platform(), e.what());
    return 1;
  }
  return 0;
}
