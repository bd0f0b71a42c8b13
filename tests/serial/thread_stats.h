// CPU time and wake-ups of the process's other threads, from /proc.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

struct ThreadStats {
  int64_t cpuNs = 0;       // time on a CPU
  int64_t wakeUps = 0;     // voluntary context switches: each sleep ended
};

inline ThreadStats StatsOfThread(pid_t tid) {
  ThreadStats s;
  const std::string dir = "/proc/self/task/" + std::to_string(tid);
  std::ifstream sched(dir + "/schedstat");
  sched >> s.cpuNs;
  std::ifstream status(dir + "/status");
  std::string line;
  const std::string key = "voluntary_ctxt_switches:";
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) s.wakeUps = std::stoll(line.substr(key.size()));
  return s;
}

// The threads of the process named `name`, summed.
inline ThreadStats StatsOfThreadsNamed(const std::string& name) {
  ThreadStats total;
  DIR* dir = ::opendir("/proc/self/task");
  if (!dir) return total;
  while (const dirent* e = ::readdir(dir)) {
    const pid_t tid = static_cast<pid_t>(std::atoi(e->d_name));
    if (tid <= 0) continue;
    std::string comm;
    std::getline(std::ifstream("/proc/self/task/" + std::to_string(tid) + "/comm"), comm);
    if (comm != name) continue;
    const ThreadStats s = StatsOfThread(tid);
    total.cpuNs += s.cpuNs;
    total.wakeUps += s.wakeUps;
  }
  ::closedir(dir);
  return total;
}
