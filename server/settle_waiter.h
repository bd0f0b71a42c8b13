// Requests that asked to wait for their job, holding no thread of their
// own: answered from the job service's event of the job's end, on the
// thread that committed it, or by one thread for all of them when the
// earliest deadline comes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "server/core/job_service.h"

namespace zuvsrv {

class SettleWaiter {
 public:
  explicit SettleWaiter(JobService& jobs);
  ~SettleWaiter();  // drops the waits still open without calling them
  SettleWaiter(const SettleWaiter&) = delete;
  SettleWaiter& operator=(const SettleWaiter&) = delete;

  // The job as the API shows it, or null for a job the journal lacks.
  using Done = std::function<void(const Json& job)>;
  // Calls `done` once with the job once it left queued and running (on the
  // thread that told of it; `done` must not block), or as the journal has
  // it when `wait` ran out.
  void Await(int64_t id, std::chrono::milliseconds wait, Done done);

 private:
  struct Wait {
    int64_t id;
    Done done;
  };
  void Loop();
  void Fire(int64_t id, const Json& job);

  JobService& jobs_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::multimap<std::chrono::steady_clock::time_point, Wait> waits_;
  bool stopping_ = false;
  int subscription_ = 0;
  std::thread thread_;
};

}  // namespace zuvsrv
