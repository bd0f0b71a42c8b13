// Device information reads: receipt and daily-report counters, fiscal
// memory identifier, device clock.
#include <chrono>
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

constexpr int64_t kMsPerHour = 3600000;
// Formattable range, 0001-01-01 up to 10000-01-01, in ms since 1970.
constexpr int64_t kMsMin = -62135596800000;
constexpr int64_t kMsEnd = 253402300800000;

}  // namespace

int32_t TFiscal::CitajBI() {
  if (!TComPortZUV::SendFrame(cmd::ReceiptState, {}, true, false)) return -1;
  // The receipt number ends the receipt-state reply, so a short reply fails here.
  int32_t number = -1;
  return ReplyInt32(receiptstate::ReceiptNumber, number) ? number : -1;
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
  using namespace std::chrono;
  const sys_time<milliseconds> shown{milliseconds{deviceMs + shift}};
  const sys_days midnight = floor<days>(shown);
  const year_month_day date{midnight};
  const hh_mm_ss<seconds> time{floor<seconds>(shown - midnight)};
  char text[32];
  std::snprintf(text, sizeof text, "%02u.%02u.%04d %02d:%02d:%02d", unsigned{date.day()},
                unsigned{date.month()}, int{date.year()}, static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
  return text;
}

}  // namespace zuv
