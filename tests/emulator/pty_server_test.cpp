// The emulator served on a real pseudo-terminal, opened the way the host
// opens a serial port: exchanges, hang-up, links, pacing.
#include "emulator/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "host_frames.h"

namespace {

using namespace emu_test;
using emu::Millis;
using emu::PtyServer;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

struct Arrival {
  double ms;  // since the request was written
  Bytes bytes;
};

class Host {
 public:
  explicit Host(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
  ~Host() { Close(); }
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void Write(const Bytes& b) { ASSERT_EQ(::write(fd_, b.data(), b.size()), ssize_t(b.size())); }

  // Reads, one entry per read(), until `count` bytes have come or the
  // timeout passes.
  std::vector<Arrival> ReadChunks(size_t count, Millis timeout, Clock::time_point t0) {
    std::vector<Arrival> chunks;
    size_t got = 0;
    const auto end = Clock::now() + timeout;
    while (got < count) {
      const auto left = std::chrono::duration_cast<Millis>(end - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, int(left)) <= 0 || !(p.revents & POLLIN)) break;
      uint8_t buf[512];
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) break;
      chunks.push_back({MsSince(t0), Bytes(buf, buf + n)});
      got += size_t(n);
    }
    return chunks;
  }
  Bytes Read(size_t count, Millis timeout = Millis(2000)) {
    Bytes all;
    for (const Arrival& a : ReadChunks(count, timeout, Clock::now()))
      all.insert(all.end(), a.bytes.begin(), a.bytes.end());
    return all;
  }
  Bytes Exchange(const Bytes& request, size_t reply_size) {
    Write(request);
    return Read(reply_size);
  }

 private:
  int fd_;
};

constexpr size_t kStateReply = 1 + 5 + 48;  // ACK, frame with 48 data bytes

TEST(PtyServerTest, ServesTheSlaveInRawMode) {
  PtyServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  EXPECT_EQ(server.PortName(), server.SlavePath());
  Host host(server.SlavePath());
  ASSERT_TRUE(host.ok());
  EXPECT_EQ(host.Exchange(Hex("02 01 65 00 66"), 1), Hex("06"));
  // Raw: nothing echoed, no byte translated (0x0D, 0x11 and 0x13 among them).
  server.With([](emu::PrinterEmulator& e) { return e.SetClock(0x13110D0A, false); });
  const Reply clock = ParseReply(host.Exchange(ShortRequest(2), 14));
  EXPECT_EQ(clock.data, Hex("0A 0D 11 13 00 00 00 00"));
  host.Write(Hex("40"));
  EXPECT_TRUE(host.Read(1, Millis(100)).empty());
  EXPECT_EQ(server.With([](emu::PrinterEmulator& e) { return e.ClosingBytes(); }), 1u);
  EXPECT_TRUE(server.WaitForRequests(2, Millis(1000)));
  EXPECT_FALSE(server.WaitForRequests(3, Millis(50)));
}

TEST(PtyServerTest, HostMayCloseAndReopenThePort) {
  PtyServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  for (int round = 0; round < 3; ++round) {
    Host host(server.SlavePath());
    ASSERT_TRUE(host.ok());
    EXPECT_EQ(ParseReply(host.Exchange(ShortRequest(56), kStateReply)).data.size(), 48u)
        << "round " << round;
  }
}

TEST(PtyServerTest, StopHangsUpOnTheHostAndStartServesAgain) {
  PtyServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  server.With([](emu::PrinterEmulator& e) { e.SetReceiptNumber(41); });
  Host host(server.SlavePath());
  ASSERT_TRUE(host.ok());
  server.Stop();
  EXPECT_FALSE(server.Running());
  pollfd p{host.fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  EXPECT_LT(::write(host.fd(), "\x02", 1), 0);

  ASSERT_TRUE(server.Start()) << server.Error();
  Host again(server.SlavePath());
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(GetLE(ParseReply(again.Exchange(ShortRequest(56), kStateReply)).data, 44, 4), 41);
}

class PortDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zuv-emu-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ::setenv("ZUV_PORT_DIR", (dir_ + "/ports").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("ZUV_PORT_DIR");
    std::filesystem::remove_all(dir_);
  }
  std::string Ports() const { return dir_ + "/ports"; }
  std::string dir_;
};

