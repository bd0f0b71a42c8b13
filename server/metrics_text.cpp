#include "server/metrics_text.h"

#include <sstream>

namespace zuvsrv {
namespace {

// A label value with \, " and newlines escaped.
std::string Label(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

void Header(std::ostream& out, const char* name, const char* type, const char* help) {
  out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
}

void Histogram(std::ostream& out, const ExchangeHistogram& h) {
  Header(out, "zuv_exchange_seconds", "histogram", "Time of one job's exchange with its printer.");
  for (size_t i = 0; i < h.bounds.size() && i < h.counts.size(); ++i)
    out << "zuv_exchange_seconds_bucket{le=\"" << h.bounds[i] << "\"} " << h.counts[i] << '\n';
  out << "zuv_exchange_seconds_bucket{le=\"+Inf\"} " << h.count << '\n'
      << "zuv_exchange_seconds_sum " << h.sum << '\n'
      << "zuv_exchange_seconds_count " << h.count << '\n';
}

}  // namespace

std::string MetricsText(const MetricsSnapshot& metrics, const HttpFigures& http) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  Header(out, "zuv_jobs", "gauge", "Jobs in the journal by printer and state.");
  for (const auto& [printer, states] : metrics.jobs)
    for (const auto& [state, count] : states)
      out << "zuv_jobs{printer=\"" << Label(printer) << "\",state=\"" << Label(state) << "\"} "
          << count << '\n';
  Header(out, "zuv_queue_depth", "gauge", "Jobs waiting for their printer.");
  for (const auto& [printer, depth] : metrics.queueDepth)
    out << "zuv_queue_depth{printer=\"" << Label(printer) << "\"} " << depth << '\n';
  Header(out, "zuv_jobs_in_doubt", "gauge", "Jobs whose outcome nobody knows yet.");
  out << "zuv_jobs_in_doubt " << metrics.inDoubt << '\n';
  Header(out, "zuv_journal_failures_total", "counter", "Journal commits that failed and were retried.");
  out << "zuv_journal_failures_total " << metrics.journalFailures << '\n';
  Histogram(out, metrics.exchange);
  Header(out, "zuv_http_connections", "gauge", "HTTP connections open.");
  out << "zuv_http_connections " << http.connections << '\n';
  Header(out, "zuv_http_connections_refused_total", "counter",
         "Connections closed at once because max_connections were open.");
  out << "zuv_http_connections_refused_total " << http.refusedConnections << '\n';
  Header(out, "zuv_event_streams", "gauge", "Event streams open.");
  out << "zuv_event_streams " << http.eventStreams << '\n';
  Header(out, "zuv_event_streams_refused_total", "counter",
         "Event streams refused because max_event_streams were open.");
  out << "zuv_event_streams_refused_total " << http.refusedEventStreams << '\n';
  return out.str();
}

}  // namespace zuvsrv
