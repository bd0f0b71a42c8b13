// Fiscal commands with an empty or constant data block, and the helpers
// every command shares.
#include <cmath>
#include <limits>

#include "comportzuv.h"
#include "fiscal_wire.h"

namespace zuv {

bool ReplyField(int k, int count, uint8_t* out) {
  if (!receiveBuffer || RxDataIndex <= 0 || k < 0 || count < 0) return false;
  // 64-bit sums: the indexes come from the wire and must not overflow here.
  const int64_t end = static_cast<int64_t>(k) + count;
  if (end > static_cast<int64_t>(RxExpectDataLen) - 1) return false;
  if (RxDataIndex + end > static_cast<int64_t>(receiveBuffer->size())) return false;
  for (int i = 0; i < count; ++i) out[i] = (*receiveBuffer)[RxDataIndex + k + i];
  return true;
}

int64_t ToHundredths(double x) {
  const double y = x * 100.0;
  if (std::isnan(y)) return 0;
  const double r = wire::RoundHalfEven(y);
  // 2^63 is exact in a double; anything at or beyond it saturates.
  constexpr double kLimit = 9223372036854775808.0;
  if (r >= kLimit) return std::numeric_limits<int64_t>::max();
  if (r < -kLimit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(r);
}

namespace wire {

double RoundHalfEven(double y) {
  // Explicit tie rule, so a caller's fesetround cannot change the amounts sent.
  double r = std::floor(y);
  const double frac = y - r;
  if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
  return r;
}

bool AcknowledgedReport(bool exchanged) {
  if (exchanged) return true;
  return ErrorCode <= 0 && receiveBuffer && !receiveBuffer->empty() &&
         (*receiveBuffer)[0] == 0x06;
}

}  // namespace wire

bool TFiscal::TestVeze() { return TComPortZUV::SendFrame(101, {}, true, false); }

bool TFiscal::PresekStanja() {
  return wire::AcknowledgedReport(TComPortZUV::SendFrame(89, {}, true, false));
}

bool TFiscal::DnevniIzvestaj() {
  return wire::AcknowledgedReport(TComPortZUV::SendFrame(88, {}, true, false));
}

bool TFiscal::BrisanjeBaze() { return TComPortZUV::SendFrame(14, {}, true, true); }

bool TFiscal::AutomatskiZatvoriRacun() {
  // The payment command with amount 0 and type 0 closes whatever is open.
  return TComPortZUV::SendFrame(51, std::vector<uint8_t>(9, 0x00), true, false);
}

bool TFiscal::StornoCeoRacun() {
  return TComPortZUV::SendFrame(50, {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, true,
                                false);
}

bool TFiscal::TrakuPomeri() { return TComPortZUV::SendFrame(28, {}, true, false); }

bool TFiscal::TrakuSeci() { return TComPortZUV::SendFrame(27, {}, true, false); }

bool TFiscal::ZvucniSignal() { return TComPortZUV::SendFrame(34, {}, true, false); }

}  // namespace zuv
