// Non-fiscal receipts end to end: how the lines were cut into packets and
// flagged as the printer received them, and what it printed.
#include "e2e_fixture.h"
#include "emulator/charset.h"

namespace e2e {
namespace {

using zuv::TFiscal;
using zuv::TNonfiscalLine;

constexpr int32_t kWidth = 34;

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) emu::AppendUtf8(out, c);
  return out;
}

// Full-width lines in every padding alignment, some bold, with letters of
// both alphabets that have codes of their own.
std::vector<TNonfiscalLine> Lines(int count) {
  std::vector<TNonfiscalLine> lines;
  for (int i = 0; i < count; ++i) {
    const std::u16string n = u"#" + std::u16string(1, u'0' + i / 10) + char16_t(u'0' + i % 10);
    const int32_t align = i % 4 - 1;  // -1, 0, 1, 2
    const bool bold = i % 3 == 0;
    if (align == 2)
      lines.emplace_back(u"", 2, bold, u"Бурић " + n, u"12,50 дин");
    else
      lines.emplace_back(u"Čaj šđžć " + n, align, bold, u"", u"");
  }
  return lines;
}

struct Case {
  int lines;
  std::vector<uint8_t> flags;  // one per packet
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.lines << " lines"; }

class NonfiscalReceipt : public EndToEnd, public ::testing::WithParamInterface<Case> {};

TEST_P(NonfiscalReceipt, PacketsAndFlagsAsReceived) {
  const Case& c = GetParam();
  const std::vector<TNonfiscalLine> lines = Lines(c.lines);
  EXPECT_TRUE(TFiscal::NefiskalniIsecak(lines, kWidth));
  EXPECT_EQ(zuv::ErrorCode, 0);

  std::vector<emu::ReceivedRequest> packets = Requests();
  ASSERT_EQ(packets.size(), c.flags.size());
  size_t line = 0;
  for (size_t p = 0; p < packets.size(); ++p) {
    const emu::ReceivedRequest& packet = packets[p];
    EXPECT_EQ(packet.command, 26);
    EXPECT_EQ(packet.start, 0x03);
    EXPECT_TRUE(packet.long_form);
    ASSERT_FALSE(packet.data.empty());
    EXPECT_EQ(packet.data[0], c.flags[p]) << "packet " << p;
    // Attribute byte, then exactly the width in text, line after line.
    const Bytes& d = packet.data;
    ASSERT_EQ((d.size() - 1) % (kWidth + 1), 0u) << "packet " << p;
    for (size_t at = 1; at < d.size(); at += kWidth + 1, ++line) {
      ASSERT_LT(line, lines.size());
      EXPECT_EQ(d[at], lines[line].Bold() ? 0xEF : 0xFF) << "line " << line;
      const Bytes text(d.begin() + long(at) + 1, d.begin() + long(at) + 1 + kWidth);
      EXPECT_EQ(text, zuv::TComPortZUV::StringToZUVbytes(FormatNonfiscalLine(lines[line], kWidth)))
          << "line " << line;
    }
  }
  EXPECT_EQ(line, lines.size());

  // Printed once, when the packet flagged last came, every line in order.
  std::string expected;
  for (const TNonfiscalLine& l : lines)
    expected += (l.Bold() ? "B|" : " |") + Utf8(FormatNonfiscalLine(l, kWidth)) + "|\n";
  const std::string paper = Paper();
  EXPECT_NE(paper.find(expected), std::string::npos) << paper;
  const size_t end = paper.find("END OF NON-FISCAL RECEIPT");
  EXPECT_NE(end, std::string::npos);
  EXPECT_EQ(end, paper.rfind("END OF NON-FISCAL RECEIPT"));
}

INSTANTIATE_TEST_SUITE_P(FullWidthLines, NonfiscalReceipt,
                         ::testing::Values(Case{3, {1}}, Case{14, {1}}, Case{15, {0, 1}},
                                           Case{28, {0, 1}}),
                         [](const auto& info) { return std::to_string(info.param.lines) + "Lines"; });

TEST_F(EndToEnd, NonfiscalAlignmentsAsPrinted) {
  const std::vector<TNonfiscalLine> lines = {
      {u"Račun", 0, true, u"", u""},
      {u"", 2, false, u"Artikli", u" Iznos"},
      {u"ћ", 1, false, u"", u""},
  };
  EXPECT_TRUE(TFiscal::NefiskalniIsecak(lines, kWidth));
  const auto packets = Requests();
  ASSERT_EQ(packets.size(), 1u);
  const std::string paper = Paper();
  EXPECT_NE(paper.find("B|" + std::string(15, ' ') + "Račun" + std::string(14, ' ') + "|\n"),
            std::string::npos)
      << paper;
  EXPECT_NE(paper.find(" |Artikli" + std::string(21, ' ') + " Iznos|\n"), std::string::npos);
  EXPECT_NE(paper.find(" |" + std::string(33, ' ') + "ћ|\n"), std::string::npos);
}

TEST_F(EndToEnd, EmptyNonfiscalReceiptSendsNothing) {
  EXPECT_FALSE(TFiscal::NefiskalniIsecak({}, kWidth));
  EXPECT_EQ(RequestCount(), 0u);
}

}  // namespace
}  // namespace e2e
