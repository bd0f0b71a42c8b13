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
  const Schema none = NoArguments();
  return {
      {.name = "test", .printerCommand = cmd::ConnectionTest, .args = none,
       .help = "connection test", .label = {"Test", "Test"}, .run = p::Test},
      {.name = "clock", .printerCommand = cmd::ReadClock, .args = none,
       .result = One("clock", Text(19, 19, "clock", "dd.mm.yyyy hh:mm:ss, UTC+1 all year")),
       .help = "read the device clock", .label = {"Clock", "Sat"}, .run = p::Clock},
      {.name = "fiscal-id", .printerCommand = cmd::ReadFiscalMemoryId, .args = none,
       .result = One("fiscal_id", Text(0, 8, "fiscal memory identifier")),
       .help = "read the fiscal memory identifier", .label = {"Fiscal memory ID", "IBFM"},
       .run = p::FiscalId},
      {.name = "receipt-number", .printerCommand = cmd::ReceiptState, .args = none,
       .result = One("receipt_number", count), .help = "read the receipt number",
       .label = {"Receipt number", "Broj računa"}, .run = p::ReceiptNumber},
      {.name = "report-number", .printerCommand = cmd::DailyReportNumber, .args = none,
       .result = One("report_number", count), .help = "read the daily report number",
       .label = {"Daily report number", "Broj dnevnog izveštaja"}, .run = p::ReportNumber},
      {.name = "x-report", .printerCommand = cmd::InterimReport, .effect = Prints, .args = none,
       .help = "print the interim (X) report", .label = {"X report", "X izveštaj"}, .run = p::XReport},
      {.name = "z-report", .printerCommand = cmd::DailyReport, .effect = ChangesCounters,
       .confirm = true, .question = "Print the daily (Z) report and close the fiscal day?",
       .args = none, .counter = ReportNumber, .settle = p::ReportPrinted,
       .help = "print the daily (Z) report, closing the fiscal day (asks first)",
       .label = {"Z report", "Z izveštaj"}, .run = p::ZReport},
      {.name = "periodic-report", .printerCommand = cmd::PeriodicReport, .effect = Prints,
       .args = Object({{"from", Date("date", "First day.")}, {"to", Date("date", "Last day.")}}),
       .crossCheck = p::FromNotAfterTo, .rules = "from is not after to",
       .result = Object({{"from", Date("date")}, {"to", Date("date")}}),
       .help = "print the periodic report between two dates (dd.mm.yyyy or yyyy-mm-dd)",
       .label = {"Periodic report", "Periodični izveštaj"}, .run = p::Periodic},
      {.name = "program-articles", .printerCommand = cmd::ProgramArticles, .effect = ChangesArticles,
       .args = Object({{"articles", ArrayOf(ArticleSchema(), 1, kUnbounded, "articles", "no articles")}}),
       .result = ProgramResult(),
       .help = "program articles from a CSV file: code,name,unit,tax group,price",
       .label = {"Program articles", "Programiranje artikala"}, .run = p::Program},
      {.name = "change-price", .printerCommand = cmd::ChangePrice, .effect = ChangesArticles,
       .args = Object({{"code", ArticleCode()}, {"price", Price()}}),
       .result = Object({{"code", ArticleCode()}, {"price", Price()}}),
       .help = "change an article's price", .label = {"Change price", "Promena cene"}, .run = p::Price},
      {.name = "delete-articles", .printerCommand = cmd::DeleteArticleBase, .effect = ChangesArticles,
       .confirm = true, .question = "Delete the whole article base?", .args = none,
       .help = "delete the printer's article base (asks first)",
       .label = {"Delete articles", "Brisanje artikala"}, .run = p::DeleteArticles},
      {.name = "pay", .printerCommand = cmd::Payment, .effect = ChangesCounters, .args = PayArgs(),
       .result = Object({{"type", PayArgs().fields[0].schema}, {"amount", Amount("amount", "As requested.")}}),
       .counter = ReceiptState, .settle = p::PaymentTaken,
       .help = "pay the open receipt: TYPE cash|card|cheque, AMOUNT", .label = {"Payment", "Naplata"},
       .run = p::Pay},
      {.name = "close", .printerCommand = cmd::Payment, .effect = ChangesCounters, .args = none,
       .counter = ReceiptState, .settle = p::ReceiptClosed,
       .help = "close the open receipt, paying what is left in cash",
       .label = {"Close receipt", "Zatvaranje računa"}, .run = p::Close},
      {.name = "void", .printerCommand = cmd::VoidReceipt, .effect = ChangesCounters, .args = none,
       .counter = ItemCount, .settle = p::ReceiptVoided, .help = "void the open receipt",
       .label = {"Void receipt", "Storno računa"}, .run = p::Void},
      {.name = "receipt-state", .printerCommand = cmd::ReceiptState, .args = none,
       .result = ReceiptStateResult(), .help = "read the open receipt's state",
       .label = {"Receipt state", "Stanje računa"}, .run = p::ReceiptState},
      {.name = "item-count", .printerCommand = cmd::ReceiptState, .args = none,
       .result = One("items", count), .help = "read the open receipt's item count",
       .label = {"Item count", "Broj stavki"}, .run = p::ItemCount},
      {.name = "nonfiscal", .printerCommand = cmd::NonfiscalPacket, .effect = Prints,
       .args = NonfiscalArgs(), .crossCheck = p::LinesFitTheWidth,
       .rules = "each line's text (without its marks) fits the width; two columns need one blank between",
       .result = One("lines", Integer(1, INT32_MAX, "lines", "Lines printed.")),
       .help = "print a non-fiscal receipt from a text file or standard input",
       .label = {"Non-fiscal receipt", "Nefiskalni isečak"}, .run = p::Nonfiscal},
      {.name = "feed", .printerCommand = cmd::FeedPaper, .effect = Prints, .args = none,
       .help = "feed the paper", .label = {"Feed paper", "Pomeranje papira"}, .run = p::Feed},
      {.name = "cut", .printerCommand = cmd::CutPaper, .effect = Prints, .args = none,
       .help = "cut the paper", .label = {"Cut paper", "Sečenje papira"}, .run = p::Cut},
      {.name = "beep", .printerCommand = cmd::Buzzer, .effect = Prints, .args = none,
       .help = "sound the buzzer", .label = {"Beep", "Zvučni signal"}, .run = p::Beep},
      {.name = "raw", .printerCommand = kAnyCommand, .effect = ChangesCounters, .args = RawArgs(),
       .crossCheck = p::DataFitsTheFrame, .rules = "a short frame holds at most 254 data bytes",
       .argsSchemaExtra = p::DataFitsTheFrameSchema(),
       .result = One("data", Hex(zuv::MaxLongData, "reply data")),
       .help = "send one frame: CMD (decimal or 0x..) and data bytes in hex; prints the reply's data",
       .label = {"Raw frame", "Sirovi okvir"}, .run = p::Raw},
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
