#include "input.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "driver/protocol.h"
#include "utf8.h"

namespace zuvcmd {

namespace {

constexpr char kBoldMark = '*';
constexpr char kLeftMark = '<';
constexpr char kCentreMark = '^';
constexpr char kRightMark = '>';
constexpr std::string_view kColumnSeparator = "||";
constexpr char kCommentMark = '#';
constexpr int kArticleFields = 5;

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

void StripCarriageReturn(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr int kFirstYear = 2000;
constexpr int kLastYear = 2099;

// Splits one CSV line; quoted fields may hold the separator. Nothing for an
// unterminated quote.
std::optional<std::vector<std::string>> SplitCsv(const std::string& line, char separator) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') {
        fields.back() += c;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"' && Trim(fields.back()).empty()) {
      fields.back().clear();
      quoted = true;
    } else if (c == separator) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (quoted) return std::nullopt;
  return fields;
}

ArticleRow ParseArticle(const std::vector<std::string>& fields, const std::string& where) {
  if (static_cast<int>(fields.size()) != kArticleFields)
    throw InputError(where, "expected 5 fields (code, name, unit, tax group, price), found " +
                                std::to_string(fields.size()));
  ArticleRow row;
  const auto code = ParseInteger(Trim(fields[0]), 1, INT32_MAX);
  if (!code) throw InputError(where, "bad article code \"" + fields[0] + "\"");
  row.code = static_cast<int32_t>(*code);
  row.name = CheckArticleName(Trim(fields[1]), where);
  const auto unit = ParseInteger(Trim(fields[2]), 0, kMaxUnit);
  if (!unit) throw InputError(where, "bad unit \"" + fields[2] + "\" (0 to 15)");
  const auto tax = ParseInteger(Trim(fields[3]), 0, kMaxTaxGroup);
  if (!tax) throw InputError(where, "bad tax group \"" + fields[3] + "\" (0 to 15)");
  const auto price = ParseMoney(Trim(fields[4]), kMaxPriceHundredths);
  if (!price) throw InputError(where, "bad price \"" + fields[4] + "\"");
  row.unit = static_cast<int>(*unit);
  row.tax = static_cast<int>(*tax);
  row.price = *price;
  return row;
}

}  // namespace

std::u16string CheckArticleName(std::string_view text, const std::string& where) {
  const auto name = Utf8ToUtf16(std::string(text));
  if (!name) throw InputError(where, "the name is not valid UTF-8");
  if (name->empty()) throw InputError(where, "empty article name");
  if (name->size() > kMaxArticleName)
    throw InputError(where, "name of " + std::to_string(name->size()) +
                                " characters; at most " + std::to_string(kMaxArticleName));
  return *name;
}

zuv::TNonfiscalLine ParseMarkupLine(std::string_view text, const std::string& where, int width) {
  bool bold = false;
  int align = zuv::align::Left;
  if (!text.empty() && text.front() == kBoldMark) {
    bold = true;
    text.remove_prefix(1);
  }
  if (!text.empty()) {
    switch (text.front()) {
      case kLeftMark: text.remove_prefix(1); break;
      case kCentreMark: align = zuv::align::Centre; text.remove_prefix(1); break;
      case kRightMark: align = zuv::align::Right; text.remove_prefix(1); break;
      default: break;
    }
  }
  const auto decode = [&](std::string_view part) {
    auto utf16 = Utf8ToUtf16(std::string(part));
    if (!utf16) throw InputError(where, "not valid UTF-8");
    return *utf16;
  };
  const size_t wide = static_cast<size_t>(width);
  if (const size_t bar = text.find(kColumnSeparator); bar != std::string_view::npos) {
    const std::u16string left = decode(text.substr(0, bar));
    const std::u16string right = decode(text.substr(bar + kColumnSeparator.size()));
    if (left.size() + right.size() + 1 > wide)
      throw InputError(where, "two columns of " + std::to_string(left.size() + right.size()) +
                                  " characters do not fit a line of " + std::to_string(width));
    return zuv::TNonfiscalLine(u"", zuv::align::Columns, bold, left, right);
  }
  const std::u16string line = decode(text);
  if (line.size() > wide)
    throw InputError(where, "line of " + std::to_string(line.size()) +
                                " characters; the width is " + std::to_string(width));
  return zuv::TNonfiscalLine(line, align, bold, u"", u"");
}

std::u16string UnprintableCharacters(const std::u16string& text) {
  constexpr uint8_t kUnknown = '?';  // what the driver sends for them
  std::u16string found;
  for (char16_t c : text) {
    if (c == kUnknown || found.find(c) != std::u16string::npos) continue;
    if (zuv::TComPortZUV::StringToZUVbytes(std::u16string(1, c)).front() == kUnknown) found += c;
  }
  return found;
}

std::string CannotPrint(const std::u16string& unprintable) {
  std::string list;
  for (char16_t c : unprintable)
    list += (list.empty() ? "\"" : ", \"") + Utf16ToUtf8(std::u16string(1, c)) + "\"";
  return "the printer cannot print " + list;
}

