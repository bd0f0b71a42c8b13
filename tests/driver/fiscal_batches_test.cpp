// Article batches and non-fiscal receipts: records, packets and limits.
#include "driver_fixture.h"

using namespace zuv;

namespace {

class BatchTest : public DriverTest {
 protected:
  static Bytes DataOf(const Bytes& longFrame) { return Bytes(longFrame.begin() + 4, longFrame.end() - 2); }
  static std::vector<TNonfiscalLine> FullLines(int n, int width) {
    std::vector<TNonfiscalLine> lines;
    for (int i = 0; i < n; ++i)
      lines.emplace_back(std::u16string(width, static_cast<char16_t>(u'a' + i % 26)), -1, false, u"", u"");
    return lines;
  }
  std::vector<uint8_t> Flags() {
    std::vector<uint8_t> flags;
    for (const Bytes& f : Frames()) flags.push_back(f.at(4));
    return flags;
  }
};

std::u16string Fmt(const std::u16string& text, int align, int w, const std::u16string& l = u"",
                   const std::u16string& r = u"") {
  return FormatNonfiscalLine(TNonfiscalLine(text, align, false, l, r), w);
}

}  // namespace

TEST_F(BatchTest, ArticleRecordsForBothPrinterTypes) {
  EXPECT_TRUE(TFiscal::DodajArtikal(1, u"AB", 0, 3, 1.0));
  EXPECT_EQ(*bufferArtikala, (Bytes{0x0B, 0x01, 0, 0, 0, 0x41, 0x42, 0x03, 0x64, 0, 0, 0}));
  bufferArtikala->clear();
  PrinterType = false;
  EXPECT_TRUE(TFiscal::DodajArtikal(1, u"AB", 0, 3, 1.0));
  EXPECT_EQ(*bufferArtikala, (Bytes{0x14, 0x01, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0x41, 0x42, 0x00, 0x03, 0x64, 0, 0, 0}));
  bufferArtikala->clear();
  PrinterType = true;
  // Unit/tax byte, rounded price and its low 32 bits, encoded name.
  EXPECT_TRUE(TFiscal::DodajArtikal(-2, u"Шк", 2, 3, 2.98));
  EXPECT_TRUE(TFiscal::DodajArtikal(3, u"", 15, 15, 0.125));
  EXPECT_TRUE(TFiscal::DodajArtikal(4, u"", 0, 0, 0.375));
  EXPECT_TRUE(TFiscal::DodajArtikal(5, u"", 0, 0, 21474836.47));  // the largest price
  EXPECT_EQ(*bufferArtikala,
            (Bytes{0x0B, 0xFE, 0xFF, 0xFF, 0xFF, 0x7F, 0x6B, 0x23, 0x2A, 0x01, 0, 0,
                   0x09, 0x03, 0, 0, 0, 0xFF, 0x0C, 0, 0, 0,
                   0x09, 0x04, 0, 0, 0, 0x00, 0x26, 0, 0, 0,
                   0x09, 0x05, 0, 0, 0, 0x00, 0xFF, 0xFF, 0xFF, 0x7F}));
}

TEST_F(BatchTest, ProgrammingSendsOneFrameAndAlwaysEmptiesTheBuffer) {
  ReplyAlways({ShortReply(12, {})});
  EXPECT_TRUE(TFiscal::DodajArtikal(1, u"AB", 0, 3, 1.0));
  EXPECT_TRUE(TFiscal::DodajArtikal(2, u"C", 0, 1, 2.0));
  const Bytes batch = *bufferArtikala;
  EXPECT_TRUE(TFiscal::ProgramirajArtikle());
  EXPECT_EQ(Frames(), std::vector<Bytes>{LongFrame(12, batch, true)});
  EXPECT_TRUE(bufferArtikala->empty());

  ReplyAlways({ErrorReply(19)});
  PrinterType = false;
  EXPECT_TRUE(TFiscal::DodajArtikal(1, u"AB", 0, 3, 1.0));
  EXPECT_FALSE(TFiscal::ProgramirajArtikle());
  EXPECT_EQ(ErrorCode, 19);
  EXPECT_EQ(Frames().back()[0], 0x01);
  EXPECT_TRUE(bufferArtikala->empty());

  ReplyAlways({ShortReply(12, {})});
  EXPECT_TRUE(TFiscal::ProgramirajArtikle());  // empty batch: no data, not an error
  EXPECT_EQ(Frames().back(), LongFrame(12, {}, false));
}

