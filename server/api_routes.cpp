#include "server/api_routes.h"

#include "commands/catalogue.h"
#include "server/http_reply.h"
#include "server/metrics_text.h"
#include "server/openapi.h"
#include "server/request_checks.h"

namespace zuvsrv {
namespace {

std::optional<std::string> Query(const httplib::Request& req, const char* name) {
  if (!req.has_param(name)) return std::nullopt;
  return req.get_param_value(name);
}

void SendInputError(httplib::Response& res, const zuvcmd::ArgumentError& e) {
  SendError(res, status::kBadRequest, kind::kInput, e.what(), e.Field());
}

std::string JobLocation(int64_t id) { return "/v1/jobs/" + std::to_string(id); }

bool Unsettled(JobState state) {
  return state == JobState::Queued || state == JobState::Running;
}

}  // namespace

Api::Api(JobService& jobs, std::chrono::milliseconds eventHeartbeat)
    : jobs_(jobs), heartbeat_(eventHeartbeat) {}

const std::vector<Api::Route>& Api::Table() {
  static const std::vector<Route> table{
      {{"GET", "/healthz", false}, &Api::Health},
      {{"GET", "/metrics", false}, &Api::Metrics},
      {{"GET", "/v1/openapi.json", false}, &Api::Document},
      {{"GET", "/v1/printers", true}, &Api::Printers},
      // Before the commands' route, which would take "detect" for a command.
      {{"POST", "/v1/printers/{id}/detect", true}, &Api::Detect},
      {{"POST", "/v1/printers/{id}/{command}", true}, &Api::Submit},
      {{"GET", "/v1/jobs", true}, &Api::ListJobs},
      {{"GET", "/v1/jobs/{id}", true}, &Api::GetJob},
      {{"POST", "/v1/jobs/{id}/resolve", true}, &Api::Resolve},
      {{"GET", "/v1/events", true}, &Api::Events},
  };
  return table;
}

void Api::Health(const httplib::Request&, httplib::Response& res, const PathParams&) {
  SendJson(res, status::kOk, {{"ok", true}});
}

void Api::Metrics(const httplib::Request&, httplib::Response& res, const PathParams&) {
  res.set_content(MetricsText(jobs_.Metrics()), kMetricsType);
}

void Api::Document(const httplib::Request&, httplib::Response& res, const PathParams&) {
  SendJson(res, status::kOk, OpenApiDocument());
}

void Api::Printers(const httplib::Request&, httplib::Response& res, const PathParams&) {
  Json list = Json::array();
  for (const PrinterStatus& printer : jobs_.Printers()) list.push_back(ToJson(printer));
  SendJson(res, status::kOk, {{"printers", list}});
}

// Everything about the request is checked before anything is queued.
void Api::Submit(const httplib::Request& req, httplib::Response& res, const PathParams& params) {
  const std::string& printer = params.at(0);
  const std::string& command = params.at(1);
  if (!jobs_.HasPrinter(printer))
    return SendError(res, status::kNotFound, kind::kNotFound, "no printer \"" + printer + "\"");
  if (!zuvcmd::FindCommand(command))
    return SendError(res, status::kNotFound, kind::kNotFound, "no command \"" + command + "\"");
  zuvcmd::CommandRequest request;
  try {
    request = zuvcmd::CheckRequest(command, ParseBody(req.body));
  } catch (const zuvcmd::ArgumentError& e) {
    return SendInputError(res, e);
  }
  QueueJob(req, res, [&](const std::optional<std::string>& key) {
    return jobs_.Submit(printer, request, key);
  });
}

void Api::Detect(const httplib::Request& req, httplib::Response& res, const PathParams& params) {
  const std::string& printer = params.at(0);
  if (!jobs_.HasPrinter(printer))
    return SendError(res, status::kNotFound, kind::kNotFound, "no printer \"" + printer + "\"");
  try {
    CheckNoArguments(ParseBody(req.body));
  } catch (const zuvcmd::ArgumentError& e) {
    return SendInputError(res, e);
  }
  QueueJob(req, res, [&](const std::optional<std::string>& key) {
    return jobs_.Detect(printer, key);
  });
}

void Api::QueueJob(
    const httplib::Request& req, httplib::Response& res,
    const std::function<JobService::Submitted(const std::optional<std::string>&)>& submit) {
  std::optional<std::string> key;
  std::chrono::milliseconds wait{};
  try {
    if (req.has_header(kIdempotencyHeader))
      key = CheckIdempotencyKey(req.get_header_value(kIdempotencyHeader));
    wait = ParseWait(Query(req, "wait"));
  } catch (const zuvcmd::ArgumentError& e) {
    return SendInputError(res, e);
  }
  JobService::Submitted submitted;
  try {
    submitted = submit(key);
  } catch (const IdempotencyConflict& e) {
    return SendError(res, status::kConflict, kind::kConflict, e.what(), kIdempotencyHeader);
  } catch (const UnknownPrinter& e) {
    return SendError(res, status::kNotFound, kind::kNotFound, e.what());
  }
  Job job = submitted.job;
  if (wait.count() > 0 && Unsettled(job.state)) {
    if (std::optional<Job> settled = jobs_.WaitSettled(job.id, wait)) job = std::move(*settled);
  }
  if (submitted.replayed) res.set_header("Idempotent-Replayed", "true");
  AnswerJob(res, job);
}

void Api::AnswerJob(httplib::Response& res, const Job& job) {
  res.set_header("Location", JobLocation(job.id));
  SendJson(res, Unsettled(job.state) ? status::kAccepted : status::kOk, ToJson(job));
}

void Api::ListJobs(const httplib::Request& req, httplib::Response& res, const PathParams&) {
  std::optional<JobState> state;
  int limit = 0;
  try {
    state = ParseStateFilter(Query(req, "state"));
    limit = ParseLimit(Query(req, "limit"));
  } catch (const zuvcmd::ArgumentError& e) {
    return SendInputError(res, e);
  }
  const std::optional<std::string> printer = Query(req, "printer");
  if (printer && !jobs_.HasPrinter(*printer))
    return SendError(res, status::kNotFound, kind::kNotFound, "no printer \"" + *printer + "\"");
  Json list = Json::array();
  for (const Job& job : jobs_.List(state, printer, limit)) list.push_back(ToJson(job));
  SendJson(res, status::kOk, {{"jobs", list}});
}

void Api::GetJob(const httplib::Request&, httplib::Response& res, const PathParams& params) {
  const std::optional<int64_t> id = ParseJobId(params.at(0));
  std::optional<Job> job;
  if (id) job = jobs_.Get(*id);
  if (!job) return SendError(res, status::kNotFound, kind::kNotFound, "no job " + params.at(0));
  SendJson(res, status::kOk, ToJson(*job));
}

void Api::Resolve(const httplib::Request& req, httplib::Response& res, const PathParams& params) {
  const std::optional<int64_t> id = ParseJobId(params.at(0));
  if (!id || !jobs_.Get(*id))
    return SendError(res, status::kNotFound, kind::kNotFound, "no job " + params.at(0));
  Resolution resolution;
  try {
    resolution = ParseResolution(ParseBody(req.body));
  } catch (const zuvcmd::ArgumentError& e) {
    return SendInputError(res, e);
  }
  try {
    SendJson(res, status::kOk, ToJson(jobs_.Resolve(*id, resolution.done, resolution.note)));
  } catch (const NotInDoubt& e) {
    SendError(res, status::kConflict, kind::kConflict, e.what());
  } catch (const UnknownJob& e) {
    SendError(res, status::kNotFound, kind::kNotFound, e.what());
  }
}

void Api::Events(const httplib::Request&, httplib::Response& res, const PathParams&) {
  auto queue = std::make_shared<EventQueue>();
  {
    std::lock_guard lock(streamsMutex_);
    if (closed_) return SendError(res, status::kNotFound, kind::kNotFound, "the service is stopping");
    streams_.insert(queue);
  }
  // The first frame tells the client the stream is live: every change after
  // it arrives.
  queue->Push(": connected\n\n");
  const int subscription = jobs_.Subscribe(
      [queue](const std::string& event, const Json& data) { queue->Push(EventFrame(event, data)); });
  res.set_header("Cache-Control", "no-cache");
  res.set_chunked_content_provider(
      "text/event-stream",
      [queue, heartbeat = heartbeat_](size_t, httplib::DataSink& sink) {
        std::string frame;
        switch (queue->Pop(frame, heartbeat)) {
          case EventQueue::Next::Frame: return sink.write(frame.data(), frame.size());
          // A comment now and then finds clients that went away.
          case EventQueue::Next::Idle: return sink.write(":\n\n", 3);
          case EventQueue::Next::Closed: sink.done(); return true;
        }
        return false;
      },
      [this, queue, subscription](bool) {
        jobs_.Unsubscribe(subscription);
        std::lock_guard lock(streamsMutex_);
        streams_.erase(queue);
      });
}

void Api::CloseEventStreams() {
  std::lock_guard lock(streamsMutex_);
  closed_ = true;
  for (const auto& queue : streams_) queue->Close();
}

}  // namespace zuvsrv
