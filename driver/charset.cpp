// The printer's 8-bit character set: ASCII, Serbian Latin letters with
// diacritics in a few ASCII and 0x80.. positions, Serbian Cyrillic from 0x84.
#include <array>

#include "comportzuv.h"

namespace zuv {

namespace {

struct CharByte {
  char16_t ch;
  uint8_t byte;
};

const CharByte kTable[] = {
    // Cyrillic letters without a Latin look-alike.
    {u'Б', 0x84}, {u'б', 0x9A}, {u'В', 0x85}, {u'в', 0x9B}, {u'Г', 0x86}, {u'г', 0x9C},
    {u'Д', 0x87}, {u'д', 0x9D}, {u'Ђ', 0x88}, {u'ђ', 0x9E}, {u'Ж', 0x89}, {u'ж', 0x9F},
    {u'З', 0x8A}, {u'з', 0xA0}, {u'И', 0x8B}, {u'и', 0xA1}, {u'Л', 0x8C}, {u'л', 0xA2},
    {u'Љ', 0x8D}, {u'љ', 0xA3}, {u'Н', 0x8E}, {u'н', 0xA4}, {u'Њ', 0x8F}, {u'њ', 0xA5},
    {u'П', 0x90}, {u'п', 0xA6}, {u'Р', 0x91}, {u'р', 0xA7}, {u'С', 0x92}, {u'с', 0xA8},
    {u'Ћ', 0x93}, {u'ћ', 0xA9}, {u'У', 0x94}, {u'у', 0xAA}, {u'Ф', 0x95}, {u'ф', 0xAB},
    {u'Х', 0x96}, {u'х', 0xAC}, {u'Ц', 0x97}, {u'ц', 0xAD}, {u'Ч', 0x98}, {u'ч', 0xAE},
    {u'Џ', 0x99}, {u'џ', 0xAF}, {u'Ш', 0x7F}, {u'ш', 0xB0},
    // Latin letters with diacritics.
    {u'Ć', 0x80}, {u'ć', 0x5B}, {u'Č', 0x81}, {u'č', 0x5D}, {u'Đ', 0x7E}, {u'đ', 0x5C},
    {u'Š', 0x82}, {u'š', 0x7D}, {u'Ž', 0x83}, {u'ž', 0x7B},
    // Look-alikes go out as their Latin twin. Small к, м, т are turned into
    // Latin before the lookup, hence the Latin keys.
    {u'А', 0x41}, {u'а', 0x61}, {u'Е', 0x45}, {u'е', 0x65}, {u'Ј', 0x4A}, {u'ј', 0x6A},
    {u'К', 0x4B}, {u'k', 0x6B}, {u'М', 0x4D}, {u'm', 0x6D}, {u'О', 0x4F}, {u'о', 0x6F},
    {u'Т', 0x54}, {u't', 0x74},
    {u'|', 0x7C},
};

static_assert(sizeof(kTable) / sizeof(kTable[0]) == 71);

char16_t LatinLookAlike(char16_t c) {
  switch (c) {
    case u'А': return u'A';
    case u'Е': return u'E';
    case u'Ј': return u'J';
    case u'К': return u'K';
    case u'М': return u'M';
    case u'О': return u'O';
    case u'Т': return u'T';
    case u'а': return u'a';
    case u'е': return u'e';
    case u'ј': return u'j';
    case u'к': return u'k';
    case u'м': return u'm';
    case u'о': return u'o';
    case u'т': return u't';
    default: return c;
  }
}

std::map<char16_t, uint8_t> BuildTable() {
  std::map<char16_t, uint8_t> t;
  for (const CharByte& e : kTable) t.emplace(e.ch, e.byte);
  return t;
}

// Conversions called before Init still get the printer's bytes, not a crash.
const std::map<char16_t, uint8_t>& CurrentTable() {
  static const std::map<char16_t, uint8_t> builtIn = BuildTable();
  return ZUVtable ? *ZUVtable : builtIn;
}

}  // namespace

void TComPortZUV::ZUVtableInit() {
  ZUVtable = std::make_unique<std::map<char16_t, uint8_t>>(BuildTable());
}

namespace {

constexpr uint8_t kUnknown = '?';
constexpr char16_t kFirstPrintable = 0x20;
constexpr char16_t kLastPrintable = 0x7E;

// Printable ASCII whose byte the table gives to no other character: sent as
// it is. Any other character outside the table prints as kUnknown, so that
// no text turns into another letter or into a packet's marker bytes.
std::array<bool, 128> PassThroughAscii(const std::map<char16_t, uint8_t>& table) {
  std::array<bool, 128> pass{};
  for (char16_t c = kFirstPrintable; c <= kLastPrintable; ++c) pass[c] = true;
  for (const auto& [ch, byte] : table)
    if (byte < pass.size() && LatinLookAlike(ch) != byte) pass[byte] = false;
  return pass;
}

}  // namespace

std::vector<uint8_t> TComPortZUV::StringToZUVbytes(const std::u16string& naziv) {
  const auto& table = CurrentTable();
  const std::array<bool, 128> pass = PassThroughAscii(table);
  std::vector<uint8_t> out(naziv.size());
  for (size_t i = 0; i < naziv.size(); ++i) {
    char16_t c = naziv[i];
    // Only these four small letters are folded: the others have keys of their own.
    switch (c) {
      case u'к': c = u'k'; break;
      case u'м': c = u'm'; break;
      case u'о': c = u'o'; break;
      case u'т': c = u't'; break;
      default: break;
    }
    const auto it = table.find(c);
    if (it != table.end())
      out[i] = it->second;
    else
      out[i] = c < pass.size() && pass[c] ? static_cast<uint8_t>(c) : kUnknown;
  }
  return out;
}

std::u16string TComPortZUV::ZUVbytesToString(const std::vector<uint8_t>& ZUVBytes) {
  // Reverse table; should two keys share a byte, the lower code wins.
  char16_t decode[256];
  bool mapped[256] = {};
  for (const auto& [ch, byte] : CurrentTable()) {
    if (!mapped[byte]) {
      decode[byte] = LatinLookAlike(ch);
      mapped[byte] = true;
    }
  }
  std::u16string out;
  out.reserve(ZUVBytes.size());
  for (uint8_t b : ZUVBytes) out.push_back(mapped[b] ? decode[b] : static_cast<char16_t>(b));
  return out;
}

}  // namespace zuv
