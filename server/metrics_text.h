// The service's figures in the Prometheus text exposition format.
#pragma once

#include <string>

#include "server/core/job_service.h"

namespace zuvsrv {

constexpr const char* kMetricsType = "text/plain; version=0.0.4; charset=utf-8";

std::string MetricsText(const MetricsSnapshot& metrics);

}  // namespace zuvsrv
