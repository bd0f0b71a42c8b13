#include "server/settle_waiter.h"

namespace zuvsrv {
namespace {

bool Unsettled(JobState state) { return state == JobState::Queued || state == JobState::Running; }

}  // namespace

SettleWaiter::SettleWaiter(JobService& jobs) : jobs_(jobs) {
  subscription_ = jobs_.Subscribe([this](const std::string& event, const Json& data) {
    if (event != "job" || !data.contains("id") || !data["id"].is_number_integer()) return;
    const std::optional<JobState> state = ParseJobState(data.value("state", ""));
    if (state && !Unsettled(*state)) Fire(data["id"].get<int64_t>());
  });
  thread_ = std::thread([this] { Loop(); });
}

SettleWaiter::~SettleWaiter() {
  jobs_.Unsubscribe(subscription_);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void SettleWaiter::Await(int64_t id, std::chrono::milliseconds wait, Done done) {
  {
    std::lock_guard lock(mutex_);
    waits_.emplace(std::chrono::steady_clock::now() + wait, Wait{id, std::move(done)});
  }
  changed_.notify_all();
  // It may have settled before the wait was in place.
  if (const std::optional<Job> job = jobs_.Get(id); !job || !Unsettled(job->state)) Fire(id);
}

// Moves the job's waits to the ready list; runs on the workers' threads.
void SettleWaiter::Fire(int64_t id) {
  {
    std::lock_guard lock(mutex_);
    for (auto it = waits_.begin(); it != waits_.end();) {
      if (it->second.id != id) {
        ++it;
        continue;
      }
      ready_.push_back(std::move(it->second));
      it = waits_.erase(it);
    }
    if (ready_.empty()) return;
  }
  changed_.notify_all();
}

void SettleWaiter::Loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    const auto now = std::chrono::steady_clock::now();
    while (!waits_.empty() && waits_.begin()->first <= now) {
      ready_.push_back(std::move(waits_.begin()->second));
      waits_.erase(waits_.begin());
    }
    if (ready_.empty()) {
      if (waits_.empty()) {
        changed_.wait(lock);
      } else {
        // A copy: Fire() may erase that entry while this thread waits.
        const auto deadline = waits_.begin()->first;
        changed_.wait_until(lock, deadline);
      }
      continue;
    }
    std::vector<Wait> ready = std::move(ready_);
    ready_.clear();
    lock.unlock();
    for (Wait& wait : ready) wait.done(jobs_.Get(wait.id));
    lock.lock();
  }
}

}  // namespace zuvsrv
