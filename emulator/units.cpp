#include "units.h"

#include <chrono>
#include <cstdio>

namespace emu {

int64_t DivRoundHalfEven(int64_t num, int64_t den) {
  int64_t q = num / den;
  int64_t r = num % den;
  if (r < 0) {  // floor division, so the remainder is in [0, den)
    --q;
    r += den;
  }
  const int64_t twice = 2 * r;
  if (twice > den || (twice == den && (q & 1) != 0)) ++q;
  return q;
}

std::optional<int64_t> ParseDecimal(std::string_view text, int decimals) {
  bool negative = false;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  int fraction_digits = -1;  // -1 until the separator
  bool any_digit = false;
  constexpr int64_t kLimit = 1'000'000'000'000'000;  // keeps later products in range
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' || c == ',') {
      if (fraction_digits >= 0) return std::nullopt;
      fraction_digits = 0;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    if (fraction_digits >= 0 && ++fraction_digits > decimals) return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > kLimit) return std::nullopt;
    any_digit = true;
  }
  if (!any_digit) return std::nullopt;
  for (int k = fraction_digits < 0 ? 0 : fraction_digits; k < decimals; ++k) value *= 10;
  if (value > kLimit) return std::nullopt;
  return negative ? -value : value;
}

std::string FormatDecimal(int64_t units, int decimals) {
  int64_t scale = 1;
  for (int k = 0; k < decimals; ++k) scale *= 10;
  const bool negative = units < 0;
  const uint64_t magnitude = negative ? uint64_t(0) - uint64_t(units) : uint64_t(units);
  std::string text = std::to_string(magnitude / uint64_t(scale));
  if (decimals > 0) {
    std::string frac = std::to_string(magnitude % uint64_t(scale));
    text += '.' + std::string(size_t(decimals) - frac.size(), '0') + frac;
  }
  return negative ? "-" + text : text;
}

std::string FormatQuantity(int64_t thousandths) {
  std::string text = FormatDecimal(thousandths, 3);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

int64_t HostClockDeviceMs() {
  using namespace std::chrono;
  const int64_t unix_ms =
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return unix_ms - kDeviceEpochUnixMs;
}

std::string FormatDeviceTime(int64_t device_ms) {
  using namespace std::chrono;
  const sys_time<milliseconds> t{milliseconds(device_ms + kShownAheadMs + kDeviceEpochUnixMs)};
  const sys_days day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss<milliseconds> tod{t - day};
  char text[32];
  std::snprintf(text, sizeof text, "%02u.%02u.%04d %02d:%02d:%02d", unsigned(ymd.day()),
                unsigned(ymd.month()), int(ymd.year()), int(tod.hours().count()),
                int(tod.minutes().count()), int(tod.seconds().count()));
  return text;
}

int64_t DayOfCount(int64_t device_ms) {
  using namespace std::chrono;
  return floor<days>(milliseconds(device_ms)).count();
}

std::string FormatDay(int64_t day) {
  using namespace std::chrono;
  const year_month_day ymd{sys_days(floor<days>(milliseconds(kDeviceEpochUnixMs))) + days(day)};
  char text[16];
  std::snprintf(text, sizeof text, "%02u.%02u.%04d", unsigned(ymd.day()), unsigned(ymd.month()),
                int(ymd.year()));
  return text;
}

}  // namespace emu
