// How long detection takes to find the printer at 9600 baud behind silent
// ports, and what a round trip costs over TCP on loopback beside the same
// round trip over a pseudo-terminal. Prints the figures.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/comportzuv.h"
#include "driver/detect.h"
#include "emulator/pty_server.h"
#include "emulator/tcp_server.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRoundTrips = 200;
constexpr int kDetectRuns = 5;
constexpr double kDetectTargetMs = 2000;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A pty emulator with a link in the private port directory.
std::unique_ptr<emu::PtyServer> PtyPrinter(const std::string& link, int baud, bool silent) {
  auto server = std::make_unique<emu::PtyServer>();
  if (!server->Start({true, link, true})) {
    std::fprintf(stderr, "emulator: %s\n", server->Error().c_str());
    return nullptr;
  }
  server->With([&](emu::PrinterEmulator& e) {
    e.SetBaud(baud);
    if (silent) e.InjectSilence(emu::kAlways);
  });
  return server;
}

// Detection with the printer at 9600 behind `silentPorts` silent ports.
void MeasureDetection(int silentPorts) {
  std::vector<std::unique_ptr<emu::PtyServer>> servers;
  zuv::TDetectOptions options;
  for (int i = 0; i < silentPorts; ++i) {
    servers.push_back(PtyPrinter("ttySilent" + std::to_string(i), 0, true));
    options.ports.push_back("ttySilent" + std::to_string(i));
  }
  servers.push_back(PtyPrinter("ttyPrinter", 9600, false));
  options.ports.push_back("ttyPrinter");
  for (const auto& s : servers)
    if (!s) return;
  std::vector<double> times;
  bool allFound = true;
  for (int run = 0; run < kDetectRuns; ++run) {
    const auto t0 = Clock::now();
    const zuv::TDetectResult r = zuv::DetectPrinter(options);
    times.push_back(Ms(Clock::now() - t0));
    allFound &= r.found && r.baud == 9600;
  }
  const double median = Median(times);
  std::printf("detection, printer at 9600 behind %d silent port(s): %7.0f ms median of %d  %s%s\n",
              silentPorts, median, kDetectRuns,
              median < kDetectTargetMs ? "(< 2 s)" : "(over 2 s)", allFound ? "" : "  NOT FOUND");
}

// Median round trip of `command` on an open port.
double RoundTrip(const std::function<bool()>& command) {
  std::vector<double> times;
  for (int i = 0; i < kRoundTrips; ++i) {
    const auto t0 = Clock::now();
    if (!command()) return -1;
    times.push_back(Ms(Clock::now() - t0));
  }
  return Median(times);
}

void MeasureRoundTrips(const std::string& what, const std::string& port) {
  if (!zuv::TComPortZUV::OpenPort(port, 115200, true, false)) {
    std::fprintf(stderr, "cannot open %s\n", port.c_str());
    return;
  }
  const double test = RoundTrip(&zuv::TFiscal::TestVeze);
  const double clock = RoundTrip([] { return !zuv::TFiscal::CitajVreme().empty(); });
  const double state = RoundTrip([] { return zuv::TFiscal::StanjeRacuna().UspesanOdgovor; });
  std::printf("%-28s TestVeze %6.3f ms   CitajVreme %6.3f ms   StanjeRacuna %6.3f ms\n",
              what.c_str(), test, clock, state);
  zuv::TComPortZUV::ClosePort();
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/zuv-bench-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  ::setenv("ZUV_PORT_DIR", (std::string(tmpl) + "/ports").c_str(), 1);
  zuv::TComPortZUV::Init("GBR");

  std::printf("probe budget %lld ms a speed, speeds tried fastest first\n",
              static_cast<long long>(zuv::DetectProbeBudgetMs));
  for (int silent : {0, 1, 4}) MeasureDetection(silent);

  for (int baud : {0, 115200}) {
    if (baud)
      std::printf("\nround trips, median of %d, emulator paced at %d baud:\n", kRoundTrips, baud);
    else
      std::printf("\nround trips, median of %d, emulator unpaced:\n", kRoundTrips);
    {
      auto pty = PtyPrinter("ttyRoundTrip", baud, false);
      if (pty) MeasureRoundTrips("pseudo-terminal", pty->PortName());
    }
    emu::TcpServer tcp;
    tcp.With([baud](emu::PrinterEmulator& e) { e.SetBaud(baud); });
    if (tcp.Start())
      MeasureRoundTrips("TCP on loopback", tcp.PortName());
    else
      std::fprintf(stderr, "emulator: %s\n", tcp.Error().c_str());
  }
  zuv::ResetDriverState();
  std::error_code ignored;
  std::filesystem::remove_all(tmpl, ignored);
  return 0;
}
