// Non-fiscal receipts, sent in packets of lines.
#include "printer_emulator.h"

#include "printer_codes.h"

namespace emu {

using namespace printer;

PrinterEmulator::Outcome PrinterEmulator::NonfiscalPacket(const Bytes& data) {
  Outcome o;
  if (data.empty()) {
    o.error = kErrLength;
    return o;
  }
  // Lines carry no terminator: each begins with its attribute byte. Text
  // never holds 0xEF or 0xFF unless the host sent a character outside the
  // printer's set (ï, ÿ or one whose low byte is EF/FF); such a byte starts
  // a new line here, as it would on the printer.
  for (size_t i = 1; i < data.size(); ++i) {
    const uint8_t b = data[i];
    if (b == kBoldLine || b == kNormalLine) {
      nonfiscal_.push_back({b == kBoldLine, {}});
    } else {
      if (nonfiscal_.empty()) nonfiscal_.push_back({false, {}});  // no attribute: plain
      nonfiscal_.back().text.push_back(b);
    }
  }
  if (data[0] != 0) {
    std::string text = Center("NON-FISCAL RECEIPT");
    for (const NonfiscalLine& line : nonfiscal_)
      text += std::string(line.bold ? "B|" : " |") + DecodeText(line.text) + "|\n";
    text += Center("END OF NON-FISCAL RECEIPT");
    Print(text);
    nonfiscal_.clear();
  }
  return o;
}

}  // namespace emu
