// Answers the service gives: JSON bodies and the one shape of every error.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "server/http_message.h"

namespace zuvsrv {

namespace status {
constexpr int kOk = 200;
constexpr int kAccepted = 202;
constexpr int kNoContent = 204;
constexpr int kBadRequest = 400;
constexpr int kUnauthorized = 401;
constexpr int kForbidden = 403;
constexpr int kNotFound = 404;
constexpr int kMethodNotAllowed = 405;
constexpr int kConflict = 409;
constexpr int kPayloadTooLarge = 413;
constexpr int kUnsupportedMediaType = 415;
constexpr int kMisdirected = 421;
constexpr int kHeadersTooLarge = 431;
constexpr int kInternalError = 500;
constexpr int kUnavailable = 503;
}  // namespace status

constexpr const char* kJsonType = "application/json";

// What went wrong, as the error object's "kind".
namespace kind {
constexpr const char* kInput = "input";
constexpr const char* kAuth = "auth";
constexpr const char* kNotFound = "not-found";
constexpr const char* kMethod = "method";
constexpr const char* kConflict = "conflict";
constexpr const char* kTooLarge = "too-large";
constexpr const char* kOrigin = "origin";
constexpr const char* kMediaType = "media-type";
constexpr const char* kHost = "host";
constexpr const char* kHeadersTooLarge = "headers-too-large";
constexpr const char* kInternal = "internal";
constexpr const char* kUnavailable = "unavailable";
}  // namespace kind

void SendJson(HttpResponse& res, int code, const nlohmann::ordered_json& body);

// {"ok":false,"error":{"kind","field"?,"message"}}; `field` only when not empty.
void SendError(HttpResponse& res, int code, const std::string& kind,
               const std::string& message, const std::string& field = "");

}  // namespace zuvsrv
