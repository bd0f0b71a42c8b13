#include "group_commit.h"

namespace zuvsrv {

GroupCommit::GroupCommit(const std::string& path) : db_(path) {
  thread_ = std::thread([this] { Run(); });
}

GroupCommit::~GroupCommit() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void GroupCommit::Write(const std::function<void(Database&)>& change) {
  Pending pending{&change, nullptr, false};
  std::unique_lock lock(mutex_);
  waiting_.push_back(&pending);
  wake_.notify_one();
  done_.wait(lock, [&] { return pending.done; });
  if (pending.error) std::rethrow_exception(pending.error);
}

void GroupCommit::SetCommitHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  commitHook_ = std::move(hook);
}

void GroupCommit::Run() {
  for (;;) {
    std::deque<Pending*> group;
    std::function<void()> hook;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (waiting_.empty()) return;  // stopping, nothing left
      group.swap(waiting_);
      hook = commitHook_;
    }
    Apply(group, hook);
    {
      std::lock_guard lock(mutex_);
      for (Pending* pending : group) pending->done = true;
    }
    done_.notify_all();
  }
}

// Each change in its own savepoint, so one refused change leaves the
// others of its group standing.
void GroupCommit::Apply(std::deque<Pending*>& group, const std::function<void()>& hook) {
  try {
    Transaction transaction(db_);
    for (Pending* pending : group) {
      db_.Exec("SAVEPOINT change");
      try {
        (*pending->change)(db_);
        db_.Exec("RELEASE change");
      } catch (...) {
        pending->error = std::current_exception();
        db_.Exec("ROLLBACK TO change");
        db_.Exec("RELEASE change");
      }
    }
    if (hook) hook();
    transaction.Commit();
  } catch (...) {
    const std::exception_ptr failed = std::current_exception();
    for (Pending* pending : group) pending->error = failed;
  }
}

}  // namespace zuvsrv