TEST_F(PortDirectoryTest, LinksTakeTheFirstFreeNameAndGoOnStop) {
  PtyServer first, second, named;
  ASSERT_TRUE(first.Start({true, ""})) << first.Error();
  ASSERT_TRUE(second.Start({true, ""})) << second.Error();
  EXPECT_EQ(first.PortName(), "ttyZUV0");
  EXPECT_EQ(second.PortName(), "ttyZUV1");
  EXPECT_EQ(std::filesystem::read_symlink(Ports() + "/ttyZUV0"), first.SlavePath());
  {
    Host host(Ports() + "/ttyZUV1");  // the host opens the link
    ASSERT_TRUE(host.ok());
    EXPECT_EQ(host.Exchange(ShortRequest(101), 1), Hex("06"));
  }
  EXPECT_FALSE(named.Start({true, "ttyZUV0"}));  // taken
  EXPECT_FALSE(named.Error().empty());
  EXPECT_FALSE(named.Running());
  first.Stop();
  EXPECT_FALSE(std::filesystem::exists(Ports() + "/ttyZUV0"));
  EXPECT_TRUE(std::filesystem::is_symlink(Ports() + "/ttyZUV1"));
  ASSERT_TRUE(named.Start({true, "ttyZUV0"})) << named.Error();
  EXPECT_EQ(named.LinkPath(), Ports() + "/ttyZUV0");
}

TEST_F(PortDirectoryTest, LinkLeftByADeadEmulatorIsReused) {
  ASSERT_TRUE(std::filesystem::create_directories(Ports()));
  std::filesystem::create_symlink("/dev/pts/no-such-terminal", Ports() + "/ttyZUV0");
  PtyServer server;
  ASSERT_TRUE(server.Start({true, ""})) << server.Error();
  EXPECT_EQ(server.PortName(), "ttyZUV0");
  EXPECT_EQ(std::filesystem::read_symlink(Ports() + "/ttyZUV0"), server.SlavePath());
}

