// Requests that asked to wait for their job: one thread for all of them,
// woken by the job service's events or by the earliest deadline, so a
// waiting request holds no thread of its own.
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

  using Done = std::function<void(std::optional<Job>)>;
  // Calls `done` once, on the waiter's thread, with the job as the journal
  // has it once it left queued and running, or when `wait` ran out.
  void Await(int64_t id, std::chrono::milliseconds wait, Done done);

 private:
  struct Wait {
    int64_t id;
    Done done;
  };
  void Loop();
  void Fire(int64_t id);

  JobService& jobs_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::multimap<std::chrono::steady_clock::time_point, Wait> waits_;
  std::vector<Wait> ready_;
  bool stopping_ = false;
  int subscription_ = 0;
  std::thread thread_;
};

}  // namespace zuvsrv
