// Writes to one SQLite database from many threads, committed in groups:
// a caller that finds no commit in progress commits on its own thread
// every change waiting, in one transaction and one sync; callers that come
// meanwhile wait and go together in the next group. Printers side by side
// share each sync instead of queueing for their own, and a lone caller
// hands its change to no other thread. A caller returns only once its
// change is durable.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

#include "sqlite.h"

namespace zuvsrv {

class GroupCommit {
 public:
  explicit GroupCommit(const std::string& path);
  ~GroupCommit() = default;  // callers have all returned
  GroupCommit(const GroupCommit&) = delete;
  GroupCommit& operator=(const GroupCommit&) = delete;

  // Runs `change` inside the next group's transaction and returns once that
  // is committed. An exception from `change` undoes only that change and
  // is rethrown here; a failed commit is thrown to every caller in the group.
  void Write(const std::function<void(Database&)>& change);

  // For setting up the database before the first write (schema, pragmas).
  Database& Connection() { return db_; }

  // Runs in each group's transaction just before its COMMIT; what it
  // throws fails the group. Lets a test count commits or fail one.
  void SetCommitHook(std::function<void()> hook);

 private:
  struct Pending {
    const std::function<void(Database&)>* change;
    std::exception_ptr error;
    bool done = false;
  };
  void Apply(std::deque<Pending*>& group, const std::function<void()>& hook);

  Database db_;
  std::mutex mutex_;
  std::condition_variable done_;  // callers: a group was committed
  std::deque<Pending*> waiting_;
  std::function<void()> commitHook_;
  bool committing_ = false;  // a caller is committing a group
};

}  // namespace zuvsrv
