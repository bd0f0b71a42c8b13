// What each route does, over the job service.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <httplib.h>

#include "server/core/job_service.h"
#include "server/event_stream.h"
#include "server/http_service.h"

namespace zuvsrv {

// The values of a path template's {placeholders}, in order.
using PathParams = std::vector<std::string>;

class Api {
 public:
  Api(JobService& jobs, std::chrono::milliseconds eventHeartbeat);
  // Ends every open event stream.
  void CloseEventStreams();

  using Handler = void (Api::*)(const httplib::Request&, httplib::Response&, const PathParams&);
  struct Route {
    RouteInfo info;
    Handler handler;
  };
  static const std::vector<Route>& Table();

  void Health(const httplib::Request&, httplib::Response&, const PathParams&);
  void Metrics(const httplib::Request&, httplib::Response&, const PathParams&);
  void Document(const httplib::Request&, httplib::Response&, const PathParams&);
  void Printers(const httplib::Request&, httplib::Response&, const PathParams&);
  void Submit(const httplib::Request&, httplib::Response&, const PathParams&);
  void Detect(const httplib::Request&, httplib::Response&, const PathParams&);
  void ListJobs(const httplib::Request&, httplib::Response&, const PathParams&);
  void GetJob(const httplib::Request&, httplib::Response&, const PathParams&);
  void Resolve(const httplib::Request&, httplib::Response&, const PathParams&);
  void Events(const httplib::Request&, httplib::Response&, const PathParams&);

 private:
  // Queues what `submit` makes of the request and answers with the job,
  // once settled when the request asked to wait.
  void QueueJob(const httplib::Request& req, httplib::Response& res,
                const std::function<JobService::Submitted(const std::optional<std::string>& key)>&
                    submit);
  void AnswerJob(httplib::Response& res, const Job& job);

  JobService& jobs_;
  std::chrono::milliseconds heartbeat_;
  std::mutex streamsMutex_;
  std::set<std::shared_ptr<EventQueue>> streams_;
  bool closed_ = false;
};

}  // namespace zuvsrv
