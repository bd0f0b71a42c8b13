// Subcommands that run one printer command each (several frames for the
// article list and the non-fiscal receipt).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

#include "commands.h"
#include "driver/comportzuv.h"
#include "driver/protocol.h"
#include "input.h"
#include "utf8.h"

namespace zuvcli {

namespace {

using zuv::TFiscal;
namespace cmd = zuv::cmd;

// Articles per programming frame, as the printer's own software sends them.
constexpr size_t kArticlesPerFrame = 10;

std::string Money(int64_t hundredths) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%02lld", static_cast<long long>(hundredths / 100),
                static_cast<long long>(hundredths % 100));
  return text;
}

std::string Money(double amount) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", amount);
  return text;
}

std::string Help(int command, const std::string& what) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "[%3d] ", command);
  return prefix + what;
}

// Runs `body` with the port open; input has been checked before.
int WithPort(Session& s, const std::string& name, const std::function<int()>& body) {
  if (int status = s.Open(name)) return status;
  return body();
}

struct FixedCommand {
  const char* name;
  int command;
  const char* help;
  bool (*run)();
  const char* done;
  const char* confirm;  // question asked first, or nullptr
};

const FixedCommand kFixedCommands[] = {
    {"test", cmd::ConnectionTest, "connection test", &TFiscal::TestVeze, "the printer answered", nullptr},
    {"x-report", cmd::InterimReport, "print the interim (X) report", &TFiscal::PresekStanja, "X report printed",
     nullptr},
    {"z-report", cmd::DailyReport, "print the daily (Z) report, closing the fiscal day (asks first)",
     &TFiscal::DnevniIzvestaj, "Z report printed",
     "Print the daily (Z) report and close the fiscal day?"},
    {"delete-articles", cmd::DeleteArticleBase, "delete the printer's article base (asks first)",
     &TFiscal::BrisanjeBaze, "article base deleted", "Delete the whole article base?"},
    {"close", cmd::Payment, "close the open receipt, paying what is left in cash",
     &TFiscal::AutomatskiZatvoriRacun, "receipt closed", nullptr},
    {"void", cmd::VoidReceipt, "void the open receipt", &TFiscal::StornoCeoRacun, "receipt voided", nullptr},
    {"feed", cmd::FeedPaper, "feed the paper", &TFiscal::TrakuPomeri, "paper fed", nullptr},
    {"cut", cmd::CutPaper, "cut the paper", &TFiscal::TrakuSeci, "paper cut", nullptr},
    {"beep", cmd::Buzzer, "sound the buzzer", &TFiscal::ZvucniSignal, "buzzer sounded", nullptr},
};

void AddFixed(CLI::App& app, Action& action, const FixedCommand& c) {
  app.add_subcommand(c.name, Help(c.command, c.help))->callback([&action, &c] {
    action = [&c](Session& s) {
      if (c.confirm && !s.Confirm(c.confirm)) return static_cast<int>(kExitUsage);
      return WithPort(s, c.name, [&] { return s.Finish(c.name, c.run(), Json::object(), c.done); });
    };
  });
}

// A number read back, -1 being the driver's failure value.
int FinishNumber(Session& s, const std::string& name, int32_t value, const char* key) {
  const bool ok = value != -1 && zuv::ErrorCode == 0;
  return s.Finish(name, ok, {{key, value}}, std::to_string(value));
}

// A subcommand without arguments that reads from the printer.
void AddRead(CLI::App& app, Action& action, const char* name, int command, const char* help,
             std::function<int(Session&)> read) {
  app.add_subcommand(name, Help(command, help))->callback([&action, name, read] {
    action = [name, read](Session& s) { return WithPort(s, name, [&] { return read(s); }); };
  });
}

int ReceiptState(Session& s) {
  const zuv::TStanjeRacuna r = TFiscal::StanjeRacuna();
  const Json data = {{"subtotal", r.MEDJUZBIR},         {"total", r.UKUPNO},
                     {"items", r.BROJ_STAVKI},          {"paid_cash", r.PLACENO_GOTOVINA},
                     {"paid_card", r.PLACENO_KARTICA}, {"paid_cheque", r.PLACENO_CEK},
                     {"receipt_number", r.BROJ_RACUNA}};
  const std::string text =
      "subtotal " + Money(r.MEDJUZBIR) + "\ntotal " + Money(r.UKUPNO) + "\nitems " +
      std::to_string(r.BROJ_STAVKI) + "\npaid in cash " + Money(r.PLACENO_GOTOVINA) +
      "\npaid by card " + Money(r.PLACENO_KARTICA) + "\npaid by cheque " +
      Money(r.PLACENO_CEK) + "\nreceipt number " + std::to_string(r.BROJ_RACUNA);
  return s.Finish("receipt-state", r.UspesanOdgovor, data, text);
}

