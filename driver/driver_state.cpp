#include <chrono>
#include <ctime>

#include "calendar.h"
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

namespace {
// The local wall clock's reading of `t`; both forms are thread-safe.
std::tm LocalTime(std::time_t t) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  return local;
}
}  // namespace

double NowDateTime() {
  if (linkState.dateTimeClock) return linkState.dateTimeClock();
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::tm local = LocalTime(system_clock::to_time_t(now));
  const int64_t ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const double day = static_cast<double>(
      DateToDays(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday).value_or(UnixEpochDays));
  const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ms / 1000.0;
  return day + seconds / 86400.0;
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
