#include <chrono>
#include <ctime>

#include "comportzuv.h"

namespace zuv {

// Thread-local objects of one thread are destroyed in the reverse order of
// their construction: linkState (with the dropped ports) is defined before
// comport so that it outlives it, and releaseAtExit comes last.
thread_local LinkState linkState;
thread_local std::unique_ptr<serial::TComPort> comport;
thread_local std::unique_ptr<std::map<char16_t, uint8_t>> ZUVtable;
thread_local std::unique_ptr<std::map<int32_t, std::string>> ErrorTableK3RT;
thread_local uint8_t sendBuffer[SendBufferSize];
const uint8_t empty[SendBufferSize] = {};
thread_local std::unique_ptr<ByteList> receiveBuffer;
thread_local TStopwatch RxStopwatch;
thread_local int32_t RxExpectDataLen = 0;
thread_local int32_t RxDataIndex = 0;
thread_local int32_t ErrorCode = 0;
thread_local bool PrinterType = false;
thread_local bool DebugMode = false;
thread_local std::unique_ptr<ByteList> bufferArtikala;

TComPortZUV* ComPortZUV = nullptr;
TFiscal* Fiscal = nullptr;

namespace {
// Closes the thread's ports before the state above is destroyed: a port that
// faults while closing must find its handler gone and the state intact. For
// the main thread this runs at exit, for any other thread when it ends.
struct ReleaseAtExit {
  ~ReleaseAtExit() { ResetDriverState(); }
};
thread_local ReleaseAtExit releaseAtExit;
}  // namespace

ScopedLinkSettings::ScopedLinkSettings(int64_t replyBudgetMs, bool verifyReplyChecksum)
    : savedBudgetMs_(linkState.replyBudgetMs), savedVerify_(linkState.verifyReplyChecksum) {
  linkState.replyBudgetMs = replyBudgetMs;
  linkState.verifyReplyChecksum = verifyReplyChecksum;
}

ScopedLinkSettings::~ScopedLinkSettings() {
  linkState.replyBudgetMs = savedBudgetMs_;
  linkState.verifyReplyChecksum = savedVerify_;
}

int64_t MonotonicMs() {
  if (linkState.monotonicClock) return linkState.monotonicClock();
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SetMonotonicClock(std::function<int64_t()> clock) {
  linkState.monotonicClock = std::move(clock);
}

double NowDateTime() {
  if (linkState.dateTimeClock) return linkState.dateTimeClock();
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

void SetDateTimeClock(std::function<double()> clock) {
  linkState.dateTimeClock = std::move(clock);
}

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
