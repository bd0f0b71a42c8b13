#include <gtest/gtest.h>

#include <set>

#include "driver/comportzuv.h"

using namespace zuv;

namespace {

class CharsetTest : public ::testing::Test {
 protected:
  void SetUp() override { TComPortZUV::ZUVtableInit(); }
  void TearDown() override { ResetDriverState(); }
  static std::vector<uint8_t> Enc(const std::u16string& s) { return TComPortZUV::StringToZUVbytes(s); }
  static std::u16string Dec(const std::vector<uint8_t>& b) { return TComPortZUV::ZUVbytesToString(b); }
};

// Code point and byte, straight from the device's character chart.
const std::pair<char16_t, uint8_t> kOwnCodes[] = {
    {0x0411, 0x84}, {0x0431, 0x9A}, {0x0412, 0x85}, {0x0432, 0x9B}, {0x0413, 0x86}, {0x0433, 0x9C},
    {0x0414, 0x87}, {0x0434, 0x9D}, {0x0402, 0x88}, {0x0452, 0x9E}, {0x0416, 0x89}, {0x0436, 0x9F},
    {0x0417, 0x8A}, {0x0437, 0xA0}, {0x0418, 0x8B}, {0x0438, 0xA1}, {0x041B, 0x8C}, {0x043B, 0xA2},
    {0x0409, 0x8D}, {0x0459, 0xA3}, {0x041D, 0x8E}, {0x043D, 0xA4}, {0x040A, 0x8F}, {0x045A, 0xA5},
    {0x041F, 0x90}, {0x043F, 0xA6}, {0x0420, 0x91}, {0x0440, 0xA7}, {0x0421, 0x92}, {0x0441, 0xA8},
    {0x040B, 0x93}, {0x045B, 0xA9}, {0x0423, 0x94}, {0x0443, 0xAA}, {0x0424, 0x95}, {0x0444, 0xAB},
    {0x0425, 0x96}, {0x0445, 0xAC}, {0x0426, 0x97}, {0x0446, 0xAD}, {0x0427, 0x98}, {0x0447, 0xAE},
    {0x040F, 0x99}, {0x045F, 0xAF}, {0x0428, 0x7F}, {0x0448, 0xB0}, {0x0106, 0x80}, {0x0107, 0x5B},
    {0x010C, 0x81}, {0x010D, 0x5D}, {0x0110, 0x7E}, {0x0111, 0x5C}, {0x0160, 0x82}, {0x0161, 0x7D},
    {0x017D, 0x83}, {0x017E, 0x7B}};

// Cyrillic look-alike, its Latin twin and the byte both are sent as.
const std::tuple<char16_t, char16_t, uint8_t> kLookAlikes[] = {
    {0x0410, u'A', 0x41}, {0x0415, u'E', 0x45}, {0x0408, u'J', 0x4A}, {0x041A, u'K', 0x4B},
    {0x041C, u'M', 0x4D}, {0x041E, u'O', 0x4F}, {0x0422, u'T', 0x54}, {0x0430, u'a', 0x61},
    {0x0435, u'e', 0x65}, {0x0458, u'j', 0x6A}, {0x043A, u'k', 0x6B}, {0x043C, u'm', 0x6D},
    {0x043E, u'o', 0x6F}, {0x0442, u't', 0x74}};

}  // namespace

TEST_F(CharsetTest, TableHas71DistinctBytes) {
  ASSERT_TRUE(ZUVtable);
  EXPECT_EQ(ZUVtable->size(), 71u);
  std::set<uint8_t> bytes;
  for (const auto& [ch, b] : *ZUVtable) bytes.insert(b);
  EXPECT_EQ(bytes.size(), 71u);
}

TEST_F(CharsetTest, LettersWithOwnCodesRoundTrip) {
  for (const auto& [ch, byte] : kOwnCodes) {
    SCOPED_TRACE(static_cast<int>(ch));
    EXPECT_EQ(Enc(std::u16string(1, ch)), std::vector<uint8_t>{byte});
    EXPECT_EQ(Dec({byte}), std::u16string(1, ch));
  }
}

TEST_F(CharsetTest, LookAlikesTravelAsTheirLatinTwin) {
  for (const auto& [cyr, latin, byte] : kLookAlikes) {
    SCOPED_TRACE(static_cast<int>(cyr));
    EXPECT_EQ(Enc(std::u16string(1, cyr)), std::vector<uint8_t>{byte});
    EXPECT_EQ(Enc(std::u16string(1, latin)), std::vector<uint8_t>{byte});
    EXPECT_EQ(Dec({byte}), std::u16string(1, latin));
  }
  EXPECT_EQ(Enc(u"|"), std::vector<uint8_t>{0x7C});
  EXPECT_EQ(Dec({0x7C}), u"|");
}

TEST_F(CharsetTest, MixedTextsAndBytesOutsideTheTable) {
  EXPECT_TRUE(Enc(u"").empty());
  EXPECT_EQ(Dec({}), u"");
  EXPECT_EQ(Enc(u"Šta"), (std::vector<uint8_t>{0x82, 0x74, 0x61}));
  EXPECT_EQ(Enc(u"Шоља 1kg"), (std::vector<uint8_t>{0x7F, 0x6F, 0xA3, 0x61, 0x20, 0x31, 0x6B, 0x67}));
  EXPECT_EQ(Dec({0xE9}), u"é");
  // ASCII signs whose bytes print as Serbian letters, DEL, and characters
  // the printer lacks print as '?', never as another letter.
  EXPECT_EQ(Enc(u"[\\]{}~\x7F"), std::vector<uint8_t>(7, '?'));
  EXPECT_EQ(Enc(u"€"), std::vector<uint8_t>{'?'});
  EXPECT_EQ(Dec({0xAC}), u"х");
  EXPECT_EQ(Enc(u"😀"), std::vector<uint8_t>(2, '?'));  // one byte per UTF-16 unit
  EXPECT_EQ(Enc(u"\t\n\x01"), std::vector<uint8_t>(3, '?'));
  // Printable ASCII the table leaves alone goes through; | has an entry.
  EXPECT_EQ(Enc(u" !#$%&'()*+,-./09:;<=>?@AZ^_`az|"), Enc(u" !#$%&'()*+,-./09:;<=>?@AZ^_`az|"));
  const std::u16string ascii = u" !#$%&'()*+,-./09:;<=>?@AZ^_`az|";
  EXPECT_EQ(Dec(Enc(ascii)), ascii);
}

TEST_F(CharsetTest, ConversionsWorkBeforeAnyInit) {
  ResetDriverState();
  ASSERT_FALSE(ZUVtable);
  EXPECT_EQ(Enc(u"Ђак"), (std::vector<uint8_t>{0x88, 0x61, 0x6B}));
  EXPECT_EQ(Dec({0x88, 0x41}), u"ЂA");
}
