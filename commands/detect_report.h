// Detection's findings as the tool's --json and the service's detect job
// show them, so that both name ports, speeds and findings alike.
#pragma once

#include <nlohmann/json.hpp>

#include "driver/detect.h"

namespace zuvcmd {

// A speed, or null for a tcp:// port, whose device server sets it.
nlohmann::ordered_json BaudJson(int baud);

// [{"port","finding","baud","detail"}, …]: every port considered, in order.
nlohmann::ordered_json PortNotesJson(const zuv::TDetectResult& result);

}  // namespace zuvcmd
