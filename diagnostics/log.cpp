#include "log_sink.h"

namespace diag {

namespace {
// Per thread, like the driver state it reports on: each printer's thread
// logs to its own view, and two threads never write one sink at once.
thread_local LogSink* g_sink = nullptr;
}

void SetLogSink(LogSink* sink) { g_sink = sink; }
LogSink* CurrentLogSink() { return g_sink; }

void Log(const std::string& s, int64_t timems, int64_t itr) {
  if (!g_sink) return;
  if (!s.empty()) g_sink->AppendLine(s);
  g_sink->SetTimeText("time: " + std::to_string(timems) + "ms");
  g_sink->SetIterationText("iteration: " + std::to_string(itr));
}

}  // namespace diag
