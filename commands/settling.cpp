// The counters that tell whether a command whose reply was lost took
// effect: how each is read, and the rule of each command settled by one.
#include <cmath>
#include <string>

#include "driver/comportzuv.h"
#include "input.h"
#include "parts.h"

namespace zuvcmd {

namespace {

// Half a hundredth: the driver reads amounts back as doubles.
constexpr double kAmountTolerance = 0.005;

// A reading's field: a number, or money as the API writes it.
std::optional<double> Number(const Json& reading, const char* field) {
  if (!reading.is_object()) return std::nullopt;
  const auto it = reading.find(field);
  if (it == reading.end()) return std::nullopt;
  if (it->is_number()) return it->get<double>();
  if (!it->is_string()) return std::nullopt;
  const auto hundredths = ParseMoney(it->get<std::string>(), INT64_MAX);
  if (!hundredths) return std::nullopt;
  return static_cast<double>(*hundredths) / 100;
}

// The receipt-state field that holds the payment type's total.
std::optional<std::string> PaidField(const Json& args) {
  if (!args.is_object() || !args.contains("type") || !args["type"].is_string()) return std::nullopt;
  const int index = PaymentIndex(args["type"].get<std::string>());
  if (index < 0) return std::nullopt;
  return "paid_" + std::string(kPaymentTypes[static_cast<size_t>(index)]);
}

Json ReceiptReading(const zuv::TStanjeRacuna& r) {
  return {{"receipt_number", r.BROJ_RACUNA},          {"items", r.BROJ_STAVKI},
          {"total", MoneyText(r.UKUPNO)},              {"paid_cash", MoneyText(r.PLACENO_GOTOVINA)},
          {"paid_card", MoneyText(r.PLACENO_KARTICA)}, {"paid_cheque", MoneyText(r.PLACENO_CEK)}};
}

}  // namespace

namespace parts {

// A z-report is the only thing that raises the daily report number.
std::optional<bool> ReportPrinted(const Json&, const Json& before, const Json& after) {
  const auto was = Number(before, "report_number"), is = Number(after, "report_number");
  if (!was || !is) return std::nullopt;
  return *is > *was;
}

// Voiding empties the open receipt; with no items before there was nothing
// to void, and the printer refused.
std::optional<bool> ReceiptVoided(const Json&, const Json& before, const Json& after) {
  const auto was = Number(before, "items"), is = Number(after, "items");
  if (!was || !is) return std::nullopt;
  return *was > 0 && *is == 0;
}

// Closing a receipt gives the next one a new number.
std::optional<bool> ReceiptClosed(const Json&, const Json& before, const Json& after) {
  const auto was = Number(before, "receipt_number"), is = Number(after, "receipt_number");
  if (!was || !is) return std::nullopt;
  return *is > *was;
}

// A payment either closed the receipt (it covered the rest: a new receipt
// number, the paid amounts start again) or left it open with the type's
// paid amount raised by the amount. Amount 0 (older journals) paid the rest.
std::optional<bool> PaymentTaken(const Json& args, const Json& before, const Json& after) {
  const auto closed = ReceiptClosed(args, before, after);
  if (!closed) return std::nullopt;
  if (*closed) return true;
  const auto field = PaidField(args);
  const auto amount = Number(args, "amount");
  if (!field || !amount) return std::nullopt;
  const auto was = Number(before, field->c_str()), is = Number(after, field->c_str());
  if (!was || !is) return std::nullopt;
  const double wanted = std::max(*amount, 2 * kAmountTolerance);
  return *is - *was >= wanted - kAmountTolerance;
}

}  // namespace parts

std::optional<Json> ReadCounter(Counter counter) {
  using zuv::TFiscal;
  switch (counter) {
    case Counter::None:
      return std::nullopt;
    case Counter::ReportNumber: {
      const int32_t number = TFiscal::CitajBD();
      if (number == -1 || zuv::ErrorCode != zuv::linkerr::Ok) return std::nullopt;
      return Json{{"report_number", number}};
    }
    case Counter::ReceiptState: {
      const zuv::TStanjeRacuna r = TFiscal::StanjeRacuna();
      if (!r.UspesanOdgovor) return std::nullopt;
      return ReceiptReading(r);
    }
    case Counter::ItemCount: {
      const int32_t items = TFiscal::StanjeRacunaBrojStavki();
      if (items == -1 || zuv::ErrorCode != zuv::linkerr::Ok) return std::nullopt;
      return Json{{"items", items}};
    }
  }
  return std::nullopt;
}

Schema CounterSchema(Counter counter) {
  const Schema count = Integer(0, INT32_MAX, "count");
  const Schema money = Money(0, kMaxPaymentHundredths, "amount");
  switch (counter) {
    case Counter::ReportNumber: return Object({{"report_number", count}});
    case Counter::ItemCount: return Object({{"items", count}});
    case Counter::ReceiptState:
      return Object({{"receipt_number", count},
                     {"items", count},
                     {"total", money},
                     {"paid_cash", money},
                     {"paid_card", money},
                     {"paid_cheque", money}});
    case Counter::None: break;
  }
  return Object({});
}

}  // namespace zuvcmd
