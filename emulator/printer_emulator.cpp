#include "printer_emulator.h"

#include <algorithm>
#include <numeric>

#include "charset.h"
#include "units.h"

namespace emu {

namespace {

enum Command : uint8_t {
  kClockRead = 2,
  kIdentifierRead = 3,
  kPriceChange = 11,
  kArticleProgramming = 12,
  kDeleteArticles = 14,
  kNonfiscal = 26,
  kPaperCut = 27,
  kPaperFeed = 28,
  kBuzzer = 34,
  kVoid = 50,
  kPayment = 51,
  kReceiptState = 56,
  kDailyReportNumber = 86,
  kDailyReport = 88,
  kInterimReport = 89,
  kPeriodicReport = 90,
  kConnectionTest = 101,
};

enum ErrorCode : uint8_t {
  kErrArticleCode = 11,
  kErrArticlePrice = 12,
  kErrMissingArticle = 18,
  kErrBaseFull = 19,
  kErrEmptyName = 20,
  kErrInvalidValue = 21,
  kErrReceiptOpen = 34,
  kErrNoReceipt = 38,
  kErrLength = 101,
  kErrUnknownCommand = 102,
};

constexpr uint8_t kBoldLine = 0xEF;
constexpr uint8_t kNormalLine = 0xFF;
constexpr size_t kMaxArticles = 10000;
constexpr size_t kMaxItems = 1000;
constexpr int64_t kMaxPrice = 100'000'000'000;
constexpr int64_t kMaxQuantity = 10'000'000;
constexpr size_t kRecordLimit = 20000;
constexpr size_t kPaperLimit = 1 << 20;
constexpr size_t kWidth = 40;

// The serial number the identifier reply carries in front of the identifier.
constexpr uint8_t kSerialNumber[8] = {'E', 'M', 'U', '0', '0', '0', '0', '1'};

void PutLE(Bytes& out, int64_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(uint8_t(uint64_t(value) >> (8 * i)));
}

int64_t GetLE(const Bytes& in, size_t pos, int size) {
  uint64_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | in[pos + size_t(i)];
  if (size < 8 && (v >> (8 * size - 1)) != 0) v |= ~uint64_t(0) << (8 * size);  // sign
  return int64_t(v);
}

bool Take(int& remaining) {
  if (remaining == 0) return false;
  if (remaining > 0) --remaining;
  return true;
}

std::string Pad(const std::string& left, const std::string& right) {
  const size_t used = Utf8Length(left) + Utf8Length(right);
  return left + std::string(used < kWidth ? kWidth - used : 1, ' ') + right + "\n";
}

std::string Center(const std::string& text) {
  const size_t len = Utf8Length(text);
  return std::string(len < kWidth ? (kWidth - len) / 2 : 0, ' ') + text + "\n";
}

std::string Rule(char c) { return std::string(kWidth, c) + "\n"; }

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

PrinterEmulator::Outcome PrinterEmulator::Pay(const Bytes& data) {
  Outcome o;
  const int64_t amount = GetLE(data, 0, 8);
  const uint8_t type = data[8];
  if (!receipt_) {
    o.error = kErrNoReceipt;
  } else if (type > kCheque || amount < 0 || amount > kMaxPrice * 1000) {
    o.error = kErrInvalidValue;
  } else {
    const int64_t total = Subtotal() - receipt_->discount;
    const auto& paid = receipt_->paid;
    const int64_t remaining = total - std::accumulate(paid.begin(), paid.end(), int64_t(0));
    // A zero amount pays whatever is left: the automatic close.
    receipt_->paid[type] += amount == 0 ? std::max<int64_t>(remaining, 0) : amount;
    if (std::accumulate(paid.begin(), paid.end(), int64_t(0)) >= total) CloseReceipt();
  }
  return o;
}

PrinterEmulator::Outcome PrinterEmulator::ProgramArticles(const Frame& frame) {
  Outcome o;
  // The host's long start byte says which record layout it used: 0x01 adds
  // eight 0xFF bytes after the code and a 0x00 byte after the name.
  const bool padded = frame.start == kLongStartHost;
  const size_t fixed = padded ? 18 : 9;
  const Bytes& d = frame.data;
  std::vector<Article> parsed;
  for (size_t pos = 0; pos < d.size();) {
    const size_t len = d[pos];
    if (pos + 1 + len > d.size() || len < fixed) {
      o.error = kErrLength;
      return o;
    }
    const size_t rec = pos + 1;
    const size_t name_at = rec + (padded ? 12 : 4);
    const size_t name_end = rec + len - (padded ? 6 : 5);
    if (padded && (std::any_of(d.begin() + long(rec + 4), d.begin() + long(rec + 12),
                               [](uint8_t b) { return b != 0xFF; }) ||
                   d[name_end] != 0x00)) {
      o.error = kErrInvalidValue;
      return o;
    }
    Article a;
    a.code = int32_t(GetLE(d, rec, 4));
    a.name_bytes.assign(d.begin() + long(name_at), d.begin() + long(name_end));
    a.name = DecodeText(a.name_bytes);
    const uint8_t unit_tax = d[rec + len - 5];
    a.unit = unit_tax >> 4;
    a.tax = unit_tax & 0x0F;
    a.price = int32_t(GetLE(d, rec + len - 4, 4));
    if (a.code < 0) o.error = kErrArticleCode;
    else if (a.name_bytes.empty()) o.error = kErrEmptyName;
    else if (a.price < 0) o.error = kErrArticlePrice;
    if (o.error != 0) return o;
    parsed.push_back(std::move(a));
    pos = rec + len;
  }
  // All or nothing, like the rest of the batch checks above.
  size_t added = 0;
  for (const Article& a : parsed) added += articles_.count(a.code) == 0;
  if (articles_.size() + added > kMaxArticles) {
    o.error = kErrBaseFull;
    return o;
  }
  for (Article& a : parsed) articles_[a.code] = std::move(a);
  return o;
}

PrinterEmulator::Outcome PrinterEmulator::ChangePrice(const Bytes& data) {
  Outcome o;
  const auto code = int32_t(GetLE(data, 0, 4));
  const auto price = int32_t(GetLE(data, 4, 4));
  auto it = articles_.find(code);
  if (it == articles_.end())
    o.error = kErrMissingArticle;
  else if (price < 0)
    o.error = kErrArticlePrice;
  else
    it->second.price = price;
  return o;
}

PrinterEmulator::Outcome PrinterEmulator::NonfiscalPacket(const Bytes& data) {
  Outcome o;
  if (data.empty()) {
    o.error = kErrLength;
    return o;
  }
  // Lines carry no terminator: each begins with its attribute byte. Text
  // never holds 0xEF or 0xFF unless the host sent a character outside the
  // printer's set (ï, ÿ or one whose low byte is EF/FF); such a byte starts
  // a new line here, as it would on the printer.
  for (size_t i = 1; i < data.size(); ++i) {
    const uint8_t b = data[i];
    if (b == kBoldLine || b == kNormalLine) {
      nonfiscal_.push_back({b == kBoldLine, {}});
    } else {
      if (nonfiscal_.empty()) nonfiscal_.push_back({false, {}});  // no attribute: plain
      nonfiscal_.back().text.push_back(b);
    }
  }
  if (data[0] != 0) {
    std::string text = Center("NON-FISCAL RECEIPT");
    for (const NonfiscalLine& line : nonfiscal_)
      text += std::string(line.bold ? "B|" : " |") + DecodeText(line.text) + "|\n";
    text += Center("END OF NON-FISCAL RECEIPT");
    Print(text);
    nonfiscal_.clear();
  }
  return o;
}

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

// ---- Receipts --------------------------------------------------------------

int64_t PrinterEmulator::ItemAmount(const SaleItem& item) {
  return DivRoundHalfEven(item.price * item.quantity, 1000);
}

int64_t PrinterEmulator::Subtotal() const {
  int64_t sum = 0;
  if (receipt_)
    for (const SaleItem& item : receipt_->items) sum += ItemAmount(item);
  return sum;
}

ReceiptView PrinterEmulator::Receipt() const {
  ReceiptView v;
  if (!receipt_) return v;
  v.open = true;
  v.items = receipt_->items;
  v.subtotal = Subtotal();
  v.discount = receipt_->discount;
  v.total = v.subtotal - v.discount;
  v.paid = receipt_->paid;
  return v;
}

bool PrinterEmulator::Sell(const std::vector<SaleItem>& items) {
  if (items.empty()) return false;
  const size_t already = receipt_ ? receipt_->items.size() : 0;
  if (already + items.size() > kMaxItems) return false;
  for (const SaleItem& item : items)
    if (item.price < 0 || item.price > kMaxPrice || item.quantity < 1 ||
        item.quantity > kMaxQuantity)
      return false;
  // Assigned, not emplaced: clang 14 does not yet see the nested type as
  // default-constructible here.
  if (!receipt_) receipt_ = OpenReceipt{};
  receipt_->items.insert(receipt_->items.end(), items.begin(), items.end());
  return true;
}

bool PrinterEmulator::SellArticle(int32_t code, int64_t quantity) {
  auto it = articles_.find(code);
  if (it == articles_.end()) return false;
  return Sell({{it->second.name, it->second.price, quantity}});
}

bool PrinterEmulator::SetDiscount(int64_t hundredths) {
  if (!receipt_ || hundredths < 0 || hundredths > Subtotal()) return false;
  receipt_->discount = hundredths;
  return true;
}

bool PrinterEmulator::VoidReceipt() {
  if (!receipt_) return false;
  const int64_t total = Subtotal() - receipt_->discount;
  Print(Rule('=') + Center("RECEIPT VOIDED") +
        Pad(std::to_string(receipt_->items.size()) + " ITEMS", FormatAmount(total)) + Rule('='));
  ++daily_.voided;
  receipt_.reset();
  return true;
}

void PrinterEmulator::CloseReceipt() {
  const OpenReceipt r = *receipt_;
  const int64_t subtotal = Subtotal();
  const int64_t total = subtotal - r.discount;
  const int64_t paid = std::accumulate(r.paid.begin(), r.paid.end(), int64_t(0));
  ++receipt_number_;
  ++daily_.receipts;
  daily_.sales += total;
  for (size_t t = 0; t < r.paid.size(); ++t) daily_.paid[t] += r.paid[t];
  daily_.change += paid - total;
  receipt_.reset();
  PrintReceipt(r, subtotal, total, paid - total);
}

void PrinterEmulator::PrintReceipt(const OpenReceipt& r, int64_t subtotal, int64_t total,
                                   int64_t change) {
  static const char* const kPaymentNames[] = {"CASH", "CARD", "CHEQUE"};
  std::string text = Rule('=') + Center("FISCAL RECEIPT");
  for (const SaleItem& item : r.items) {
    text += item.name + "\n";
    text += Pad("   " + FormatQuantity(item.quantity) + " x " + FormatAmount(item.price),
                FormatAmount(ItemAmount(item)));
  }
  text += Rule('-') + Pad("SUBTOTAL", FormatAmount(subtotal));
  if (r.discount != 0) text += Pad("DISCOUNT", FormatAmount(-r.discount));
  text += Pad("TOTAL", FormatAmount(total));
  for (size_t t = 0; t < r.paid.size(); ++t)
    if (r.paid[t] != 0) text += Pad(kPaymentNames[t], FormatAmount(r.paid[t]));
  if (change != 0) text += Pad("CHANGE", FormatAmount(change));
  text += Pad("RECEIPT No.", std::to_string(receipt_number_));
  text += Pad(FormatDeviceTime(ClockMs()), "FM " + Identifier()) + Rule('=');
  Print(text);
}

void PrinterEmulator::PrintTotals(const DailyTotals& t) {
  Print(Rule('-') + Pad("RECEIPTS", std::to_string(t.receipts)) +
        Pad("VOIDED", std::to_string(t.voided)) + Pad("SALES", FormatAmount(t.sales)) +
        Pad("CASH", FormatAmount(t.paid[kCash])) + Pad("CARD", FormatAmount(t.paid[kCard])) +
        Pad("CHEQUE", FormatAmount(t.paid[kCheque])) + Pad("CHANGE", FormatAmount(t.change)) +
        "FM " + Identifier() + "\n" + Rule('='));
}

// ---- State -----------------------------------------------------------------

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

// ---- Faults ----------------------------------------------------------------

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
