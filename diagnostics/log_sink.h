// The traffic log's view: lines to append plus two status texts. The debug
// window is one such view; RecordingSink keeps everything for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace diag {

class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void AppendLine(const std::string& text) = 0;
  virtual void SetTimeText(const std::string& text) = 0;
  virtual void SetIterationText(const std::string& text) = 0;
};

class RecordingSink : public LogSink {
 public:
  void AppendLine(const std::string& text) override { lines.push_back(text); }
  void SetTimeText(const std::string& text) override { timeText = text; ++statusUpdates; }
  void SetIterationText(const std::string& text) override { iterationText = text; }

  std::vector<std::string> lines;
  std::string timeText;
  std::string iterationText;
  int statusUpdates = 0;
};

// Where Log writes on the calling thread; nullptr (the default) drops
// everything. Each thread has its own sink.
void SetLogSink(LogSink* sink);
LogSink* CurrentLogSink();

// Appends `s` as a new line when it is not empty, then shows
// "time: <timems>ms" and "iteration: <itr>".
void Log(const std::string& s, int64_t timems, int64_t itr);

}  // namespace diag
