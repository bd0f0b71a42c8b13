// Inputs that would print the wrong thing are refused: false, nothing sent,
// ErrorCode as it was.
#include <cmath>
#include <functional>
#include <limits>

#include "driver/hex.h"
#include "driver/line_table.h"
#include "driver_fixture.h"

using namespace zuv;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class RefusalTest : public DriverTest {
 protected:
  void ExpectRefusedUnsent(const char* what, const std::function<bool()>& op) {
    ErrorCode = 77;
    const size_t before = dev().Writes().size();
    EXPECT_FALSE(op()) << what;
    EXPECT_EQ(dev().Writes().size(), before) << what;
    EXPECT_EQ(ErrorCode, 77) << what;
  }
  Bytes OnlyLongData() {
    const auto frames = Frames();
    EXPECT_EQ(frames.size(), 1u);
    return frames.empty() ? Bytes{} : Bytes(frames[0].begin() + 4, frames[0].end() - 2);
  }
};

}  // namespace

TEST_F(RefusalTest, MoneyThatDoesNotFitItsField) {
  ReplyAlways({ShortReply(51, {})});
  for (double bad : {50000000.0, 21474836.48, -0.01, kNaN, kInf, -kInf})
    ExpectRefusedUnsent("PromenaCene", [bad] { return TFiscal::PromenaCene(1, bad); });
  for (double bad : {kNaN, kInf, -kInf, -1.0, 0.004, 0.005, 1e17})
    ExpectRefusedUnsent("NaplataRacuna", [bad] { return TFiscal::NaplataRacuna(0, bad); });
  const size_t articles = bufferArtikala->size();
  for (double bad : {50000000.0, -3.0, kNaN, -kInf})
    EXPECT_FALSE(TFiscal::DodajArtikal(1, u"A", 0, 0, bad));
  EXPECT_EQ(bufferArtikala->size(), articles);

  // The edges that still fit go out.
  ReplyAlways({LongReply(11, {})});
  EXPECT_TRUE(TFiscal::PromenaCene(1, 21474836.47));
  EXPECT_EQ(OnlyLongData(), (Bytes{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F}));
  dev().ClearWrites();
  EXPECT_TRUE(TFiscal::PromenaCene(1, 0.0));
  ReplyAlways({ShortReply(51, {})});
  EXPECT_TRUE(TFiscal::NaplataRacuna(0, 0.006));  // one hundredth
  EXPECT_TRUE(TFiscal::NaplataRacuna(0, 0.0));    // the rest of the receipt
  EXPECT_TRUE(TFiscal::NaplataRacuna(0, 92233720368547.0));
}

TEST_F(RefusalTest, UnitAndTaxOutsideTheirFourBits) {
  const size_t articles = bufferArtikala->size();
  for (auto [jm, ps] : {std::pair{0, 16}, std::pair{0, 17}, std::pair{16, 0}, std::pair{-1, 0},
                        std::pair{0, -1}})
    EXPECT_FALSE(TFiscal::DodajArtikal(1, u"A", jm, ps, 1.0)) << jm << "/" << ps;
  EXPECT_EQ(bufferArtikala->size(), articles);
  EXPECT_TRUE(TFiscal::DodajArtikal(1, u"A", 15, 15, 1.0));
  EXPECT_EQ((*bufferArtikala)[6], 0xFF);
}

TEST_F(RefusalTest, NonfiscalWidthBelowOne) {
  ReplyAlways({LongReply(26, {})});
  const std::vector<TNonfiscalLine> lines(3, TNonfiscalLine(u"A", -1, false, u"", u""));
  for (int w : {0, -1, std::numeric_limits<int32_t>::min()})
    ExpectRefusedUnsent("NefiskalniIsecak", [&] { return TFiscal::NefiskalniIsecak(lines, w); });
}

TEST_F(RefusalTest, NoTextProducesAMarkerByteInsideALine) {
  ReplyAlways({LongReply(26, {})});
  const std::u16string text = u"a\u00EFb\u00FFc€[~\x7F";
  ASSERT_TRUE(TFiscal::NefiskalniIsecak({TNonfiscalLine(text, 5, true, u"", u"")}, 4));
  EXPECT_EQ(OnlyLongData(), (Bytes{0x01, 0xEF, 'a', '?', 'b', '?', 'c', '?', '?', '?', '?'}));
  // Every 16-bit character: only the attribute bytes are markers.
  std::u16string all;
  for (uint32_t c = 1; c <= 0xFFFF; ++c) all.push_back(static_cast<char16_t>(c));
  for (uint8_t b : TComPortZUV::StringToZUVbytes(all)) ASSERT_TRUE(b != 0xEF && b != 0xFF);
}

