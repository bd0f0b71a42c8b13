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

const char* const kControlHelp =
    "sale <price> <qty> <name...> | sell <code> [qty] | discount <amount> | void\n"
    "status | articles | requests [n]\n"
    "clock now|<ms>|<dd.mm.yyyy HH:MM:SS> [stopped] | id <8 chars>\n"
    "receipt-number <n> | report-number <n>\n"
    "nack <n|always> | error <code> [n|always] | silent <n|always> | ack-silent <n|always>\n"
    "wait <n|always> <ms> <code...> (08, 09, 07:xx) | delay <ms> | chunk <bytes> <ms> | chunk off\n"
    "baud <n> | clear | help | quit\n";

namespace {

std::vector<std::string> Words(std::string_view line) {
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

ControlResult RunControl(PrinterEmulator& emu, std::string_view line) {
  const std::vector<std::string> w = Words(line);
  if (w.empty()) return {true, false, ""};
  const std::string& cmd = w[0];
  const size_t args = w.size() - 1;

  if (cmd == "help") return Ok(kControlHelp);
  if (cmd == "quit" || cmd == "exit") return {true, true, "bye\n"};
  if (cmd == "status") return Ok(emu.StatusText());

  if (cmd == "sale") {
    if (args < 3) return Fail("usage: sale <price> <qty> <name...>");
    auto price = ParseDecimal(w[1], 2);
    auto qty = ParseDecimal(w[2], 3);
    if (!price || !qty) return Fail("bad price or quantity");
    if (!emu.Sell({{Rest(w, 3), *price, *qty}})) return Fail("sale refused");
    return Ok("receipt total " + FormatAmount(emu.Receipt().total) + "\n");
  }
  if (cmd == "sell") {
    if (args < 1 || args > 2) return Fail("usage: sell <code> [qty]");
    auto code = Integer(w[1]);
    auto qty = args == 2 ? ParseDecimal(w[2], 3) : std::optional<int64_t>(1000);
    if (!code || !qty || *code < INT32_MIN || *code > INT32_MAX) return Fail("bad code or quantity");
    if (!emu.SellArticle(int32_t(*code), *qty)) return Fail("no such article, or sale refused");
    return Ok("receipt total " + FormatAmount(emu.Receipt().total) + "\n");
  }
  if (cmd == "discount") {
    auto amount = args == 1 ? ParseDecimal(w[1], 2) : std::nullopt;
    if (!amount) return Fail("usage: discount <amount>");
    if (!emu.SetDiscount(*amount)) return Fail("no open receipt, or discount out of range");
    return Ok("receipt total " + FormatAmount(emu.Receipt().total) + "\n");
  }
  if (cmd == "void") return emu.VoidReceipt() ? Ok() : Fail("no receipt open");
  if (cmd == "articles") {
    std::string text;
    for (const auto& [code, a] : emu.Articles())
      text += std::to_string(code) + "  " + a.name + "  " + FormatAmount(a.price) + "  unit " +
              std::to_string(a.unit) + " tax " + std::to_string(a.tax) + "\n";
    return Ok(text.empty() ? "no articles\n" : text);
  }
  if (cmd == "requests") {
    auto n = args == 1 ? Count(w[1]) : std::optional<int>(10);
    if (!n || *n < 0) return Fail("usage: requests [n]");
    const auto& all = emu.Requests();
    const size_t from = all.size() > size_t(*n) ? all.size() - size_t(*n) : 0;
    std::string text;
    char head[96];
    for (size_t i = from; i < all.size(); ++i) {
      const ReceivedRequest& r = all[i];
      std::snprintf(head, sizeof head, "%02X %s cmd %u, %zu data bytes%s -> %s", r.start,
                    r.long_form ? "long " : "short", r.command, r.data.size(),
                    r.checksum_ok ? "" : ", bad checksum", AnswerName(r.answer));
      text += head;
      if (r.answer == Answer::kError) text += " " + std::to_string(r.error_code);
      text += ":" + Hex(r.data, 24) + "\n";
    }
    return Ok(text.empty() ? "no requests\n" : text);
  }
  if (cmd == "clock") {
    if (args < 1) return Fail("usage: clock now|<ms>|<dd.mm.yyyy HH:MM:SS> [stopped]");
    const bool stopped = w.back() == "stopped";
    const size_t value_words = args - (stopped ? 1 : 0);
    std::optional<int64_t> ms;
    if (value_words == 1 && w[1] == "now") ms = HostClockDeviceMs();
    else if (value_words == 1) ms = Integer(w[1]);
    else if (value_words == 2) ms = ParseDeviceTime(w[1] + " " + w[2]);
    if (!ms) return Fail("bad time");
    emu.SetClock(*ms, !stopped);
    return Ok("clock " + FormatDeviceTime(*ms) + "\n");
  }
  if (cmd == "id") {
    if (args < 1 || !emu.SetIdentifier(Rest(w, 1))) return Fail("the identifier takes 8 characters");
    return Ok();
  }
  if (cmd == "receipt-number" || cmd == "report-number") {
    auto n = args == 1 ? Integer(w[1]) : std::nullopt;
    if (!n || *n < INT32_MIN || *n > INT32_MAX) return Fail("usage: " + cmd + " <n>");
    if (cmd == "receipt-number") emu.SetReceiptNumber(int32_t(*n));
    else emu.SetDailyReportNumber(int32_t(*n));
    return Ok();
  }
  if (cmd == "nack" || cmd == "silent" || cmd == "ack-silent") {
    auto n = args == 1 ? Count(w[1]) : std::nullopt;
    if (!n) return Fail("usage: " + cmd + " <n|always>");
    if (cmd == "nack") emu.InjectNack(*n);
    else if (cmd == "silent") emu.InjectSilence(*n);
    else emu.InjectAckThenSilence(*n);
    return Ok();
  }
  if (cmd == "error") {
    // Arity first: an optional that may be left empty by a conditional
    // trips GCC's uninitialised-use analysis.
    if (args < 1 || args > 2) return Fail("usage: error <code 0-255> [n|always]");
    const auto code = Integer(w[1]);
    const auto n = args == 2 ? Count(w[2]) : std::optional<int>(1);
    if (!code || *code < 0 || *code > 255 || !n)
      return Fail("usage: error <code 0-255> [n|always]");
    emu.InjectError(uint8_t(*code), *n);
    return Ok();
  }
  if (cmd == "wait") {
    if (args < 3) return Fail("usage: wait <n|always> <ms> <code...>");
    const auto n = Count(w[1]);
    const auto ms = Integer(w[2]);
    std::vector<Bytes> codes;
    for (size_t i = 3; i < w.size(); ++i) {
      auto code = WaitCode(w[i]);
      if (!code) return Fail("bad wait code " + w[i]);
      codes.push_back(*code);
    }
    if (!n || !ms || *ms < 0 || codes.empty()) return Fail("usage: wait <n|always> <ms> <code...>");
    emu.InjectWaitCodes(std::move(codes), Millis(*ms), *n);
    return Ok();
  }
  if (cmd == "delay") {
    auto ms = args == 1 ? Integer(w[1]) : std::nullopt;
    if (!ms || *ms < 0) return Fail("usage: delay <ms>");
    emu.SetReplyDelay(Millis(*ms));
    return Ok();
  }
  if (cmd == "chunk") {
    if (args == 1 && w[1] == "off") {
      emu.SetChunking(0, Millis(0));
      return Ok();
    }
    auto bytes = args == 2 ? Integer(w[1]) : std::nullopt;
    auto ms = args == 2 ? Integer(w[2]) : std::nullopt;
    if (!bytes || !ms || *bytes < 1 || *ms < 0) return Fail("usage: chunk <bytes> <ms> | chunk off");
    emu.SetChunking(size_t(*bytes), Millis(*ms));
    return Ok();
  }
  if (cmd == "baud") {
    auto baud = args == 1 ? Integer(w[1]) : std::nullopt;
    if (!baud || *baud < 0 || *baud > 10'000'000) return Fail("usage: baud <n>");
    emu.SetBaud(int(*baud));
    return Ok();
  }
  if (cmd == "clear") {
    emu.ClearFaults();
    return Ok();
  }
  return Fail("unknown command " + cmd + " (try help)");
}

}  // namespace emu
