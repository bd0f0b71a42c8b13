// Calendar dates of the driver's date-time values (days since 1899-12-30,
// the time of day as the fraction), on the standard civil calendar.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace zuv {

// Day 0 of a date-time.
inline constexpr std::chrono::sys_days DateTimeEpoch{std::chrono::year{1899} / 12 / 30};

// 1970-01-01, the system clock's epoch, as a date-time: 25569.
inline constexpr int64_t UnixEpochDays = (std::chrono::sys_days{} - DateTimeEpoch).count();

// The day count of a calendar date; nothing for a date that does not exist
// (31 April, 29 February of a common year, month 13).
constexpr std::optional<int64_t> DateToDays(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year{year},
                                         std::chrono::month{static_cast<unsigned>(month)},
                                         std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return std::nullopt;
  return (std::chrono::sys_days{date} - DateTimeEpoch).count();
}

// The calendar date of a day count.
constexpr std::chrono::year_month_day DaysToDate(int64_t days) {
  return std::chrono::year_month_day{DateTimeEpoch + std::chrono::days{days}};
}

}  // namespace zuv
