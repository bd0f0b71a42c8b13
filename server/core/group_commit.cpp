#include "group_commit.h"

namespace zuvsrv {

GroupCommit::GroupCommit(const std::string& path) : db_(path) {}

void GroupCommit::Write(const std::function<void(Database&)>& change) {
  Pending pending{&change, nullptr, false};
  std::unique_lock lock(mutex_);
  waiting_.push_back(&pending);
  while (!pending.done) {
    if (committing_) {
      done_.wait(lock);
      continue;
    }
    // No commit in progress: this caller commits what is waiting, its own
    // change included, and whoever came meanwhile goes in the next group.
    committing_ = true;
    std::deque<Pending*> group;
    group.swap(waiting_);
    const std::function<void()> hook = commitHook_;
    lock.unlock();
    Apply(group, hook);
    lock.lock();
    for (Pending* done : group) done->done = true;
    committing_ = false;
    done_.notify_all();
  }
  if (pending.error) std::rethrow_exception(pending.error);
}

void GroupCommit::SetCommitHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  commitHook_ = std::move(hook);
}

// Each change in its own savepoint, so one refused change leaves the
// others of its group standing.
void GroupCommit::Apply(std::deque<Pending*>& group, const std::function<void()>& hook) {
  try {
    Transaction transaction(db_);
    for (Pending* pending : group) {
      db_.Run("SAVEPOINT change");
      try {
        (*pending->change)(db_);
        db_.Run("RELEASE change");
      } catch (...) {
        pending->error = std::current_exception();
        db_.Run("ROLLBACK TO change");
        db_.Run("RELEASE change");
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
