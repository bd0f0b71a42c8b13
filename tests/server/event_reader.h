// A client of /v1/events that keeps what arrived, for tests that wait for
// the service to tell something.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <regex>

#include "service_fixture.h"

namespace srvtest {

// Reads /v1/events on a thread of its own and keeps what arrived.
class EventReader {
 public:
  explicit EventReader(int port, Headers headers = {}) : client_(ClientFor(port)) {
    thread_ = std::thread([this, headers] {
      status_ = client_->Stream("/v1/events", WithToken(headers), [this](const char* data, size_t size) {
        std::lock_guard lock(mutex_);
        text_.append(data, size);
        changed_.notify_all();
        return true;
      });
      std::lock_guard lock(mutex_);
      ended_ = true;
      changed_.notify_all();
    });
  }
  ~EventReader() {
    client_->Stop();
    thread_.join();
  }
  // Waits (generously) until `done(text)` holds; the text then.
  std::string WaitFor(const std::function<bool(const std::string&)>& done) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 60s, [&] { return done(text_) || ended_; });
    return text_;
  }
  // The answer's status once the stream ended.
  int Status() {
    WaitForEnd();
    return status_;
  }
  bool WaitForEnd() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 60s, [&] { return ended_; });
  }

 private:
  std::unique_ptr<HttpClient> client_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;
  bool ended_ = false;
  std::atomic<int> status_{0};
  std::thread thread_;
};

struct Event {
  std::string name;
  Json data;
  uint64_t id = 0;
};

inline std::vector<Event> ParseEvents(const std::string& text) {
  static const std::regex frame("id: ([0-9]+)\nevent: ([a-z]+)\ndata: ([^\n]*)\n\n");
  std::vector<Event> events;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), frame); it != std::sregex_iterator(); ++it)
    events.push_back({(*it)[2], Json::parse((*it)[3].str(), nullptr, false), std::stoull((*it)[1])});
  return events;
}

inline bool Connected(const std::string& text) {
  return text.find(": connected\n\n") != std::string::npos;
}

}  // namespace srvtest
