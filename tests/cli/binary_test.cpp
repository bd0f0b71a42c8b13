// The real programs end to end: zuv_emulator on TCP and on a pty, and the
// zuv executable's output and exit statuses for a representative set.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "cli_fixture.h"

namespace clitest {
namespace {

// A program running in the background whose first line of standard output
// has been read.
class Background {
 public:
  explicit Background(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      ::close(fds[1]);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = ::fdopen(fds[0], "r");
    char line[256] = {};
    if (out_ && std::fgets(line, sizeof line, out_)) first_line_ = line;
  }
  ~Background() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_) std::fclose(out_);
  }
  const std::string& FirstLine() const { return first_line_; }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  std::string first_line_;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the zuv executable with `args` and standard input from /dev/null.
RunResult Zuv(const std::string& args) {
  const std::string dir = std::filesystem::temp_directory_path();
  const std::string out = dir + "/zuv-cli-out-" + std::to_string(::getpid());
  const std::string err = out + ".err";
  const int raw = std::system((std::string(ZUV_TOOL) + " " + args + " </dev/null >" + out +
                               " 2>" + err).c_str());
  RunResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
  return r;
}

std::string PortOf(const Background& emulator) {
  const std::string& line = emulator.FirstLine();
  return line.rfind("PORT ", 0) == 0 ? line.substr(5, line.size() - 6) : "";
}

TEST(BinaryTest, EmulatorOnTcpAndTheToolAgainstIt) {
  Background emulator({ZUV_EMULATOR, "--tcp", "0", "--no-stdin", "--quiet", "--receipt-number", "9"});
  EXPECT_TRUE(std::regex_match(emulator.FirstLine(), std::regex("PORT tcp://127\\.0\\.0\\.1:[0-9]+\n")))
      << emulator.FirstLine();
  const std::string port = PortOf(emulator);

  RunResult r = Zuv("-p " + port + " test");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "the printer answered\n");
  r = Zuv("receipt-number --json --port " + port);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "{\"command\":\"receipt-number\",\"ok\":true,\"receipt_number\":9}\n");
  r = Zuv("-p " + port + " pay cash 12.345");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("bad amount \"12.345\""), std::string::npos) << r.err;
}

TEST(BinaryTest, StatusOneForSilenceAndThreeForALostReply) {
  PortDirectory ports;
  Background slow({ZUV_EMULATOR, "--baud", "9600", "--link", "ttyBinary", "--no-stdin", "--quiet"});
  ASSERT_EQ(PortOf(slow), "ttyBinary");
  // At the wrong speed the printer hears only noise.
  RunResult r = Zuv("-p ttyBinary x-report");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error -1: No response from fiscal device"), std::string::npos) << r.err;
  r = Zuv("detect ttyBinary");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("printer on ttyBinary at 9600 baud", 0), 0u) << r.out;
  r = Zuv("-p ttyBinary -b 9600 --lang SRB clock");
  EXPECT_EQ(r.status, 0);

  Background lost({ZUV_EMULATOR, "--tcp", "127.0.0.1:0", "--ack-silent", "--no-stdin", "--quiet"});
  r = Zuv("-p " + PortOf(lost) + " x-report");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("check the paper before repeating a print"), std::string::npos) << r.err;
}

TEST(BinaryTest, HelpNamesThePrinterCommandOfEachSubcommand) {
  const RunResult r = Zuv("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_search(r.out, std::regex("clock +\\[  2\\] read the device clock")));
  EXPECT_TRUE(std::regex_search(r.out, std::regex("z-report +\\[ 88\\]")));
  EXPECT_TRUE(std::regex_search(r.out, std::regex("nonfiscal +\\[ 26\\]")));
  EXPECT_EQ(Zuv("").status, 2);
  EXPECT_EQ(Zuv("--tcp 1 test").status, 2);
}

}  // namespace
}  // namespace clitest
