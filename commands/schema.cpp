#include "schema.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "input.h"
#include "utf8.h"

namespace zuvcmd {

namespace {

using Kind = Schema::Kind;

// Whole units up to 12 digits, then up to two decimals after '.' or ','.
constexpr const char* kMoneyPattern = "^[0-9]{1,12}([.,][0-9]{1,2})?$";
// The same, refusing amounts that are all zeros.
constexpr const char* kPositiveMoneyPattern = "^(?![0.,]*$)[0-9]{1,12}([.,][0-9]{1,2})?$";
constexpr const char* kDatePattern = "^20[0-9]{2}-[0-9]{2}-[0-9]{2}$";
constexpr const char* kHexPattern = "^([0-9A-Fa-f]{2})*$";

// A value as the caller wrote it, for messages: bad price "12.345".
std::string Quoted(const Json& value) {
  return "\"" + (value.is_string() ? value.get<std::string>() : value.dump()) + "\"";
}

std::string Range(const Schema& s) {
  return s.hint.empty() ? std::to_string(s.min) + " to " + std::to_string(s.max) : s.hint;
}

std::string Joined(const std::vector<std::string>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i)
    text += (i == 0 ? "" : i + 1 == values.size() ? " or " : ", ") + values[i];
  return text;
}

Json CheckObject(const Schema& s, const Json& value, const std::string& path) {
  if (!value.is_object())
    throw ArgumentError(path, path.empty() ? "the body must be a JSON object" : "must be a JSON object");
  const std::string prefix = path.empty() ? "" : path + ".";
  for (const auto& [key, ignored] : value.items())
    if (std::none_of(s.fields.begin(), s.fields.end(), [&](const Field& f) { return f.name == key; }))
      throw ArgumentError(prefix + key, "unknown field \"" + key + "\"");
  Json normal = Json::object();
  for (const Field& f : s.fields) {
    const auto found = value.find(f.name);
    if (found != value.end())
      normal[f.name] = Check(f.schema, *found, prefix + f.name);
    else if (f.required)
      throw ArgumentError(prefix + f.name, "missing field \"" + f.name + "\"");
    else if (!f.fallback.is_null())
      normal[f.name] = f.fallback;
  }
  return normal;
}

Json CheckArray(const Schema& s, const Json& value, const std::string& path) {
  if (!value.is_array()) throw ArgumentError(path, "must be an array of " + s.what);
  if (value.empty() && s.min > 0) throw ArgumentError(path, s.hint);
  if (s.max != kUnbounded && static_cast<int64_t>(value.size()) > s.max)
    throw ArgumentError(path, std::to_string(value.size()) + " " + s.what + "; at most " +
                                  std::to_string(s.max));
  Json normal = Json::array();
  for (size_t i = 0; i < value.size(); ++i)
    normal.push_back(Check(s.items.front(), value[i], path + "[" + std::to_string(i) + "]"));
  return normal;
}

Json CheckText(const Schema& s, const Json& value, const std::string& path) {
  if (!value.is_string()) throw ArgumentError(path, "must be a string");
  const auto text = Utf8ToUtf16(value.get<std::string>());
  if (!text) throw ArgumentError(path, "not valid UTF-8");
  const auto length = static_cast<int64_t>(text->size());
  if (length < s.min) throw ArgumentError(path, "empty " + s.what);
  if (length > s.max)
    throw ArgumentError(path, s.what + " of " + std::to_string(length) + " characters; at most " +
                                  std::to_string(s.max));
  return value;
}

Json CheckMoney(const Schema& s, const Json& value, const std::string& path) {
  const std::string bad = "bad " + s.what + " " + Quoted(value);
  if (!value.is_string()) throw ArgumentError(path, bad + " (a string such as \"12.50\")");
  const auto hundredths = ParseMoney(value.get<std::string>(), INT64_MAX);
  if (!hundredths) throw ArgumentError(path, bad);
  if (*hundredths > s.max) throw ArgumentError(path, bad + " (at most " + MoneyText(s.max) + ")");
  if (*hundredths < s.min) throw ArgumentError(path, bad + " (" + s.hint + ")");
  return MoneyText(*hundredths);
}

Json CheckDate(const Schema& s, const Json& value, const std::string& path) {
  const auto date = value.is_string() && value.get<std::string>().size() == 10 &&
                            value.get<std::string>()[4] == '-'
                        ? ParseCivilDate(value.get<std::string>())
                        : std::nullopt;
  if (!date)
    throw ArgumentError(path, "bad " + s.what + " " + Quoted(value) + " (yyyy-mm-dd, 2000 to 2099)");
  return FormatDate(*date);
}

Json CheckHex(const Schema& s, const Json& value, const std::string& path) {
  if (!value.is_string()) throw ArgumentError(path, "must be a string");
  const auto bytes = ParseHexWords({value.get<std::string>()});
  if (!bytes && !value.get<std::string>().empty())
    throw ArgumentError(path, s.what + " must be pairs of hex digits");
  const size_t count = bytes ? bytes->size() : 0;
  if (static_cast<int64_t>(count) > s.max)
    throw ArgumentError(path, std::to_string(count) + " " + s.what + " bytes; " +
                                  (s.hint.empty() ? "at most " + std::to_string(s.max) : s.hint));
  std::string hex;
  for (size_t i = 0; i < count; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", (*bytes)[i]);
    hex += pair;
  }
  return hex;
}

Json CheckScalar(const Schema& s, const Json& value, const std::string& path) {
  switch (s.kind) {
    case Kind::Integer:
      if (!value.is_number_integer() || value.get<int64_t>() < s.min || value.get<int64_t>() > s.max)
        throw ArgumentError(path, "bad " + s.what + " " + Quoted(value) + " (" + Range(s) + ")");
      return value.get<int64_t>();
    case Kind::Boolean:
      if (!value.is_boolean()) throw ArgumentError(path, "must be true or false");
      return value;
    case Kind::Enum:
      if (!value.is_string() ||
          std::find(s.values.begin(), s.values.end(), value.get<std::string>()) == s.values.end())
        throw ArgumentError(path, "bad " + s.what + " " + Quoted(value) + " (" + Joined(s.values) + ")");
      return value;
    default:
      break;
  }
  throw ArgumentError(path, "takes no value");
}

}  // namespace

