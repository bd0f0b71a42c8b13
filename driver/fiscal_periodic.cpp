// Periodic report between two dates.
#include <cmath>

#include "calendar.h"
#include "comportzuv.h"
#include "fiscal_wire.h"
#include "protocol.h"

namespace zuv {

namespace {

// Keeps seconds * 1000 - wire::kMs1970To2000 inside 64 bits.
constexpr double kMaxSeconds = 9.0e15;

// The device keeps the report span's dates, the host supplies the time of
// day at which the report is asked for.
double WithCurrentTimeOfDay(double date) {
  const double now = NowDateTime();
  return std::trunc(date) + (now - std::trunc(now));
}

// Device timestamp (ms since 2000) of a date-time, in whole seconds.
// False for a value that has no 64-bit timestamp.
bool DeviceTimestamp(double dateTime, int64_t& ms) {
  const double seconds = wire::RoundHalfEven((dateTime - static_cast<double>(UnixEpochDays)) * 86400.0);
  if (!(std::fabs(seconds) <= kMaxSeconds)) return false;  // also NaN and infinities
  ms = static_cast<int64_t>(seconds) * 1000 - wire::kMs1970To2000;
  return true;
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
  wire::AppendLE(data, static_cast<uint64_t>(from), 8);
  wire::AppendLE(data, static_cast<uint64_t>(to), 8);
  return wire::AcknowledgedReport(TComPortZUV::SendFrame(cmd::PeriodicReport, data, true, false));
}

}  // namespace zuv
