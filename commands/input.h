// What the tool reads from its arguments and files, checked before anything
// reaches the printer: amounts, dates, article lists, non-fiscal receipts.
#pragma once

#include <chrono>
#include <cstdint>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "driver/comportzuv.h"

namespace zuvcmd {

// Bad input, with where it was found: "FILE:LINE" or the argument's name.
class InputError : public std::runtime_error {
 public:
  InputError(const std::string& where, const std::string& what)
      : std::runtime_error(where + ": " + what), where_(where), reason_(what) {}
  InputError(const std::string& file, int line, const std::string& what)
      : InputError(file + ":" + std::to_string(line), what) {
    file_ = file;
    line_ = line;
  }
  const std::string& Where() const { return where_; }
  const std::string& Reason() const { return reason_; }
  const std::string& File() const { return file_; }  // "" unless read from a file
  int Line() const { return line_; }                 // 0 when not one line's fault

 private:
  std::string where_;
  std::string reason_;
  std::string file_;
  int line_ = 0;
};

// The largest price the printer's 32-bit price field holds, and the largest
// payment the tool accepts (a typo guard well inside the 64-bit field).
constexpr int64_t kMaxPriceHundredths = 2147483647;
constexpr int64_t kMaxPaymentHundredths = 100'000'000'000;  // one thousand million
// Longest article name the tool sends; the printer prints names on one line.
constexpr size_t kMaxArticleName = 32;
// Units of measure and tax groups share one byte, four bits each.
constexpr int kMaxUnit = 15;
constexpr int kMaxTaxGroup = 15;
// Widest non-fiscal line whose 14-line packet still fits one frame.
constexpr int kMaxLineWidth = 71;
constexpr int kDefaultLineWidth = 34;
// What a non-fiscal line's text may hold beyond its width: '*', an
// alignment mark, and the "||" of two columns, which stands for one blank.
constexpr int kMarkupCharacters = 3;

// "12", "12.5", "12.34" or "12,34": hundredths, 0 to `maxHundredths`.
std::optional<int64_t> ParseMoney(std::string_view text, int64_t maxHundredths);
// Hundredths as "123.45".
std::string FormatMoney(int64_t hundredths);
// A decimal integer within [min, max].
std::optional<int64_t> ParseInteger(std::string_view text, int64_t min, int64_t max);
// "dd.mm.yyyy" or "yyyy-mm-dd", years 2000 to 2099.
std::optional<std::chrono::year_month_day> ParseCivilDate(std::string_view text);
// The same, as days since 1899-12-30 (the driver's date form).
std::optional<double> ParseDate(std::string_view text);
// "yyyy-mm-dd".
std::string FormatDate(std::chrono::year_month_day date);
// Words of hex digits ("0A", "0a0b", "0A 0B"): the bytes in order.
std::optional<std::vector<uint8_t>> ParseHexWords(const std::vector<std::string>& words);

struct ArticleRow {
  int32_t code = 0;
  std::u16string name;
  int unit = 0;
  int tax = 0;
  int64_t price = 0;  // hundredths
  int line = 0;
};

// An article list: one article a line, "code,name,unit,tax group,price"
// (';' instead of ',' when the first article line has one); a name with the
// separator is quoted ("..." with "" for a quote). Blank lines, lines
// starting with '#' and a first line starting with "code" are skipped.
std::vector<ArticleRow> ReadArticles(std::istream& in, const std::string& fileName);

// An article name: valid UTF-8, 1 to kMaxArticleName characters. Throws
// InputError naming `where`.
std::u16string CheckArticleName(std::string_view text, const std::string& where);

// The lines of a text file, without line ends and without a leading UTF-8
// byte-order mark (what spreadsheets and some editors write first).
std::vector<std::string> ReadTextLines(std::istream& in, const std::string& fileName);

// The characters of `text` the printer cannot print (the driver sends '?'
// for them), each once, in order of appearance.
std::u16string UnprintableCharacters(const std::u16string& text);
// "the printer cannot print \"☺\", \"♥\"": how the tool and the service say
// which of them a text holds.
std::string CannotPrint(const std::u16string& unprintable);

// One line of non-fiscal markup (see ReadNonfiscal) checked against `width`.
zuv::TNonfiscalLine ParseMarkupLine(std::string_view text, const std::string& where, int width);

// A non-fiscal receipt, one printed line per input line. A line may start
// with '*' (bold), then with '<' (left, the default), '^' (centred) or
// '>' (right); "LEFT||RIGHT" prints two columns. A lone '<' before another
// mark prints that mark.
std::vector<zuv::TNonfiscalLine> ReadNonfiscal(std::istream& in, const std::string& fileName,
                                               int width);

}  // namespace zuvcmd
