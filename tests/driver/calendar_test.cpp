// Date-time day counts and calendar dates.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "driver/calendar.h"
#include "driver/comportzuv.h"

using namespace zuv;
using namespace std::chrono;

TEST(CalendarTest, DayCountsOfKnownDates) {
  EXPECT_EQ(DateToDays(1899, 12, 30), 0);
  EXPECT_EQ(DateToDays(1899, 12, 29), -1);
  EXPECT_EQ(DateToDays(1900, 3, 1), 61);  // 1900 was no leap year
  EXPECT_EQ(DateToDays(1970, 1, 1), UnixEpochDays);
  EXPECT_EQ(UnixEpochDays, 25569);
  EXPECT_EQ(DateToDays(2000, 2, 29), 36585);  // 2000 was one
  EXPECT_EQ(DateToDays(2026, 12, 9), 46365);
  EXPECT_EQ(DateToDays(1, 1, 1), -693593);
  EXPECT_EQ(DateToDays(9999, 12, 31), 2958465);
}

TEST(CalendarTest, DatesThatDoNotExistHaveNoDayCount) {
  EXPECT_EQ(DateToDays(2025, 2, 29), std::nullopt);
  EXPECT_EQ(DateToDays(2100, 2, 29), std::nullopt);
  EXPECT_EQ(DateToDays(2024, 4, 31), std::nullopt);
  EXPECT_EQ(DateToDays(2024, 13, 1), std::nullopt);
  EXPECT_EQ(DateToDays(2024, 0, 1), std::nullopt);
  EXPECT_EQ(DateToDays(2024, 1, 0), std::nullopt);
  EXPECT_EQ(DateToDays(2024, 1, 32), std::nullopt);
  EXPECT_EQ(DateToDays(2024, -1, 1), std::nullopt);
  EXPECT_EQ(DateToDays(2024, 2, 29), 45351);
}

TEST(CalendarTest, DatesOfDayCountsAndBack) {
  EXPECT_EQ(DaysToDate(0), year{1899} / 12 / 30);
  EXPECT_EQ(DaysToDate(-1), year{1899} / 12 / 29);
  EXPECT_EQ(DaysToDate(36585), year{2000} / 2 / 29);
  EXPECT_EQ(DaysToDate(36586), year{2000} / 3 / 1);
  for (int64_t days = -800000; days <= 3000000; days += 997) {
    const year_month_day date = DaysToDate(days);
    ASSERT_TRUE(date.ok()) << days;
    EXPECT_EQ(DateToDays(int{date.year()}, int(unsigned{date.month()}), int(unsigned{date.day()})),
              days);
  }
}

namespace {

void SetZone(const char* zone) {
#ifdef _WIN32
  _putenv_s("TZ", zone ? zone : "");
  _tzset();
#else
  if (zone) ::setenv("TZ", zone, 1);
  else ::unsetenv("TZ");
  ::tzset();
#endif
}

}  // namespace

// The driver's "now" is the local wall clock: UTC moved by the zone's offset.
TEST(CalendarTest, NowIsTheLocalWallClock) {
  const char* before = std::getenv("TZ");
  const std::string saved = before ? before : "";
  const struct {
    const char* zone;
    double hoursAhead;
  } zones[] = {{"UTC0", 0}, {"XXX-02", 2}, {"XXX+05:30", -5.5}};
  for (const auto& z : zones) {
    SetZone(z.zone);
    const double utc =
        UnixEpochDays + duration<double>(system_clock::now().time_since_epoch()).count() / 86400;
    const double local = NowDateTime();
    EXPECT_NEAR((local - utc) * 24 * 3600, z.hoursAhead * 3600, 10) << z.zone;  // seconds; sanity bound
  }
  SetZone(before ? saved.c_str() : nullptr);
}
