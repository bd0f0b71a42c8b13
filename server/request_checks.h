// Checks on the parts of a request that are not the command's arguments:
// the query, the headers and the body's JSON. Each throws
// zuvcmd::ArgumentError naming the bad field.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "commands/catalogue.h"
#include "server/core/job_service.h"

namespace zuvsrv {

constexpr std::chrono::milliseconds kDefaultWait{30000};
constexpr std::chrono::milliseconds kMaxWait{600000};
constexpr int kDefaultListLimit = 100;
constexpr int kMaxListLimit = 1000;
constexpr size_t kMaxIdempotencyKey = 128;
constexpr const char* kIdempotencyHeader = "Idempotency-Key";
constexpr size_t kMaxJsonDepth = 32;
// The body field, beside a command's arguments, that refuses text the
// printer cannot print instead of queueing it with warnings.
constexpr const char* kStrictField = "strict";

// ?wait=MS: absent gives the default, 0 means do not wait.
std::chrono::milliseconds ParseWait(const std::optional<std::string>& text);
// ?limit=N, 1 to kMaxListLimit.
int ParseLimit(const std::optional<std::string>& text);
// ?state=NAME.
std::optional<JobState> ParseStateFilter(const std::optional<std::string>& text);
// 1 to 128 visible ASCII characters.
std::string CheckIdempotencyKey(const std::string& key);
// The request body as a JSON object; an empty body is {}. Nesting deeper
// than kMaxJsonDepth and a key twice in one object are refused.
Json ParseBody(const std::string& body);
// A request that takes no arguments: the body must be empty or {}.
void CheckNoArguments(const Json& body);
// A command's body: `strict` (a boolean) taken out and the rest checked as
// the command's arguments. With "strict":true a text argument holding
// characters the printer cannot print is refused.
zuvcmd::CommandRequest CheckCommandBody(std::string_view command, Json body);
// A job id in a path: a positive decimal number, or nothing.
std::optional<int64_t> ParseJobId(const std::string& text);

struct Resolution {
  bool done = false;
  std::string note;
};
// {"outcome":"done"|"not-done","note":…}
Resolution ParseResolution(const Json& body);

}  // namespace zuvsrv
