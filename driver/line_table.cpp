#include "line_table.h"

#include <stdexcept>

namespace zuv {

TLineTable* cdsNefiskalni = nullptr;

namespace {

template <typename T>
std::optional<T> Take(const TLineTable::Value& value, const char* field) {
  if (std::holds_alternative<std::monostate>(value)) return std::nullopt;
  if (const T* v = std::get_if<T>(&value)) return *v;
  throw std::invalid_argument(std::string("Wrong type of value for field '") + field + "'");
}

std::optional<std::u16string> TakeText(const TLineTable::Value& value, const char* field) {
  auto text = Take<std::u16string>(value, field);
  if (text && text->size() > TLineTable::TextFieldSize) text->resize(TLineTable::TextFieldSize);
  return text;
}

// An unknown name, or a field read as a type it does not hold.
[[noreturn]] void NoField(const std::string& field) {
  throw std::out_of_range("Field '" + field + "' not found for this type");
}

}  // namespace

void TLineTable::Insert(std::initializer_list<Value> leading) {
  if (leading.size() > FieldCount) throw std::invalid_argument("Too many field values");
  Row row;
  const Value* v = leading.begin();
  const size_t n = leading.size();
  if (n > 0) row.LineText = TakeText(v[0], "LineText");
  if (n > 1) row.LineAlign = Take<int32_t>(v[1], "LineAlign");
  if (n > 2) row.LineBold = Take<bool>(v[2], "LineBold");
  if (n > 3) row.LLeft = TakeText(v[3], "LLeft");
  if (n > 4) row.LRight = TakeText(v[4], "LRight");
  // Past the last row the cursor stands on the insert position at the end.
  rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(cursor_), std::move(row));
}

void TLineTable::EmptyTable() {
  rows_.clear();
  cursor_ = 0;
}

void TLineTable::First() { cursor_ = 0; }

void TLineTable::Next() {
  if (Eof()) throw std::out_of_range("Cannot move past the end of the table");
  ++cursor_;
}

bool TLineTable::Eof() const { return cursor_ >= rows_.size(); }

int32_t TLineTable::RecordCount() const { return static_cast<int32_t>(rows_.size()); }

const TLineTable::Row& TLineTable::Current() const {
  if (Eof()) throw std::out_of_range("No current row");
  return rows_[cursor_];
}

std::u16string TLineTable::AsString(const std::string& field) const {
  const Row& row = Current();
  if (field == "LineText") return row.LineText.value_or(u"");
  if (field == "LLeft") return row.LLeft.value_or(u"");
  if (field == "LRight") return row.LRight.value_or(u"");
  NoField(field);
}

int32_t TLineTable::AsInteger(const std::string& field) const {
  const Row& row = Current();
  if (field == "LineAlign") return row.LineAlign.value_or(0);
  NoField(field);
}

bool TLineTable::AsBoolean(const std::string& field) const {
  const Row& row = Current();
  if (field == "LineBold") return row.LineBold.value_or(false);
  NoField(field);
}

}  // namespace zuv
