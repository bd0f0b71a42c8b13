// Non-fiscal receipts: free text lines formatted to the paper width and sent
// in packets of up to 14 lines, one long frame (command 26) per packet.
#include "comportzuv.h"
#include "line_table.h"
#include "protocol.h"

namespace zuv {

namespace {

constexpr int64_t kLinesInBuffer = 14;
constexpr uint8_t kBold = 0xEF;
constexpr uint8_t kNormal = 0xFF;
constexpr uint8_t kLastPacket = 1;
constexpr uint8_t kNotLastPacket = 0;

std::u16string Spaces(int64_t n) { return std::u16string(n > 0 ? static_cast<size_t>(n) : 0, u' '); }

// The alignments that pad a line out to the full width.
bool Pads(int32_t code) { return code >= align::Left && code <= align::Columns; }

}  // namespace

TNonfiscalLine::TNonfiscalLine(std::u16string LineText, int32_t LineAlign, bool LineBold,
                               std::u16string LLeft, std::u16string LRight)
    : FLineText(std::move(LineText)),
      FLineAlign(LineAlign),
      FLineBold(LineBold),
      FLLeft(std::move(LLeft)),
      FLRight(std::move(LRight)) {}

std::u16string FormatNonfiscalLine(const TNonfiscalLine& line, int32_t W) {
  const std::u16string& text = line.Text();
  const int64_t len = static_cast<int64_t>(text.size());
  switch (line.Align()) {
    case align::Left:
      return text + Spaces(W - len);
    case align::Centre: {
      const int64_t d = W - len;
      // Too long to centre: sent as it is. With an odd d the extra space
      // goes in front.
      if (d < 0) return text;
      const int64_t r = d / 2;
      return Spaces(d - r) + text + Spaces(r);
    }
    case align::Right:
      return Spaces(W - len) + text;
    case align::Columns: {
      const int64_t gap =
          W - static_cast<int64_t>(line.TextLeft().size() + line.TextRight().size());
      return line.TextLeft() + Spaces(gap) + line.TextRight();
    }
    default:
      return text;
  }
}

namespace {

using Packet = std::vector<uint8_t>;

// Packs `n` lines into packets of (about) 14 lines; `lineAt(i)` gives line i
// and is called once per line, in order. Each packet starts with a flag byte
// that is set afterwards. False when a packet would not fit one long frame.
template <typename LineAt>
bool PackNonfiscalLines(int64_t n, LineAt lineAt, int32_t LINE_SIZE, std::vector<Packet>& packets) {
  const int64_t packetFull = (static_cast<int64_t>(LINE_SIZE) + 1) * kLinesInBuffer;
  const auto fits = [](size_t size) { return size <= static_cast<size_t>(MaxLongData); };
  Packet packet;
  for (int64_t i = 0; i < n; ++i) {
    const TNonfiscalLine line = lineAt(i);
    if (packet.empty()) packet.push_back(kNotLastPacket);
    // A padded line is at least W wide: refuse an impossible width before
    // building a string that large.
    const size_t minWidth = Pads(line.Align()) ? static_cast<size_t>(LINE_SIZE) : 0;
    if (!fits(packet.size() + 1 + minWidth)) return false;
    const std::vector<uint8_t> bytes =
        TComPortZUV::StringToZUVbytes(FormatNonfiscalLine(line, LINE_SIZE));
    packet.push_back(line.Bold() ? kBold : kNormal);
    packet.insert(packet.end(), bytes.begin(), bytes.end());
    if (!fits(packet.size())) return false;
    if (static_cast<int64_t>(packet.size()) >= packetFull) {
      packets.push_back(std::move(packet));
      packet.clear();
    }
  }
  if (!packet.empty()) packets.push_back(std::move(packet));
  return true;
}

// Formats, packs and sends `n` lines. Every packet is built before the first
// goes out, so that the flag marks the final packet whatever the lines'
// lengths, and a receipt that cannot be sent whole sends nothing.
template <typename LineAt>
bool SendNonfiscalLines(int64_t n, LineAt lineAt, int32_t LINE_SIZE) {
  if (LINE_SIZE < 1) return false;
  std::vector<Packet> packets;
  if (!PackNonfiscalLines(n, lineAt, LINE_SIZE, packets) || packets.empty()) return false;
  packets.back()[0] = kLastPacket;
  for (const Packet& packet : packets)
    if (!TComPortZUV::SendFrame(cmd::NonfiscalPacket, packet, PrinterType, true)) return false;
  return true;
}

// Characters of code 0x20 or less removed from both ends.
std::u16string Trimmed(const std::u16string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && text[begin] <= u' ') ++begin;
  while (end > begin && text[end - 1] <= u' ') --end;
  return text.substr(begin, end - begin);
}

}  // namespace

bool TFiscal::NefiskalniIsecak(const std::vector<TNonfiscalLine>& LINES, int32_t LINE_SIZE) {
  return SendNonfiscalLines(
      static_cast<int64_t>(LINES.size()),
      [&](int64_t i) { return LINES[static_cast<size_t>(i)]; }, LINE_SIZE);
}

bool TFiscal::NefiskalniIsecakEPSON(int32_t LINE_SIZE) {
  try {
    if (!cdsNefiskalni) return false;
    TLineTable& table = *cdsNefiskalni;
    table.First();
    const auto rowAt = [&](int64_t) {
      TNonfiscalLine line(Trimmed(table.AsString("LineText")), table.AsInteger("LineAlign"),
                          table.AsBoolean("LineBold"), Trimmed(table.AsString("LLeft")),
                          Trimmed(table.AsString("LRight")));
      table.Next();
      return line;
    };
    return SendNonfiscalLines(table.RecordCount(), rowAt, LINE_SIZE);
  } catch (...) {
    return false;
  }
}

}  // namespace zuv
