// The event streams' hub: every change the job service tells gets an id,
// is kept among the last kReplayEvents for readers that reconnect with
// Last-Event-ID, and goes to every open stream without waiting.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "server/http_message.h"

namespace zuvsrv {

// "id: ID\nevent: NAME\ndata: JSON\n\n"
std::string EventFrame(uint64_t id, const std::string& name, const nlohmann::ordered_json& data);

// The first frame of every stream: from here on every change arrives.
constexpr const char* kConnectedFrame = ": connected\n\n";

class EventHub {
 public:
  static constexpr size_t kReplayEvents = 1000;

  // Ids start at `firstId`: a larger number each run keeps a reader's
  // Last-Event-ID from an earlier run below the new ones.
  EventHub(size_t maxStreams, uint64_t firstId);

  // Safe from any thread; never blocks beyond a short lock.
  void Publish(const std::string& name, const nlohmann::ordered_json& data);

  enum class Attached { Yes, Full, Closed };
  // Whether a new stream would be taken now.
  Attached Room();
  // Sends the connected frame, then the kept events after `lastEventId`
  // (none without it), then every new one. The hub holds the sink weakly:
  // a stream is open while its connection holds it.
  Attached Attach(const std::shared_ptr<EventSink>& sink, std::optional<uint64_t> lastEventId);
  size_t Open();
  // Ends every stream and takes no new one.
  void CloseAll();

 private:
  size_t OpenLocked();

  const size_t maxStreams_;
  std::mutex mutex_;
  uint64_t nextId_;
  std::deque<std::pair<uint64_t, std::string>> kept_;
  std::vector<std::weak_ptr<EventSink>> sinks_;
  bool closed_ = false;
};

// The Last-Event-ID header's number, or nothing.
std::optional<uint64_t> ParseEventId(const std::string& text);

}  // namespace zuvsrv
