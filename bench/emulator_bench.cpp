// The driver against the emulator with both directions paced at 115200
// baud: how far exchanges stay above their wire time, and what a reply
// time-out costs in CPU. Prints figures and PASS/MISS against the targets.
#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "driver/comportzuv.h"
#include "emulator/pty_server.h"
#include "serial/com_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBaud = 115200;
constexpr double kOverheadTargetMs = 1.0;
constexpr double kBatchRatioTarget = 1.05;
constexpr double kCpuShareTarget = 0.3;  // per cent of the wait: driver + event thread

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// 8N1: ten bits a byte.
double WireMs(size_t bytes) { return double(bytes) * 10.0 * 1000.0 / kBaud; }

double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of the serial event threads, and how many there are (from
// /proc: they carry the event thread's name).
double EventThreadCpuSeconds(int& threads) {
  threads = 0;
  double total = 0;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return 0;
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const std::string task = std::string("/proc/self/task/") + e->d_name;
    std::string name;
    std::getline(std::ifstream(task + "/comm"), name);
    if (name != serial::kEventThreadName) continue;
    long long ns = 0;
    std::ifstream(task + "/schedstat") >> ns;  // first field: time on a CPU
    total += double(ns) / 1e9;
    ++threads;
  }
  closedir(dir);
  return total;
}

const char* Verdict(bool pass) { return pass ? "PASS" : "MISS"; }

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

class Bench {
 public:
  bool Start() {
    if (!server_.Start()) {
      std::fprintf(stderr, "emulator: %s\n", server_.Error().c_str());
      return false;
    }
    server_.With([](emu::PrinterEmulator& e) { e.SetBaud(kBaud); });
    if (!zuv::TComPortZUV::OpenPort(server_.PortName(), kBaud, true, false)) {
      std::fprintf(stderr, "cannot open %s\n", server_.PortName().c_str());
      return false;
    }
    return true;
  }

  // Bytes on the line for the last exchange: the request as the emulator
  // framed it, the reply as the driver kept it, and the closing byte.
  size_t LastExchangeBytes() {
    const size_t request = server_.With([](emu::PrinterEmulator& e) {
      const emu::ReceivedRequest& r = e.Requests().back();
      return r.data.size() + (r.long_form ? 6 : 5);
    });
    return request + zuv::receiveBuffer->size() + 1;
  }

  // (a) Median round trip of one command against its wire time.
  bool RoundTrip(const char* name, const std::function<bool()>& exchange, int count) {
    for (int i = 0; i < 10; ++i) exchange();  // warm-up
    std::vector<double> trips;
    size_t bytes = 0;
    for (int i = 0; i < count; ++i) {
      const auto t0 = Clock::now();
      if (!exchange()) {
        std::printf("  %s: exchange %d failed, ErrorCode %d\n", name, i, zuv::ErrorCode);
        return false;
      }
      trips.push_back(Ms(Clock::now() - t0));
      bytes = LastExchangeBytes();
    }
    const double wire = WireMs(bytes);
    const double median = Percentile(trips, 0.5);
    const double overhead = median - wire;
    const bool pass = overhead < kOverheadTargetMs;
    std::printf("  %-12s %3zu bytes, wire %.3f ms; round trip median %.3f ms (p90 %.3f, max %.3f); "
                "overhead %.3f ms  %s\n",
                name, bytes, wire, median, Percentile(trips, 0.9), Percentile(trips, 1.0), overhead,
                Verdict(pass));
    return pass;
  }

  // (b) Articles programmed in batches against the wire time of all frames.
  bool ArticleBatches(int batches, int per_batch) {
    zuv::TFiscal::BrisanjeBaze();
    double wire = 0;
    size_t bytes = 0;
    const auto t0 = Clock::now();
    for (int b = 0; b < batches; ++b) {
      for (int i = 0; i < per_batch; ++i) {
        const int code = b * per_batch + i + 1;
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04d", code);
        std::u16string name = u"Čokolada mlečna 100g #";
        for (const char* c = digits; *c; ++c) name.push_back(char16_t(*c));
        zuv::TFiscal::DodajArtikal(code, name, 1, 2, 99.99 + code);
      }
      if (!zuv::TFiscal::ProgramirajArtikle()) {
        std::printf("  batch %d failed, ErrorCode %d\n", b, zuv::ErrorCode);
        return false;
      }
      const size_t n = LastExchangeBytes();
      bytes += n;
      wire += WireMs(n);
    }
    const double took = Ms(Clock::now() - t0);
    const size_t stored = server_.With([](emu::PrinterEmulator& e) { return e.Articles().size(); });
    const double ratio = took / wire;
    const bool pass = ratio <= kBatchRatioTarget && stored == size_t(batches * per_batch);
    std::printf("  %d articles in %d frames: %zu bytes, wire %.1f ms; took %.1f ms; ratio %.3f "
                "(%.3f ms a frame beyond wire); %zu stored  %s\n",
                batches * per_batch, batches, bytes, wire, took, ratio, (took - wire) / batches,
                stored, Verdict(pass));
    return pass;
  }

