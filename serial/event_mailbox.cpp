#include "event_mailbox.h"

namespace serial {

void EventMailbox::HandOver(std::function<void()> work, Until until) {
  auto item = std::make_shared<Item>();
  item->work = std::move(work);
  {
    std::lock_guard<std::mutex> hold(FLock);
    if (FReleased || FDetached) return;
    FQueue.push_back(item);
  }
  FReady.Signal();
  if (auto dispatcher = Dispatcher()) {
    std::weak_ptr<EventMailbox> self = weak_from_this();
    try {
      dispatcher->Wake([self] {
        auto box = self.lock();
        if (!box) return;
        try {
          box->Pump();
        } catch (...) {
          box->Report(std::current_exception());
        }
      });
    } catch (...) {
      // The work stays queued for the owner's own pump (or Close).
      dispatcher->HandleException(std::current_exception());
    }
  }
  const State wanted = until == Until::PickedUp ? State::PickedUp : State::Done;
  std::unique_lock<std::mutex> hold(FLock);
  FChanged.wait(hold, [&] { return item->state >= wanted || FReleased || FDetached; });
}

std::shared_ptr<EventMailbox::Item> EventMailbox::Take() {
  std::lock_guard<std::mutex> hold(FLock);
  if (FQueue.empty() || FDetached) return nullptr;
  auto item = FQueue.front();
  FQueue.pop_front();
  item->state = State::PickedUp;
  FChanged.notify_all();
  return item;
}

void EventMailbox::Finish(Item& item) {
  std::lock_guard<std::mutex> hold(FLock);
  item.state = State::Done;
  FChanged.notify_all();
}

int EventMailbox::Pump() {
  FReady.Clear();
  int ran = 0;
  while (auto item = Take()) {
    struct Finisher {
      EventMailbox& box;
      Item& item;
      ~Finisher() { box.Finish(item); }
    } finisher{*this, *item};
    ++ran;
    try {
      item->work();
    } catch (...) {
      std::lock_guard<std::mutex> hold(FLock);
      if (!FQueue.empty()) FReady.Signal();
      throw;
    }
  }
  return ran;
}

void EventMailbox::Release() {
  std::lock_guard<std::mutex> hold(FLock);
  FReleased = true;
  FChanged.notify_all();
}

void EventMailbox::Rearm() {
  std::lock_guard<std::mutex> hold(FLock);
  FReleased = false;
}

void EventMailbox::Detach() {
  std::lock_guard<std::mutex> hold(FLock);
  FDetached = true;
  FQueue.clear();
  FChanged.notify_all();
}

void EventMailbox::SetDispatcher(std::shared_ptr<TOwnerDispatcher> dispatcher) {
  std::lock_guard<std::mutex> hold(FLock);
  FDispatcher = std::move(dispatcher);
}

std::shared_ptr<TOwnerDispatcher> EventMailbox::Dispatcher() const {
  {
    std::lock_guard<std::mutex> hold(FLock);
    if (FDispatcher) return FDispatcher;
  }
  return DefaultOwnerDispatcher();
}

void EventMailbox::Report(std::exception_ptr error) const {
  if (auto dispatcher = Dispatcher()) return dispatcher->HandleException(error);
  struct Fallback : TOwnerDispatcher {
    void Wake(std::function<void()>) override {}
  };
  Fallback().HandleException(error);
}

}  // namespace serial
