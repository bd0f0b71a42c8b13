// Code-page conversions: the same bytes from iconv on Linux and from the
// system's converters on Windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/codepage.h"

using namespace serial;

namespace {

struct PageCase {
  uint32_t codePage;
  std::u16string text;
  std::vector<uint8_t> bytes;
};

std::string Bytes(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

const std::u16string kLatin = u"ŠĐČĆŽšđčćž";
const std::u16string kCyrillic = u"ЂЈЉЊЋЏђјљњћџЖжА";

class PageRoundTrip : public ::testing::TestWithParam<PageCase> {};

TEST_P(PageRoundTrip, TextAndBytesTurnIntoEachOther) {
  const PageCase& c = GetParam();
  EXPECT_EQ(EncodeCodePage(c.text, c.codePage), Bytes(c.bytes));
  EXPECT_EQ(DecodeCodePage(Bytes(c.bytes), c.codePage), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    SerbianAndWesternPages, PageRoundTrip,
    ::testing::Values(
        PageCase{0, u"aŠЖ€", {'a', 0xC5, 0xA0, 0xD0, 0x96, 0xE2, 0x82, 0xAC}},
        PageCase{65001, u"\U0001F600", {0xF0, 0x9F, 0x98, 0x80}},
        PageCase{1250, kLatin, {0x8A, 0xD0, 0xC8, 0xC6, 0x8E, 0x9A, 0xF0, 0xE8, 0xE6, 0x9E}},
        PageCase{1251,
                 kCyrillic,
                 {0x80, 0xA3, 0x8A, 0x8C, 0x8E, 0x8F, 0x90, 0xBC, 0x9A, 0x9C, 0x9E, 0x9F, 0xC6,
                  0xE6, 0xC0}},
        PageCase{1252, u"Ãéü€", {0xC3, 0xE9, 0xFC, 0x80}},
        PageCase{852, kLatin, {0xE6, 0xD1, 0xAC, 0x8F, 0xA6, 0xE7, 0xD0, 0x9F, 0x86, 0xA7}},
        PageCase{855,
                 kCyrillic,
                 {0x81, 0x8F, 0x91, 0x93, 0x95, 0x9B, 0x80, 0x8E, 0x90, 0x92, 0x94, 0x9A, 0xEA,
                  0xE9, 0xA1}},
        PageCase{866, u"ЖжАбв", {0x86, 0xA6, 0x80, 0xA1, 0xA2}},
        PageCase{20866, u"ЖжАбв", {0xF6, 0xD6, 0xE1, 0xC2, 0xD7}},
        PageCase{28592, kLatin, {0xA9, 0xD0, 0xC8, 0xC6, 0xAE, 0xB9, 0xF0, 0xE8, 0xE6, 0xBE}},
        PageCase{28595,
                 kCyrillic,
                 {0xA2, 0xA8, 0xA9, 0xAA, 0xAB, 0xAF, 0xF2, 0xF8, 0xF9, 0xFA, 0xFB, 0xFF, 0xB6,
                  0xD6, 0xB0}},
        PageCase{1200, u"Ša", {0x60, 0x01, 'a', 0x00}},
        PageCase{1201, u"Ša", {0x01, 0x60, 0x00, 'a'}}));

TEST(CodePage, WhatThePageLacksIsAQuestionMarkNotALookAlike) {
  EXPECT_EQ(EncodeCodePage(u"Šx\u0416", 1250), Bytes({0x8A, 'x', '?'}));
  // ć is not in 1252; a best-fit 'c' would print a different name.
  EXPECT_EQ(EncodeCodePage(u"ćé", 1252), Bytes({'?', 0xE9}));
  // A surrogate without its partner has no encoding.
  EXPECT_EQ(EncodeCodePage(std::u16string{u'a', char16_t(0xD800), u'b'}, 65001), "a?b");
}

TEST(CodePage, BytesThePageCannotReadBecomeReplacementCharacters) {
  EXPECT_EQ(DecodeCodePage(Bytes({'a', 0xC5, 0xA0, 0xFF}), 0), u"aŠ\uFFFD");
  EXPECT_EQ(DecodeCodePage(Bytes({0xC6, 0x98, 0xE0}), 1251), u"Ж\uFFFDа");  // 0x98 is unassigned
}

TEST(CodePage, UnknownPageOrNothingToConvertGivesNothing) {
  EXPECT_EQ(EncodeCodePage(u"abc", 12345), "");
  EXPECT_EQ(DecodeCodePage("abc", 12345), u"");
  EXPECT_EQ(EncodeCodePage(u"", 1250), "");
  EXPECT_EQ(DecodeCodePage("", 1250), u"");
}

}  // namespace
