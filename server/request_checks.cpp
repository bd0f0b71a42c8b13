#include "server/request_checks.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <vector>

#include "commands/catalogue.h"

namespace zuvsrv {
namespace {

using zuvcmd::ArgumentError;

std::optional<int64_t> Decimal(const std::string& text) {
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The deepest nesting of arrays and objects, by a flat scan: a body nested
// too deep is refused before the parser recurses into it.
size_t NestingDepth(const std::string& text) {
  size_t depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

// Parses, refusing a key given twice in one object: one of its values
// would be lost without a word.
Json ParseRefusingDuplicates(const std::string& body) {
  std::vector<std::set<std::string>> open;
  Json::parser_callback_t check = [&open](int, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::object_start) open.emplace_back();
    if (event == Json::parse_event_t::object_end && !open.empty()) open.pop_back();
    if (event == Json::parse_event_t::key && !open.empty() &&
        !open.back().insert(parsed.get<std::string>()).second) {
      const std::string key = parsed.get<std::string>();
      throw ArgumentError(key, "the key \"" + key + "\" is given twice");
    }
    return true;
  };
  return Json::parse(body, check, false);
}

}  // namespace

std::chrono::milliseconds ParseWait(const std::optional<std::string>& text) {
  if (!text) return kDefaultWait;
  const std::optional<int64_t> ms = Decimal(*text);
  if (!ms || *ms < 0 || *ms > kMaxWait.count())
    throw ArgumentError("wait", "wait must be milliseconds from 0 to " +
                                    std::to_string(kMaxWait.count()));
  return std::chrono::milliseconds(*ms);
}

int ParseLimit(const std::optional<std::string>& text) {
  if (!text) return kDefaultListLimit;
  const std::optional<int64_t> limit = Decimal(*text);
  if (!limit || *limit < 1 || *limit > kMaxListLimit)
    throw ArgumentError("limit", "limit must be from 1 to " + std::to_string(kMaxListLimit));
  return int(*limit);
}

std::optional<JobState> ParseStateFilter(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const std::optional<JobState> state = ParseJobState(*text);
  if (!state)
    throw ArgumentError("state",
                        "state must be queued, running, done, failed, in-doubt or not-done");
  return state;
}

std::string CheckIdempotencyKey(const std::string& key) {
  bool visible = !key.empty() && key.size() <= kMaxIdempotencyKey;
  for (unsigned char c : key) visible = visible && c > 0x20 && c < 0x7F;
  if (!visible)
    throw ArgumentError(kIdempotencyHeader,
                        "Idempotency-Key must be 1 to 128 visible ASCII characters");
  return key;
}

Json ParseBody(const std::string& body) {
  if (body.find_first_not_of(" \t\r\n") == std::string::npos) return Json::object();
  if (NestingDepth(body) > kMaxJsonDepth)
    throw ArgumentError("body", "the body nests deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  Json parsed = ParseRefusingDuplicates(body);
  if (parsed.is_discarded()) throw ArgumentError("body", "the body is not valid JSON");
  if (!parsed.is_object()) throw ArgumentError("body", "the body must be a JSON object");
  return parsed;
}

void CheckNoArguments(const Json& body) {
  if (body.empty()) return;
  const std::string& field = body.begin().key();
  throw ArgumentError(field, "unknown field \"" + field + "\": this takes no arguments");
}

zuvcmd::CommandRequest CheckCommandBody(std::string_view command, Json body) {
  bool strict = false;
  if (const auto field = body.find(kStrictField); field != body.end()) {
    if (!field->is_boolean()) throw ArgumentError(kStrictField, "strict must be true or false");
    strict = field->get<bool>();
    body.erase(field);
  }
  zuvcmd::CommandRequest request = zuvcmd::CheckRequest(command, body);
  if (!strict) return request;
  const auto unprintable = zuvcmd::FindUnprintable(request);
  if (!unprintable.empty())
    throw ArgumentError(unprintable.front().field,
                        unprintable.front().field + ": " + unprintable.front().message + " (strict)");
  return request;
}

std::optional<int64_t> ParseJobId(const std::string& text) {
  const std::optional<int64_t> id = Decimal(text);
  if (!id || *id <= 0) return std::nullopt;
  return id;
}

Resolution ParseResolution(const Json& body) {
  const auto outcome = body.find("outcome");
  if (outcome == body.end() || !outcome->is_string() ||
      (*outcome != "done" && *outcome != "not-done"))
    throw ArgumentError("outcome", "outcome must be \"done\" or \"not-done\"");
  Resolution resolution;
  resolution.done = *outcome == "done";
  if (const auto note = body.find("note"); note != body.end() && !note->is_null()) {
    if (!note->is_string()) throw ArgumentError("note", "note must be text");
    resolution.note = note->get<std::string>();
  }
  return resolution;
}

}  // namespace zuvsrv
