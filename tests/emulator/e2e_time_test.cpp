// Device time end to end: the driver's clock read and what the emulator
// prints agree, and the periodic report spans whole calendar days.
#include <string>

#include "e2e_fixture.h"
#include "emulator/control.h"
#include "emulator/units.h"

namespace e2e {
namespace {

using zuv::TFiscal;

constexpr int64_t kHourMs = 3'600'000;
// 09.12.2026 as a day of the device's epoch and as an application date-time.
constexpr int64_t kDay = 9839;
constexpr double kDate = 46365.0;

// The value on the paper's line that starts with `label`.
std::string Field(const std::string& paper, const std::string& label) {
  const size_t at = paper.find("\n" + label + " ");
  if (at == std::string::npos) return "<no " + label + ">";
  const size_t value = paper.find_first_not_of(' ', at + 1 + label.size());
  return paper.substr(value, paper.find('\n', value) - value);
}

class DeviceTime : public EndToEnd {
 protected:
  void StopClockAt(int64_t device_ms) {
    Emu([&](emu::PrinterEmulator& e) { e.SetClock(device_ms, false); });
  }
  void ZReportAt(int64_t device_ms) {
    StopClockAt(device_ms);
    ASSERT_TRUE(TFiscal::DnevniIzvestaj());
  }
};

TEST_F(DeviceTime, ThePaperShowsWhatTheClockReadShows) {
  // 23:30 on the count is 00:30 the next day on the printer's scale: the
  // hour and the date both move.
  StopClockAt(kDay * emu::kMsPerDay + 23 * kHourMs + 30 * 60'000);
  const std::string shown = TFiscal::CitajVreme();
  EXPECT_EQ(shown, "10.12.2026 00:30:00");
  ASSERT_TRUE(TFiscal::PresekStanja());
  const std::string paper = Paper();
  EXPECT_NE(paper.find(shown), std::string::npos) << paper;

  const std::string status = Emu([](emu::PrinterEmulator& e) { return e.StatusText(); });
  EXPECT_NE(status.find("clock " + shown), std::string::npos) << status;

  // A time set by the control command is the time the driver reads back.
  Emu([](emu::PrinterEmulator& e) {
    EXPECT_TRUE(emu::RunControl(e, "clock 09.12.2026 12:00:00 stopped").ok);
  });
  EXPECT_EQ(TFiscal::CitajVreme(), "09.12.2026 12:00:00");
}

TEST_F(DeviceTime, PeriodicReportCountsWholeDays) {
  // On the printer's scale: the evening before, just after midnight, at
  // noon, and late in the evening of the day asked for.
  ZReportAt(*emu::ParseDeviceTime("08.12.2026 23:30:00"));
  ZReportAt(*emu::ParseDeviceTime("09.12.2026 00:30:00"));
  ZReportAt(*emu::ParseDeviceTime("09.12.2026 12:00:00"));
  ZReportAt(*emu::ParseDeviceTime("09.12.2026 23:59:59"));
  ZReportAt(*emu::ParseDeviceTime("10.12.2026 00:00:00"));
  Paper();

  // Sent at 09:00, so both dates carry 09:00, hours before the noon report.
  zuv::SetDateTimeClock([] { return kDate + 9.0 / 24; });
  ASSERT_TRUE(TFiscal::PeriodicniIzvestaj(kDate, kDate));
  std::string paper = Paper();
  EXPECT_EQ(Field(paper, "Z REPORTS"), "3") << paper;
  EXPECT_EQ(Field(paper, "FROM"), "09.12.2026") << paper;
  EXPECT_EQ(Field(paper, "TO"), "09.12.2026") << paper;
  EXPECT_NE(paper.find("Z 3  09.12.2026 12:00:00"), std::string::npos) << paper;
  EXPECT_EQ(paper.find("Z 1 "), std::string::npos) << paper;
  EXPECT_EQ(paper.find("Z 5 "), std::string::npos) << paper;

  // Late in the evening the dates still name the same days.
  zuv::SetDateTimeClock([] { return kDate + 23.75 / 24; });
  ASSERT_TRUE(TFiscal::PeriodicniIzvestaj(kDate - 1, kDate));
  paper = Paper();
  EXPECT_EQ(Field(paper, "Z REPORTS"), "4") << paper;
}

}  // namespace
}  // namespace e2e
