// The line table of non-fiscal receipts: a small in-memory table with five
// typed, nullable fields, rows kept in the order they were placed and one
// current row. The example application fills it; the table variant of the
// non-fiscal receipt prints it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace zuv {

class TLineTable {
 public:
  // A field value as given to Insert: empty (null), text, integer or Boolean.
  using Value = std::variant<std::monostate, std::u16string, int32_t, bool>;

  static constexpr int FieldCount = 5;
  static constexpr size_t TextFieldSize = 100;  // characters kept of a text field

  // Adds a row with values for the leading fields in field order (LineText,
  // LineAlign, LineBold, LLeft, LRight); the others stay empty. The row goes
  // immediately before the current row and becomes current. Throws
  // std::invalid_argument for too many values or a value of the wrong type.
  void Insert(std::initializer_list<Value> leading);
  void EmptyTable();  // deletes every row; the table stays usable

  void First();
  void Next();  // throws std::out_of_range past the last row
  bool Eof() const;
  int32_t RecordCount() const;

  // The current row's field by name; an empty field reads as "", 0 or false.
  // Throws std::out_of_range for an unknown name or when past the last row.
  std::u16string AsString(const std::string& field) const;
  int32_t AsInteger(const std::string& field) const;
  bool AsBoolean(const std::string& field) const;

 private:
  struct Row {
    std::optional<std::u16string> LineText;
    std::optional<int32_t> LineAlign;
    std::optional<bool> LineBold;
    std::optional<std::u16string> LLeft;
    std::optional<std::u16string> LRight;
  };
  const Row& Current() const;

  std::vector<Row> rows_;
  size_t cursor_ = 0;  // == rows_.size(): past the last row
};

// The application's line table (its data module sets it); the table variant
// of the non-fiscal receipt prints from it. Not owned by the driver.
extern TLineTable* cdsNefiskalni;

}  // namespace zuv
