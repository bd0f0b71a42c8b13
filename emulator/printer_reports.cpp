// The reports: X, Z and periodic, and the day's totals they print.
#include "printer_emulator.h"

#include "printer_codes.h"
#include "units.h"

namespace emu {

using namespace printer;

void PrinterEmulator::InterimReport() {
  std::string text = Rule('=') + Center("X REPORT") + Center(FormatDeviceTime(ClockMs()));
  Print(text);
  PrintTotals(daily_);
}

PrinterEmulator::Outcome PrinterEmulator::DailyReport() {
  Outcome o;
  if (receipt_) {
    o.error = kErrReceiptOpen;
    return o;
  }
  ++daily_report_number_;
  const ZReport z{daily_report_number_, ClockMs(), daily_};
  z_reports_.push_back(z);
  daily_ = DailyTotals{};
  Print(Rule('=') + Center("Z REPORT No. " + std::to_string(z.number)) +
        Center(FormatDeviceTime(z.time)));
  PrintTotals(z.totals);
  return o;
}

PrinterEmulator::Outcome PrinterEmulator::PeriodicReport(const Bytes& data) {
  // Whole calendar days: the host sends each date with its own time of day,
  // which says nothing about the span. The dates are taken as sent; the Z
  // reports by the day the printer showed when it printed them.
  const int64_t from = DayOfCount(GetLE(data, 0, 8));
  const int64_t to = DayOfCount(GetLE(data, 8, 8));
  std::string text = Rule('=') + Center("PERIODIC REPORT") + Pad("FROM", FormatDay(from)) +
                     Pad("TO", FormatDay(to)) + Rule('-');
  int count = 0;
  int64_t sales = 0;
  for (const ZReport& z : z_reports_) {
    const int64_t day = ShownDay(z.time);
    if (day < from || day > to) continue;
    ++count;
    sales += z.totals.sales;
    text += Pad("Z " + std::to_string(z.number) + "  " + FormatDeviceTime(z.time),
                FormatAmount(z.totals.sales));
  }
  text += Rule('-') + Pad("Z REPORTS", std::to_string(count)) + Pad("SALES", FormatAmount(sales)) +
          Rule('=');
  Print(text);
  return Outcome{};
}

void PrinterEmulator::PrintTotals(const DailyTotals& t) {
  Print(Rule('-') + Pad("RECEIPTS", std::to_string(t.receipts)) +
        Pad("VOIDED", std::to_string(t.voided)) + Pad("SALES", FormatAmount(t.sales)) +
        Pad("CASH", FormatAmount(t.paid[kCash])) + Pad("CARD", FormatAmount(t.paid[kCard])) +
        Pad("CHEQUE", FormatAmount(t.paid[kCheque])) + Pad("CHANGE", FormatAmount(t.change)) +
        "FM " + Identifier() + "\n" + Rule('='));
}

}  // namespace emu
