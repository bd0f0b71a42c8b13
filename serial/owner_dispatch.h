// Hands event handling from a port's event thread to the thread that owns
// the port, for SyncMethod smThreadSync and smWindowSync.
//
// The serial library has no event loop of its own. Each port keeps a queue
// of hand-overs; the event thread puts work on it and calls Wake on the
// dispatcher so that the owner's thread runs TCustomComPort's queue soon:
//
//   - With no dispatcher installed, the owner pumps the queue itself: call
//     ProcessPendingEvents() from its loop, or poll PendingEventsHandle()
//     (readable while hand-overs wait) and pump when it is readable.
//   - A GUI application installs a dispatcher that posts `pump` to its event
//     loop (see QueuedDispatcher below for the shape).
//
// Close pumps the queue itself while it waits for the event thread, so a
// hand-over that the owner never picks up cannot block Close.
#pragma once

#include <exception>
#include <functional>
#include <memory>

namespace serial {

class TOwnerDispatcher {
 public:
  virtual ~TOwnerDispatcher() = default;
  // Called in the event thread each time a hand-over has been queued.
  // Arrange for `pump` to be called in the owner's thread soon; never call it
  // here. `pump` runs everything queued so far; calling it late, more than
  // once, or after the port is gone is harmless.
  virtual void Wake(std::function<void()> pump) = 0;
  // An exception escaped an owner's handler where nobody else can take it
  // (smWindowSync hand-overs, smNone handlers in the event thread, a pump
  // called through Wake, Close). The default writes it to stderr.
  virtual void HandleException(std::exception_ptr error);
};

// Any "post this to my loop" function as a dispatcher.
class QueuedDispatcher : public TOwnerDispatcher {
 public:
  using PostFunction = std::function<void(std::function<void()>)>;
  explicit QueuedDispatcher(PostFunction post) : FPost(std::move(post)) {}
  void Wake(std::function<void()> pump) override { FPost(std::move(pump)); }

 private:
  PostFunction FPost;
};

// Process-wide dispatcher for ports that have none of their own (nullptr:
// the owner pumps). Looked up at each hand-over, so clearing it before the
// event loop goes away is safe while ports are still open. Thread-safe.
void SetDefaultOwnerDispatcher(std::shared_ptr<TOwnerDispatcher> dispatcher);
std::shared_ptr<TOwnerDispatcher> DefaultOwnerDispatcher();

}  // namespace serial
