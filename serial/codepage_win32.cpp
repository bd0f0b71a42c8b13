// Code pages on Windows: the system's own converters, which take the code
// page numbers directly. 0 stays UTF-8 as on Linux (not the ANSI page), and
// the UTF-16 pages, which the converters do not take, are done here.
#include <windows.h>

#include "codepage.h"

namespace serial {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

UINT SystemCodePage(uint32_t codePage) { return codePage == 0 ? CP_UTF8 : codePage; }

bool IsUtf16(uint32_t codePage) { return codePage == 1200 || codePage == 1201; }

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// A surrogate without its partner has no encoding in any code page.
std::u16string WithoutLoneSurrogates(std::u16string text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if (IsSurrogate(c)) text[i] = u'?';
  }
  return text;
}

std::string EncodeUtf16(const std::u16string& text, bool bigEndian) {
  std::string out;
  for (char16_t c : WithoutLoneSurrogates(text)) {
    const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  }
  return out;
}

std::u16string DecodeUtf16(const std::string& bytes, bool bigEndian) {
  std::u16string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    out += static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  if (bytes.size() % 2) out += kReplacement;  // a unit cut off at the end
  return out;
}

// One call of the converter into `out`; false when the system refuses.
bool ToBytes(UINT page, DWORD flags, const std::u16string& text, const char* fallback,
             std::string& out) {
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(page, flags, wide, size, nullptr, 0, fallback, nullptr);
  if (n <= 0) return false;
  out.assign(static_cast<size_t>(n), '\0');
  return ::WideCharToMultiByte(page, flags, wide, size, out.data(), n, fallback, nullptr) == n;
}

bool ToText(UINT page, DWORD flags, const char* bytes, int size, std::u16string& out) {
  const int n = ::MultiByteToWideChar(page, flags, bytes, size, nullptr, 0);
  if (n <= 0) return false;
  out.assign(static_cast<size_t>(n), u'\0');
  return ::MultiByteToWideChar(page, flags, bytes, size, reinterpret_cast<wchar_t*>(out.data()),
                               n) == n;
}

// Bytes the code page cannot read become U+FFFD one character at a time,
// a double-byte character's lead byte taking its trail byte along.
std::u16string DecodePiecewise(UINT page, const std::string& bytes) {
  std::u16string out, piece;
  for (size_t at = 0; at < bytes.size();) {
    const bool lead =
        ::IsDBCSLeadByteEx(page, static_cast<BYTE>(bytes[at])) && at + 1 < bytes.size();
    const int size = lead ? 2 : 1;
    out += ToText(page, MB_ERR_INVALID_CHARS, bytes.data() + at, size, piece)
               ? piece
               : std::u16string(1, kReplacement);
    at += static_cast<size_t>(size);
  }
  return out;
}

// The Windows ANSI pages decode a byte that has no character as the C1
// control of the same number; iconv refuses it, so it is U+FFFD on both.
bool IsAnsiPage(UINT page) { return page == 874 || (page >= 1250 && page <= 1258); }

std::u16string WithoutUnassigned(UINT page, std::u16string text) {
  if (!IsAnsiPage(page)) return text;
  for (char16_t& c : text)
    if (c >= 0x80 && c <= 0x9F) c = kReplacement;
  return text;
}

std::u16string Decode(UINT page, const std::string& bytes) {
  const int size = static_cast<int>(bytes.size());
  std::u16string out;
  // UTF-8 marks its bad sequences with U+FFFD itself.
  if (page == CP_UTF8) return ToText(page, 0, bytes.data(), size, out) ? out : std::u16string();
  if (ToText(page, MB_ERR_INVALID_CHARS, bytes.data(), size, out)) return out;
  if (::GetLastError() == ERROR_NO_UNICODE_TRANSLATION) return DecodePiecewise(page, bytes);
  return ToText(page, 0, bytes.data(), size, out) ? out : std::u16string();
}

}  // namespace

std::string EncodeCodePage(const std::u16string& text, uint32_t codePage) {
  if (text.empty()) return {};
  if (IsUtf16(codePage)) return EncodeUtf16(text, codePage == 1201);
  const UINT page = SystemCodePage(codePage);
  if (!::IsValidCodePage(page)) return {};
  const std::u16string clean = WithoutLoneSurrogates(text);
  std::string out;
  if (page == CP_UTF8) return ToBytes(page, 0, clean, nullptr, out) ? out : std::string();
  // No best fit: a character the page lacks is '?', not a look-alike.
  if (ToBytes(page, WC_NO_BEST_FIT_CHARS, clean, "?", out)) return out;
  // Some pages (the ISO-2022 family, UTF-7) take neither flags nor a fallback.
  return ToBytes(page, 0, clean, nullptr, out) ? out : std::string();
}

std::u16string DecodeCodePage(const std::string& bytes, uint32_t codePage) {
  if (bytes.empty()) return {};
  if (IsUtf16(codePage)) return DecodeUtf16(bytes, codePage == 1201);
  const UINT page = SystemCodePage(codePage);
  if (!::IsValidCodePage(page)) return {};
  return WithoutUnassigned(page, Decode(page, bytes));
}

}  // namespace serial
