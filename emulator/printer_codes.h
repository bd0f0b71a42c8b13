// What the printer emulator's command families share: the command and
// error numbers, the limits, little-endian fields and the paper's layout.
// Only for the emulator's own files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "charset.h"
#include "frame.h"

namespace emu::printer {

enum Command : uint8_t {
  kClockRead = 2,
  kIdentifierRead = 3,
  kPriceChange = 11,
  kArticleProgramming = 12,
  kDeleteArticles = 14,
  kNonfiscal = 26,
  kPaperCut = 27,
  kPaperFeed = 28,
  kBuzzer = 34,
  kVoid = 50,
  kPayment = 51,
  kReceiptState = 56,
  kDailyReportNumber = 86,
  kDailyReport = 88,
  kInterimReport = 89,
  kPeriodicReport = 90,
  kConnectionTest = 101,
};

enum ErrorCode : uint8_t {
  kErrArticleCode = 11,
  kErrArticlePrice = 12,
  kErrMissingArticle = 18,
  kErrBaseFull = 19,
  kErrEmptyName = 20,
  kErrInvalidValue = 21,
  kErrReceiptOpen = 34,
  kErrNoReceipt = 38,
  kErrLength = 101,
  kErrUnknownCommand = 102,
};

constexpr uint8_t kBoldLine = 0xEF;
constexpr uint8_t kNormalLine = 0xFF;
constexpr size_t kMaxArticles = 10000;
constexpr size_t kMaxItems = 1000;
constexpr int64_t kMaxPrice = 100'000'000'000;
constexpr int64_t kMaxQuantity = 10'000'000;
// Characters on a paper line.
constexpr size_t kWidth = 40;

inline void PutLE(Bytes& out, int64_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(uint8_t(uint64_t(value) >> (8 * i)));
}

inline int64_t GetLE(const Bytes& in, size_t pos, int size) {
  uint64_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | in[pos + size_t(i)];
  if (size < 8 && (v >> (8 * size - 1)) != 0) v |= ~uint64_t(0) << (8 * size);  // sign
  return int64_t(v);
}

// A paper line with `left` and `right` at its two ends.
inline std::string Pad(const std::string& left, const std::string& right) {
  const size_t used = Utf8Length(left) + Utf8Length(right);
  return left + std::string(used < kWidth ? kWidth - used : 1, ' ') + right + "\n";
}

inline std::string Center(const std::string& text) {
  const size_t len = Utf8Length(text);
  return std::string(len < kWidth ? (kWidth - len) / 2 : 0, ' ') + text + "\n";
}

inline std::string Rule(char c) { return std::string(kWidth, c) + "\n"; }

}  // namespace emu::printer
