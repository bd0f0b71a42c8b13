// The printer's side of the link as a state machine: request bytes in, in
// any chunking, reply bytes out, with the state of a fiscal printer behind
// it and faults that tests and demos can switch on.
//
// Every good request is answered by ACK and a reply frame in the form of
// the request (short, or long with start byte 03), the connection test (101)
// by ACK alone; a bad checksum by NACK; a refused command by ACK and the
// error reply 02 02 7F code. Reply data, little-endian:
//   2   8 bytes: device clock, ms since 2000-01-01 00:00:00
//   3   16 bytes: serial number "EMU00001", then the fiscal memory identifier
//   56  48 bytes: subtotal (8), total (8), item count (4; -1 when no receipt
//       is open), paid cash, card, cheque (8 each), receipt number (4)
//   86  4 bytes: daily report number
//   others: none
// Errors: 101 wrong data length, 102 unknown command, 34 Z report with a
// receipt open, 38 payment or void without one, 21 bad payment type or
// amount or article padding, 11/12/18/19/20 article code, price, missing
// article, full base, empty name.
//
// Not thread-safe; PtyServer serialises access.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame.h"

namespace emu {

using Millis = std::chrono::milliseconds;
using SteadyTime = std::chrono::steady_clock::time_point;

// One piece of the printer's output, to leave `delay` after the previous
// piece has left. An `atomic` piece (a wait code, notably 07 xx) must reach
// the host in one read, so a paced line sends it in one write once its wire
// time is over instead of byte by byte.
struct Segment {
  Millis delay{0};
  Bytes bytes;
  bool atomic = false;
};

// All the bytes of the segments, in order.
Bytes Flatten(const std::vector<Segment>& segments);

// How the printer answered a request.
enum class Answer {
  kReply,           // ACK and a reply frame
  kAck,             // ACK alone (the connection test)
  kError,           // ACK and an error reply
  kNack,            // NACK: bad checksum, malformed, or injected
  kSilence,         // nothing (injected)
  kAckThenSilence,  // ACK, command carried out, reply withheld (injected)
};
const char* AnswerName(Answer answer);

// A request as the printer received it, and what it answered.
struct ReceivedRequest : Frame {
  Answer answer = Answer::kReply;
  uint8_t error_code = 0;  // for kError
  SteadyTime at{};
};

// A receipt line sold through the emulator (the host has no sale command).
struct SaleItem {
  std::string name;       // UTF-8
  int64_t price = 0;      // hundredths
  int64_t quantity = 1000;  // thousandths
};

// An entry of the article base, as programmed by the host.
struct Article {
  int32_t code = 0;
  Bytes name_bytes;  // printer character set
  std::string name;  // decoded
  uint8_t unit = 0;  // high four bits of the unit-and-tax byte
  uint8_t tax = 0;   // low four bits
  int32_t price = 0;  // hundredths
};

// Payment types; the receipt state lists card before cheque.
enum PaymentType : uint8_t { kCash = 0, kCard = 1, kCheque = 2 };

struct ReceiptView {
  bool open = false;
  std::vector<SaleItem> items;
  int64_t subtotal = 0;  // sum of the item amounts
  int64_t discount = 0;
  int64_t total = 0;     // subtotal less discount
  std::array<int64_t, 3> paid{};  // by PaymentType
};

// What the fiscal day has seen since the last Z report.
struct DailyTotals {
  int32_t receipts = 0;
  int32_t voided = 0;
  int64_t sales = 0;               // receipt totals
  std::array<int64_t, 3> paid{};   // by PaymentType, change not deducted
  int64_t change = 0;
};

struct ZReport {
  int32_t number = 0;
  int64_t time = 0;  // device clock
  DailyTotals totals;
};

// Request count meaning "every request until ClearFaults".
inline constexpr int kAlways = -1;

class PrinterEmulator {
 public:
  using PaperSink = std::function<void(const std::string&)>;

  PrinterEmulator();