// Starts the emulator program, serving on a link, and kills it with
// SIGKILL once it has named its port: nothing of its own clean-up runs.
// Returns the port it named.
std::string StartAndKillEmulator() {
  int out[2];
  if (::pipe(out) != 0) return "<no pipe>";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    ::execl(ZUV_EMULATOR, "zuv_emulator", "--no-stdin", "--quiet", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string line;
  char c;
  pollfd p{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && ::poll(&p, 1, 10'000) > 0 &&
         ::read(out[0], &c, 1) == 1)
    line += c;
  ::close(out[0]);
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  const std::string prefix = "PORT ";
  if (line.rfind(prefix, 0) != 0) return "<no PORT line: " + line + ">";
  return line.substr(prefix.size(), line.size() - prefix.size() - 1);
}

TEST_F(PortDirectoryTest, NameOfAKilledEmulatorIsTakenAgain) {
  ASSERT_EQ(StartAndKillEmulator(), "ttyZUV0");
  EXPECT_TRUE(std::filesystem::is_symlink(Ports() + "/ttyZUV0"));  // left behind
  {
    PtyServer next;
    ASSERT_TRUE(next.Start({true, ""})) << next.Error();
    EXPECT_EQ(next.PortName(), "ttyZUV0");
    Host host(Ports() + "/ttyZUV0");
    ASSERT_TRUE(host.ok());
    EXPECT_EQ(host.Exchange(ShortRequest(101), 1), Hex("06"));
  }

  // Another program may have got the dead emulator's pseudo-terminal
  // number meanwhile, so that the link points to a terminal that exists.
  ASSERT_EQ(StartAndKillEmulator(), "ttyZUV0");
  const int other = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  PtyServer next;
  ASSERT_TRUE(next.Start({true, ""})) << next.Error();
  EXPECT_EQ(next.PortName(), "ttyZUV0");
  EXPECT_EQ(std::filesystem::read_symlink(Ports() + "/ttyZUV0"), next.SlavePath());
  ::close(other);
}

TEST_F(PortDirectoryTest, LinksOfOthersStay) {
  // A link made by hand, and a running emulator's.
  ASSERT_TRUE(std::filesystem::create_directories(Ports()));
  std::filesystem::create_symlink("/dev/null", Ports() + "/ttyZUV0");
  PtyServer first, second;
  ASSERT_TRUE(first.Start({true, ""})) << first.Error();
  EXPECT_EQ(first.PortName(), "ttyZUV1");
  EXPECT_EQ(std::filesystem::read_symlink(Ports() + "/ttyZUV0"), "/dev/null");
  EXPECT_FALSE(second.Start({true, "ttyZUV1"}));
  EXPECT_NE(second.Error().find("in use"), std::string::npos) << second.Error();
  EXPECT_FALSE(second.Start({true, "ttyZUV0"}));
  EXPECT_EQ(std::filesystem::read_symlink(Ports() + "/ttyZUV1"), first.SlavePath());
  // Stopped, the emulator gives its name up for the next one.
  first.Stop();
  ASSERT_TRUE(second.Start({true, "ttyZUV1"})) << second.Error();
}

TEST(PtyServerTest, PacingTakesTheWireTimeOfBothDirections) {
  PtyServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  Host host(server.SlavePath());
  ASSERT_TRUE(host.ok());
  EXPECT_EQ(ParseReply(host.Exchange(ShortRequest(56), kStateReply)).data.size(), 48u);

  // At 2400 baud a byte takes 4.17 ms: 5 request bytes, then 54 reply bytes.
  server.With([](emu::PrinterEmulator& e) { e.SetBaud(2400); });
  const double byte_ms = 10.0 * 1000 / 2400;
  const auto t0 = Clock::now();
  host.Write(ShortRequest(56));
  const auto chunks = host.ReadChunks(kStateReply, Millis(3000), t0);
  Bytes all;
  for (const Arrival& a : chunks) all.insert(all.end(), a.bytes.begin(), a.bytes.end());
  ASSERT_EQ(all.size(), kStateReply);
  EXPECT_TRUE(ParseReply(all).ok);
  EXPECT_GE(chunks.front().ms, 0.9 * 6 * byte_ms);  // the request's wire time, then the ACK's
  EXPECT_GE(chunks.back().ms, 0.95 * (5 + kStateReply) * byte_ms);
  // Byte by byte, not all at the end.
  EXPECT_GE(chunks.size(), 10u);
  EXPECT_GE(chunks.back().ms - chunks.front().ms, 0.8 * (kStateReply - 1) * byte_ms);
}

TEST(PtyServerTest, WaitCodeArrivesWholeAndOnItsOwn) {
  PtyServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  server.With([](emu::PrinterEmulator& e) {
    e.SetBaud(9600);
    e.InjectWaitCodes({{0x07, 0x12}, {0x08}}, Millis(150));
  });
  Host host(server.SlavePath());
  ASSERT_TRUE(host.ok());
  const auto t0 = Clock::now();
  host.Write(ShortRequest(56));
  const auto chunks = host.ReadChunks(kStateReply + 3, Millis(3000), t0);
  ASSERT_GE(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].bytes, Hex("06"));
  EXPECT_EQ(chunks[1].bytes, Hex("07 12"));
  EXPECT_EQ(chunks[2].bytes, Hex("08"));
  EXPECT_GE(chunks[1].ms - chunks[0].ms, 140.0);
  EXPECT_GE(chunks[3].ms - chunks[2].ms, 140.0);
}

TEST(PtyServerTest, ChunkedReplyArrivesInPiecesWithGaps) {
  PtyServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  server.With([](emu::PrinterEmulator& e) { e.SetChunking(20, Millis(100)); });
  Host host(server.SlavePath());
  ASSERT_TRUE(host.ok());
  const auto t0 = Clock::now();
  host.Write(ShortRequest(56));
  const auto chunks = host.ReadChunks(kStateReply, Millis(3000), t0);
  ASSERT_EQ(chunks.size(), 3u);  // 20, 20, 14
  EXPECT_EQ(chunks[0].bytes.size(), 20u);
  EXPECT_GE(chunks[2].ms, 190.0);
  EXPECT_TRUE(ParseReply(Cat({chunks[0].bytes, chunks[1].bytes, chunks[2].bytes})).ok);
}

TEST(PtyServerTest, UnfinishedRequestIsDroppedAfterAPause) {
  PtyServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  Host host(server.SlavePath());
  ASSERT_TRUE(host.ok());
  host.Write(Hex("02 01 38"));
  auto partial = [&] {
    return server.With([](emu::PrinterEmulator& e) { return e.HasPartialRequest(); });
  };
  ASSERT_TRUE(WaitFor(partial));
  // Still connected, so only the pause on the line can end it.
  EXPECT_TRUE(WaitFor([&] { return !partial(); }));
  EXPECT_EQ(ParseReply(host.Exchange(ShortRequest(56), kStateReply)).data.size(), 48u);
}

}  // namespace
