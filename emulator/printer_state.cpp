// Device state and its reads: clock, identifier, receipt state, status.
#include "printer_emulator.h"

#include "printer_codes.h"
#include "units.h"

namespace emu {

using namespace printer;

PrinterEmulator::Outcome PrinterEmulator::ReadReceiptState() const {
  Outcome o;
  const ReceiptView r = Receipt();
  PutLE(o.data, r.subtotal, 8);
  PutLE(o.data, r.total, 8);
  PutLE(o.data, r.open ? int64_t(r.items.size()) : -1, 4);
  for (int64_t paid : r.paid) PutLE(o.data, paid, 8);
  PutLE(o.data, receipt_number_, 4);
  return o;
}

int64_t PrinterEmulator::ClockMs() const {
  if (!clock_running_) return clock_base_ms_;
  const auto elapsed = std::chrono::steady_clock::now() - clock_base_at_;
  return clock_base_ms_ + std::chrono::duration_cast<Millis>(elapsed).count();
}

void PrinterEmulator::SetClock(int64_t device_ms, bool running) {
  clock_base_ms_ = device_ms;
  clock_base_at_ = std::chrono::steady_clock::now();
  clock_running_ = running;
}

bool PrinterEmulator::SetIdentifier(std::string_view utf8) {
  const Bytes bytes = EncodeText(utf8);
  if (bytes.size() != identifier_.size()) return false;
  std::copy(bytes.begin(), bytes.end(), identifier_.begin());
  return true;
}

std::string PrinterEmulator::Identifier() const {
  return DecodeText(identifier_.data(), identifier_.size());
}

std::string PrinterEmulator::StatusText() const {
  const ReceiptView r = Receipt();
  std::string text;
  text += "clock " + FormatDeviceTime(ClockMs()) + " (" + std::to_string(ClockMs()) + " ms" +
          (clock_running_ ? "" : ", stopped") + ")\n";
  text += "identifier " + Identifier() + "\n";
  text += "receipt number " + std::to_string(receipt_number_) + ", daily report number " +
          std::to_string(daily_report_number_) + "\n";
  if (r.open) {
    text += "receipt open: " + std::to_string(r.items.size()) + " items, subtotal " +
            FormatAmount(r.subtotal) + ", total " + FormatAmount(r.total) + ", paid cash " +
            FormatAmount(r.paid[kCash]) + " card " + FormatAmount(r.paid[kCard]) + " cheque " +
            FormatAmount(r.paid[kCheque]) + "\n";
  } else {
    text += "no receipt open\n";
  }
  text += "articles " + std::to_string(articles_.size()) + ", requests " +
          std::to_string(request_total_) + "\n";
  text += "faults: " + FaultsText() + "\n";
  return text;
}

}  // namespace emu
