// Subcommands that run one printer command each: the command line (and the
// files it names) become the catalogue's JSON arguments, which are checked
// and run exactly as the print service runs them.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>

#include "commands/catalogue.h"
#include "commands.h"
#include "commands/input.h"
#include "commands/utf8.h"

namespace zuvcli {

using namespace zuvcmd;

namespace {

std::string Help(const CommandInfo& info) {
  if (info.printerCommand == kAnyCommand) return info.help;
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "[%3d] ", info.printerCommand);
  return prefix + info.help;
}

// Where list arguments came from: the file, and the line of each entry.
struct Source {
  std::string file;
  std::vector<int> lines;

  // The line of the entry that `field` ("articles[2].price") names, or 0.
  int LineOf(const std::string& field) const {
    const size_t open = field.find('[');
    if (open == std::string::npos) return 0;
    const auto index = ParseInteger(field.substr(open + 1, field.find(']') - open - 1), 0, INT32_MAX);
    return index && static_cast<size_t>(*index) < lines.size() ? lines[*index] : 0;
  }
};

int FailInput(Session& s, const std::string& name, const InputError& e) {
  Json where = Json::object();
  if (!e.File().empty()) where = {{"file", e.File()}, {"line", e.Line()}};
  return s.Fail(name, FailureKind::Input, e.what(), where);
}

int FailArgument(Session& s, const std::string& name, const ArgumentError& e, const Source* source) {
  const int line = source ? source->LineOf(e.Field()) : 0;
  if (line) return FailInput(s, name, InputError(source->file, line, e.what()));
  return s.Fail(name, FailureKind::Input, e.what(), {{"field", e.Field()}});
}

// "3 articles programmed (lines 2–4 of FILE), stopped at FILE:5".
std::string StoppedAt(const Source& source, size_t done) {
  std::string text = std::to_string(done) + (done == 1 ? " article" : " articles") + " programmed";
  if (done > 0)
    text += " (lines " + std::to_string(source.lines.front()) + "–" +
            std::to_string(source.lines[done - 1]) + " of " + source.file + ")";
  return text + ", stopped at " + source.file + ":" + std::to_string(source.lines[done]);
}

// Warns of characters the printer cannot print (it gets '?'), once a line;
// with --strict they are an input error. kExitOk or the status to exit with.
int CheckPrintable(Session& s, const std::string& name, const std::string& file, int line,
                   const std::string& utf8) {
  const auto text = Utf8ToUtf16(utf8);
  if (!text) return kExitOk;  // the checks that follow name bad UTF-8
  const std::u16string bad = UnprintableCharacters(*text);
  if (bad.empty()) return kExitOk;
  const std::string what = CannotPrint(bad);
  if (s.Options().strict) return FailInput(s, name, InputError(file, line, what + " (--strict)"));
  s.Streams().err << "zuv " << name << ": " << file << ":" << line << ": warning: " << what
                  << " (sent as '?')\n";
  return kExitOk;
}

// "programmed 10 of 25 articles" on a terminal, rewritten in place.
Progress ShowProgress(Session& s, bool& shown) {
  if (!s.Streams().errTerminal) return {};
  return [&s, &shown](size_t done, size_t total) {
    s.Streams().err << "\rprogrammed " << done << " of " << total << " articles" << std::flush;
    shown = true;
  };
}

// Checks `args`, asks where the command wants it, opens the port and runs it.
int RunRequest(Session& s, const std::string& name, const Json& args, const Source* source = nullptr) {
  CommandRequest request;
  try {
    request = CheckRequest(name, args);
  } catch (const ArgumentError& e) {
    return FailArgument(s, name, e, source);
  }
  if (request.info->confirm)
    if (int status = s.Confirm(name, request.info->question)) return status;
  if (int status = s.Open(name)) return status;
  bool shown = false;
  const CommandOutcome outcome = Execute(request, ShowProgress(s, shown));
  if (shown) s.Streams().err << '\n';
  const Json& result = outcome.result;
  if (outcome.ok || !source || !result.contains("stopped_at")) return s.Finish(*request.info, outcome);
  const size_t done = result["articles"].get<size_t>();
  const Json extra = {{"articles", done}, {"file", source->file}, {"line", source->lines[done]}};
  return s.Finish(*request.info, outcome, extra, StoppedAt(*source, done));
}

// Runs `read` on FILE ("-": standard input) named `label` in messages.
template <class Read>
int FromFile(Session& s, const std::string& name, const std::string& file, Read read) {
  const std::string label = file == "-" ? "<stdin>" : file;
  try {
    if (file == "-") return read(s.Streams().in, label);
    std::ifstream in(file);
    if (!in) return s.Fail(name, FailureKind::Input, "cannot read " + file, {{"file", file}});
    return read(in, label);
  } catch (const InputError& e) {
    return FailInput(s, name, e);
  }
}

// A whole number as a JSON number, anything else as the text: the checks
// then name it as written.
Json IntegerOrText(const std::string& text) {
  if (const auto value = ParseInteger(text, INT64_MIN, INT64_MAX)) return *value;
  return text;
}

// The tool also takes dd.mm.yyyy; requests name days as yyyy-mm-dd.
std::string CivilDate(const std::string& text) {
  const auto date = ParseCivilDate(text);
  return date ? FormatDate(*date) : text;
}

// The tool also takes the printer's numbers 0, 1, 2 and "check".
std::string PaymentType(const std::string& text) {
  if (text == "check") return "cheque";
  if (const auto index = ParseInteger(text, 0, kPaymentTypes.size() - 1)) return std::string(kPaymentTypes[*index]);
  return text;
}

using ArgsBuilder = std::function<int(Session&, const std::string&)>;

CLI::App* Add(CLI::App& app, Action& action, const std::string& name, ArgsBuilder run) {
  CLI::App* sub = app.add_subcommand(name, Help(*FindCommand(name)));
  sub->callback([&action, name, run] { action = [name, run](Session& s) { return run(s, name); }; });
  return sub;
}

void AddPeriodic(CLI::App& app, Action& action) {
  auto dates = std::make_shared<std::pair<std::string, std::string>>();
  auto* sub = Add(app, action, "periodic-report", [dates](Session& s, const std::string& name) {
    return RunRequest(s, name, {{"from", CivilDate(dates->first)}, {"to", CivilDate(dates->second)}});
  });
  sub->add_option("FROM", dates->first, "first day")->required();
  sub->add_option("TO", dates->second, "last day")->required();
}

void AddPrice(CLI::App& app, Action& action) {
  auto args = std::make_shared<std::pair<std::string, std::string>>();
  auto* sub = Add(app, action, "change-price", [args](Session& s, const std::string& name) {
    return RunRequest(s, name, {{"code", IntegerOrText(args->first)}, {"price", args->second}});
  });
  sub->add_option("CODE", args->first, "article code")->required();
  sub->add_option("PRICE", args->second, "new price, e.g. 12.50")->required();
}

int ProgramFrom(Session& s, const std::string& name, std::istream& in, const std::string& label) {
  Source source{label, {}};
  Json articles = Json::array();
  for (const ArticleRow& row : ReadArticles(in, label)) {
    const std::string articleName = Utf16ToUtf8(row.name);
    if (int status = CheckPrintable(s, name, label, row.line, articleName)) return status;
    articles.push_back({{"code", row.code}, {"name", articleName}, {"unit", row.unit},
                        {"tax", row.tax}, {"price", FormatMoney(row.price)}});
    source.lines.push_back(row.line);
  }
  return RunRequest(s, name, {{"articles", articles}}, &source);
}

void AddProgram(CLI::App& app, Action& action) {
  auto file = std::make_shared<std::string>();
  auto* sub = Add(app, action, "program-articles", [file](Session& s, const std::string& name) {
    return FromFile(s, name, *file, [&](std::istream& in, const std::string& label) {
      return ProgramFrom(s, name, in, label);
    });
  });
  sub->add_option("FILE", *file, "UTF-8 CSV file, - for standard input")->required();
}

void AddPayment(CLI::App& app, Action& action) {
  auto args = std::make_shared<std::pair<std::string, std::string>>();
  auto* sub = Add(app, action, "pay", [args](Session& s, const std::string& name) {
    return RunRequest(s, name, {{"type", PaymentType(args->first)}, {"amount", args->second}});
  });
  std::string types;
  for (size_t i = 0; i < kPaymentTypes.size(); ++i)
    types += std::string(i == 0 ? "" : ", ") + std::string(kPaymentTypes[i]) + " (" + std::to_string(i) + ")";
  sub->add_option("TYPE", args->first, "payment type: " + types)->required();
  sub->add_option("AMOUNT", args->second, "amount, e.g. 100.00")->required();
}

int NonfiscalFrom(Session& s, const std::string& name, std::istream& in, const std::string& label,
                  int width) {
  const std::vector<std::string> lines = ReadTextLines(in, label);
  if (lines.empty()) throw InputError(label, "nothing to print");
  Source source{label, {}};
  for (size_t i = 0; i < lines.size(); ++i) {
    source.lines.push_back(static_cast<int>(i) + 1);
    if (int status = CheckPrintable(s, name, label, source.lines.back(), lines[i])) return status;
  }
  return RunRequest(s, name, {{"lines", lines}, {"width", width}}, &source);
}

void AddNonfiscal(CLI::App& app, Action& action) {
  struct Args {
    std::string file = "-";
    int width = kDefaultLineWidth;
  };
  auto args = std::make_shared<Args>();
  auto* sub = Add(app, action, "nonfiscal", [args](Session& s, const std::string& name) {
    return FromFile(s, name, args->file, [&](std::istream& in, const std::string& label) {
      return NonfiscalFrom(s, name, in, label, args->width);
    });
  });
  sub->add_option("FILE", args->file, "text file, - (the default) for standard input");
  sub->add_option("--width", args->width, "line width in characters")
      ->check(CLI::Range(1, kMaxLineWidth))
      ->capture_default_str();
  sub->footer(
      "One printed line per input line. A line may start with '*' (bold), then '<' (left, the\n"
      "default), '^' (centred) or '>' (right); \"LEFT||RIGHT\" prints two columns.\n"
      "Start a line with '<' to print a leading '^', '>' or '<' as it is.");
}

// A number in decimal ("101") or hex ("0x65"), else the text as given: the
// request's checks then say what range a command byte has.
Json CommandByte(const std::string& text) {
  if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data() + 2, end, value, 16);
    return ec == std::errc() && stop == end && text.size() > 2 ? Json(value) : Json(text);
  }
  return IntegerOrText(text);
}

