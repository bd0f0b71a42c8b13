// Fiscal receipts: sales, discount, payment, void, and the printed receipt.
#include "printer_emulator.h"

#include <algorithm>
#include <numeric>

#include "printer_codes.h"
#include "units.h"

namespace emu {

using namespace printer;

PrinterEmulator::Outcome PrinterEmulator::Pay(const Bytes& data) {
  Outcome o;
  const int64_t amount = GetLE(data, 0, 8);
  const uint8_t type = data[8];
  if (!receipt_) {
    o.error = kErrNoReceipt;
  } else if (type > kCheque || amount < 0 || amount > kMaxPrice * 1000) {
    o.error = kErrInvalidValue;
  } else {
    const int64_t total = Subtotal() - receipt_->discount;
    const auto& paid = receipt_->paid;
    const int64_t remaining = total - std::accumulate(paid.begin(), paid.end(), int64_t(0));
    // A zero amount pays whatever is left: the automatic close.
    receipt_->paid[type] += amount == 0 ? std::max<int64_t>(remaining, 0) : amount;
    if (std::accumulate(paid.begin(), paid.end(), int64_t(0)) >= total) CloseReceipt();
  }
  return o;
}

int64_t PrinterEmulator::ItemAmount(const SaleItem& item) {
  return DivRoundHalfEven(item.price * item.quantity, 1000);
}

int64_t PrinterEmulator::Subtotal() const {
  int64_t sum = 0;
  if (receipt_)
    for (const SaleItem& item : receipt_->items) sum += ItemAmount(item);
  return sum;
}

ReceiptView PrinterEmulator::Receipt() const {
  ReceiptView v;
  if (!receipt_) return v;
  v.open = true;
  v.items = receipt_->items;
  v.subtotal = Subtotal();
  v.discount = receipt_->discount;
  v.total = v.subtotal - v.discount;
  v.paid = receipt_->paid;
  return v;
}

bool PrinterEmulator::Sell(const std::vector<SaleItem>& items) {
  if (items.empty()) return false;
  const size_t already = receipt_ ? receipt_->items.size() : 0;
  if (already + items.size() > kMaxItems) return false;
  for (const SaleItem& item : items)
    if (item.price < 0 || item.price > kMaxPrice || item.quantity < 1 ||
        item.quantity > kMaxQuantity)
      return false;
  // Assigned, not emplaced: clang 14 does not yet see the nested type as
  // default-constructible here.
  if (!receipt_) receipt_ = OpenReceipt{};
  receipt_->items.insert(receipt_->items.end(), items.begin(), items.end());
  return true;
}

bool PrinterEmulator::SellArticle(int32_t code, int64_t quantity) {
  auto it = articles_.find(code);
  if (it == articles_.end()) return false;
  return Sell({{it->second.name, it->second.price, quantity}});
}

bool PrinterEmulator::SetDiscount(int64_t hundredths) {
  if (!receipt_ || hundredths < 0 || hundredths > Subtotal()) return false;
  receipt_->discount = hundredths;
  return true;
}

bool PrinterEmulator::VoidReceipt() {
  if (!receipt_) return false;
  const int64_t total = Subtotal() - receipt_->discount;
  Print(Rule('=') + Center("RECEIPT VOIDED") +
        Pad(std::to_string(receipt_->items.size()) + " ITEMS", FormatAmount(total)) + Rule('='));
  ++daily_.voided;
  receipt_.reset();
  return true;
}

void PrinterEmulator::CloseReceipt() {
  const OpenReceipt r = *receipt_;
  const int64_t subtotal = Subtotal();
  const int64_t total = subtotal - r.discount;
  const int64_t paid = std::accumulate(r.paid.begin(), r.paid.end(), int64_t(0));
  ++receipt_number_;
  ++daily_.receipts;
  daily_.sales += total;
  for (size_t t = 0; t < r.paid.size(); ++t) daily_.paid[t] += r.paid[t];
  daily_.change += paid - total;
  receipt_.reset();
  PrintReceipt(r, subtotal, total, paid - total);
}

void PrinterEmulator::PrintReceipt(const OpenReceipt& r, int64_t subtotal, int64_t total,
                                   int64_t change) {
  static const char* const kPaymentNames[] = {"CASH", "CARD", "CHEQUE"};
  std::string text = Rule('=') + Center("FISCAL RECEIPT");
  for (const SaleItem& item : r.items) {
    text += item.name + "\n";
    text += Pad("   " + FormatQuantity(item.quantity) + " x " + FormatAmount(item.price),
                FormatAmount(ItemAmount(item)));
  }
  text += Rule('-') + Pad("SUBTOTAL", FormatAmount(subtotal));
  if (r.discount != 0) text += Pad("DISCOUNT", FormatAmount(-r.discount));
  text += Pad("TOTAL", FormatAmount(total));
  for (size_t t = 0; t < r.paid.size(); ++t)
    if (r.paid[t] != 0) text += Pad(kPaymentNames[t], FormatAmount(r.paid[t]));
  if (change != 0) text += Pad("CHANGE", FormatAmount(change));
  text += Pad("RECEIPT No.", std::to_string(receipt_number_));
  text += Pad(FormatDeviceTime(ClockMs()), "FM " + Identifier()) + Rule('=');
  Print(text);
}

}  // namespace emu
