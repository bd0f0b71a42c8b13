// CheckRequest: every argument of every command checked against its row and
// put in normal form before anything reaches the printer.
#include "driver/comportzuv.h"
#include "driver/protocol.h"
#include "input.h"
#include "parts.h"
#include "utf8.h"

namespace zuvcmd {

namespace parts {

void FromNotAfterTo(const Json& args) {
  const std::string from = args["from"], to = args["to"];
  // Both are yyyy-mm-dd: text order is date order.
  if (from > to) throw ArgumentError("from", "FROM is after TO (" + from + " after " + to + ")");
}

void LinesFitTheWidth(const Json& args) {
  const int width = args["width"].get<int>();
  const Json& lines = args["lines"];
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string field = "lines[" + std::to_string(i) + "]";
    try {
      ParseMarkupLine(lines[i].get<std::string>(), field, width);
    } catch (const InputError& e) {
      throw ArgumentError(field, e.Reason());
    }
  }
}

void DataFitsTheFrame(const Json& args) {
  const size_t bytes = args["data"].get<std::string>().size() / 2;
  if (args["long"].get<bool>() || bytes <= static_cast<size_t>(zuv::MaxShortData)) return;
  throw ArgumentError("data", std::to_string(bytes) + " data bytes; a short frame holds " +
                                  std::to_string(zuv::MaxShortData));
}

Json DataFitsTheFrameSchema() {
  const Json shortData = {{"properties", {{"data", {{"maxLength", 2 * zuv::MaxShortData}}}}}};
  return {{"if", {{"required", {"long"}}, {"properties", {{"long", {{"const", true}}}}}}},
          {"else", shortData}};
}

}  // namespace parts

namespace {

void CollectUnprintable(const Schema& schema, const Json& value, const std::string& path,
                        std::vector<UnprintableText>& found) {
  switch (schema.kind) {
    case Schema::Kind::Text:
      if (const auto text = value.is_string() ? Utf8ToUtf16(value.get<std::string>()) : std::nullopt)
        if (const std::u16string bad = UnprintableCharacters(*text); !bad.empty())
          found.push_back({path, CannotPrint(bad)});
      return;
    case Schema::Kind::Object:
      for (const Field& field : schema.fields)
        if (value.is_object() && value.contains(field.name))
          CollectUnprintable(field.schema, value[field.name],
                             path.empty() ? field.name : path + "." + field.name, found);
      return;
    case Schema::Kind::Array:
      for (size_t i = 0; value.is_array() && i < value.size(); ++i)
        CollectUnprintable(schema.items.front(), value[i], path + "[" + std::to_string(i) + "]",
                           found);
      return;
    default: return;
  }
}

}  // namespace

std::vector<UnprintableText> FindUnprintable(const CommandRequest& request) {
  std::vector<UnprintableText> found;
  if (request.info) CollectUnprintable(request.info->args, request.args, "", found);
  return found;
}

CommandRequest CheckRequest(std::string_view name, const Json& body) {
  CommandRequest request;
  request.info = FindCommand(name);
  if (!request.info) throw ArgumentError("", "unknown command \"" + std::string(name) + "\"");
  request.args = Check(request.info->args, body.is_null() ? Json::object() : body);
  if (request.info->crossCheck) request.info->crossCheck(request.args);
  return request;
}

}  // namespace zuvcmd
