// Opening the printer port, its settings and losing it to a fault.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "driver_fixture.h"
#include "serial/names.h"

using namespace zuv;

class PortTest : public DriverTest {};

TEST_F(PortTest, BaudRateArgumentMapping) {
  struct Case {
    int arg;
    serial::TBaudRate rate;
  } cases[] = {{9600, serial::br9600},     {7, serial::br9600},      {8, serial::br14400},
               {19200, serial::br19200},   {38400, serial::br38400}, {57600, serial::br57600},
               {115200, serial::br115200}, {0, serial::brCustom},    {15, serial::br256000}};
  for (const auto& c : cases) {
    ASSERT_TRUE(TComPortZUV::OpenPort("mem0", c.arg, true, false)) << c.arg;
    EXPECT_EQ(comport->BaudRate(), c.rate) << c.arg;
  }
  ResetDriverState();
  for (int bad : {14400, 16, 9601, -1}) {
    EXPECT_FALSE(TComPortZUV::OpenPort("mem0", bad, true, true)) << bad;
    EXPECT_EQ(comport, nullptr);
    EXPECT_FALSE(DebugMode);
  }
}

TEST_F(PortTest, OpenPortConfiguresOnceAndInitialisesLazily) {
  // SetUp opened the port before any Init: the driver is now Serbian.
  ASSERT_TRUE(ErrorTableK3RT && ZUVtable && receiveBuffer && bufferArtikala);
  EXPECT_EQ(TComPortZUV::ErrorMessage(-5), "Greška COM porta");
  EXPECT_TRUE(comport->Connected());
  EXPECT_EQ(comport->Events(), serial::AllComEvents);
  EXPECT_TRUE(comport->TriggersOnRxChar());
  EXPECT_EQ(comport->FlowControl().FlowControl(), serial::fcNone);
  EXPECT_EQ(dev().lastDCB.Flags, serial::dcb_Binary);
  EXPECT_EQ(dev().lastDCB.ByteSize, 8);
  EXPECT_EQ(dev().lastDCB.Parity, 0);
  EXPECT_EQ(dev().lastDCB.StopBits, 0);
  EXPECT_EQ(dev().lastDCB.BaudRate, 9600u);
  EXPECT_EQ(dev().lastTimeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_TRUE(PrinterType);
  EXPECT_FALSE(DebugMode);
}

TEST_F(PortTest, SecondOpenPortReusesThePortObject) {
  serial::TComPort* first = comport.get();
  const int opens = dev().openCalls;
  ASSERT_TRUE(TComPortZUV::OpenPort("mem1", 19200, false, true));
  EXPECT_EQ(comport.get(), first);
  EXPECT_EQ(dev().openCalls, opens + 1);
  EXPECT_GE(dev().closeCalls, 1);
  EXPECT_EQ(dev().openedPath, serial::PortPath("mem1"));
  EXPECT_EQ(dev().lastDCB.BaudRate, 19200u);
  EXPECT_EQ(dev().lastDCB.Flags, serial::dcb_Binary);
  EXPECT_FALSE(PrinterType);
  EXPECT_TRUE(DebugMode);
  EXPECT_EQ(TComPortZUV::GetSettings(), (std::vector<std::string>{"mem1", "19200"}));
}

TEST_F(PortTest, FailedOpenDropsThePortAndKeepsTheFlags) {
  ResetDriverState();
  openErrorForNewDevices = ENOENT;
  ErrorCode = 0;
  EXPECT_FALSE(TComPortZUV::OpenPort("missing", 9600, false, true));
  EXPECT_EQ(ErrorCode, -5);
  EXPECT_EQ(comport, nullptr);
  EXPECT_FALSE(DebugMode);
  EXPECT_FALSE(PrinterType);
  EXPECT_EQ(ZUVtable, nullptr);  // no lazy Init after a failed open
  EXPECT_TRUE(TComPortZUV::GetSettings().empty());

  // The next OpenPort starts over with a fresh, fully configured object.
  openErrorForNewDevices = 0;
  ASSERT_TRUE(TComPortZUV::OpenPort("mem0", 38400, true, false));
  EXPECT_EQ(dev().lastDCB.BaudRate, 38400u);
  EXPECT_EQ(dev().lastDCB.Flags, serial::dcb_Binary);
  EXPECT_EQ(TComPortZUV::GetSettings(), (std::vector<std::string>{"mem0", "38400"}));
}

TEST_F(PortTest, ListsOfPortsAndRates) {
  EXPECT_EQ(TComPortZUV::GetBaudRates(), (std::vector<int>{9600, 19200, 38400, 57600, 115200}));
  for (int rate : TComPortZUV::GetBaudRates()) EXPECT_TRUE(TComPortZUV::OpenPort("mem0", rate, true, false));

  const auto dir = std::filesystem::temp_directory_path() / ("zuv-ports-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::create_symlink("/dev/null", dir / "ttyVIRT7");
  setenv("ZUV_PORT_DIR", dir.c_str(), 1);
  const auto ports = TComPortZUV::GetPorts();
  unsetenv("ZUV_PORT_DIR");
  std::filesystem::remove_all(dir);
  EXPECT_NE(std::find(ports.begin(), ports.end(), "ttyVIRT7"), ports.end());
}

TEST_F(PortTest, CommandsWithoutAnOpenPortFail) {
  ResetDriverState();
  EXPECT_FALSE(TFiscal::TestVeze());
  EXPECT_FALSE(TFiscal::PresekStanja());
  EXPECT_FALSE(TFiscal::BrisanjeBaze());
  EXPECT_EQ(TFiscal::CitajBI(), -1);
  EXPECT_EQ(TFiscal::CitajVreme(), "");
  EXPECT_FALSE(TFiscal::StanjeRacuna().UspesanOdgovor);
  EXPECT_FALSE(TFiscal::ProgramirajArtikle());
  EXPECT_TRUE(TComPortZUV::GetSettings().empty());
}

// ---- over a real pseudo-terminal -----------------------------------------

namespace {

// The printer side of a pseudo-terminal: answers the connection test.
class PtyPrinter {
 public:
  PtyPrinter() {
    if (pipe2(wake, O_CLOEXEC) != 0) wake[0] = wake[1] = -1;
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    termios t{};
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    slave = ptsname(master);
  }
  ~PtyPrinter() {
    Stop();
    if (master >= 0) close(master);
    for (int fd : wake)
      if (fd >= 0) close(fd);
  }
  // Answers each request frame with `reply` until stopped; on the request
  // numbered `hangUpAt` (from 1) it hangs the line up instead.
  void Serve(Bytes reply, int hangUpAt = 0) {
    worker = std::thread([this, reply, hangUpAt] {
      int requests = 0;
      for (;;) {
        pollfd p[2] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR) return;
        if (p[1].revents) return;
        uint8_t buf[256];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) continue;
        if (n == 1 && buf[0] == 0x40) {
          NoteClosing();
          continue;
        }
        if (++requests == hangUpAt) {
          const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
          hungUp = fd >= 0 && ioctl(fd, TIOCVHANGUP) == 0;
          if (fd >= 0) close(fd);
          NoteHangUpTried();
          continue;
        }
        if (write(master, reply.data(), reply.size()) < 0) return;
      }
    });
  }
  void Stop() {
    if (worker.joinable() && write(wake[1], "x", 1) != 1) std::abort();
    if (worker.joinable()) worker.join();
  }
  // Closing bytes seen once `expected` of them came, or after a generous
  // limit: the last may still be on its way when the driver returns.
  int WaitForClosings(int expected) {
    std::unique_lock<std::mutex> lock(mutex);
    seen.wait_for(lock, kPatience, [&] { return closings >= expected; });
    return closings;
  }
  // Whether the hang-up was tried (then `hungUp` is final), within the limit.
  bool WaitForHangUpTried() {
    std::unique_lock<std::mutex> lock(mutex);
    return seen.wait_for(lock, kPatience, [&] { return hangUpTried; });
  }
  int master = -1;
  std::string slave;
  std::atomic<bool> hungUp{false};

 private:
  static constexpr std::chrono::seconds kPatience{10};
  void NoteClosing() {
    std::lock_guard<std::mutex> lock(mutex);
    ++closings;
    seen.notify_all();
  }
  void NoteHangUpTried() {
    std::lock_guard<std::mutex> lock(mutex);
    hangUpTried = true;
    seen.notify_all();
  }
  int wake[2] = {-1, -1};  // written to stop the worker
  std::mutex mutex;
  std::condition_variable seen;
  int closings = 0;
  bool hangUpTried = false;
  std::thread worker;
};

class PtyDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetDriverState(); }
  void TearDown() override { ResetDriverState(); }
};

}  // namespace

