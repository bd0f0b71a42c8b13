// The shape of a command's arguments and results, written once: the checks
// on a request and the JSON Schema of the API document both come from it,
// so what the document allows is what the checks accept.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace zuvcmd {

using Json = nlohmann::ordered_json;

// Bad arguments: `field` names the argument ("amount", "articles[2].price")
// and, for input read from a file, `where` is "FILE:LINE".
class ArgumentError : public std::runtime_error {
 public:
  ArgumentError(std::string field, const std::string& message)
      : std::runtime_error(message), field_(std::move(field)) {}
  const std::string& Field() const { return field_; }

 private:
  std::string field_;
};

struct Field;

struct Schema {
  enum class Kind {
    Object,   // named fields, no others
    Array,    // of `items[0]`, min to max entries
    Integer,  // min to max
    Boolean,
    Text,     // min to max characters (UTF-16 units; the printer has no others)
    Money,    // a decimal string, min to max hundredths; normal form "12.50"
    Date,     // "yyyy-mm-dd", years 2000 to 2099
    Hex,      // pairs of hex digits, min to max bytes; normal form upper case
    Enum,     // one of `values`
    Null,     // results only: nothing
  };
  Kind kind = Kind::Object;
  std::string what;         // the value in messages: "price", "tax group"
  std::string description;  // for the API document
  int64_t min = 0;
  int64_t max = 0;
  std::string hint;         // added to the message of a value out of range
  std::vector<std::string> values;
  std::vector<Field> fields;
  std::vector<Schema> items;
  Json example;             // null: none
};

struct Field {
  std::string name;
  Schema schema;
  bool required = true;
  Json fallback = nullptr;  // the value an optional field takes when absent
};

// An array's maximum when only the body's size limits it.
constexpr int64_t kUnbounded = -1;

// Builders, so that a command's row reads as its shape.
Schema Object(std::vector<Field> fields, std::string description = "");
Schema ArrayOf(Schema item, int64_t minItems, int64_t maxItems, std::string what,
               std::string emptyHint);
Schema Integer(int64_t min, int64_t max, std::string what, std::string description = "");
Schema Boolean(std::string description);
Schema Text(int64_t minLength, int64_t maxLength, std::string what, std::string description = "");
Schema Money(int64_t minHundredths, int64_t maxHundredths, std::string what,
             std::string description = "");
Schema Date(std::string what, std::string description = "");
Schema Hex(int64_t maxBytes, std::string what, std::string description = "");
Schema Enum(std::vector<std::string> values, std::string what, std::string description = "");
// A field that may be left out, taking `fallback` in the normal form.
Field Optional(std::string name, Schema schema, Json fallback);

// `value` checked against `schema` and put in normal form. Throws
// ArgumentError naming the first bad field by its path from `path`.
Json Check(const Schema& schema, const Json& value, const std::string& path = "");

// The schema as JSON Schema (OpenAPI 3.1).
Json ToJsonSchema(const Schema& schema);

// Money as the API writes it: hundredths as "123.45"; a double (what the
// driver reads back) rounded to the hundredth.
std::string MoneyText(int64_t hundredths);
std::string MoneyText(double amount);

}  // namespace zuvcmd
