// A counter descriptor that one thread signals and another polls.
#pragma once

namespace serial {

class EventFd {
 public:
  EventFd();  // throws std::system_error when the system has none to give
  ~EventFd();
  EventFd(const EventFd&) = delete;
  EventFd& operator=(const EventFd&) = delete;

  int Handle() const { return FHandle; }
  void Signal();                          // readable from now on
  void Clear();                           // not readable until the next Signal

 private:
  int FHandle;
};

// Waits at most `timeoutMs` (-1: no limit) until one of the descriptors is
// readable; negative descriptors are skipped. Returns the poll result (0 on
// time-out, -1 with errno on failure; an interrupted wait counts as 0).
int WaitReadable(const int* handles, int count, int timeoutMs);

}  // namespace serial
