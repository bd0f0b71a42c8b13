#include "labels.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace zuvcmd {

namespace {

// One name means one thing in every row: "amount" is the amount wherever it
// appears, so each field and value is labelled once, here.
const std::vector<std::pair<std::string_view, Labels>>& FieldLabels() {
  static const std::vector<std::pair<std::string_view, Labels>> labels = {
      {"clock", {"Printer's clock", "Sat štampača"}},
      {"fiscal_id", {"Fiscal memory ID", "Broj fiskalne memorije"}},
      {"receipt_number", {"Receipt number", "Broj računa"}},
      {"report_number", {"Daily report number", "Broj dnevnog izveštaja"}},
      {"from", {"From", "Od"}},
      {"to", {"To", "Do"}},
      {"articles", {"Articles", "Artikli"}},
      {"stopped_at", {"Stopped at article", "Zaustavljeno na artiklu"}},
      {"code", {"Article code", "Šifra artikla"}},
      {"name", {"Name", "Naziv"}},
      {"unit", {"Unit", "Jedinica mere"}},
      {"tax", {"Tax group", "Poreska grupa"}},
      {"price", {"Price", "Cena"}},
      {"type", {"Payment type", "Način plaćanja"}},
      {"amount", {"Amount", "Iznos"}},
      {"subtotal", {"Subtotal", "Međuzbir"}},
      {"total", {"Total", "Ukupno"}},
      {"items", {"Items", "Broj stavki"}},
      {"paid_cash", {"Paid in cash", "Plaćeno gotovinom"}},
      {"paid_card", {"Paid by card", "Plaćeno karticom"}},
      {"paid_cheque", {"Paid by cheque", "Plaćeno čekom"}},
      {"lines", {"Lines", "Redovi"}},
      {"width", {"Width", "Širina"}},
      {"command", {"Command byte", "Bajt komande"}},
      {"data", {"Data", "Podaci"}},
      {"long", {"Long frame", "Dugi okvir"}},
  };
  return labels;
}

const std::vector<std::pair<std::string_view, Labels>>& ValueLabels() {
  static const std::vector<std::pair<std::string_view, Labels>> labels = {
      {kPaymentTypes[0], {"cash", "gotovina"}},
      {kPaymentTypes[1], {"card", "kartica"}},
      {kPaymentTypes[2], {"cheque", "ček"}},
  };
  return labels;
}

const Labels* Find(const std::vector<std::pair<std::string_view, Labels>>& table,
                   std::string_view name) {
  const auto found = std::find_if(table.begin(), table.end(),
                                  [&](const auto& entry) { return entry.first == name; });
  return found == table.end() ? nullptr : &found->second;
}

}  // namespace

const Labels* FieldLabel(std::string_view name) { return Find(FieldLabels(), name); }
const Labels* ValueLabel(std::string_view value) { return Find(ValueLabels(), value); }

}  // namespace zuvcmd
