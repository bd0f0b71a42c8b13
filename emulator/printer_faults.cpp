// Faults switched on for tests and demonstrations.
#include "printer_emulator.h"

namespace emu {

void PrinterEmulator::InjectSilence(int requests) { silence_ = requests; }
void PrinterEmulator::InjectNack(int requests) { nack_ = requests; }
void PrinterEmulator::InjectAckThenSilence(int requests) { ack_silence_ = requests; }

void PrinterEmulator::InjectError(uint8_t code, int requests) {
  error_code_ = code;
  error_count_ = requests;
}

void PrinterEmulator::InjectWaitCodes(std::vector<Bytes> codes, Millis interval, int requests) {
  wait_codes_ = std::move(codes);
  wait_interval_ = interval;
  wait_count_ = requests;
}

void PrinterEmulator::SetChunking(size_t bytes, Millis gap) {
  chunk_bytes_ = bytes;
  chunk_gap_ = gap;
}

void PrinterEmulator::ClearFaults() {
  silence_ = nack_ = error_count_ = ack_silence_ = wait_count_ = 0;
  wait_codes_.clear();
  wait_joined_ = false;
  reply_delay_ = Millis(0);
  chunk_bytes_ = 0;
  chunk_gap_ = Millis(0);
}

std::string PrinterEmulator::FaultsText() const {
  auto count = [](int n) { return n == kAlways ? std::string("always") : std::to_string(n); };
  std::string text;
  auto add = [&](const std::string& item) { text += (text.empty() ? "" : ", ") + item; };
  if (silence_ != 0) add("silence " + count(silence_));
  if (nack_ != 0) add("nack " + count(nack_));
  if (error_count_ != 0) add("error " + std::to_string(error_code_) + " " + count(error_count_));
  if (ack_silence_ != 0) add("ack-then-silence " + count(ack_silence_));
  if (wait_count_ != 0 && !wait_codes_.empty())
    add(std::to_string(wait_codes_.size()) + " wait codes every " +
        std::to_string(wait_interval_.count()) + " ms " + count(wait_count_));
  if (reply_delay_.count() > 0) add("reply delay " + std::to_string(reply_delay_.count()) + " ms");
  if (chunk_bytes_ != 0)
    add("chunks of " + std::to_string(chunk_bytes_) + " every " +
        std::to_string(chunk_gap_.count()) + " ms");
  if (baud_ != 0) add("paced at " + std::to_string(baud_) + " baud");
  return text.empty() ? "none" : text;
}

}  // namespace emu
