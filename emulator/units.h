// Money, quantities and device time: parsing and display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace emu {

// num / den rounded to the nearest integer, halves to even; den > 0.
int64_t DivRoundHalfEven(int64_t num, int64_t den);

// A decimal text with at most `decimals` fraction digits as an integer count
// of 10^-decimals units: "12.5" with 2 decimals is 1250. Accepts a comma as
// the separator, too. Empty on anything else.
std::optional<int64_t> ParseDecimal(std::string_view text, int decimals);

// An integer count of 10^-decimals units as text: 1250 with 2 is "12.50".
std::string FormatDecimal(int64_t units, int decimals);
inline std::string FormatAmount(int64_t hundredths) { return FormatDecimal(hundredths, 2); }
// Quantities in thousandths, without trailing zero decimals: 1500 is "1.5".
std::string FormatQuantity(int64_t thousandths);

// Milliseconds from 1970-01-01 to 2000-01-01, the device clock's epoch.
inline constexpr int64_t kDeviceEpochUnixMs = 946684800000;

// The host's clock as a device timestamp (UTC).
int64_t HostClockDeviceMs();

// The printer shows its count one hour ahead, all year round (a fixed
// UTC+1, no summer time), as the driver's clock read does: the paper, the
// status and the clock command all read and write times on that scale.
inline constexpr int64_t kShownAheadMs = 3'600'000;
inline constexpr int64_t kMsPerDay = 86'400'000;

// A device timestamp as the printer shows it, "dd.mm.yyyy HH:MM:SS".
std::string FormatDeviceTime(int64_t device_ms);

// Whole days since 2000-01-01 of a count (floor, also before 2000), and
// such a day as "dd.mm.yyyy".
int64_t DayOfCount(int64_t device_ms);
std::string FormatDay(int64_t day);
// The calendar day the printer shows for a device timestamp.
inline int64_t ShownDay(int64_t device_ms) { return DayOfCount(device_ms + kShownAheadMs); }

}  // namespace emu
