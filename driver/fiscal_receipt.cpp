// Payment and the running state of the open receipt.
#include "comportzuv.h"
#include "fiscal_wire.h"
#include "protocol.h"

namespace zuv {

namespace {

constexpr int32_t kFirstPaymentType = 0;  // cash
constexpr int32_t kLastPaymentType = 2;

// The device reports "nothing" as negative amounts; show them as zero.
double AmountAt(const uint8_t* p) {
  const double v = static_cast<double>(wire::Int64At(p)) / 100.0;
  return v < 0.0 ? 0.0 : v;
}

// -1 is the device's "no items yet".
int32_t ItemsSoFar(int32_t raw) { return raw == -1 ? 0 : raw; }

}  // namespace

bool TFiscal::NaplataRacuna(int32_t TIP, double IZNOS) {
  if (TIP < kFirstPaymentType || TIP > kLastPaymentType) return false;
  int64_t amount = 0;
  if (!wire::MoneyToHundredths(IZNOS, wire::kMaxAmount64, amount)) return false;
  // Zero means "the rest of the receipt": a real amount must not become it.
  if (amount == 0 && IZNOS != 0.0) return false;
  std::vector<uint8_t> data;
  data.reserve(9);
  wire::AppendLE(data, static_cast<uint64_t>(amount), 8);
  data.push_back(static_cast<uint8_t>(TIP));
  return TComPortZUV::SendFrame(cmd::Payment, data, true, false);
}

TStanjeRacuna TFiscal::StanjeRacuna() {
  TStanjeRacuna state;
  if (!TComPortZUV::SendFrame(cmd::ReceiptState, {}, true, false)) return state;
  namespace at = receiptstate;
  uint8_t r[at::ReplyLength];
  if (!ReplyField(0, at::ReplyLength, r)) return state;
  state.UspesanOdgovor = true;
  state.MEDJUZBIR = AmountAt(r + at::Subtotal);
  state.UKUPNO = AmountAt(r + at::Total);
  state.BROJ_STAVKI = ItemsSoFar(wire::Int32At(r + at::ItemCount));
  state.PLACENO_GOTOVINA = AmountAt(r + at::PaidCash);
  state.PLACENO_KARTICA = AmountAt(r + at::PaidCard);
  state.PLACENO_CEK = AmountAt(r + at::PaidCheque);
  state.BROJ_RACUNA = wire::Int32At(r + at::ReceiptNumber);
  return state;
}

int32_t TFiscal::StanjeRacunaBrojStavki() {
  if (!TComPortZUV::SendFrame(cmd::ReceiptState, {}, true, false)) return -1;
  // The whole reply must be there, not just the count's four bytes.
  uint8_t r[receiptstate::ReplyLength];
  if (!ReplyField(0, receiptstate::ReplyLength, r)) return -1;
  return ItemsSoFar(wire::Int32At(r + receiptstate::ItemCount));
}

}  // namespace zuv
