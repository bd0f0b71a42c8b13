// Device information reads: receipt and daily-report counters, fiscal
// memory identifier, device clock.
#include <cstdio>

#include "comportzuv.h"
#include "fiscal_wire.h"
#include "protocol.h"

namespace zuv {

namespace {

bool ReplyInt32(int k, int32_t& value) {
  uint8_t b[4];
  if (!ReplyField(k, 4, b)) return false;
  value = wire::Int32At(b);
  return true;
}

bool ReplyInt64(int k, int64_t& value) {
  uint8_t b[8];
  if (!ReplyField(k, 8, b)) return false;
  value = wire::Int64At(b);
  return true;
}

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kMsPerHour = 3600000;
// Formattable range, 0001-01-01 up to 10000-01-01, in ms since 1970.
constexpr int64_t kMsMin = -62135596800000;
constexpr int64_t kMsEnd = 253402300800000;

struct CivilDate {
  int64_t year;
  unsigned month;
  unsigned day;
};

// Proleptic Gregorian date of a day count since 1970-01-01.
CivilDate CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

}  // namespace

int32_t TFiscal::CitajBI() {
  if (!TComPortZUV::SendFrame(cmd::ReceiptState, {}, true, false)) return -1;
  // Bytes 44-47 end the receipt-state reply, so a short reply fails here.
  int32_t number = -1;
  return ReplyInt32(44, number) ? number : -1;
}

int32_t TFiscal::CitajBD() {
  if (!TComPortZUV::SendFrame(cmd::DailyReportNumber, {}, true, false)) return -1;
  int32_t number = -1;
  return ReplyInt32(0, number) ? number : -1;
}

std::u16string TFiscal::CitajIBFM() {
  if (!TComPortZUV::SendFrame(cmd::ReadFiscalMemoryId, {}, true, false)) return u"";
  std::vector<uint8_t> id(8);
  if (!ReplyField(8, 8, id.data())) return u"";
  // All eight bytes, zero bytes included: the identifier is fixed-width.
  return TComPortZUV::ZUVbytesToString(id);
}

std::string TFiscal::CitajVreme() {
  if (!TComPortZUV::SendFrame(cmd::ReadClock, {}, true, false)) return "";
  int64_t deviceMs = 0;
  if (!ReplyInt64(0, deviceMs)) return "";
  // Whole milliseconds throughout, so the text never depends on the host's
  // time zone. The shown time is one hour ahead, fixed, with no summer time.
  const int64_t shift = wire::kMs1970To2000 + kMsPerHour;
  // Checked before adding, so a wild reply cannot overflow.
  if (deviceMs < kMsMin - shift || deviceMs >= kMsEnd - shift) {
    ErrorCode = linkerr::NoReply;  // no date to show: a failed read
    return "";
  }
  const int64_t ms = deviceMs + shift;
  int64_t days = ms / kMsPerDay;
  int64_t msOfDay = ms % kMsPerDay;
  if (msOfDay < 0) {
    msOfDay += kMsPerDay;
    --days;
  }
  const CivilDate date = CivilFromDays(days);
  const int64_t secOfDay = msOfDay / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02u.%02u.%04d %02d:%02d:%02d", date.day, date.month,
                static_cast<int>(date.year), static_cast<int>(secOfDay / 3600),
                static_cast<int>(secOfDay / 60 % 60), static_cast<int>(secOfDay % 60));
  return text;
}

}  // namespace zuv
