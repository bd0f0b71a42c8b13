// CheckRequest: every argument of every command checked and put in normal
// form before anything reaches the printer.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>

#include "catalogue.h"
#include "driver/comportzuv.h"
#include "input.h"

namespace zuvcli {

namespace {

constexpr int kMaxCommandByte = 255;
constexpr int kPaymentTypes = 3;
const char* const kPaymentNames[kPaymentTypes] = {"cash", "card", "cheque"};
const char* const kMoneyExample = " (a string such as \"12.50\")";

// A value as the user wrote it, for messages: bad price "12.345".
std::string Quoted(const Json& value) {
  return "\"" + (value.is_string() ? value.get<std::string>() : value.dump()) + "\"";
}

// The fields of one JSON object, each named by its path in the body.
class Fields {
 public:
  Fields(const Json& object, std::string prefix, std::initializer_list<const char*> allowed)
      : object_(object), prefix_(std::move(prefix)) {
    if (!object_.is_object())
      throw ArgumentError(Trimmed(), Trimmed().empty() ? "the body must be a JSON object"
                                                       : "must be a JSON object");
    for (const auto& [key, value] : object_.items())
      if (std::none_of(allowed.begin(), allowed.end(), [&](const char* a) { return key == a; }))
        throw ArgumentError(Path(key), "unknown field \"" + key + "\"");
  }

  std::string Path(const std::string& name) const { return prefix_ + name; }

  const Json* Optional(const char* name) const {
    const auto found = object_.find(name);
    return found == object_.end() ? nullptr : &*found;
  }
  const Json& Required(const char* name) const {
    if (const Json* value = Optional(name)) return *value;
    throw ArgumentError(Path(name), std::string("missing field \"") + name + "\"");
  }

  int64_t Integer(const char* name, int64_t min, int64_t max, const std::string& what) const {
    const Json& value = Required(name);
    if (!value.is_number_integer() || value.get<int64_t>() < min || value.get<int64_t>() > max)
      throw ArgumentError(Path(name), "bad " + what + " " + Quoted(value) + " (" +
                                          std::to_string(min) + " to " + std::to_string(max) + ")");
    return value.get<int64_t>();
  }
  std::string Text(const char* name) const {
    const Json& value = Required(name);
    if (!value.is_string()) throw ArgumentError(Path(name), "must be a string");
    return value.get<std::string>();
  }
  // Money as a string: hundredths up to `max`.
  int64_t Money(const char* name, int64_t max, const std::string& what) const {
    const Json& value = Required(name);
    if (!value.is_string()) throw ArgumentError(Path(name), "bad " + what + " " + Quoted(value) + kMoneyExample);
    const auto hundredths = ParseMoney(value.get<std::string>(), max);
    if (!hundredths)
      throw ArgumentError(Path(name), "bad " + what + " " + Quoted(value) + " (at most " +
                                          FormatMoney(max) + ")");
    return *hundredths;
  }

