#include <chrono>
#include <ctime>

#include "comportzuv.h"
#include "dropped_ports.h"

namespace zuv {

// Defined before comport so that it outlives it.
std::vector<std::unique_ptr<serial::TComPort>> droppedPorts;
std::unique_ptr<serial::TComPort> comport;
std::unique_ptr<std::map<char16_t, uint8_t>> ZUVtable;
std::unique_ptr<std::map<int32_t, std::string>> ErrorTableK3RT;
uint8_t sendBuffer[SendBufferSize];
const uint8_t empty[SendBufferSize] = {};
std::unique_ptr<ByteList> receiveBuffer;
TStopwatch RxStopwatch;
int32_t RxExpectDataLen = 0;
int32_t RxDataIndex = 0;
int32_t ErrorCode = 0;
bool PrinterType = false;
bool DebugMode = false;
bool RequestAcknowledged = false;
bool VerifyReplyChecksum = true;
int64_t ReplyBudgetMs = DefaultReplyBudgetMs;
std::unique_ptr<ByteList> bufferArtikala;

TComPortZUV* ComPortZUV = nullptr;
TFiscal* Fiscal = nullptr;

namespace {
// Closes the ports before the state above is destroyed: a port that faults
// while closing at exit must find its handler gone and the state intact.
struct ReleaseAtExit {
  ~ReleaseAtExit() { ResetDriverState(); }
} releaseAtExit;
}  // namespace

namespace {
std::function<int64_t()> g_monotonic;
std::function<double()> g_dateTime;
}  // namespace

int64_t MonotonicMs() {
  if (g_monotonic) return g_monotonic();
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SetMonotonicClock(std::function<int64_t()> clock) { g_monotonic = std::move(clock); }

double NowDateTime() {
  if (g_dateTime) return g_dateTime();
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  const int64_t ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  // Seconds since 1970 as the local wall clock reads them.
  const double localSeconds = static_cast<double>(t) + static_cast<double>(local.tm_gmtoff);
  return 25569.0 + (localSeconds + ms / 1000.0) / 86400.0;
}

void SetDateTimeClock(std::function<double()> clock) { g_dateTime = std::move(clock); }

void TStopwatch::Start() {
  FStart = MonotonicMs();
  FRunning = true;
}

void TStopwatch::Stop() {
  if (!FRunning) return;
  FStopped = MonotonicMs() - FStart;
  FRunning = false;
}

int64_t TStopwatch::ElapsedMilliseconds() const {
  return FRunning ? MonotonicMs() - FStart : FStopped;
}

}  // namespace zuv