// Words of hex digits as one string of pairs; words that are not pairs are
// kept apart, for the checks to refuse.
std::string HexData(const std::vector<std::string>& words) {
  std::string data;
  const bool pairs = ParseHexWords(words).has_value();
  for (const std::string& word : words) data += (data.empty() || pairs ? "" : " ") + word;
  return data;
}

void AddRaw(CLI::App& app, Action& action) {
  struct Args {
    std::string command;
    std::vector<std::string> data;
    bool longFrame = false;
  };
  auto args = std::make_shared<Args>();
  auto* sub = Add(app, action, "raw", [args](Session& s, const std::string& name) {
    return RunRequest(s, name, {{"command", CommandByte(args->command)},
                                {"data", HexData(args->data)},
                                {"long", args->longFrame}});
  });
  sub->add_option("CMD", args->command, "command byte")->required();
  sub->add_option("HEX", args->data, "data bytes, e.g. 0A 0B or 0A0B");
  sub->add_flag("--long", args->longFrame, "send a long frame (two length bytes)");
}

// Commands whose arguments the command line gives in its own way.
const std::map<std::string, void (*)(CLI::App&, Action&), std::less<>> kWithArguments = {
    {"periodic-report", AddPeriodic}, {"change-price", AddPrice}, {"program-articles", AddProgram},
    {"pay", AddPayment},              {"nonfiscal", AddNonfiscal}, {"raw", AddRaw},
};

}  // namespace

void AddPrinterCommands(CLI::App& app, Action& action) {
  for (const CommandInfo& info : Catalogue()) {
    if (const auto add = kWithArguments.find(info.name); add != kWithArguments.end()) {
      add->second(app, action);
      continue;
    }
    Add(app, action, info.name,
        [](Session& s, const std::string& name) { return RunRequest(s, name, Json::object()); });
  }
}

}  // namespace zuvcli
