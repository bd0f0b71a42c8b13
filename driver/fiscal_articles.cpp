// Article programming: records collected in bufferArtikala, sent in one
// long frame; price change of a single article.
#include "comportzuv.h"
#include "fiscal_wire.h"

namespace zuv {

namespace {

// Only the low 32 bits go on the wire.
uint32_t PriceWord(double price) { return static_cast<uint32_t>(ToHundredths(price)); }

}  // namespace

bool TFiscal::DodajArtikal(int32_t KOD, const std::u16string& NAZIV, int32_t JM, int32_t PS,
                           double CENA) {
  if (!bufferArtikala) return false;
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
  record.push_back(static_cast<uint8_t>(static_cast<uint32_t>(JM) * 16 + static_cast<uint32_t>(PS)));
  wire::AppendLE(record, PriceWord(CENA), 4);
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
  return TComPortZUV::SendFrame(12, data, PrinterType, true);
}

bool TFiscal::PromenaCene(int32_t KOD, double CENA) {
  std::vector<uint8_t> data;
  data.reserve(8);
  wire::AppendLE(data, static_cast<uint32_t>(KOD), 4);
  wire::AppendLE(data, PriceWord(CENA), 4);
  return TComPortZUV::SendFrame(11, data, PrinterType, true);
}

}  // namespace zuv