 private:
  std::string Trimmed() const { return prefix_.empty() ? "" : prefix_.substr(0, prefix_.size() - 1); }
  const Json& object_;
  std::string prefix_;
};

Json Nothing(const Json& body) {
  Fields(body, "", {});
  return Json::object();
}

Json PeriodicArgs(const Json& body) {
  const Fields f(body, "", {"from", "to"});
  auto date = [&](const char* name) {
    const std::string text = f.Text(name);
    const auto date = ParseCivilDate(text);
    if (!date)
      throw ArgumentError(name, "bad date \"" + text + "\" (dd.mm.yyyy or yyyy-mm-dd, 2000 to 2099)");
    return *date;
  };
  const auto from = date("from");
  const auto to = date("to");
  if (from > to)
    throw ArgumentError("from", "FROM is after TO (" + FormatDate(from) + " after " +
                                    FormatDate(to) + ")");
  return {{"from", FormatDate(from)}, {"to", FormatDate(to)}};
}

Json ArticleArgs(const Json& article, const std::string& prefix) {
  const Fields f(article, prefix, {"code", "name", "unit", "tax", "price"});
  const int64_t code = f.Integer("code", 1, INT32_MAX, "article code");
  const std::string name = f.Text("name");
  try {
    CheckArticleName(name, f.Path("name"));
  } catch (const InputError& e) {
    throw ArgumentError(e.Where(), e.Reason());
  }
  return {{"code", code},
          {"name", name},
          {"unit", f.Integer("unit", 0, kMaxUnit, "unit")},
          {"tax", f.Integer("tax", 0, kMaxTaxGroup, "tax group")},
          {"price", FormatMoney(f.Money("price", kMaxPriceHundredths, "price"))}};
}

Json ProgramArgs(const Json& body) {
  const Fields f(body, "", {"articles"});
  const Json& list = f.Required("articles");
  if (!list.is_array()) throw ArgumentError("articles", "must be an array of articles");
  if (list.empty()) throw ArgumentError("articles", "no articles");
  Json articles = Json::array();
  for (size_t i = 0; i < list.size(); ++i)
    articles.push_back(ArticleArgs(list[i], "articles[" + std::to_string(i) + "]."));
  return {{"articles", articles}};
}

Json PriceArgs(const Json& body) {
  const Fields f(body, "", {"code", "price"});
  const int64_t code = f.Integer("code", 1, INT32_MAX, "article code");
  return {{"code", code}, {"price", FormatMoney(f.Money("price", kMaxPriceHundredths, "price"))}};
}

std::string PaymentName(const Json& value) {
  std::string text = value.is_string() ? value.get<std::string>() : "";
  if (value.is_number_integer() && value.get<int64_t>() >= 0 && value.get<int64_t>() < kPaymentTypes)
    text = std::to_string(value.get<int64_t>());
  if (text == "check") text = "cheque";
  for (int type = 0; type < kPaymentTypes; ++type)
    if (text == kPaymentNames[type] || text == std::to_string(type)) return kPaymentNames[type];
  throw ArgumentError("type", "bad payment type " + Quoted(value) + " (cash, card or cheque; or 0, 1, 2)");
}

Json PayArgs(const Json& body) {
  const Fields f(body, "", {"type", "amount"});
  const std::string type = PaymentName(f.Required("type"));
  const int64_t amount = f.Money("amount", kMaxPaymentHundredths, "amount");
  if (amount == 0)
    throw ArgumentError("amount", "bad amount " + Quoted(f.Required("amount")) +
                                      " (use close to pay the rest)");
  return {{"type", type}, {"amount", FormatMoney(amount)}};
}

Json NonfiscalArgs(const Json& body) {
  const Fields f(body, "", {"lines", "width"});
  const int64_t width = f.Optional("width") ? f.Integer("width", 1, kMaxLineWidth, "width")
                                             : kDefaultLineWidth;
  const Json& lines = f.Required("lines");
  if (!lines.is_array()) throw ArgumentError("lines", "must be an array of strings");
  if (lines.empty()) throw ArgumentError("lines", "nothing to print");
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string field = "lines[" + std::to_string(i) + "]";
    if (!lines[i].is_string()) throw ArgumentError(field, "must be a string");
    try {
      ParseMarkupLine(lines[i].get<std::string>(), field, static_cast<int>(width));
    } catch (const InputError& e) {
      throw ArgumentError(field, e.Reason());
    }
  }
  return {{"lines", lines}, {"width", width}};
}

// Hex digits in pairs, blanks between words allowed: "0A0B", "0a 0b".
std::optional<std::vector<uint8_t>> HexData(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text + ' ') {
    if (c != ' ') {
      word += c;
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  return ParseHexWords(words);
}

Json RawArgs(const Json& body) {
  const Fields f(body, "", {"command", "data", "long"});
  const Json& command = f.Required("command");
  if (!command.is_number_integer() || command.get<int64_t>() < 0 ||
      command.get<int64_t>() > kMaxCommandByte)
    throw ArgumentError("command", "bad command " + Quoted(command) + " (0 to 255)");
  bool longFrame = false;
  if (const Json* value = f.Optional("long")) {
    if (!value->is_boolean()) throw ArgumentError("long", "must be true or false");
    longFrame = value->get<bool>();
  }
  const std::string text = f.Optional("data") ? f.Text("data") : "";
  const auto data = HexData(text);
  if (!data) throw ArgumentError("data", "data must be pairs of hex digits");
  const size_t limit = longFrame ? zuv::MaxLongData : zuv::MaxShortData;
  if (data->size() > limit)
    throw ArgumentError("data", std::to_string(data->size()) + " data bytes; a " +
                                    (longFrame ? "long" : "short") + " frame holds " +
                                    std::to_string(limit));
  std::string hex;
  for (uint8_t byte : *data) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    hex += pair;
  }
  return {{"command", command.get<int64_t>()}, {"data", hex}, {"long", longFrame}};
}

using Checker = std::function<Json(const Json&)>;

const std::map<std::string, Checker, std::less<>>& Checkers() {
  static const std::map<std::string, Checker, std::less<>> checkers = {
      {"periodic-report", PeriodicArgs}, {"program-articles", ProgramArgs},
      {"change-price", PriceArgs},       {"pay", PayArgs},
      {"nonfiscal", NonfiscalArgs},      {"raw", RawArgs},
  };
  return checkers;
}

}  // namespace

CommandRequest CheckRequest(std::string_view name, const Json& body) {
  CommandRequest request;
  request.info = FindCommand(name);
  if (!request.info) throw ArgumentError("", "unknown command \"" + std::string(name) + "\"");
  const Json& given = body.is_null() ? Json::object() : body;
  const auto checker = Checkers().find(name);
  request.args = checker == Checkers().end() ? Nothing(given) : checker->second(given);
  return request;
}

}  // namespace zuvcli
