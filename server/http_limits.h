// What one request may take: its size and its time. Every limit once.
#pragma once

#include <chrono>
#include <cstddef>

namespace zuvsrv {

constexpr size_t kMaxHeaderBytes = 16 * 1024;  // request line and fields (431)
constexpr size_t kMaxHeaderFields = 100;        // fields in all (431)
constexpr size_t kMaxBodyBytes = 1 << 20;       // however it is sent (413)

constexpr std::chrono::seconds kHeaderDeadline{10};  // request line and fields
constexpr std::chrono::seconds kBodyDeadline{30};
constexpr std::chrono::seconds kIdleDeadline{5};     // a kept-alive connection between requests
constexpr std::chrono::seconds kWriteDeadline{30};   // an answer, or one event frame
constexpr std::chrono::seconds kLingerDeadline{2};   // reading what follows a refused request

// Threads that run the routes (which wait for the journal), apart from the
// network's.
constexpr size_t kHandlerThreads = 8;

constexpr size_t kDefaultMaxConnections = 512;
constexpr size_t kDefaultMaxEventStreams = 256;
// What one event stream may have waiting before its reader is cut off: room
// for a full replay after a reconnect, and then some.
constexpr size_t kMaxPendingEventBytes = 2 << 20;

}  // namespace zuvsrv
