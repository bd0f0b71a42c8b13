#include "catalogue.h"

#include <algorithm>

#include "driver/comportzuv.h"
#include "driver/protocol.h"
#include "input.h"
#include "parts.h"

namespace zuvcmd {

namespace {

namespace cmd = zuv::cmd;

Schema NoArguments() { return Object({}, "Takes no arguments: {} or no body."); }
Schema Nothing() { return Object({}); }

Schema Amount(std::string what, std::string description) {
  return Money(0, kMaxPaymentHundredths, std::move(what), std::move(description));
}

Schema ArticleCode() { return Integer(1, INT32_MAX, "article code"); }
Schema Price() { return Money(0, kMaxPriceHundredths, "price", "Decimal string, e.g. \"65.50\"."); }

Schema ArticleSchema() {
  Schema name = Text(1, kMaxArticleName, "name", "Printed on one line.");
  name.example = "Hleb";
  return Object({{"code", ArticleCode()},
                 {"name", name},
                 {"unit", Integer(0, kMaxUnit, "unit", "Unit of measure.")},
                 {"tax", Integer(0, kMaxTaxGroup, "tax group")},
                 {"price", Price()}});
}

Schema PayArgs() {
  Schema amount = Money(1, kMaxPaymentHundredths, "amount", "Decimal string, e.g. \"300.00\".");
  amount.hint = "use close to pay the rest";
  amount.example = "300.00";
  const std::vector<std::string> types(kPaymentTypes.begin(), kPaymentTypes.end());
  return Object({{"type", Enum(types, "payment type")}, {"amount", amount}});
}

Schema NonfiscalArgs() {
  Schema line = Text(0, kMaxLineWidth + kMarkupCharacters, "line",
                     "One printed line: '*' (bold), then '<', '^' or '>' (left, centred, right); "
                     "\"LEFT||RIGHT\" prints two columns.");
  line.example = "*^RAČUN";
  return Object({{"lines", ArrayOf(line, 1, kUnbounded, "strings", "nothing to print")},
                 Optional("width", Integer(1, kMaxLineWidth, "width", "Line width in characters."),
                          kDefaultLineWidth)});
}

Schema RawArgs() {
  Schema command = Integer(0, 255, "command", "Printer command byte.");
  command.example = 86;
  Schema data = Hex(zuv::MaxLongData, "data", "Data bytes as pairs of hex digits.");
  data.hint = "a long frame holds " + std::to_string(zuv::MaxLongData);
  return Object({{"command", command},
                 Optional("data", data, ""),
                 Optional("long", Boolean("A long frame (two length bytes)."), false)});
}

Schema ReceiptStateResult() {
  const auto money = [](const char* what) { return Money(0, kMaxPaymentHundredths, what); };
  return Object({{"subtotal", money("subtotal")},
                 {"total", money("total")},
                 {"items", Integer(0, INT32_MAX, "items")},
                 {"paid_cash", money("paid in cash")},
                 {"paid_card", money("paid by card")},
                 {"paid_cheque", money("paid by cheque")},
                 {"receipt_number", Integer(0, INT32_MAX, "receipt number")}});
}

Schema ProgramResult() {
  return Object({{"articles", Integer(0, INT32_MAX, "articles", "Articles the printer took.")},
                 {"stopped_at", Integer(0, INT32_MAX, "index", "Index of the first article not programmed."),
                  false}},
                "On failure the result is present only when the batch stopped partway.");
}

Schema One(const char* name, Schema schema) { return Object({{name, std::move(schema)}}); }

std::vector<CommandInfo> Rows() {
  using enum Effect;
  using enum Counter;
  namespace p = parts;
  const Schema count = Integer(0, INT32_MAX, "number");
  return {
      {"test", cmd::ConnectionTest, Read, false, "", NoArguments(), {}, "", nullptr, Nothing(),
       None, {}, "connection test", {"Test", "Test"}, p::Test},
      {"clock", cmd::ReadClock, Read, false, "", NoArguments(), {}, "", nullptr,
       One("clock", Text(19, 19, "clock", "dd.mm.yyyy hh:mm:ss, UTC+1 all year")), None, {},
       "read the device clock", {"Clock", "Sat"}, p::Clock},
      {"fiscal-id", cmd::ReadFiscalMemoryId, Read, false, "", NoArguments(), {}, "", nullptr,
       One("fiscal_id", Text(0, 8, "fiscal memory identifier")), None, {},
       "read the fiscal memory identifier", {"Fiscal memory ID", "IBFM"}, p::FiscalId},
      {"receipt-number", cmd::ReceiptState, Read, false, "", NoArguments(), {}, "", nullptr,
       One("receipt_number", count), None, {}, "read the receipt number",
       {"Receipt number", "Broj računa"}, p::ReceiptNumber},
      {"report-number", cmd::DailyReportNumber, Read, false, "", NoArguments(), {}, "", nullptr,
       One("report_number", count), None, {}, "read the daily report number",
       {"Daily report number", "Broj dnevnog izveštaja"}, p::ReportNumber},
      {"x-report", cmd::InterimReport, Prints, false, "", NoArguments(), {}, "", nullptr, Nothing(),
       None, {}, "print the interim (X) report", {"X report", "X izveštaj"}, p::XReport},
      {"z-report", cmd::DailyReport, ChangesCounters, true,
       "Print the daily (Z) report and close the fiscal day?", NoArguments(), {}, "", nullptr,
       Nothing(), ReportNumber, p::ReportPrinted,
       "print the daily (Z) report, closing the fiscal day (asks first)", {"Z report", "Z izveštaj"},
       p::ZReport},
      {"periodic-report", cmd::PeriodicReport, Prints, false, "",
       Object({{"from", Date("date", "First day.")}, {"to", Date("date", "Last day.")}}),
       p::FromNotAfterTo, "from is not after to", nullptr,
       Object({{"from", Date("date")}, {"to", Date("date")}}), None, {},
       "print the periodic report between two dates (dd.mm.yyyy or yyyy-mm-dd)",
       {"Periodic report", "Periodični izveštaj"}, p::Periodic},
      {"program-articles", cmd::ProgramArticles, ChangesArticles, false, "",
       Object({{"articles", ArrayOf(ArticleSchema(), 1, kUnbounded, "articles", "no articles")}}), {},
       "", nullptr, ProgramResult(), None, {},
       "program articles from a CSV file: code,name,unit,tax group,price",
       {"Program articles", "Programiranje artikala"}, p::Program},
      {"change-price", cmd::ChangePrice, ChangesArticles, false, "",
       Object({{"code", ArticleCode()}, {"price", Price()}}), {}, "", nullptr,
       Object({{"code", ArticleCode()}, {"price", Price()}}), None, {}, "change an article's price",
       {"Change price", "Promena cene"}, p::Price},
      {"delete-articles", cmd::DeleteArticleBase, ChangesArticles, true, "Delete the whole article base?",
       NoArguments(), {}, "", nullptr, Nothing(), None, {},
       "delete the printer's article base (asks first)", {"Delete articles", "Brisanje artikala"},
       p::DeleteArticles},
      {"pay", cmd::Payment, ChangesCounters, false, "", PayArgs(), {}, "", nullptr,
       Object({{"type", PayArgs().fields[0].schema}, {"amount", Amount("amount", "As requested.")}}),
       ReceiptState, p::PaymentTaken, "pay the open receipt: TYPE cash|card|cheque, AMOUNT",
       {"Payment", "Naplata"}, p::Pay},
      {"close", cmd::Payment, ChangesCounters, false, "", NoArguments(), {}, "", nullptr, Nothing(),
       ReceiptState, p::ReceiptClosed, "close the open receipt, paying what is left in cash",
       {"Close receipt", "Zatvaranje računa"}, p::Close},
      {"void", cmd::VoidReceipt, ChangesCounters, false, "", NoArguments(), {}, "", nullptr, Nothing(),
       ItemCount, p::ReceiptVoided, "void the open receipt", {"Void receipt", "Storno računa"}, p::Void},
      {"receipt-state", cmd::ReceiptState, Read, false, "", NoArguments(), {}, "", nullptr,
       ReceiptStateResult(), None, {}, "read the open receipt's state",
       {"Receipt state", "Stanje računa"}, p::ReceiptState},
      {"item-count", cmd::ReceiptState, Read, false, "", NoArguments(), {}, "", nullptr,
       One("items", count), None, {}, "read the open receipt's item count",
       {"Item count", "Broj stavki"}, p::ItemCount},
      {"nonfiscal", cmd::NonfiscalPacket, Prints, false, "", NonfiscalArgs(), p::LinesFitTheWidth,
       "each line's text (without its marks) fits the width; two columns need one blank between",
       nullptr, One("lines", Integer(1, INT32_MAX, "lines", "Lines printed.")), None, {},
       "print a non-fiscal receipt from a text file or standard input",
       {"Non-fiscal receipt", "Nefiskalni isečak"}, p::Nonfiscal},
      {"feed", cmd::FeedPaper, Prints, false, "", NoArguments(), {}, "", nullptr, Nothing(), None, {},
       "feed the paper", {"Feed paper", "Pomeranje papira"}, p::Feed},
      {"cut", cmd::CutPaper, Prints, false, "", NoArguments(), {}, "", nullptr, Nothing(), None, {},
       "cut the paper", {"Cut paper", "Sečenje papira"}, p::Cut},
      {"beep", cmd::Buzzer, Prints, false, "", NoArguments(), {}, "", nullptr, Nothing(), None, {},
       "sound the buzzer", {"Beep", "Zvučni signal"}, p::Beep},
      {"raw", kAnyCommand, ChangesCounters, false, "", RawArgs(), p::DataFitsTheFrame,
       "a short frame holds at most 254 data bytes", p::DataFitsTheFrameSchema(),
       One("data", Hex(zuv::MaxLongData, "reply data")), None, {},
       "send one frame: CMD (decimal or 0x..) and data bytes in hex; prints the reply's data",
       {"Raw frame", "Sirovi okvir"}, p::Raw},
  };
}

}  // namespace

std::string_view EffectName(Effect effect) {
  switch (effect) {
    case Effect::Read: return "reads";
    case Effect::Prints: return "prints";
    case Effect::ChangesCounters: return "changes-counters";
    case Effect::ChangesArticles: return "changes-articles";
  }
  return "";
}

int PaymentIndex(std::string_view name) {
  const auto found = std::find(kPaymentTypes.begin(), kPaymentTypes.end(), name);
  return found == kPaymentTypes.end() ? -1 : static_cast<int>(found - kPaymentTypes.begin());
}

const std::vector<CommandInfo>& Catalogue() {
  static const std::vector<CommandInfo> commands = Rows();
  return commands;
}

const CommandInfo* FindCommand(std::string_view name) {
  const auto& commands = Catalogue();
  const auto found = std::find_if(commands.begin(), commands.end(),
                                  [&](const CommandInfo& c) { return c.name == name; });
  return found == commands.end() ? nullptr : &*found;
}

bool ReplyLost(const CommandOutcome& outcome) {
  return outcome.acknowledged && (outcome.errorCode == zuv::linkerr::NoReply ||
                                  outcome.errorCode == zuv::linkerr::PortFault);
}

bool InDoubt(const CommandInfo& info, const CommandOutcome& outcome) {
  return !outcome.ok && ReplyLost(outcome) && info.effect != Effect::Read;
}

std::string ErrorText(int32_t code) {
  using zuv::linkerr::UnlistedOffset;
  if (zuv::TComPortZUV::HasErrorMessage(code)) return zuv::TComPortZUV::ErrorMessage(code);
  if (code > UnlistedOffset)
    return "printer error " + std::to_string(code - UnlistedOffset) +
           " (not in the message table; code " + std::to_string(code) + ")";
  return "no message for this code";
}

}  // namespace zuvcmd
