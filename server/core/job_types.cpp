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

constexpr std::array<std::pair<PrinterState, std::string_view>, 4> kPrinterStates{{
    {PrinterState::Idle, "idle"},
    {PrinterState::Busy, "busy"},
    {PrinterState::Offline, "offline"},
    {PrinterState::Journal, "journal"},
}};

Json TimeOrNull(const std::string& time) { return time.empty() ? Json(nullptr) : Json(time); }

template <class Table>
std::vector<std::string_view> NamesOf(const Table& table) {
  std::vector<std::string_view> names;
  for (const auto& [value, name] : table) names.push_back(name);
  return names;
}

// A settled job: the error that left it in doubt is the settlement's cause,
// and a job that took effect has no error. A journal that stamps the
// settling time on `finished` keeps the exchange's end in the settlement's
// "finished"; one that leaves `finished` alone keeps "settled_at" there.
void AddSettling(const Job& job, Json& out) {
  if (job.settledBy.empty()) return;
  Json settlement = job.settlement.is_object() ? job.settlement : Json::object();
  out["settled_at"] = settlement.contains("settled_at") ? settlement["settled_at"] : TimeOrNull(job.finished);
  if (settlement.contains("finished")) out["finished"] = settlement["finished"];
  settlement.erase("settled_at");
  settlement.erase("finished");
  if (!job.error.is_null()) settlement["cause"] = job.error;
  if (job.state == JobState::Done) out["error"] = nullptr;
  out["settlement"] = settlement;
}

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

std::vector<std::string_view> JobStateNames() { return NamesOf(kJobStates); }
std::vector<std::string_view> PrinterStateNames() { return NamesOf(kPrinterStates); }

bool IsFinal(JobState state) {
  return state == JobState::Done || state == JobState::Failed || state == JobState::NotDone;
}

Json ToJson(const Job& job) {
  Json out = {{"id", job.id},
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
              {"settled_at", nullptr},
              {"settlement", job.settlement},
              {"warnings", job.warnings}};
  AddSettling(job, out);
  return out;
}

std::string_view ToString(PrinterState state) {
  for (const auto& [value, name] : kPrinterStates)
    if (value == state) return name;
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
