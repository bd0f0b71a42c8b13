// The line: request bytes in, the printer's answers out, each command
// handed to its family (printer_*.cpp), and the paper.
#include "printer_emulator.h"

#include <algorithm>

#include "printer_codes.h"
#include "units.h"

namespace emu {

using namespace printer;

namespace {

constexpr size_t kRecordLimit = 20000;
constexpr size_t kPaperLimit = 1 << 20;

// The serial number the identifier reply carries in front of the identifier.
constexpr uint8_t kSerialNumber[8] = {'E', 'M', 'U', '0', '0', '0', '0', '1'};

bool Take(int& remaining) {
  if (remaining == 0) return false;
  if (remaining > 0) --remaining;
  return true;
}

}  // namespace

Bytes Flatten(const std::vector<Segment>& segments) {
  Bytes out;
  for (const Segment& s : segments) out.insert(out.end(), s.bytes.begin(), s.bytes.end());
  return out;
}

const char* AnswerName(Answer answer) {
  switch (answer) {
    case Answer::kReply: return "reply";
    case Answer::kAck: return "ack";
    case Answer::kError: return "error";
    case Answer::kNack: return "nack";
    case Answer::kSilence: return "silence";
    case Answer::kAckThenSilence: return "ack-then-silence";
  }
  return "?";
}

PrinterEmulator::PrinterEmulator() {
  SetClock(HostClockDeviceMs());
  SetIdentifier("ZU123456");
}

// ---- The line --------------------------------------------------------------

std::vector<Segment> PrinterEmulator::Feed(const uint8_t* bytes, size_t count) {
  std::vector<Segment> out;
  for (size_t i = 0; i < count; ++i)
    if (auto frame = parser_.Push(bytes[i])) Handle(*frame, out);
  return out;
}

void PrinterEmulator::Handle(const Frame& frame, std::vector<Segment>& out) {
  ReceivedRequest rec;
  static_cast<Frame&>(rec) = frame;
  rec.at = std::chrono::steady_clock::now();

  Bytes reply;
  bool with_waits = false;
  if (Take(silence_)) {
    rec.answer = Answer::kSilence;
  } else if (!frame.checksum_ok || frame.length == 0 || Take(nack_)) {
    rec.answer = Answer::kNack;
  } else if (Take(error_count_)) {
    rec.answer = Answer::kError;
    rec.error_code = error_code_;
  } else {
    const bool ack_then_silence = Take(ack_silence_);
    Outcome outcome = Execute(frame);
    if (outcome.error == 0) ++executed_[frame.command];
    if (ack_then_silence) {
      rec.answer = Answer::kAckThenSilence;
    } else if (outcome.error != 0) {
      rec.answer = Answer::kError;
      rec.error_code = outcome.error;
    } else if (outcome.ack_only) {
      rec.answer = Answer::kAck;
    } else {
      rec.answer = Answer::kReply;
      reply = frame.long_form ? LongFrame(kLongStartPrinter, frame.command, outcome.data)
                              : ShortFrame(frame.command, outcome.data);
    }
  }
  if (rec.answer == Answer::kError) reply = ErrorFrame(rec.error_code);
  if (rec.answer == Answer::kReply || rec.answer == Answer::kError) with_waits = Take(wait_count_);
  Respond(rec.answer, reply, with_waits, out);

  if (requests_.size() >= kRecordLimit)
    requests_.erase(requests_.begin(), requests_.begin() + kRecordLimit / 10);
  requests_.push_back(std::move(rec));
  ++request_total_;
}

void PrinterEmulator::Respond(Answer answer, const Bytes& frame, bool with_waits,
                              std::vector<Segment>& out) const {
  switch (answer) {
    case Answer::kSilence:
      return;
    case Answer::kNack:
      out.push_back({Millis(0), {kNack}, false});
      return;
    case Answer::kAck:
    case Answer::kAckThenSilence:
      out.push_back({Millis(0), {kAck}, false});
      return;
    case Answer::kReply:
    case Answer::kError:
      break;
  }
  const bool waits = with_waits && !wait_codes_.empty();
  if (waits && wait_joined_) {
    Bytes all{kAck};
    for (const Bytes& code : wait_codes_) all.insert(all.end(), code.begin(), code.end());
    all.insert(all.end(), frame.begin(), frame.end());
    out.push_back({reply_delay_, std::move(all), false});
    return;
  }
  if (!waits && reply_delay_.count() <= 0) {
    // ACK and reply together, as a printer that has the answer at once.
    Bytes all{kAck};
    all.insert(all.end(), frame.begin(), frame.end());
    AppendChunked(out, std::move(all), Millis(0));
    return;
  }
  // The host recognises a wait code only while the ACK is all it holds and
  // the code arrives on its own, so each goes out separately.
  out.push_back({Millis(0), {kAck}, false});
  if (waits)
    for (const Bytes& code : wait_codes_) out.push_back({wait_interval_, code, true});
  AppendChunked(out, frame, std::max(reply_delay_, waits ? wait_interval_ : Millis(0)));
}

void PrinterEmulator::AppendChunked(std::vector<Segment>& out, Bytes bytes,
                                    Millis first_delay) const {
  if (chunk_bytes_ == 0 || bytes.size() <= chunk_bytes_) {
    out.push_back({first_delay, std::move(bytes), false});
    return;
  }
  for (size_t pos = 0; pos < bytes.size(); pos += chunk_bytes_) {
    const size_t end = std::min(bytes.size(), pos + chunk_bytes_);
    out.push_back({pos == 0 ? first_delay : chunk_gap_,
                   Bytes(bytes.begin() + long(pos), bytes.begin() + long(end)), false});
  }
}

void PrinterEmulator::ClearRecord() {
  requests_.clear();
  request_total_ = 0;
  executed_.clear();
  parser_.ResetCounters();
}

// ---- Commands --------------------------------------------------------------

PrinterEmulator::Outcome PrinterEmulator::Execute(const Frame& frame) {
  const Bytes& data = frame.data;
  auto needs = [&](size_t size) { return data.size() == size; };
  auto error = [](uint8_t code) {
    Outcome o;
    o.error = code;
    return o;
  };
  if (data.size() > kMaxRequestData) return error(kErrLength);

  Outcome ok;
  switch (frame.command) {
    case kConnectionTest:
      ok.ack_only = true;
      return ok;
    case kClockRead:
      if (!needs(0)) return error(kErrLength);
      PutLE(ok.data, ClockMs(), 8);
      return ok;
    case kIdentifierRead:
      if (!needs(0)) return error(kErrLength);
      ok.data.assign(std::begin(kSerialNumber), std::end(kSerialNumber));
      ok.data.insert(ok.data.end(), identifier_.begin(), identifier_.end());
      return ok;
    case kReceiptState:
      if (!needs(0)) return error(kErrLength);
      return ReadReceiptState();
    case kDailyReportNumber:
      if (!needs(0)) return error(kErrLength);
      PutLE(ok.data, daily_report_number_, 4);
      return ok;
    case kPayment:
      if (!needs(9)) return error(kErrLength);
      return Pay(data);
    case kVoid:
      if (!needs(8)) return error(kErrLength);
      if (!VoidReceipt()) return error(kErrNoReceipt);
      return ok;
    case kArticleProgramming:
      return ProgramArticles(frame);
    case kPriceChange:
      if (!needs(8)) return error(kErrLength);
      return ChangePrice(data);
    case kDeleteArticles:
      if (!needs(0)) return error(kErrLength);
      articles_.clear();
      return ok;
    case kNonfiscal:
      return NonfiscalPacket(data);
    case kInterimReport:
      if (!needs(0)) return error(kErrLength);
      InterimReport();
      return ok;
    case kDailyReport:
      if (!needs(0)) return error(kErrLength);
      return DailyReport();
    case kPeriodicReport:
      if (!needs(16)) return error(kErrLength);
      return PeriodicReport(data);
    case kPaperFeed:
      if (!needs(0)) return error(kErrLength);
      ++feeds_;
      Print("\n");
      return ok;
    case kPaperCut:
      if (!needs(0)) return error(kErrLength);
      ++cuts_;
      Print("- - - - - - - - - - 8< - - - - - - - - -\n");
      return ok;
    case kBuzzer:
      if (!needs(0)) return error(kErrLength);
      ++beeps_;
      Print("[buzzer]\n");
      return ok;
    default:
      return error(kErrUnknownCommand);
  }
}

void PrinterEmulator::Print(const std::string& text) {
  if (paper_.size() + text.size() > kPaperLimit) paper_.erase(0, paper_.size() / 2);
  paper_ += text;
  if (paper_sink_) paper_sink_(text);
}

std::string PrinterEmulator::TakePaper() {
  std::string out;
  out.swap(paper_);
  return out;
}

}  // namespace emu
