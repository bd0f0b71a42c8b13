#include "settling.h"

#include <cmath>
#include <string>

namespace zuvsrv {

namespace {

using zuvcli::Counter;

// Half a hundredth: amounts come back as doubles.
constexpr double kAmountTolerance = 0.005;

std::optional<double> Number(const Json& reading, const char* field) {
  if (!reading.is_object()) return std::nullopt;
  const auto it = reading.find(field);
  if (it == reading.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

std::optional<double> Amount(const Json& value) {
  if (value.is_number()) return value.get<double>();
  if (!value.is_string()) return std::nullopt;
  try {
    size_t used = 0;
    const double amount = std::stod(value.get<std::string>(), &used);
    if (used != value.get<std::string>().size()) return std::nullopt;
    return amount;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The receipt-state field that holds the payment type's total.
const char* PaidField(const Json& type) {
  static const char* const kFields[] = {"paid_cash", "paid_card", "paid_cheque"};
  if (type.is_number_integer()) {
    const auto index = type.get<int64_t>();
    return index >= 0 && index < 3 ? kFields[index] : nullptr;
  }
  if (!type.is_string()) return nullptr;
  const auto name = type.get<std::string>();
  if (name == "cash") return kFields[0];
  if (name == "card") return kFields[1];
  if (name == "cheque" || name == "check") return kFields[2];
  return nullptr;
}

// A z-report is the only thing that raises the daily report number.
std::optional<bool> ReportPrinted(const Json& before, const Json& after) {
  const auto was = Number(before, "report_number"), is = Number(after, "report_number");
  if (!was || !is) return std::nullopt;
  return *is > *was;
}

// Voiding empties the open receipt; with no items before there was nothing
// to void, and the printer refused.
std::optional<bool> ReceiptVoided(const Json& before, const Json& after) {
  const auto was = Number(before, "items"), is = Number(after, "items");
  if (!was || !is) return std::nullopt;
  return *was > 0 && *is == 0;
}

// Closing a receipt gives the next one a new number.
std::optional<bool> ReceiptClosed(const Json& before, const Json& after) {
  const auto was = Number(before, "receipt_number"), is = Number(after, "receipt_number");
  if (!was || !is) return std::nullopt;
  return *is > *was;
}

// A payment either closed the receipt (it covered the rest: a new receipt
// number, the paid amounts start again) or left it open with the type's
// paid amount raised by the amount. Amount 0 pays the rest, so it closes.
std::optional<bool> PaymentTaken(const Json& args, const Json& before, const Json& after) {
  const auto closed = ReceiptClosed(before, after);
  if (!closed) return std::nullopt;
  if (*closed) return true;
  const char* field = args.is_object() && args.contains("type") ? PaidField(args["type"]) : nullptr;
  const auto amount = args.is_object() && args.contains("amount") ? Amount(args["amount"])
                                                                   : std::nullopt;
  if (!field || !amount) return std::nullopt;
  const auto was = Number(before, field), is = Number(after, field);
  if (!was || !is) return std::nullopt;
  const double wanted = std::max(*amount, 2 * kAmountTolerance);
  return *is - *was >= wanted - kAmountTolerance;
}

}  // namespace

std::optional<bool> TookEffect(Counter counter, const Json& args, const Json& before,
                               const Json& after) {
  switch (counter) {
    case Counter::ReportNumber: return ReportPrinted(before, after);
    case Counter::ItemCount: return ReceiptVoided(before, after);
    case Counter::ReceiptState:
      // pay names a type and an amount; close has no arguments.
      if (args.is_object() && args.contains("amount")) return PaymentTaken(args, before, after);
      return ReceiptClosed(before, after);
    case Counter::None: break;
  }
  return std::nullopt;
}

}  // namespace zuvsrv
