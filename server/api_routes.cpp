#include "server/api_routes.h"

#include "commands/catalogue.h"
#include "server/http_reply.h"
#include "server/metrics_text.h"
#include "server/openapi.h"
#include "server/request_checks.h"

namespace zuvsrv {
namespace {

std::optional<std::string> Query(const HttpRequest& req, const char* name) {
  return req.Param(name);
}

// Event ids go on from one run to the next: a reader's Last-Event-ID from
// an earlier run stays below this run's.
uint64_t FirstEventId() {
  return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count());
}

void SendInputError(HttpResponse& res, const zuvcmd::ArgumentError& e) {
  SendError(res, status::kBadRequest, kind::kInput, e.what(), e.Field());
}

constexpr const char* kStreamRetrySeconds = "5";

std::string JobLocation(int64_t id) { return "/v1/jobs/" + std::to_string(id); }

bool Unsettled(JobState state) {
  return state == JobState::Queued || state == JobState::Running;
}

}  // namespace

Api::Api(JobService& jobs, const HttpSettings& settings, const HttpCounters& counters)
    : jobs_(jobs), hub_(settings.maxEventStreams, FirstEventId()), counters_(counters), waiter_(jobs) {
  subscription_ = jobs_.Subscribe(
      [this](const std::string& event, const Json& data) { hub_.Publish(event, data); });
}

Api::~Api() {
  jobs_.Unsubscribe(subscription_);
  hub_.CloseAll();
}

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

void Api::Health(const HttpRequest&, HttpResponse& res, const PathParams&) {
  // A printer that cannot commit its outcomes sends nothing: not healthy.
  if (const auto fault = jobs_.JournalFault())
    return SendError(res, status::kUnavailable, kind::kUnavailable, *fault);
  SendJson(res, status::kOk, {{"ok", true}});
}

void Api::Metrics(const HttpRequest&, HttpResponse& res, const PathParams&) {
  HttpFigures http;
  http.connections = counters_.connections;
  http.refusedConnections = counters_.refusedConnections;
  http.eventStreams = hub_.Open();
  http.refusedEventStreams = refusedStreams_;
  res.SetContent(MetricsText(jobs_.Metrics(), http), kMetricsType);
}

void Api::Document(const HttpRequest&, HttpResponse& res, const PathParams&) {
  SendJson(res, status::kOk, OpenApiDocument());
}

void Api::Printers(const HttpRequest&, HttpResponse& res, const PathParams&) {
  Json list = Json::array();
  for (const PrinterStatus& printer : jobs_.Printers()) list.push_back(ToJson(printer));
  SendJson(res, status::kOk, {{"printers", list}});
}

// Everything about the request is checked before anything is queued.
void Api::Submit(const HttpRequest& req, HttpResponse& res, const PathParams& params) {
  const std::string& printer = params.at(0);
  const std::string& command = params.at(1);
  if (!jobs_.HasPrinter(printer))
    return SendError(res, status::kNotFound, kind::kNotFound, "no printer \"" + printer + "\"");
  if (!zuvcmd::FindCommand(command))
    return SendError(res, status::kNotFound, kind::kNotFound, "no command \"" + command + "\"");
  zuvcmd::CommandRequest request;
  try {
    request = CheckCommandBody(command, ParseBody(req.body));
  } catch (const zuvcmd::ArgumentError& e) {
    return SendInputError(res, e);
  }
  QueueJob(req, res, [&](const std::optional<std::string>& key) {
    return jobs_.Submit(printer, request, key);
  });
}

void Api::Detect(const HttpRequest& req, HttpResponse& res, const PathParams& params) {
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
    const HttpRequest& req, HttpResponse& res,
    const std::function<JobService::Submitted(const std::optional<std::string>&)>& submit) {
  std::optional<std::string> key;
  std::chrono::milliseconds wait{};
  try {
    if (req.HasHeader(kIdempotencyHeader))
      key = CheckIdempotencyKey(req.Header(kIdempotencyHeader));
    wait = ParseWait(Query(req, "wait"));
  } catch (const zuvcmd::ArgumentError& e) {
    return SendInputError(res, e);
  }
  // A client that went away would never learn of its job: nothing is queued.
  if (req.clientGone()) return SendError(res, status::kBadRequest, kind::kInput, "the client went away");
  JobService::Submitted submitted;
  try {
    submitted = submit(key);
  } catch (const IdempotencyConflict& e) {
    return SendError(res, status::kConflict, kind::kConflict, e.what(), kIdempotencyHeader);
  } catch (const UnknownPrinter& e) {
    return SendError(res, status::kNotFound, kind::kNotFound, e.what());
  }
  const Job& job = submitted.job;
  if (wait.count() == 0 || !Unsettled(job.state))
    return AnswerJob(res, ToJson(job), submitted.replayed);
  // The connection waits without a thread; the waiter answers.
  res.deferred = [this, &res, job, wait, replayed = submitted.replayed](std::function<void()> resume) {
    waiter_.Await(job.id, wait, [&res, job, replayed, resume](const Json& settled) {
      AnswerJob(res, settled.is_object() ? settled : ToJson(job), replayed);
      resume();
    });
  };
}

void Api::AnswerJob(HttpResponse& res, const Json& job, bool replayed) {
  if (replayed) res.SetHeader("Idempotent-Replayed", "true");
  res.SetHeader("Location", JobLocation(job["id"].get<int64_t>()));
  const std::optional<JobState> state = ParseJobState(job["state"].get<std::string>());
  SendJson(res, state && Unsettled(*state) ? status::kAccepted : status::kOk, job);
}

void Api::ListJobs(const HttpRequest& req, HttpResponse& res, const PathParams&) {
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

void Api::GetJob(const HttpRequest&, HttpResponse& res, const PathParams& params) {
  const std::optional<int64_t> id = ParseJobId(params.at(0));
  std::optional<Job> job;
  if (id) job = jobs_.Get(*id);
  if (!job) return SendError(res, status::kNotFound, kind::kNotFound, "no job " + params.at(0));
  SendJson(res, status::kOk, ToJson(*job));
}

void Api::Resolve(const HttpRequest& req, HttpResponse& res, const PathParams& params) {
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

void Api::Events(const HttpRequest& req, HttpResponse& res, const PathParams&) {
  switch (hub_.Room()) {
    case EventHub::Attached::Closed:
      return SendError(res, status::kNotFound, kind::kNotFound, "the service is stopping");
    case EventHub::Attached::Full:
      ++refusedStreams_;
      res.SetHeader("Retry-After", kStreamRetrySeconds);
      return SendError(res, status::kUnavailable, kind::kUnavailable, "too many event streams are open");
    case EventHub::Attached::Yes: break;
  }
  const std::optional<uint64_t> lastId = ParseEventId(req.Header("Last-Event-ID"));
  res.contentType = "text/event-stream";
  res.SetHeader("Cache-Control", "no-cache");
  res.stream = [this, lastId](const std::shared_ptr<EventSink>& sink) {
    // Full or closed since the check: the stream ends at once.
    if (hub_.Attach(sink, lastId) != EventHub::Attached::Yes) sink->Close();
  };
}

void Api::CloseEventStreams() { hub_.CloseAll(); }

}  // namespace zuvsrv
