#include "server/settle_waiter.h"

namespace zuvsrv {
namespace {

bool Unsettled(JobState state) { return state == JobState::Queued || state == JobState::Running; }

}  // namespace

SettleWaiter::SettleWaiter(JobService& jobs) : jobs_(jobs) {
  subscription_ = jobs_.Subscribe([this](const std::string& event, const Json& data) {
    if (event != "job" || !data.contains("id") || !data["id"].is_number_integer()) return;
    const std::optional<JobState> state = ParseJobState(data.value("state", ""));
    if (state && !Unsettled(*state)) Fire(data["id"].get<int64_t>(), data);
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
  // It may have settled before the wait was in place: then, and only then,
  // the journal is read.
  if (jobs_.Moving(id)) return;
  const std::optional<Job> job = jobs_.Get(id);
  if (!job) Fire(id, nullptr);
  else if (!Unsettled(job->state)) Fire(id, ToJson(*job));
}

// Answers the job's waits with `job`; the wait taken out under the lock is
// answered by this caller alone.
void SettleWaiter::Fire(int64_t id, const Json& job) {
  std::vector<Wait> ready;
  {
    std::lock_guard lock(mutex_);
    for (auto it = waits_.begin(); it != waits_.end();) {
      if (it->second.id != id) {
        ++it;
        continue;
      }
      ready.push_back(std::move(it->second));
      it = waits_.erase(it);
    }
  }
  for (Wait& wait : ready) wait.done(job);
}

// Answers the waits whose time ran out, with the job as the journal has it.
void SettleWaiter::Loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    const auto now = std::chrono::steady_clock::now();
    std::vector<Wait> expired;
    while (!waits_.empty() && waits_.begin()->first <= now) {
      expired.push_back(std::move(waits_.begin()->second));
      waits_.erase(waits_.begin());
    }
    if (expired.empty()) {
      if (waits_.empty()) {
        changed_.wait(lock);
      } else {
        // A copy: Fire() may erase that entry while this thread waits.
        const auto deadline = waits_.begin()->first;
        changed_.wait_until(lock, deadline);
      }
      continue;
    }
    lock.unlock();
    for (Wait& wait : expired) {
      const std::optional<Job> job = jobs_.Get(wait.id);
      wait.done(job ? ToJson(*job) : Json(nullptr));
    }
    lock.lock();
  }
}

}  // namespace zuvsrv
