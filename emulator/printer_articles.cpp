// The article base: programming in both record layouts, and price changes.
#include "printer_emulator.h"

#include <algorithm>

#include "printer_codes.h"

namespace emu {

using namespace printer;

PrinterEmulator::Outcome PrinterEmulator::ProgramArticles(const Frame& frame) {
  Outcome o;
  // The host's long start byte says which record layout it used: 0x01 adds
  // eight 0xFF bytes after the code and a 0x00 byte after the name.
  const bool padded = frame.start == kLongStartHost;
  const size_t fixed = padded ? 18 : 9;
  const Bytes& d = frame.data;
  std::vector<Article> parsed;
  for (size_t pos = 0; pos < d.size();) {
    const size_t len = d[pos];
    if (pos + 1 + len > d.size() || len < fixed) {
      o.error = kErrLength;
      return o;
    }
    const size_t rec = pos + 1;
    const size_t name_at = rec + (padded ? 12 : 4);
    const size_t name_end = rec + len - (padded ? 6 : 5);
    if (padded && (std::any_of(d.begin() + long(rec + 4), d.begin() + long(rec + 12),
                               [](uint8_t b) { return b != 0xFF; }) ||
                   d[name_end] != 0x00)) {
      o.error = kErrInvalidValue;
      return o;
    }
    Article a;
    a.code = int32_t(GetLE(d, rec, 4));
    a.name_bytes.assign(d.begin() + long(name_at), d.begin() + long(name_end));
    a.name = DecodeText(a.name_bytes);
    const uint8_t unit_tax = d[rec + len - 5];
    a.unit = unit_tax >> 4;
    a.tax = unit_tax & 0x0F;
    a.price = int32_t(GetLE(d, rec + len - 4, 4));
    if (a.code < 0) o.error = kErrArticleCode;
    else if (a.name_bytes.empty()) o.error = kErrEmptyName;
    else if (a.price < 0) o.error = kErrArticlePrice;
    if (o.error != 0) return o;
    parsed.push_back(std::move(a));
    pos = rec + len;
  }
  // All or nothing, like the rest of the batch checks above.
  size_t added = 0;
  for (const Article& a : parsed) added += articles_.count(a.code) == 0;
  if (articles_.size() + added > kMaxArticles) {
    o.error = kErrBaseFull;
    return o;
  }
  for (Article& a : parsed) articles_[a.code] = std::move(a);
  return o;
}

PrinterEmulator::Outcome PrinterEmulator::ChangePrice(const Bytes& data) {
  Outcome o;
  const auto code = int32_t(GetLE(data, 0, 4));
  const auto price = int32_t(GetLE(data, 4, 4));
  auto it = articles_.find(code);
  if (it == articles_.end())
    o.error = kErrMissingArticle;
  else if (price < 0)
    o.error = kErrArticlePrice;
  else
    it->second.price = price;
  return o;
}

}  // namespace emu
