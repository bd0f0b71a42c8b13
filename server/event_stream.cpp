#include "server/event_stream.h"

#include <algorithm>
#include <charconv>

namespace zuvsrv {

std::string EventFrame(uint64_t id, const std::string& name, const nlohmann::ordered_json& data) {
  // A one-line dump: a data line never holds a newline.
  return "id: " + std::to_string(id) + "\nevent: " + name + "\ndata: " +
         data.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n\n";
}

EventHub::EventHub(size_t maxStreams, uint64_t firstId) : maxStreams_(maxStreams), nextId_(firstId) {}

void EventHub::Publish(const std::string& name, const nlohmann::ordered_json& data) {
  std::vector<std::shared_ptr<EventSink>> targets;
  std::string frame;
  {
    std::lock_guard lock(mutex_);
    const uint64_t id = nextId_++;
    frame = EventFrame(id, name, data);
    kept_.emplace_back(id, frame);
    if (kept_.size() > kReplayEvents) kept_.pop_front();
    for (const auto& weak : sinks_)
      if (auto sink = weak.lock()) targets.push_back(std::move(sink));
    // Sent under the lock, so every stream sees one order.
    for (const auto& sink : targets) sink->Send(frame);
  }
}

size_t EventHub::OpenLocked() {
  sinks_.erase(std::remove_if(sinks_.begin(), sinks_.end(),
                              [](const std::weak_ptr<EventSink>& w) { return w.expired(); }),
               sinks_.end());
  return sinks_.size();
}

EventHub::Attached EventHub::Room() {
  std::lock_guard lock(mutex_);
  if (closed_) return Attached::Closed;
  return OpenLocked() >= maxStreams_ ? Attached::Full : Attached::Yes;
}

EventHub::Attached EventHub::Attach(const std::shared_ptr<EventSink>& sink,
                                    std::optional<uint64_t> lastEventId) {
  std::lock_guard lock(mutex_);
  if (closed_) return Attached::Closed;
  if (OpenLocked() >= maxStreams_) return Attached::Full;
  sink->Send(kConnectedFrame);
  if (lastEventId)
    for (const auto& [id, frame] : kept_)
      if (id > *lastEventId) sink->Send(frame);
  sinks_.push_back(sink);
  return Attached::Yes;
}

size_t EventHub::Open() {
  std::lock_guard lock(mutex_);
  return OpenLocked();
}

void EventHub::CloseAll() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  for (const auto& weak : sinks_)
    if (auto sink = weak.lock()) sink->Close();
  sinks_.clear();
}

std::optional<uint64_t> ParseEventId(const std::string& text) {
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace zuvsrv