TEST(HexHelpers, EdgeCounts) {
  const uint8_t bytes[1025] = {0x02, 0x01, 0x65, 0x00, 0x66};
  EXPECT_EQ(ByteArrayToHEX(bytes, sizeof bytes, 5), " 02 01 65 00 66");
  EXPECT_EQ(ByteArrayToHEX(bytes, sizeof bytes, 0).size(), 3u * 1025);
  EXPECT_EQ(ByteArrayToHEX(bytes, sizeof bytes, 1), " 02");
  EXPECT_EQ(ByteArrayToHEX(bytes, sizeof bytes, -1), "");
  EXPECT_EQ(ByteArrayToHEX(bytes, sizeof bytes, std::numeric_limits<int>::min()), "");
  EXPECT_EQ(ByteArrayToHEX(bytes, 3, 4000), " 02 01 65");  // never past the array
  EXPECT_EQ(ByteArrayToHEX(bytes, 0, 0), "");
  EXPECT_EQ(TBytesToHEX({}), "");
  EXPECT_EQ(TBytesToHEX({0x06, 0x0A, 0xFF}), " 06 0A FF");
  EXPECT_TRUE(ToArrayByte({}).empty());
}

// ---- the line table and the table variant of the non-fiscal receipt ----

TEST(LineTable, InsertBeforeCurrentNullsAndNavigation) {
  TLineTable t;
  t.First();
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecordCount(), 0);
  t.Insert({std::u16string(u"A")});
  t.Insert({std::u16string(u"B")});
  t.Insert({std::u16string(u"C")});
  std::u16string order;
  for (t.First(); !t.Eof(); t.Next()) order += t.AsString("LineText");
  EXPECT_EQ(order, u"CBA");
  EXPECT_THROW(t.Next(), std::out_of_range);
  t.First();
  EXPECT_EQ(t.AsString("LLeft"), u"");   // null fields
  EXPECT_EQ(t.AsInteger("LineAlign"), 0);
  EXPECT_FALSE(t.AsBoolean("LineBold"));
  EXPECT_THROW(t.AsString("NoSuchField"), std::out_of_range);
  EXPECT_THROW(t.AsInteger("LineText"), std::out_of_range);
  EXPECT_THROW(t.Insert({int32_t{1}}), std::invalid_argument);  // wrong type
  t.EmptyTable();
  t.First();
  EXPECT_TRUE(t.Eof());
  EXPECT_THROW(t.AsString("LineText"), std::out_of_range);
}

class TableVariantTest : public RefusalTest {
 protected:
  void TearDown() override {
    cdsNefiskalni = nullptr;
    RefusalTest::TearDown();
  }
  TLineTable table;
};

TEST_F(TableVariantTest, RowsInOrderTrimmed) {
  cdsNefiskalni = &table;
  // Inserted before the current row: the last inserted prints first.
  table.Insert({std::u16string(u"  end\t"), int32_t{-1}, false});
  table.Insert({std::u16string(u"   "), int32_t{-1}, false});
  table.Insert({std::u16string(u""), int32_t{2}, true, std::u16string(u" L "), std::u16string(u"\nR")});
  ReplyAlways({LongReply(26, {})});
  ASSERT_TRUE(TFiscal::NefiskalniIsecakEPSON(5));
  EXPECT_EQ(OnlyLongData(), (Bytes{0x01, 0xEF, 'L', ' ', ' ', ' ', 'R', 0xFF, ' ', ' ', ' ', ' ', ' ',
                                   0xFF, 'e', 'n', 'd', ' ', ' '}));
  EXPECT_TRUE(table.Eof());
}

TEST_F(TableVariantTest, ErrorsAndEmptyTablesGiveFalse) {
  ReplyAlways({LongReply(26, {})});
  ExpectRefusedUnsent("no table", [] { return TFiscal::NefiskalniIsecakEPSON(10); });
  cdsNefiskalni = &table;
  ExpectRefusedUnsent("empty table", [] { return TFiscal::NefiskalniIsecakEPSON(10); });
  table.Insert({std::u16string(u"x"), int32_t{-1}});
  ExpectRefusedUnsent("width 0", [] { return TFiscal::NefiskalniIsecakEPSON(0); });
  // A refused packet is a plain failure.
  ReplyAlways({ErrorReply(34)});
  EXPECT_FALSE(TFiscal::NefiskalniIsecakEPSON(10));
  EXPECT_EQ(ErrorCode, 34);
  // The last-packet rule holds here too: 20 wide rows, one final flag.
  dev().ClearWrites();
  table.EmptyTable();
  for (int i = 0; i < 20; ++i) table.Insert({std::u16string(40, u'w'), int32_t{-1}});
  ReplyAlways({LongReply(26, {})});
  EXPECT_TRUE(TFiscal::NefiskalniIsecakEPSON(34));
  const auto frames = Frames();
  ASSERT_GE(frames.size(), 2u);
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i][4], i + 1 == frames.size() ? 1 : 0);
}

TEST_F(RefusalTest, PortNameWithAnEmbeddedNulIsRefused) {
  const int opens = dev().openCalls;
  EXPECT_FALSE(TComPortZUV::OpenPort(std::string("mem0\0ttyS0", 10), 9600, true, false));
  EXPECT_FALSE(TFiscal::TestVeze());  // no port was opened under the cut name
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->openCalls, opens);
}
