#include "control.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "units.h"

namespace emu {

namespace {

std::vector<std::string> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  std::istringstream in{std::string(line)};
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::optional<int64_t> Integer(const std::string& text) { return ParseDecimal(text, 0); }

std::optional<int> Count(const std::string& text) {
  if (text == "always") return kAlways;
  auto n = Integer(text);
  if (!n || *n < 0 || *n > 1'000'000) return std::nullopt;
  return int(*n);
}

std::optional<Bytes> WaitCode(const std::string& text) {
  Bytes code;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = std::min(text.find(':', pos), text.size());
    const std::string part = text.substr(pos, end - pos);
    if (part.empty() || part.size() > 2) return std::nullopt;
    char* stop = nullptr;
    const unsigned long v = std::strtoul(part.c_str(), &stop, 16);
    if (*stop != '\0') return std::nullopt;
    code.push_back(uint8_t(v));
    pos = end + 1;
  }
  if (code.empty() || code.size() > 2) return std::nullopt;
  return code;
}

std::string Hex(const Bytes& bytes, size_t limit) {
  std::string text;
  char b[4];
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(b, sizeof b, " %02X", bytes[i]);
    text += b;
  }
  if (bytes.size() > limit) text += " ...";
  return text;
}

std::string Rest(const std::vector<std::string>& words, size_t from) {
  std::string text;
  for (size_t i = from; i < words.size(); ++i) text += (i > from ? " " : "") + words[i];
  return text;
}

ControlResult Fail(const std::string& why) { return {false, false, "error: " + why + "\n"}; }
ControlResult Ok(std::string text = "ok\n") { return {true, false, std::move(text)}; }

}  // namespace

