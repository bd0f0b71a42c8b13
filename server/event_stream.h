// One Server-Sent Events connection's queue: the job service's workers put
// events in without waiting, the connection's HTTP thread takes them out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace zuvsrv {

// "event: NAME\ndata: JSON\n\n"
std::string EventFrame(const std::string& name, const nlohmann::ordered_json& data);

class EventQueue {
 public:
  // A client that lets this many events pile up is cut off rather than
  // holding the service's memory.
  static constexpr size_t kMaxPending = 10000;

  // Never blocks beyond a short lock: called on printer workers.
  void Push(std::string frame);
  // Ends the stream; the waiting connection returns at once.
  void Close();

  enum class Next { Frame, Idle, Closed };
  // Waits for a frame, the end, or `budget` to pass (Idle).
  Next Pop(std::string& frame, std::chrono::milliseconds budget);

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::string> frames_;
  bool closed_ = false;
};

}  // namespace zuvsrv