TEST_F(PtyDriverTest, ConnectionTestOverAPseudoTerminal) {
  PtyPrinter printer;
  ASSERT_FALSE(printer.slave.empty());
  printer.Serve({0x06});
  ASSERT_TRUE(TComPortZUV::OpenPort(printer.slave, 115200, true, false));
  EXPECT_TRUE(TFiscal::TestVeze());
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_EQ(TComPortZUV::GetSettings(), (std::vector<std::string>{printer.slave, "115200"}));
  EXPECT_EQ(printer.WaitForClosings(1), 1);
}

TEST_F(PtyDriverTest, HangUpMidExchangeThenReopenTheSameDevice) {
  PtyPrinter printer;
  ASSERT_FALSE(printer.slave.empty());
  printer.Serve({0x06}, /*hangUpAt=*/1);
  ASSERT_TRUE(TComPortZUV::OpenPort(printer.slave, 9600, true, false));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(TFiscal::TestVeze());
  // A sanity limit only: the error code below tells a hang-up from a time-out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  // The driver can see the hang-up before the printer thread has noted it.
  ASSERT_TRUE(printer.WaitForHangUpTried());
  if (!printer.hungUp) GTEST_SKIP() << "this system does not let the test hang up a terminal";
  EXPECT_EQ(ErrorCode, -5);
  EXPECT_EQ(comport, nullptr);

  // The dropped port still held the device; reopening must get it back.
  EXPECT_TRUE(TComPortZUV::OpenPort(printer.slave, 9600, true, false));
  EXPECT_TRUE(TFiscal::TestVeze());
  EXPECT_EQ(ErrorCode, 0);
}

TEST_F(PtyDriverTest, FarEndClosingIsAPortFault) {
  auto printer = std::make_unique<PtyPrinter>();
  ASSERT_FALSE(printer->slave.empty());
  ASSERT_TRUE(TComPortZUV::OpenPort(printer->slave, 9600, true, false));
  printer.reset();  // closes the master: the line is gone
  EXPECT_FALSE(TFiscal::TestVeze());
  EXPECT_EQ(ErrorCode, -5);
  EXPECT_EQ(comport, nullptr);
}

// A program that ends while its printer line is gone must exit cleanly: the
// port fails while closing at exit, and its handler must not touch driver
// state that is already being torn down.
TEST_F(PortTest, ExitAfterTheLineWentAwayIsClean) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        dev().HangUp();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}
