// What each route does, over the job service.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "server/core/job_service.h"
#include "server/event_stream.h"
#include "server/http_message.h"
#include "server/http_server.h"
#include "server/http_service.h"
#include "server/settle_waiter.h"

namespace zuvsrv {

// The values of a path template's {placeholders}, in order.
using PathParams = std::vector<std::string>;

class Api {
 public:
  Api(JobService& jobs, const HttpSettings& settings, const HttpCounters& counters);
  ~Api();
  Api(const Api&) = delete;
  Api& operator=(const Api&) = delete;
  // Ends every open event stream.
  void CloseEventStreams();

  using Handler = void (Api::*)(const HttpRequest&, HttpResponse&, const PathParams&);
  struct Route {
    RouteInfo info;
    Handler handler;
  };
  static const std::vector<Route>& Table();

  void Health(const HttpRequest&, HttpResponse&, const PathParams&);
  void Metrics(const HttpRequest&, HttpResponse&, const PathParams&);
  void Document(const HttpRequest&, HttpResponse&, const PathParams&);
  void Printers(const HttpRequest&, HttpResponse&, const PathParams&);
  void Submit(const HttpRequest&, HttpResponse&, const PathParams&);
  void Detect(const HttpRequest&, HttpResponse&, const PathParams&);
  void ListJobs(const HttpRequest&, HttpResponse&, const PathParams&);
  void GetJob(const HttpRequest&, HttpResponse&, const PathParams&);
  void Resolve(const HttpRequest&, HttpResponse&, const PathParams&);
  void Events(const HttpRequest&, HttpResponse&, const PathParams&);

 private:
  // Queues what `submit` makes of the request and answers with the job,
  // once settled when the request asked to wait.
  void QueueJob(const HttpRequest& req, HttpResponse& res,
                const std::function<JobService::Submitted(const std::optional<std::string>& key)>&
                    submit);
  // `job` as the API shows it.
  static void AnswerJob(HttpResponse& res, const Json& job, bool replayed);

  JobService& jobs_;
  EventHub hub_;
  int subscription_ = 0;
  const HttpCounters& counters_;
  std::atomic<uint64_t> refusedStreams_{0};
  SettleWaiter waiter_;
};

}  // namespace zuvsrv