Schema Object(std::vector<Field> fields, std::string description) {
  Schema s;
  s.kind = Kind::Object;
  s.fields = std::move(fields);
  s.description = std::move(description);
  return s;
}

Schema ArrayOf(Schema item, int64_t minItems, int64_t maxItems, std::string what,
               std::string emptyHint) {
  Schema s;
  s.kind = Kind::Array;
  s.items.push_back(std::move(item));
  s.min = minItems;
  s.max = maxItems;
  s.what = std::move(what);
  s.hint = std::move(emptyHint);
  return s;
}

Schema Integer(int64_t min, int64_t max, std::string what, std::string description) {
  Schema s;
  s.kind = Kind::Integer;
  s.min = min;
  s.max = max;
  s.what = std::move(what);
  s.description = std::move(description);
  return s;
}

Schema Boolean(std::string description) {
  Schema s;
  s.kind = Kind::Boolean;
  s.description = std::move(description);
  return s;
}

Schema Text(int64_t minLength, int64_t maxLength, std::string what, std::string description) {
  Schema s = Integer(minLength, maxLength, std::move(what), std::move(description));
  s.kind = Kind::Text;
  return s;
}

Schema Money(int64_t minHundredths, int64_t maxHundredths, std::string what,
             std::string description) {
  Schema s = Integer(minHundredths, maxHundredths, std::move(what), std::move(description));
  s.kind = Kind::Money;
  return s;
}

Schema Date(std::string what, std::string description) {
  Schema s;
  s.kind = Kind::Date;
  s.what = std::move(what);
  s.description = std::move(description);
  return s;
}

Schema Hex(int64_t maxBytes, std::string what, std::string description) {
  Schema s = Integer(0, maxBytes, std::move(what), std::move(description));
  s.kind = Kind::Hex;
  return s;
}

Schema Enum(std::vector<std::string> values, std::string what, std::string description) {
  Schema s;
  s.kind = Kind::Enum;
  s.values = std::move(values);
  s.what = std::move(what);
  s.description = std::move(description);
  return s;
}

Field Optional(std::string name, Schema schema, Json fallback) {
  return {std::move(name), std::move(schema), false, std::move(fallback)};
}

Json Check(const Schema& schema, const Json& value, const std::string& path) {
  switch (schema.kind) {
    case Kind::Object: return CheckObject(schema, value, path);
    case Kind::Array: return CheckArray(schema, value, path);
    case Kind::Text: return CheckText(schema, value, path);
    case Kind::Money: return CheckMoney(schema, value, path);
    case Kind::Date: return CheckDate(schema, value, path);
    case Kind::Hex: return CheckHex(schema, value, path);
    default: return CheckScalar(schema, value, path);
  }
}

namespace {

Json ObjectJsonSchema(const Schema& s) {
  Json properties = Json::object();
  Json required = Json::array();
  for (const Field& f : s.fields) {
    Json property = ToJsonSchema(f.schema);
    if (!f.fallback.is_null()) property["default"] = f.fallback;
    properties[f.name] = property;
    if (f.required) required.push_back(f.name);
  }
  Json out = {{"type", "object"}};
  if (!required.empty()) out["required"] = required;
  out["properties"] = properties;
  out["additionalProperties"] = false;
  return out;
}

Json ScalarJsonSchema(const Schema& s) {
  switch (s.kind) {
    case Kind::Array:
    {
      Json out = {{"type", "array"}, {"items", ToJsonSchema(s.items.front())}, {"minItems", s.min}};
      if (s.max != kUnbounded) out["maxItems"] = s.max;
      return out;
    }
    case Kind::Integer: return {{"type", "integer"}, {"minimum", s.min}, {"maximum", s.max}};
    case Kind::Boolean: return {{"type", "boolean"}};
    case Kind::Text: return {{"type", "string"}, {"minLength", s.min}, {"maxLength", s.max}};
    case Kind::Money:
      return {{"type", "string"}, {"pattern", s.min > 0 ? kPositiveMoneyPattern : kMoneyPattern}};
    case Kind::Date: return {{"type", "string"}, {"format", "date"}, {"pattern", kDatePattern}};
    case Kind::Hex:
      return {{"type", "string"}, {"pattern", kHexPattern}, {"maxLength", 2 * s.max}};
    case Kind::Enum: return {{"type", "string"}, {"enum", s.values}};
    case Kind::Null: return {{"type", "null"}};
    case Kind::Object: break;
  }
  return ObjectJsonSchema(s);
}

}  // namespace

Json ToJsonSchema(const Schema& schema) {
  Json out = ScalarJsonSchema(schema);
  std::string description = schema.description;
  if (schema.kind == Kind::Money)
    description += std::string(description.empty() ? "" : " ") + "At most " + MoneyText(schema.max) +
                   (schema.min > 0 ? ", more than 0." : ".");
  if (!description.empty()) out["description"] = description;
  if (!schema.example.is_null()) out["examples"] = Json::array({schema.example});
  return out;
}

std::string MoneyText(int64_t hundredths) { return FormatMoney(hundredths); }

std::string MoneyText(double amount) {
  return FormatMoney(static_cast<int64_t>(std::llround(amount * 100)));
}

}  // namespace zuvcmd