void AddReads(CLI::App& app, Action& action) {
  AddRead(app, action, "clock", cmd::ReadClock, "read the device clock", [](Session& s) {
    const std::string time = TFiscal::CitajVreme();
    return s.Finish("clock", !time.empty(), {{"clock", time}}, time);
  });
  AddRead(app, action, "fiscal-id", cmd::ReadFiscalMemoryId, "read the fiscal memory identifier",
          [](Session& s) {
            const std::string id = Utf16ToUtf8(TFiscal::CitajIBFM());
            return s.Finish("fiscal-id", !id.empty(), {{"fiscal_id", id}}, id);
          });
  AddRead(app, action, "receipt-number", cmd::ReceiptState, "read the receipt number",
          [](Session& s) {
            return FinishNumber(s, "receipt-number", TFiscal::CitajBI(), "receipt_number");
          });
  AddRead(app, action, "report-number", cmd::DailyReportNumber, "read the daily report number",
          [](Session& s) {
            return FinishNumber(s, "report-number", TFiscal::CitajBD(), "report_number");
          });
  AddRead(app, action, "item-count", cmd::ReceiptState, "read the open receipt's item count",
          [](Session& s) {
            return FinishNumber(s, "item-count", TFiscal::StanjeRacunaBrojStavki(), "items");
          });
  AddRead(app, action, "receipt-state", cmd::ReceiptState, "read the open receipt's state",
          &ReceiptState);
}

void AddPeriodic(CLI::App& app, Action& action) {
  auto dates = std::make_shared<std::pair<std::string, std::string>>();
  auto* sub = app.add_subcommand(
      "periodic-report",
      Help(cmd::PeriodicReport, "print the periodic report between two dates (dd.mm.yyyy or yyyy-mm-dd)"));
  sub->add_option("FROM", dates->first, "first day")->required();
  sub->add_option("TO", dates->second, "last day")->required();
  sub->callback([&action, dates] {
    action = [dates](Session& s) {
      const auto from = ParseDate(dates->first);
      const auto to = ParseDate(dates->second);
      if (!from || !to)
        return s.Fail("periodic-report", "bad date \"" + (from ? dates->second : dates->first) +
                                             "\" (dd.mm.yyyy or yyyy-mm-dd, 2000 to 2099)",
                      kExitUsage);
      if (*from > *to) return s.Fail("periodic-report", "FROM is after TO", kExitUsage);
      return WithPort(s, "periodic-report", [&] {
        return s.Finish("periodic-report", TFiscal::PeriodicniIzvestaj(*from, *to),
                        {{"from", dates->first}, {"to", dates->second}}, "periodic report printed");
      });
    };
  });
}

void AddPrices(CLI::App& app, Action& action) {
  auto args = std::make_shared<std::pair<std::string, std::string>>();
  auto* price =
      app.add_subcommand("change-price", Help(cmd::ChangePrice, "change an article's price"));
  price->add_option("CODE", args->first, "article code")->required();
  price->add_option("PRICE", args->second, "new price, e.g. 12.50")->required();
  price->callback([&action, args] {
    action = [args](Session& s) {
      const auto code = ParseInteger(args->first, 1, INT32_MAX);
      const auto hundredths = ParseMoney(args->second, kMaxPriceHundredths);
      if (!code) return s.Fail("change-price", "bad article code \"" + args->first + "\"", kExitUsage);
      if (!hundredths) return s.Fail("change-price", "bad price \"" + args->second + "\"", kExitUsage);
      return WithPort(s, "change-price", [&] {
        const bool ok = TFiscal::PromenaCene(static_cast<int32_t>(*code), *hundredths / 100.0);
        return s.Finish("change-price", ok, {{"code", *code}, {"price", *hundredths / 100.0}},
                        "price of article " + args->first + " set to " + Money(*hundredths));
      });
    };
  });

  auto file = std::make_shared<std::string>();
  auto* program = app.add_subcommand(
      "program-articles",
      Help(cmd::ProgramArticles, "program articles from a CSV file: code,name,unit,tax group,price"));
  program->add_option("FILE", *file, "UTF-8 CSV file, - for standard input")->required();
  program->callback([&action, file] {
    action = [file](Session& s) -> int {
      std::vector<ArticleRow> rows;
      const std::string name = *file == "-" ? "<stdin>" : *file;
      try {
        if (*file == "-") {
          rows = ReadArticles(s.Streams().in, name);
        } else {
          std::ifstream in(*file);
          if (!in) return s.Fail("program-articles", "cannot read " + *file, kExitUsage);
          rows = ReadArticles(in, name);
        }
      } catch (const InputError& e) {
        return s.Fail("program-articles", e.what(), kExitUsage);
      }
      return WithPort(s, "program-articles", [&] {
        size_t sent = 0;
        while (sent < rows.size()) {
          const size_t end = std::min(rows.size(), sent + kArticlesPerFrame);
          for (size_t i = sent; i < end; ++i) {
            if (TFiscal::DodajArtikal(rows[i].code, rows[i].name, rows[i].unit, rows[i].tax,
                                      rows[i].price / 100.0))
              continue;
            // Checked above, so this is the driver's own limit: nothing of
            // this batch goes out.
            if (zuv::bufferArtikala) zuv::bufferArtikala->clear();
            return s.Fail("program-articles",
                          name + ":" + std::to_string(rows[i].line) + ": the driver refused article " +
                              std::to_string(rows[i].code) + "; " + std::to_string(sent) +
                              " articles programmed before it",
                          kExitFailure);
          }
          const bool ok = TFiscal::ProgramirajArtikle();
          if (!ok || end == rows.size()) {
            const size_t done = ok ? end : sent;
            return s.Finish("program-articles", ok, {{"articles", done}},
                            "programmed " + std::to_string(done) + " articles");
          }
          sent = end;
        }
        return static_cast<int>(kExitOk);
      });
    };
  });
}

