// The queue of hand-overs from a port's event thread to its owner's thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "event_fd.h"
#include "owner_dispatch.h"

namespace serial {

class EventMailbox : public std::enable_shared_from_this<EventMailbox> {
 public:
  enum class Until { PickedUp, Done };

  // Event thread: queues `work`, wakes the owner and waits until the owner
  // has picked it up or run it, or until Release. Queues nothing once
  // released.
  void HandOver(std::function<void()> work, Until until);
  // Owner: runs what is queued, in order; returns how many ran. An exception
  // from a work item propagates; the items after it stay queued.
  int Pump();
  // Readable while work is queued.
  int Handle() const { return FReady.Handle(); }

  // Ends every wait of HandOver and refuses new work until Rearm.
  void Release();
  void Rearm();
  // The port is gone: drop the queue; later pumps do nothing.
  void Detach();

  void SetDispatcher(std::shared_ptr<TOwnerDispatcher> dispatcher);
  // This port's dispatcher, else the process-wide one (may be null).
  std::shared_ptr<TOwnerDispatcher> Dispatcher() const;
  // Hands an exception to the dispatcher (or the default report).
  void Report(std::exception_ptr error) const;

 private:
  enum class State { Queued, PickedUp, Done };
  struct Item {
    std::function<void()> work;
    State state = State::Queued;
  };
  std::shared_ptr<Item> Take();
  void Finish(Item& item);

  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::shared_ptr<Item>> FQueue;
  bool FReleased = false;
  bool FDetached = false;
  std::shared_ptr<TOwnerDispatcher> FDispatcher;
  EventFd FReady;
};

}  // namespace serial