std::optional<int64_t> ParseDeviceTime(std::string_view text) {
  int d, mo, y, h, mi, s;
  char tail;
  const std::string t(text);
  if (std::sscanf(t.c_str(), "%d.%d.%d %d:%d:%d%c", &d, &mo, &y, &h, &mi, &s, &tail) != 6)
    return std::nullopt;
  using namespace std::chrono;
  const year_month_day ymd{year(y), month(unsigned(mo)), day(unsigned(d))};
  if (!ymd.ok() || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return std::nullopt;
  const auto t_unix = sys_days(ymd) + hours(h) + minutes(mi) + seconds(s);
  // Read on the printer's shown scale, so that a time set here is the time it prints.
  return duration_cast<milliseconds>(t_unix.time_since_epoch()).count() - kDeviceEpochUnixMs -
         kShownAheadMs;
}

std::optional<SaleItem> ParseSaleItem(std::string_view text) {
  // name:price[:qty], the name possibly holding colons: fields from the right.
  const size_t last = text.rfind(':');
  if (last == std::string_view::npos) return std::nullopt;
  SaleItem item;
  std::string_view name = text.substr(0, last);
  std::optional<int64_t> price;
  const size_t before = name.rfind(':');
  if (before != std::string_view::npos) {
    auto as_price = ParseDecimal(name.substr(before + 1), 2);
    auto qty = ParseDecimal(text.substr(last + 1), 3);
    if (as_price && qty) {
      price = as_price;
      item.quantity = *qty;
      name = name.substr(0, before);
    }
  }
  if (!price) price = ParseDecimal(text.substr(last + 1), 2);
  if (!price || name.empty()) return std::nullopt;
  item.price = *price;
  item.name = std::string(name);
  return item;
}

namespace {

using Words = std::vector<std::string>;  // the command's name first

ControlResult Usage(const Words& w);

ControlResult ReceiptTotal(const PrinterEmulator& emu) {
  return Ok("receipt total " + FormatAmount(emu.Receipt().total) + "\n");
}

ControlResult Sale(PrinterEmulator& emu, const Words& w) {
  if (w.size() < 4) return Usage(w);
  auto price = ParseDecimal(w[1], 2);
  auto qty = ParseDecimal(w[2], 3);
  if (!price || !qty) return Fail("bad price or quantity");
  if (!emu.Sell({{Rest(w, 3), *price, *qty}})) return Fail("sale refused");
  return ReceiptTotal(emu);
}

ControlResult Sell(PrinterEmulator& emu, const Words& w) {
  if (w.size() < 2 || w.size() > 3) return Usage(w);
  auto code = Integer(w[1]);
  auto qty = w.size() == 3 ? ParseDecimal(w[2], 3) : std::optional<int64_t>(1000);
  if (!code || !qty || *code < INT32_MIN || *code > INT32_MAX) return Fail("bad code or quantity");
  if (!emu.SellArticle(int32_t(*code), *qty)) return Fail("no such article, or sale refused");
  return ReceiptTotal(emu);
}

ControlResult Discount(PrinterEmulator& emu, const Words& w) {
  auto amount = w.size() == 2 ? ParseDecimal(w[1], 2) : std::nullopt;
  if (!amount) return Usage(w);
  if (!emu.SetDiscount(*amount)) return Fail("no open receipt, or discount out of range");
  return ReceiptTotal(emu);
}

ControlResult Void(PrinterEmulator& emu, const Words&) {
  return emu.VoidReceipt() ? Ok() : Fail("no receipt open");
}

ControlResult Status(PrinterEmulator& emu, const Words&) { return Ok(emu.StatusText()); }

ControlResult ListArticles(PrinterEmulator& emu, const Words&) {
  std::string text;
  for (const auto& [code, a] : emu.Articles())
    text += std::to_string(code) + "  " + a.name + "  " + FormatAmount(a.price) + "  unit " +
            std::to_string(a.unit) + " tax " + std::to_string(a.tax) + "\n";
  return Ok(text.empty() ? "no articles\n" : text);
}

std::string RequestLine(const ReceivedRequest& r) {
  char head[96];
  std::snprintf(head, sizeof head, "%02X %s cmd %u, %zu data bytes%s -> %s", r.start,
                r.long_form ? "long " : "short", r.command, r.data.size(),
                r.checksum_ok ? "" : ", bad checksum", AnswerName(r.answer));
  std::string text = head;
  if (r.answer == Answer::kError) text += " " + std::to_string(r.error_code);
  return text + ":" + Hex(r.data, 24) + "\n";
}

ControlResult Requests(PrinterEmulator& emu, const Words& w) {
  auto n = w.size() == 2 ? Count(w[1]) : std::optional<int>(10);
  if (!n || *n < 0) return Usage(w);
  const auto& all = emu.Requests();
  std::string text;
  for (size_t i = all.size() > size_t(*n) ? all.size() - size_t(*n) : 0; i < all.size(); ++i)
    text += RequestLine(all[i]);
  return Ok(text.empty() ? "no requests\n" : text);
}

ControlResult Counts(PrinterEmulator& emu, const Words& w) {
  if (w.size() != 1) return Usage(w);
  size_t all = 0;
  std::string by_command;
  for (const auto& [command, n] : emu.ExecutedCounts()) {
    all += n;
    by_command += "executed " + std::to_string(command) + " " + std::to_string(n) + "\n";
  }
  return Ok("received " + std::to_string(emu.RequestCount()) + "\nexecuted all " +
            std::to_string(all) + "\n" + by_command);
}

ControlResult Clock(PrinterEmulator& emu, const Words& w) {
  if (w.size() < 2) return Usage(w);
  const bool stopped = w.back() == "stopped";
  const size_t value_words = w.size() - 1 - (stopped ? 1 : 0);
  std::optional<int64_t> ms;
  if (value_words == 1 && w[1] == "now") ms = HostClockDeviceMs();
  else if (value_words == 1) ms = Integer(w[1]);
  else if (value_words == 2) ms = ParseDeviceTime(w[1] + " " + w[2]);
  if (!ms) return Fail("bad time");
  emu.SetClock(*ms, !stopped);
  return Ok("clock " + FormatDeviceTime(*ms) + "\n");
}

ControlResult Identifier(PrinterEmulator& emu, const Words& w) {
  if (w.size() < 2 || !emu.SetIdentifier(Rest(w, 1)))
    return Fail("the identifier takes 8 characters");
  return Ok();
}

std::optional<int32_t> Int32(const Words& w) {
  auto n = w.size() == 2 ? Integer(w[1]) : std::nullopt;
  if (!n || *n < INT32_MIN || *n > INT32_MAX) return std::nullopt;
  return int32_t(*n);
}

ControlResult ReceiptNumber(PrinterEmulator& emu, const Words& w) {
  const auto n = Int32(w);
  if (!n) return Usage(w);
  emu.SetReceiptNumber(*n);
  return Ok();
}

ControlResult ReportNumber(PrinterEmulator& emu, const Words& w) {
  const auto n = Int32(w);
  if (!n) return Usage(w);
  emu.SetDailyReportNumber(*n);
  return Ok();
}

// nack, silent and ack-silent: a count of requests, or "always".
template <void (PrinterEmulator::*inject)(int)>
ControlResult CountedFault(PrinterEmulator& emu, const Words& w) {
  auto n = w.size() == 2 ? Count(w[1]) : std::nullopt;
  if (!n) return Usage(w);
  (emu.*inject)(*n);
  return Ok();
}

ControlResult Error(PrinterEmulator& emu, const Words& w) {
  // Arity first: an optional that may be left empty by a conditional
  // trips GCC's uninitialised-use analysis.
  if (w.size() < 2 || w.size() > 3) return Usage(w);
  const auto code = Integer(w[1]);
  const auto n = w.size() == 3 ? Count(w[2]) : std::optional<int>(1);
  if (!code || *code < 0 || *code > 255 || !n) return Usage(w);
  emu.InjectError(uint8_t(*code), *n);
  return Ok();
}

ControlResult Wait(PrinterEmulator& emu, const Words& w) {
  if (w.size() < 4) return Usage(w);
  const auto n = Count(w[1]);
  const auto ms = Integer(w[2]);
  std::vector<Bytes> codes;
  for (size_t i = 3; i < w.size(); ++i) {
    auto code = WaitCode(w[i]);
    if (!code) return Fail("bad wait code " + w[i]);
    codes.push_back(*code);
  }
  if (!n || !ms || *ms < 0) return Usage(w);
  emu.InjectWaitCodes(std::move(codes), Millis(*ms), *n);
  return Ok();
}

ControlResult Delay(PrinterEmulator& emu, const Words& w) {
  auto ms = w.size() == 2 ? Integer(w[1]) : std::nullopt;
  if (!ms || *ms < 0) return Usage(w);
  emu.SetReplyDelay(Millis(*ms));
  return Ok();
}

ControlResult Chunk(PrinterEmulator& emu, const Words& w) {
  if (w.size() == 2 && w[1] == "off") {
    emu.SetChunking(0, Millis(0));
    return Ok();
  }
  auto bytes = w.size() == 3 ? Integer(w[1]) : std::nullopt;
  auto ms = w.size() == 3 ? Integer(w[2]) : std::nullopt;
  if (!bytes || !ms || *bytes < 1 || *ms < 0) return Usage(w);
  emu.SetChunking(size_t(*bytes), Millis(*ms));
  return Ok();
}

ControlResult Baud(PrinterEmulator& emu, const Words& w) {
  auto baud = w.size() == 2 ? Integer(w[1]) : std::nullopt;
  if (!baud || *baud < 0 || *baud > 10'000'000) return Usage(w);
  emu.SetBaud(int(*baud));
  return Ok();
}

ControlResult Clear(PrinterEmulator& emu, const Words&) {
  emu.ClearFaults();
  return Ok();
}

ControlResult Help(PrinterEmulator&, const Words&) { return Ok(ControlHelp()); }

ControlResult Quit(PrinterEmulator&, const Words&) { return {true, true, "bye\n"}; }

struct ControlCommand {
  const char* name;
  const char* arguments;  // as the usage line shows them
  const char* what;       // for help
  ControlResult (*run)(PrinterEmulator&, const Words&);
};

// The one list of the control commands: dispatch, help and usage lines.
constexpr ControlCommand kCommands[] = {
    {"sale", "<price> <qty> <name...>",
     "sell an item, opening a receipt if need be", Sale},
    {"sell", "<code> [qty]", "sell an article of the programmed base", Sell},
    {"discount", "<amount>", "discount on the open receipt", Discount},
    {"void", "", "void the open receipt", Void},
    {"status", "", "state, counters and active faults", Status},
    {"articles", "", "the article base", ListArticles},
    {"requests", "[n]", "the last n requests received (10)", Requests},
    {"counts", "", "requests received, and carried out by command", Counts},
    {"clock", "now|<ms>|<dd.mm.yyyy HH:MM:SS> [stopped]",
     "set the clock: ms since 2000-01-01, or as shown (UTC+1)", Clock},
    {"id", "<8 characters>", "fiscal memory identifier", Identifier},
    {"receipt-number", "<n>", "number of the last closed receipt", ReceiptNumber},
    {"report-number", "<n>", "number of the last Z report", ReportNumber},
    {"nack", "<n|always>", "NACK the next n requests", CountedFault<&PrinterEmulator::InjectNack>},
    {"error", "<code 0-255> [n|always]", "error reply to the next n requests (1)", Error},
    {"silent", "<n|always>", "no answer to the next n requests",
     CountedFault<&PrinterEmulator::InjectSilence>},
    {"ack-silent", "<n|always>", "ACK, then nothing, for the next n requests",
     CountedFault<&PrinterEmulator::InjectAckThenSilence>},
    {"wait", "<n|always> <ms> <code...>",
     "wait codes (hex 08, 09, 07:xx) before n replies", Wait},
    {"delay", "<ms>", "reply frame <ms> after the ACK", Delay},
    {"chunk", "<bytes> <ms> | chunk off", "replies in pieces, <ms> apart", Chunk},
    {"baud", "<n>", "pace both directions (0: off)", Baud},
    {"clear", "", "end all faults (pacing stays)", Clear},
    {"help", "", "this list", Help},
    {"quit", "", "stop the emulator (also: exit)", Quit},
};

const ControlCommand* Find(std::string_view name) {
  if (name == "exit") name = "quit";
  for (const ControlCommand& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

std::string UsageLine(const ControlCommand& c) {
  return std::string(c.name) + (*c.arguments ? " " : "") + c.arguments;
}

ControlResult Usage(const Words& w) { return Fail("usage: " + UsageLine(*Find(w[0]))); }

}  // namespace

std::string ControlHelp() {
  constexpr size_t kColumn = 32;
  std::string text;
  for (const ControlCommand& c : kCommands) {
    const std::string usage = UsageLine(c);
    text += usage;
    // A long usage line gets its explanation on the next line.
    text += usage.size() < kColumn ? std::string(kColumn - usage.size(), ' ')
                                   : "\n" + std::string(kColumn, ' ');
    text += std::string(c.what) + "\n";
  }
  return text;
}

ControlResult RunControl(PrinterEmulator& emu, std::string_view line) {
  const Words w = SplitWords(line);
  if (w.empty()) return {true, false, ""};
  const ControlCommand* command = Find(w[0]);
  if (!command) return Fail("unknown command " + w[0] + " (try help)");
  return command->run(emu, w);
}

}  // namespace emu