TEST_F(BatchTest, ArticlesThatCannotBeFramedAreRefused) {
  EXPECT_FALSE(TFiscal::DodajArtikal(1, std::u16string(247, u'x'), 0, 0, 1.0));
  EXPECT_TRUE(bufferArtikala->empty());
  EXPECT_TRUE(TFiscal::DodajArtikal(1, std::u16string(246, u'x'), 0, 0, 1.0));
  EXPECT_EQ(bufferArtikala->at(0), 255);
  bufferArtikala->clear();
  PrinterType = false;
  EXPECT_FALSE(TFiscal::DodajArtikal(1, std::u16string(238, u'x'), 0, 0, 1.0));
  EXPECT_TRUE(TFiscal::DodajArtikal(1, std::u16string(237, u'x'), 0, 0, 1.0));
  bufferArtikala->clear();
  PrinterType = true;

  // Nine records of 101 bytes and one of 110 fill the long frame exactly.
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(TFiscal::DodajArtikal(i, std::u16string(91, u'x'), 0, 0, 1.0));
  EXPECT_TRUE(TFiscal::DodajArtikal(9, std::u16string(100, u'x'), 0, 0, 1.0));
  EXPECT_EQ(bufferArtikala->size(), 1019u);
  EXPECT_FALSE(TFiscal::DodajArtikal(10, u"", 0, 0, 1.0));
  EXPECT_EQ(bufferArtikala->size(), 1019u);
  ReplyAlways({ShortReply(12, {})});
  EXPECT_TRUE(TFiscal::ProgramirajArtikle());
  EXPECT_EQ(Frames().at(0).size(), 1025u);

  bufferArtikala->assign(1020, 0);  // filled behind the driver's back
  EXPECT_FALSE(TFiscal::ProgramirajArtikle());
  EXPECT_EQ(Frames().size(), 1u);
  EXPECT_TRUE(bufferArtikala->empty());
}

TEST_F(BatchTest, PriceChange) {
  ReplyAlways({ShortReply(11, {})});
  EXPECT_TRUE(TFiscal::PromenaCene(2, 2.98));
  PrinterType = false;
  EXPECT_TRUE(TFiscal::PromenaCene(2, 2.98));
  const Bytes data{0x02, 0, 0, 0, 0x2A, 0x01, 0, 0};
  EXPECT_EQ(Frames(), (std::vector<Bytes>{LongFrame(11, data, true), LongFrame(11, data, false)}));
  ReplyAlways({ErrorReply(18)});
  EXPECT_FALSE(TFiscal::PromenaCene(2, 2.98));
  EXPECT_EQ(ErrorCode, 18);
}

TEST(NonfiscalFormat, Alignments) {
  EXPECT_EQ(Fmt(u"ABCDE", 0, 10), u"   ABCDE  ");
  EXPECT_EQ(Fmt(u"0123456789", 0, 10), u"0123456789");
  EXPECT_EQ(Fmt(u"0123456789A", 0, 10), u"0123456789A");
  EXPECT_EQ(Fmt(u"0123456789AB", 0, 10), u"0123456789AB");
  EXPECT_EQ(Fmt(u"", 0, 10), std::u16string(10, u' '));
  EXPECT_EQ(Fmt(u"AB", 1, 6), u"    AB");
  EXPECT_EQ(Fmt(u"AB", -1, 6), u"AB    ");
  EXPECT_EQ(Fmt(u"ignored", 2, 34, u"Artikli", u" Iznos"), u"Artikli" + std::u16string(21, u' ') + u" Iznos");
  EXPECT_EQ(Fmt(u"", 2, 10, u"Levi tekst", u"desni"), u"Levi tekstdesni");
  const std::u16string forty(40, u'x');
  EXPECT_EQ(Fmt(forty, -1, 34), forty);
  EXPECT_EQ(Fmt(forty, 1, 34), forty);
  EXPECT_EQ(Fmt(u" a ", 5, 34), u" a ");
  EXPECT_EQ(Fmt(u"AB", -1, -3), u"AB");
}