  // ---- The line ----------------------------------------------------------
  // Takes request bytes as they arrive and returns what the printer sends
  // in answer to the requests they complete.
  std::vector<Segment> Feed(const uint8_t* bytes, size_t count);
  std::vector<Segment> Feed(const Bytes& bytes) { return Feed(bytes.data(), bytes.size()); }
  // A request started but not finished; a real printer gives up on it after
  // a pause on the line.
  bool HasPartialRequest() const { return parser_.InFrame(); }
  void AbandonPartialRequest() { parser_.Abandon(); }

  // ---- Record of what the printer received -------------------------------
  // Oldest first; very long runs keep only the most recent 20000 or so.
  const std::vector<ReceivedRequest>& Requests() const { return requests_; }
  size_t RequestCount() const { return request_total_; }  // never trimmed
  // Requests carried out, by command number: those answered with a reply or
  // an ACK, and those ACKed and then left unanswered on purpose; neither the
  // refused nor the NACKed. Never trimmed.
  const std::map<uint8_t, size_t>& ExecutedCounts() const { return executed_; }
  size_t ClosingBytes() const { return parser_.closing_bytes(); }
  size_t StrayBytes() const { return parser_.stray_bytes(); }
  void ClearRecord();

  // ---- Device state ------------------------------------------------------
  // Device clock: milliseconds since 2000-01-01 00:00:00, taken from the
  // host clock (UTC) at construction; it runs unless stopped.
  int64_t ClockMs() const;
  void SetClock(int64_t device_ms, bool running = true);

  // Fiscal memory identifier: exactly 8 printer characters.
  bool SetIdentifier(std::string_view utf8);
  std::string Identifier() const;

  // Receipt number: the number of the last closed receipt; closing one adds
  // one (voiding does not).
  int32_t ReceiptNumber() const { return receipt_number_; }
  void SetReceiptNumber(int32_t n) { receipt_number_ = n; }
  // Daily report number: the number of the last Z report.
  int32_t DailyReportNumber() const { return daily_report_number_; }
  void SetDailyReportNumber(int32_t n) { daily_report_number_ = n; }

  const std::map<int32_t, Article>& Articles() const { return articles_; }

  // Adds items to the open receipt, opening one when none is open. Refuses
  // (false, nothing added) an empty list, a price outside 0..10^11
  // hundredths, a quantity outside 1..10^7 thousandths, or more than 1000
  // items on one receipt; the limits keep every amount in 64 bits.
  bool Sell(const std::vector<SaleItem>& items);
  // Sells an article of the base by its code.
  bool SellArticle(int32_t code, int64_t quantity = 1000);
  // Discount on the open receipt's subtotal; false without an open receipt
  // or for a negative amount or one above the subtotal.
  bool SetDiscount(int64_t hundredths);
  // Voids the open receipt; false when none is open.
  bool VoidReceipt();
  bool ReceiptOpen() const { return receipt_.has_value(); }
  ReceiptView Receipt() const;

  const DailyTotals& Daily() const { return daily_; }
  const std::vector<ZReport>& ZReports() const { return z_reports_; }
  int PaperFeeds() const { return feeds_; }
  int PaperCuts() const { return cuts_; }
  int Beeps() const { return beeps_; }

  // A few lines on the state, faults and counters, for an operator.
  std::string StatusText() const;

  // ---- Paper -------------------------------------------------------------
  // What the printer prints, as UTF-8 text in whole lines. The sink is
  // called synchronously, inside Feed or the state operation that prints.
  void SetPaperSink(PaperSink sink) { paper_sink_ = std::move(sink); }
  // Everything printed since the last call (kept up to about 1 MB).
  std::string TakePaper();

