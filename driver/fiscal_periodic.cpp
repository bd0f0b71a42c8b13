// Periodic report between two dates.
#include <cmath>

#include "comportzuv.h"

namespace zuv {

namespace detail {
bool AcknowledgedReport(bool exchanged);
}

namespace {

constexpr double kUnixEpochDate = 25569.0;  // 1970-01-01 as a date-time
constexpr int64_t kMs1970To2000 = 946684800000;
// Keeps seconds * 1000 - kMs1970To2000 inside 64 bits.
constexpr double kMaxSeconds = 9.0e15;

double RoundHalfEven(double y) {
  double r = std::floor(y);
  const double frac = y - r;
  if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
  return r;
}

// The device keeps the report span's dates, the host supplies the time of
// day at which the report is asked for.
double WithCurrentTimeOfDay(double date) {
  const double now = NowDateTime();
  return std::trunc(date) + (now - std::trunc(now));
}

// Device timestamp (ms since 2000) of a date-time, in whole seconds.
// False for a value that has no 64-bit timestamp.
bool DeviceTimestamp(double dateTime, int64_t& ms) {
  const double seconds = RoundHalfEven((dateTime - kUnixEpochDate) * 86400.0);
  if (!(std::fabs(seconds) <= kMaxSeconds)) return false;  // also NaN and infinities
  ms = static_cast<int64_t>(seconds) * 1000 - kMs1970To2000;
  return true;
}

void AppendInt64(std::vector<uint8_t>& data, int64_t value) {
  const uint64_t u = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) data.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

}  // namespace

bool TFiscal::PeriodicniIzvestaj(double POCETNI, double KRAJNI) {
  int64_t from = 0;
  int64_t to = 0;
  // A date with no timestamp is refused before anything is sent; the
  // previous ErrorCode stays.
  if (!DeviceTimestamp(WithCurrentTimeOfDay(POCETNI), from)) return false;
  if (!DeviceTimestamp(WithCurrentTimeOfDay(KRAJNI), to)) return false;
  std::vector<uint8_t> data;
  data.reserve(16);
  AppendInt64(data, from);
  AppendInt64(data, to);
  return detail::AcknowledgedReport(TComPortZUV::SendFrame(90, data, true, false));
}

}  // namespace zuv