TEST_F(BatchTest, ShortReceiptIsOnePacket) {
  ReplyAlways({LongReply(26, {})});
  const std::vector<TNonfiscalLine> lines{TNonfiscalLine(u"AB", -1, false, u"", u""),
                                          TNonfiscalLine(u"CD", -1, true, u"", u""),
                                          TNonfiscalLine(u"шт", -1, false, u"", u"")};
  EXPECT_TRUE(TFiscal::NefiskalniIsecak(lines, 4));
  EXPECT_EQ(Frames(), std::vector<Bytes>{LongFrame(26, {0x01, 0xFF, 0x41, 0x42, 0x20, 0x20,
                                                        0xEF, 0x43, 0x44, 0x20, 0x20,
                                                        0xFF, 0xB0, 0x74, 0x20, 0x20}, true)});
  EXPECT_FALSE(TFiscal::NefiskalniIsecak({}, 4));
  EXPECT_EQ(Frames().size(), 1u);
}

TEST_F(BatchTest, PacketsOfFourteenLinesAndTheLastPacketFlag) {
  const std::pair<int, std::vector<uint8_t>> cases[] = {
      {14, {1}}, {15, {0, 1}}, {28, {0, 1}}, {30, {0, 0, 1}}};
  for (const auto& [n, flags] : cases) {
    SCOPED_TRACE(n);
    dev().ClearWrites();
    ReplyAlways({LongReply(26, {})});
    EXPECT_TRUE(TFiscal::NefiskalniIsecak(FullLines(n, 34), 34));
    EXPECT_EQ(Flags(), flags);
    EXPECT_EQ(Frames()[0].size(), 6u + 1 + 14 * 35);
  }
  // Fifteen short unpadded lines share one packet, which is the last.
  dev().ClearWrites();
  ReplyAlways({LongReply(26, {})});
  EXPECT_TRUE(TFiscal::NefiskalniIsecak(std::vector<TNonfiscalLine>(15, TNonfiscalLine(u"A", 7, false, u"", u"")), 34));
  EXPECT_EQ(Flags(), std::vector<uint8_t>{1});
  EXPECT_EQ(DataOf(Frames()[0]).size(), 31u);
  // Lines wider than the width fill packets early: only the final packet is
  // flagged, whatever the count.
  for (int n : {14, 20, 25}) {
    dev().ClearWrites();
    std::vector<TNonfiscalLine> wide(n, TNonfiscalLine(std::u16string(40, u'w'), -1, false, u"", u""));
    EXPECT_TRUE(TFiscal::NefiskalniIsecak(wide, 34));
    const auto flags = Flags();
    ASSERT_GE(flags.size(), 2u) << n;
    std::vector<uint8_t> expected(flags.size(), 0);
    expected.back() = 1;
    EXPECT_EQ(flags, expected) << n;
  }
}

TEST_F(BatchTest, RefusedPacketStopsTheReceipt) {
  ReplySequence({{LongReply(26, {})}, {ErrorReply(34)}, {LongReply(26, {})}});
  EXPECT_FALSE(TFiscal::NefiskalniIsecak(FullLines(42, 10), 10));
  EXPECT_EQ(Frames().size(), 2u);
  EXPECT_EQ(ErrorCode, 34);

  dev().ClearWrites();
  ReplySequence({{LongReply(26, {})}, {ErrorReply(34)}});
  PrinterType = false;
  EXPECT_FALSE(TFiscal::NefiskalniIsecak(FullLines(15, 10), 10));
  EXPECT_EQ(Frames().size(), 2u);
  EXPECT_EQ(Frames()[1][0], 0x01);
}

TEST_F(BatchTest, PacketsBeyondTheFrameLimitAreNeverSent) {
  ReplyAlways({LongReply(26, {})});
  ErrorCode = 7;
  // W = 72: fourteen lines would need 1023 data bytes.
  EXPECT_FALSE(TFiscal::NefiskalniIsecak(FullLines(14, 72), 72));
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(ErrorCode, 7);
  // A receipt with one overlong unpadded line sends nothing, not even the
  // full packet before it.
  auto lines = FullLines(14, 71);
  lines.emplace_back(std::u16string(1100, u'x'), 5, false, u"", u"");
  EXPECT_FALSE(TFiscal::NefiskalniIsecak(lines, 71));
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(ErrorCode, 7);
  // An absurd width is refused before any padding is built, and so is a
  // width below 1.
  EXPECT_FALSE(TFiscal::NefiskalniIsecak(FullLines(1, 1), 2147483647));
  EXPECT_FALSE(TFiscal::NefiskalniIsecak(FullLines(3, 1), 0));
  EXPECT_FALSE(TFiscal::NefiskalniIsecak(FullLines(3, 1), -5));
  EXPECT_TRUE(Frames().empty());
}