  // ---- Fault injection ---------------------------------------------------
  // Each applies to the next `requests` complete request frames (kAlways:
  // until ClearFaults). Precedence: silence, then the NACK of a bad frame,
  // then injected NACK, then injected error, then ACK-then-silence.
  void InjectSilence(int requests);
  void InjectNack(int requests);
  // Error reply with `code` instead of carrying out the command.
  void InjectError(uint8_t code, int requests = 1);
  // ACK, carry out the command, then say nothing more.
  void InjectAckThenSilence(int requests);
  // Wait codes sent one by one, `interval` apart, after the ACK; the reply
  // follows `interval` after the last. A code is 08, 09, 07 xx or another
  // single byte above 03.
  void InjectWaitCodes(std::vector<Bytes> codes, Millis interval, int requests = 1);
  // The wait codes then leave in one piece with the ACK and the reply, as a
  // busy printer that catches up sends them back to back (until changed).
  void SetWaitCodesJoined(bool joined) { wait_joined_ = joined; }
  // The reply frame leaves `delay` after the ACK (until changed).
  void SetReplyDelay(Millis delay) { reply_delay_ = delay; }
  // Replies cut into pieces of `bytes` bytes, `gap` apart (0: whole).
  void SetChunking(size_t bytes, Millis gap);
  // Line speed for pacing, 0 for none. The emulator only stores it; the
  // server that carries its bytes applies it.
  void SetBaud(int baud) { baud_ = baud < 0 ? 0 : baud; }
  int Baud() const { return baud_; }
  // Ends every fault above; the pacing stays, being a line setting.
  void ClearFaults();
  std::string FaultsText() const;

 private:
  struct Outcome {
    uint8_t error = 0;  // non-zero: error reply with this code
    Bytes data;
    bool ack_only = false;
  };
  struct OpenReceipt {
    std::vector<SaleItem> items;
    int64_t discount = 0;
    std::array<int64_t, 3> paid{};
  };
  struct NonfiscalLine {
    bool bold = false;
    Bytes text;
  };

  void Handle(const Frame& frame, std::vector<Segment>& out);
  Outcome Execute(const Frame& frame);
  void Respond(Answer answer, const Bytes& frame, bool with_waits, std::vector<Segment>& out) const;
  void AppendChunked(std::vector<Segment>& out, Bytes bytes, Millis first_delay) const;

  Outcome ReadReceiptState() const;
  Outcome Pay(const Bytes& data);
  Outcome ProgramArticles(const Frame& frame);
  Outcome ChangePrice(const Bytes& data);
  Outcome NonfiscalPacket(const Bytes& data);
  Outcome PeriodicReport(const Bytes& data);
  Outcome DailyReport();
  void InterimReport();

  static int64_t ItemAmount(const SaleItem& item);
  int64_t Subtotal() const;
  void CloseReceipt();
  void PrintReceipt(const OpenReceipt& r, int64_t subtotal, int64_t total, int64_t change);
  void PrintTotals(const DailyTotals& t);
  void Print(const std::string& text);

  RequestParser parser_;
  std::vector<ReceivedRequest> requests_;
  size_t request_total_ = 0;
  std::map<uint8_t, size_t> executed_;

  int64_t clock_base_ms_ = 0;
  SteadyTime clock_base_at_{};
  bool clock_running_ = true;
  std::array<uint8_t, 8> identifier_{};
  int32_t receipt_number_ = 0;
  int32_t daily_report_number_ = 0;
  std::map<int32_t, Article> articles_;
  std::optional<OpenReceipt> receipt_;
  DailyTotals daily_;
  std::vector<ZReport> z_reports_;
  std::vector<NonfiscalLine> nonfiscal_;
  int feeds_ = 0;
  int cuts_ = 0;
  int beeps_ = 0;

  PaperSink paper_sink_;
  std::string paper_;

  int silence_ = 0;
  int nack_ = 0;
  int error_count_ = 0;
  uint8_t error_code_ = 0;
  int ack_silence_ = 0;
  int wait_count_ = 0;
  std::vector<Bytes> wait_codes_;
  Millis wait_interval_{0};
  bool wait_joined_ = false;
  Millis reply_delay_{0};
  size_t chunk_bytes_ = 0;
  Millis chunk_gap_{0};
  int baud_ = 0;
};

}  // namespace emu