std::string FormatMoney(int64_t hundredths) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%02lld", static_cast<long long>(hundredths / 100),
                static_cast<long long>(hundredths % 100));
  return text;
}

std::optional<int64_t> ParseInteger(std::string_view text, int64_t min, int64_t max) {
  if (!text.empty() && text.front() == '+') return std::nullopt;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::optional<int64_t> ParseMoney(std::string_view text, int64_t maxHundredths) {
  const size_t mark = text.find_first_of(".,");
  const std::string_view whole = text.substr(0, mark);
  const std::string_view cents = mark == std::string_view::npos ? "" : text.substr(mark + 1);
  if (!AllDigits(whole) || whole.size() > 12) return std::nullopt;
  if (mark != std::string_view::npos && (cents.empty() || cents.size() > 2 || !AllDigits(cents)))
    return std::nullopt;
  int64_t value = 0;
  for (char c : whole) value = value * 10 + (c - '0');
  value *= 100;
  if (!cents.empty()) value += (cents[0] - '0') * 10 + (cents.size() > 1 ? cents[1] - '0' : 0);
  if (value > maxHundredths) return std::nullopt;
  return value;
}

std::optional<std::chrono::year_month_day> ParseCivilDate(std::string_view text) {
  int y = 0, m = 0, d = 0;
  auto number = [](std::string_view part, int& out) {
    if (!AllDigits(part)) return false;
    out = static_cast<int>(*ParseInteger(part, 0, 9999));
    return true;
  };
  if (text.size() == 10 && text[2] == '.' && text[5] == '.') {
    if (!number(text.substr(0, 2), d) || !number(text.substr(3, 2), m) ||
        !number(text.substr(6, 4), y))
      return std::nullopt;
  } else if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
    if (!number(text.substr(0, 4), y) || !number(text.substr(5, 2), m) ||
        !number(text.substr(8, 2), d))
      return std::nullopt;
  } else {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(y), std::chrono::month(m),
                                         std::chrono::day(d)};
  if (y < kFirstYear || y > kLastYear || !date.ok()) return std::nullopt;
  return date;
}

std::optional<double> ParseDate(std::string_view text) {
  const auto date = ParseCivilDate(text);
  if (!date) return std::nullopt;
  using namespace std::chrono;
  constexpr sys_days kDriverEpoch = year(1899) / December / 30;
  return static_cast<double>((sys_days(*date) - kDriverEpoch).count());
}

std::string FormatDate(std::chrono::year_month_day date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

std::optional<std::vector<uint8_t>> ParseHexWords(const std::vector<std::string>& words) {
  std::vector<uint8_t> bytes;
  for (const std::string& word : words) {
    if (word.empty() || word.size() % 2 != 0) return std::nullopt;
    for (size_t i = 0; i < word.size(); i += 2) {
      unsigned value = 0;
      const auto [end, ec] = std::from_chars(word.data() + i, word.data() + i + 2, value, 16);
      if (ec != std::errc() || end != word.data() + i + 2) return std::nullopt;
      bytes.push_back(static_cast<uint8_t>(value));
    }
  }
  return bytes;
}

std::vector<std::string> ReadTextLines(std::istream& in, const std::string& fileName) {
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    StripCarriageReturn(line);
    if (lines.empty() && line.starts_with(kByteOrderMark)) line.erase(0, kByteOrderMark.size());
    lines.push_back(std::move(line));
  }
  if (in.bad()) throw InputError(fileName, "read error");
  return lines;
}

std::vector<ArticleRow> ReadArticles(std::istream& in, const std::string& fileName) {
  std::vector<ArticleRow> rows;
  char separator = 0;
  int lineNumber = 0;
  for (const std::string& line : ReadTextLines(in, fileName)) {
    ++lineNumber;
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == kCommentMark) continue;
    const std::string where = fileName + ":" + std::to_string(lineNumber);
    // Errors of the line name the file and the line.
    auto failed = [&](const InputError& e) { return InputError(fileName, lineNumber, e.Reason()); };
    if (!separator) {
      separator = line.find(';') != std::string::npos ? ';' : ',';
      std::string head(trimmed.substr(0, 4));
      for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (head == "code") continue;
    }
    const auto fields = SplitCsv(line, separator);
    if (!fields) throw InputError(fileName, lineNumber, "unterminated quote");
    try {
      rows.push_back(ParseArticle(*fields, where));
    } catch (const InputError& e) {
      throw failed(e);
    }
    rows.back().line = lineNumber;
  }
  if (rows.empty()) throw InputError(fileName, "no articles");
  return rows;
}

std::vector<zuv::TNonfiscalLine> ReadNonfiscal(std::istream& in, const std::string& fileName,
                                               int width) {
  std::vector<zuv::TNonfiscalLine> lines;
  int lineNumber = 0;
  for (const std::string& line : ReadTextLines(in, fileName)) {
    ++lineNumber;
    try {
      lines.push_back(ParseMarkupLine(line, fileName, width));
    } catch (const InputError& e) {
      throw InputError(fileName, lineNumber, e.Reason());
    }
  }
  if (lines.empty()) throw InputError(fileName, "nothing to print");
  return lines;
}

}  // namespace zuvcmd
