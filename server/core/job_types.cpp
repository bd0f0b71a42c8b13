// Names and JSON forms of jobs and printers, as the API shows them.
#include <array>
#include <utility>

#include "job_service.h"

namespace zuvsrv {

namespace {

constexpr std::array<std::pair<JobState, std::string_view>, 6> kJobStates{{
    {JobState::Queued, "queued"},
    {JobState::Running, "running"},
    {JobState::Done, "done"},
    {JobState::Failed, "failed"},
    {JobState::InDoubt, "in-doubt"},
    {JobState::NotDone, "not-done"},
}};

Json TimeOrNull(const std::string& time) { return time.empty() ? Json(nullptr) : Json(time); }

}  // namespace

std::string_view ToString(JobState state) {
  for (const auto& [value, name] : kJobStates)
    if (value == state) return name;
  return "unknown";
}

std::optional<JobState> ParseJobState(std::string_view text) {
  for (const auto& [value, name] : kJobStates)
    if (name == text) return value;
  return std::nullopt;
}

bool IsFinal(JobState state) {
  return state == JobState::Done || state == JobState::Failed || state == JobState::NotDone;
}

Json ToJson(const Job& job) {
  return {{"id", job.id},
          {"printer", job.printer},
          {"command", job.command},
          {"args", job.args},
          {"state", ToString(job.state)},
          {"created", job.created},
          {"started", TimeOrNull(job.started)},
          {"finished", TimeOrNull(job.finished)},
          {"result", job.result},
          {"error", job.error},
          {"settled_by", job.settledBy.empty() ? Json(nullptr) : Json(job.settledBy)},
          {"settlement", job.settlement}};
}

std::string_view ToString(PrinterState state) {
  switch (state) {
    case PrinterState::Idle: return "idle";
    case PrinterState::Busy: return "busy";
    case PrinterState::Offline: return "offline";
    case PrinterState::Journal: return "journal";
  }
  return "unknown";
}

Json ToJson(const PrinterStatus& status) {
  return {{"id", status.id},
          {"port", status.port},
          {"baud", status.baud ? Json(status.baud) : Json(nullptr)},
          {"state", ToString(status.state)},
          {"queue_length", status.queueLength},
          {"last_error", status.lastError}};
}

}  // namespace zuvsrv
