// Article programming: records collected in bufferArtikala, sent in one
// long frame; price change of a single article.
#include "comportzuv.h"
#include "fiscal_wire.h"
#include "protocol.h"

namespace zuv {

namespace {

// Unit of measure and tax group share one byte, four bits each.
constexpr int32_t kMaxNibble = 15;

bool FitsNibble(int32_t v) { return v >= 0 && v <= kMaxNibble; }

// A price as its 32-bit field holds it; false when it does not fit.
bool PriceWord(double price, uint32_t& word) {
  int64_t hundredths = 0;
  if (!wire::MoneyToHundredths(price, wire::kMaxAmount32, hundredths)) return false;
  word = static_cast<uint32_t>(hundredths);
  return true;
}

}  // namespace

bool TFiscal::DodajArtikal(int32_t KOD, const std::u16string& NAZIV, int32_t JM, int32_t PS,
                           double CENA) {
  if (!bufferArtikala) return false;
  uint32_t price = 0;
  if (!FitsNibble(JM) || !FitsNibble(PS) || !PriceWord(CENA, price)) return false;
  // Bytes after the length byte: code, [8 x FF], name, [00], unit/tax, price.
  const size_t following = 4 + (PrinterType ? 0 : 9) + NAZIV.size() + 1 + 4;
  // A wrapped length byte would make the device misread every later record,
  // and a batch over the long frame's limit could not be sent at all.
  if (following > 255) return false;
  if (bufferArtikala->size() + 1 + following > static_cast<size_t>(MaxLongData)) return false;
  std::vector<uint8_t> record{static_cast<uint8_t>(following)};
  wire::AppendLE(record, static_cast<uint32_t>(KOD), 4);
  if (!PrinterType) record.insert(record.end(), 8, 0xFF);
  const std::vector<uint8_t> name = TComPortZUV::StringToZUVbytes(NAZIV);
  record.insert(record.end(), name.begin(), name.end());
  if (!PrinterType) record.push_back(0x00);
  record.push_back(static_cast<uint8_t>(JM << 4 | PS));
  wire::AppendLE(record, price, 4);
  bufferArtikala->insert(bufferArtikala->end(), record.begin(), record.end());
  return true;
}

bool TFiscal::ProgramirajArtikle() {
  if (!bufferArtikala) return false;
  const std::vector<uint8_t> data = std::move(*bufferArtikala);
  // The batch is dropped whatever happens; a failed one must be added again.
  bufferArtikala->clear();
  // Only reachable by filling the buffer directly: refuse rather than frame it.
  if (data.size() > static_cast<size_t>(MaxLongData)) return false;
  return TComPortZUV::SendFrame(cmd::ProgramArticles, data, PrinterType, true);
}

bool TFiscal::PromenaCene(int32_t KOD, double CENA) {
  uint32_t price = 0;
  if (!PriceWord(CENA, price)) return false;
  std::vector<uint8_t> data;
  data.reserve(8);
  wire::AppendLE(data, static_cast<uint32_t>(KOD), 4);
  wire::AppendLE(data, price, 4);
  return TComPortZUV::SendFrame(cmd::ChangePrice, data, PrinterType, true);
}

}  // namespace zuv
