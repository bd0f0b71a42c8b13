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

// The threads of the process named `name`, each with its id.
inline std::vector<pid_t> ThreadsNamed(const std::string& name) {
  std::vector<pid_t> tids;
  DIR* dir = ::opendir("/proc/self/task");
  if (!dir) return tids;
  while (const dirent* e = ::readdir(dir)) {
    const pid_t tid = static_cast<pid_t>(std::atoi(e->d_name));
    if (tid <= 0) continue;
    std::string comm;
    std::getline(std::ifstream("/proc/self/task/" + std::to_string(tid) + "/comm"), comm);
    if (comm == name) tids.push_back(tid);
  }
  ::closedir(dir);
  return tids;
}

// True once a thread named `name` exists and every such thread sleeps. A
// thread names itself only after its start-up hand-shake, so counts taken
// from here on are the steady wait's alone.
inline bool ThreadsNamedAsleep(const std::string& name) {
  const std::vector<pid_t> tids = ThreadsNamed(name);
  for (pid_t tid : tids) {
    std::string stat;
    std::getline(std::ifstream("/proc/self/task/" + std::to_string(tid) + "/stat"), stat);
    const size_t end = stat.rfind(')');  // the name may hold spaces
    if (end == std::string::npos || end + 2 >= stat.size() || stat[end + 2] != 'S') return false;
  }
  return !tids.empty();
}

// The threads of the process named `name`, summed.
inline ThreadStats StatsOfThreadsNamed(const std::string& name) {
  ThreadStats total;
  for (pid_t tid : ThreadsNamed(name)) {
    const ThreadStats s = StatsOfThread(tid);
    total.cpuNs += s.cpuNs;
    total.wakeUps += s.wakeUps;
  }
  return total;
}
