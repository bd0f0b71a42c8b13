// The service's figures in the Prometheus text exposition format.
#pragma once

#include <string>

#include "server/core/job_service.h"

namespace zuvsrv {

constexpr const char* kMetricsType = "text/plain; version=0.0.4; charset=utf-8";

// What the HTTP side counts on its own.
struct HttpFigures {
  size_t connections = 0;
  uint64_t refusedConnections = 0;  // closed at once: too many open
  size_t eventStreams = 0;
  uint64_t refusedEventStreams = 0;  // answered 503: too many open
};

std::string MetricsText(const MetricsSnapshot& metrics, const HttpFigures& http = {});

}  // namespace zuvsrv
