#include "server/event_stream.h"

namespace zuvsrv {

std::string EventFrame(const std::string& name, const nlohmann::ordered_json& data) {
  // A one-line dump: a data line never holds a newline.
  return "event: " + name + "\ndata: " +
         data.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n\n";
}

void EventQueue::Push(std::string frame) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    if (frames_.size() >= kMaxPending) {
      closed_ = true;
      frames_.clear();
    } else {
      frames_.push_back(std::move(frame));
    }
  }
  ready_.notify_one();
}

void EventQueue::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

EventQueue::Next EventQueue::Pop(std::string& frame, std::chrono::milliseconds budget) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, budget, [this] { return closed_ || !frames_.empty(); });
  // Events already queued are delivered before the end.
  if (!frames_.empty()) {
    frame = std::move(frames_.front());
    frames_.pop_front();
    return Next::Frame;
  }
  return closed_ ? Next::Closed : Next::Idle;
}

}  // namespace zuvsrv