int PaymentType(const std::string& text) {
  if (text == "cash" || text == "0") return 0;
  if (text == "card" || text == "1") return 1;
  if (text == "cheque" || text == "check" || text == "2") return 2;
  return -1;
}

void AddPayment(CLI::App& app, Action& action) {
  auto args = std::make_shared<std::pair<std::string, std::string>>();
  auto* pay = app.add_subcommand(
      "pay", Help(cmd::Payment, "pay the open receipt: TYPE cash|card|cheque, AMOUNT"));
  pay->add_option("TYPE", args->first, "cash, card or cheque (or 0, 1, 2)")->required();
  pay->add_option("AMOUNT", args->second, "amount, e.g. 100.00")->required();
  pay->callback([&action, args] {
    action = [args](Session& s) {
      const int type = PaymentType(args->first);
      const auto amount = ParseMoney(args->second, kMaxPaymentHundredths);
      if (type < 0) return s.Fail("pay", "bad payment type \"" + args->first + "\"", kExitUsage);
      if (!amount || *amount == 0)
        return s.Fail("pay", "bad amount \"" + args->second + "\" (use close to pay the rest)",
                      kExitUsage);
      return WithPort(s, "pay", [&] {
        return s.Finish("pay", TFiscal::NaplataRacuna(type, *amount / 100.0),
                        {{"type", type}, {"amount", *amount / 100.0}},
                        "paid " + Money(*amount) + " (" + args->first + ")");
      });
    };
  });
}

void AddNonfiscal(CLI::App& app, Action& action) {
  struct Args {
    std::string file = "-";
    int width = kDefaultLineWidth;
  };
  auto args = std::make_shared<Args>();
  auto* sub = app.add_subcommand(
      "nonfiscal", Help(cmd::NonfiscalPacket, "print a non-fiscal receipt from a text file or standard input"));
  sub->add_option("FILE", args->file, "text file, - (the default) for standard input");
  sub->add_option("--width", args->width, "line width in characters")
      ->check(CLI::Range(1, kMaxLineWidth))
      ->capture_default_str();
  sub->footer(
      "One printed line per input line. A line may start with '*' (bold), then '<' (left, the\n"
      "default), '^' (centred) or '>' (right); \"LEFT||RIGHT\" prints two columns.\n"
      "Start a line with '<' to print a leading '^', '>' or '<' as it is.");
  sub->callback([&action, args] {
    action = [args](Session& s) -> int {
      std::vector<zuv::TNonfiscalLine> lines;
      try {
        if (args->file == "-") {
          lines = ReadNonfiscal(s.Streams().in, "<stdin>", args->width);
        } else {
          std::ifstream in(args->file);
          if (!in) return s.Fail("nonfiscal", "cannot read " + args->file, kExitUsage);
          lines = ReadNonfiscal(in, args->file, args->width);
        }
      } catch (const InputError& e) {
        return s.Fail("nonfiscal", e.what(), kExitUsage);
      }
      return WithPort(s, "nonfiscal", [&] {
        return s.Finish("nonfiscal", TFiscal::NefiskalniIsecak(lines, args->width),
                        {{"lines", lines.size()}},
                        "printed " + std::to_string(lines.size()) + " lines");
      });
    };
  });
}

}  // namespace

void AddPrinterCommands(CLI::App& app, Action& action) {
  for (const FixedCommand& c : kFixedCommands) AddFixed(app, action, c);
  AddReads(app, action);
  AddPeriodic(app, action);
  AddPrices(app, action);
  AddPayment(app, action);
  AddNonfiscal(app, action);
}

}  // namespace zuvcli
