// Fiscal commands with an empty or constant data block, and the helpers
// every command shares.
#include <cmath>
#include <limits>

#include "comportzuv.h"
#include "fiscal_wire.h"
#include "protocol.h"

namespace zuv {

bool ReplyField(int k, int count, uint8_t* out) {
  // A reply too short for the field is no reply: the exchange counts as failed.
  const auto tooShort = [] {
    ErrorCode = linkerr::NoReply;
    return false;
  };
  if (!receiveBuffer || RxDataIndex <= 0 || k < 0 || count < 0) return tooShort();
  // 64-bit sums: the indexes come from the wire and must not overflow here.
  const int64_t end = static_cast<int64_t>(k) + count;
  if (end > static_cast<int64_t>(RxExpectDataLen) - 1) return tooShort();
  if (RxDataIndex + end > static_cast<int64_t>(receiveBuffer->size())) return tooShort();
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

bool MoneyToHundredths(double x, int64_t limit, int64_t& hundredths) {
  if (!std::isfinite(x) || x < 0.0) return false;
  const double r = RoundHalfEven(x * 100.0);
  // Compared as doubles: every limit used here converts up, never down, so
  // a value just past it cannot round back into range.
  if (!(r <= static_cast<double>(limit)) || r >= 9223372036854775808.0) return false;
  hundredths = static_cast<int64_t>(r);
  return true;
}

bool AcknowledgedReport(bool exchanged) {
  if (exchanged) return true;
  return ErrorCode <= 0 && receiveBuffer && !receiveBuffer->empty() &&
         (*receiveBuffer)[0] == ctl::ACK;
}

}  // namespace wire

bool TFiscal::TestVeze() { return TComPortZUV::SendFrame(cmd::ConnectionTest, {}, true, false); }

bool TFiscal::PresekStanja() {
  return wire::AcknowledgedReport(TComPortZUV::SendFrame(cmd::InterimReport, {}, true, false));
}

bool TFiscal::DnevniIzvestaj() {
  return wire::AcknowledgedReport(TComPortZUV::SendFrame(cmd::DailyReport, {}, true, false));
}

bool TFiscal::BrisanjeBaze() { return TComPortZUV::SendFrame(cmd::DeleteArticleBase, {}, true, true); }

bool TFiscal::AutomatskiZatvoriRacun() {
  // The payment command with amount 0 and type 0 closes whatever is open.
  return TComPortZUV::SendFrame(cmd::Payment, std::vector<uint8_t>(9, 0x00), true, false);
}

bool TFiscal::StornoCeoRacun() {
  const std::vector<uint8_t> wholeReceipt{0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  return TComPortZUV::SendFrame(cmd::VoidReceipt, wholeReceipt, true, false);
}

bool TFiscal::TrakuPomeri() { return TComPortZUV::SendFrame(cmd::FeedPaper, {}, true, false); }

bool TFiscal::TrakuSeci() { return TComPortZUV::SendFrame(cmd::CutPaper, {}, true, false); }

bool TFiscal::ZvucniSignal() { return TComPortZUV::SendFrame(cmd::Buzzer, {}, true, false); }

}  // namespace zuv
