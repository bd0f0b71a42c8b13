#include "charset.h"

#include <array>

namespace emu {

namespace {

struct Entry {
  char16_t ch;
  uint8_t byte;
};

// Letters with a code of their own. Cyrillic look-alikes of Latin letters
// (А, Е, Ј, К, М, О, Т) share the Latin codes and decode as Latin.
constexpr Entry kLetters[] = {
    {u'Б', 0x84}, {u'б', 0x9A}, {u'В', 0x85}, {u'в', 0x9B}, {u'Г', 0x86},
    {u'г', 0x9C}, {u'Д', 0x87}, {u'д', 0x9D}, {u'Ђ', 0x88}, {u'ђ', 0x9E},
    {u'Ж', 0x89}, {u'ж', 0x9F}, {u'З', 0x8A}, {u'з', 0xA0}, {u'И', 0x8B},
    {u'и', 0xA1}, {u'Л', 0x8C}, {u'л', 0xA2}, {u'Љ', 0x8D}, {u'љ', 0xA3},
    {u'Н', 0x8E}, {u'н', 0xA4}, {u'Њ', 0x8F}, {u'њ', 0xA5}, {u'П', 0x90},
    {u'п', 0xA6}, {u'Р', 0x91}, {u'р', 0xA7}, {u'С', 0x92}, {u'с', 0xA8},
    {u'Ћ', 0x93}, {u'ћ', 0xA9}, {u'У', 0x94}, {u'у', 0xAA}, {u'Ф', 0x95},
    {u'ф', 0xAB}, {u'Х', 0x96}, {u'х', 0xAC}, {u'Ц', 0x97}, {u'ц', 0xAD},
    {u'Ч', 0x98}, {u'ч', 0xAE}, {u'Џ', 0x99}, {u'џ', 0xAF}, {u'Ш', 0x7F},
    {u'ш', 0xB0}, {u'Ć', 0x80}, {u'ć', 0x5B}, {u'Č', 0x81}, {u'č', 0x5D},
    {u'Đ', 0x7E}, {u'đ', 0x5C}, {u'Š', 0x82}, {u'š', 0x7D}, {u'Ž', 0x83},
    {u'ž', 0x7B},
};

constexpr Entry kLookAlikes[] = {
    {u'А', 'A'}, {u'Е', 'E'}, {u'Ј', 'J'}, {u'К', 'K'}, {u'М', 'M'},
    {u'О', 'O'}, {u'Т', 'T'}, {u'а', 'a'}, {u'е', 'e'}, {u'ј', 'j'},
    {u'к', 'k'}, {u'м', 'm'}, {u'о', 'o'}, {u'т', 't'},
};

constexpr std::array<char16_t, 256> MakeDecodeTable() {
  std::array<char16_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = char16_t(b);
  for (const Entry& e : kLetters) table[e.byte] = e.ch;
  return table;
}

constexpr std::array<char16_t, 256> kDecode = MakeDecodeTable();

uint8_t EncodeUnit(char16_t unit) {
  for (const Entry& e : kLetters)
    if (e.ch == unit) return e.byte;
  for (const Entry& e : kLookAlikes)
    if (e.ch == unit) return e.byte;
  return uint8_t(unit & 0xFF);
}

// Decodes one code point at `i`, advancing it; a malformed sequence yields
// its first byte as a Latin-1 character.
char32_t NextCodePoint(std::string_view s, size_t& i) {
  const auto b0 = uint8_t(s[i]);
  const int extra = b0 < 0x80             ? 0
                    : (b0 & 0xE0) == 0xC0 ? 1
                    : (b0 & 0xF0) == 0xE0 ? 2
                    : (b0 & 0xF8) == 0xF0 ? 3
                                          : -1;
  if (extra <= 0 || i + size_t(extra) >= s.size()) {
    ++i;
    return b0;
  }
  char32_t cp = b0 & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const auto b = uint8_t(s[i + size_t(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return b0;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += size_t(extra) + 1;
  return cp;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

std::string DecodeText(const uint8_t* bytes, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    char16_t ch = kDecode[bytes[i]];
    // Control bytes would upset the paper layout; show them as dots.
    if (ch < 0x20) ch = u'.';
    AppendUtf8(out, ch);
  }
  return out;
}

std::vector<uint8_t> EncodeText(std::string_view utf8) {
  std::vector<uint8_t> out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const char32_t cp = NextCodePoint(utf8, i);
    if (cp > 0xFFFF) {
      const char32_t v = cp - 0x10000;
      out.push_back(uint8_t((0xD800 + (v >> 10)) & 0xFF));
      out.push_back(uint8_t((0xDC00 + (v & 0x3FF)) & 0xFF));
    } else {
      out.push_back(EncodeUnit(char16_t(cp)));
    }
  }
  return out;
}

size_t Utf8Length(std::string_view utf8) {
  size_t n = 0;
  for (char c : utf8)
    if ((uint8_t(c) & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace emu