  // (c) CPU while the driver waits out a reply that never comes, with the
  // port's event thread running beside it.
  bool TimeoutCpu() {
    server_.With([](emu::PrinterEmulator& e) { e.InjectSilence(1); });
    int threads = 0;
    const double events0 = EventThreadCpuSeconds(threads);
    const double thread0 = CpuSeconds(RUSAGE_THREAD);
    const double process0 = CpuSeconds(RUSAGE_SELF);
    const auto t0 = Clock::now();
    const bool answered = zuv::TFiscal::TestVeze();
    const double wall = Ms(Clock::now() - t0) / 1000.0;
    const double thread = CpuSeconds(RUSAGE_THREAD) - thread0;
    const double events = EventThreadCpuSeconds(threads) - events0;
    const double process = CpuSeconds(RUSAGE_SELF) - process0;
    const double share = 100.0 * (thread + events) / wall;
    const bool pass = !answered && zuv::ErrorCode == -1 && threads == 1 && share < kCpuShareTarget;
    std::printf("  time-out: result %s, ErrorCode %d, waited %.3f s\n", answered ? "true" : "false",
                zuv::ErrorCode, wall);
    std::printf("  driver thread (RUSAGE_THREAD): %.4f s CPU = %.3f %% of the wait\n", thread,
                100.0 * thread / wall);
    std::printf("  event thread%s (%d running): %.3f ms CPU = %.4f %% of the wait\n",
                threads == 1 ? "" : "s", threads, events * 1000.0, 100.0 * events / wall);
    std::printf("  driver + event thread: %.3f %% of a core  %s\n", share, Verdict(pass));
    std::printf("  whole process (RUSAGE_SELF, with the emulator's thread): %.4f s CPU = %.3f %%\n",
                process, 100.0 * process / wall);
    return pass;
  }

 private:
  emu::PtyServer server_;
};

}  // namespace

int main(int argc, char** argv) {
  const int trips = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  Bench bench;
  if (!bench.Start()) return 1;
  std::printf("emulator paced at %d baud (8N1); targets: overhead < %.1f ms an exchange, "
              "batches <= %.2f x wire, time-out CPU < %.1f %%\n",
              kBaud, kOverheadTargetMs, kBatchRatioTarget, kCpuShareTarget);

  std::printf("(a) round trips, %d each\n", trips);
  bool all = true;
  all &= bench.RoundTrip("TestVeze", [] { return zuv::TFiscal::TestVeze(); }, trips);
  all &= bench.RoundTrip("CitajVreme", [] { return !zuv::TFiscal::CitajVreme().empty(); }, trips);
  all &= bench.RoundTrip("StanjeRacuna", [] { return zuv::TFiscal::StanjeRacuna().UspesanOdgovor; },
                         trips);
  std::printf("(b) article programming\n");
  all &= bench.ArticleBatches(50, 10);
  std::printf("(c) reply time-out (event thread waiting in poll, as after an event loop ran "
              "its hand-overs)\n");
  zuv::comport->ProcessPendingEvents();
  all &= bench.TimeoutCpu();
  // The worst case for the exchange: the event thread handles every arrival
  // itself, its status queries running beside the driver's reads.
  std::printf("(d) event thread dispatching by itself (smNone)\n");
  zuv::comport->Close();
  zuv::comport->SetSyncMethod(serial::smNone);
  zuv::comport->Open();
  all &= bench.RoundTrip("TestVeze", [] { return zuv::TFiscal::TestVeze(); }, trips);
  all &= bench.RoundTrip("CitajVreme", [] { return !zuv::TFiscal::CitajVreme().empty(); }, trips);
  all &= bench.TimeoutCpu();
  std::printf("%s\n", all ? "all targets met" : "some targets missed");
  zuv::ResetDriverState();
  return 0;
}
