// zuv-server run as a child process, for what only a real process shows:
// its first line, signals and a kill in the middle of a job.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace srvtest {

class ServerProcess {
 public:
  // Starts ZUV_SERVER with `args`; stderr goes to `errFile`.
  ServerProcess(const std::vector<std::string>& args, const std::string& errFile) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (err >= 0) ::dup2(err, STDERR_FILENO);
      std::vector<char*> argv{const_cast<char*>(ZUV_SERVER)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(ZUV_SERVER, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~ServerProcess() {
    if (pid_ > 0 && !status_) Kill(SIGKILL);
    if (out_ >= 0) ::close(out_);
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // The first line of standard output, waiting up to a minute for it.
  std::string FirstLine() {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    char c = 0;
    while (std::chrono::steady_clock::now() < end) {
      pollfd fd{out_, POLLIN, 0};
      if (::poll(&fd, 1, 1000) <= 0) continue;
      if (::read(out_, &c, 1) != 1 || c == '\n') break;
      line += c;
    }
    return line;
  }

  // Sends `signal` and waits for the end; the exit status.
  int Kill(int signal) {
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    status_ = status;
    return status;
  }
  // Waits (up to a minute) for the process to end by itself; its exit
  // status, or -1 when it did not end.
  int Wait() {
    char buffer[256];
    for (;;) {
      pollfd fd{out_, POLLIN, 0};
      if (::poll(&fd, 1, 60000) <= 0) return -1;
      if (::read(out_, buffer, sizeof buffer) <= 0) break;
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    status_ = status;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool Started() const { return pid_ > 0 && out_ >= 0; }
  pid_t Pid() const { return pid_; }
  // The peak resident memory in KiB (VmHWM), or -1.
  long PeakKiB() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::optional<int> status_;
};

}  // namespace srvtest
