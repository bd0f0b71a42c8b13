#include "server/http_reply.h"

namespace zuvsrv {

void SendJson(HttpResponse& res, int code, const nlohmann::ordered_json& body) {
  res.status = code;
  // Replaces bytes that are not UTF-8 rather than throwing on them.
  res.SetContent(body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace),
                  kJsonType);
}

void SendError(HttpResponse& res, int code, const std::string& kind,
               const std::string& message, const std::string& field) {
  nlohmann::ordered_json error{{"kind", kind}};
  if (!field.empty()) error["field"] = field;
  error["message"] = message;
  SendJson(res, code, {{"ok", false}, {"error", error}});
}

}  // namespace zuvsrv
