// The TCP transport through the driver: names, refused connections, a peer
// that closes in the middle of an exchange, reconnection, and line settings
// that change nothing.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include <nlohmann/json.hpp>

#include "cli_fixture.h"
#include "serial/tcp_device.h"

namespace clitest {
namespace {

using zuv::TComPortZUV;
using zuv::TFiscal;
using Json = nlohmann::json;

TEST(TcpNameTest, HostAndPortOrBracketedV6) {
  auto a = serial::ParseTcpPortName("tcp://127.0.0.1:4001");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->host, "127.0.0.1");
  EXPECT_EQ(a->port, "4001");
  a = serial::ParseTcpPortName("tcp://[::1]:65535");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->host, "::1");
  for (const char* bad : {"tcp://host", "tcp://:1", "tcp://h:0", "tcp://h:65536", "tcp://h:1x",
                          "tcp://::1:5", "tcp://[::1:5", "ttyS0", "tcp://h/x:5"})
    EXPECT_FALSE(serial::ParseTcpPortName(bad)) << bad;
}

// A loopback port with nobody listening: bound, then closed.
std::string RefusingPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  ::close(fd);
  return "tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
}

class TcpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zuv::ResetDriverState();
    ASSERT_TRUE(server_.Start()) << server_.Error();
  }
  void TearDown() override { zuv::ResetDriverState(); }
  emu::TcpServer server_;
};

TEST_F(TcpTest, ARefusedConnectionIsAPortFault) {
  const std::string port = RefusingPort();
  EXPECT_FALSE(TComPortZUV::OpenPort(port, 115200, true, false));
  EXPECT_EQ(zuv::ErrorCode, -5);
  const RunResult r = RunTool({"-p", port, "test"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot open " + port + ": Connection refused"), std::string::npos) << r.err;
}

TEST_F(TcpTest, AFailedConnectionIsTriedOnceAndAnUnknownHostIsNamed) {
  // Every port component the tool makes, counted: asking a second one why
  // the connection failed would wait out a second connect time-out.
  size_t made = 0;
  const serial::DeviceFactory previous = serial::TCustomComPort::SetDefaultDeviceFactory([&made] {
    ++made;
    return serial::MakeSystemDevice();
  });
  const std::string port = RefusingPort();
  RunResult r = RunTool({"-p", port, "--json", "test"});
  EXPECT_EQ(made, 1u);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot open " + port + ": Connection refused"), std::string::npos) << r.err;
  const Json failure = Json::parse(r.out, nullptr, false);
  EXPECT_EQ(failure["kind"], "link") << r.out;
  EXPECT_EQ(failure["error"], -5) << r.out;

  r = RunTool({"-p", "tcp://no-such-printer.invalid:4001", "test"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no such host \"no-such-printer.invalid\""), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("No route to host"), std::string::npos) << r.err;
  serial::TCustomComPort::SetDefaultDeviceFactory(previous);
}

TEST_F(TcpTest, APeerThatClosesMidExchangeIsAPortFaultAndOpenPortReconnects) {
  ASSERT_TRUE(TComPortZUV::OpenPort(server_.PortName(), 115200, true, false));
  ASSERT_TRUE(TFiscal::TestVeze());
  server_.With([](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
  std::thread closer([&] {
    if (server_.WaitForRequests(2, emu::Millis(2000))) server_.DropConnection();
  });
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(TFiscal::CitajBD(), -1);
  closer.join();
  EXPECT_EQ(zuv::ErrorCode, -5);
  // The fault ends the exchange at once, well inside the reply budget.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1500));
  EXPECT_FALSE(TFiscal::TestVeze());  // the port is gone until reopened

  server_.With([](emu::PrinterEmulator& e) {
    e.ClearFaults();
    e.SetDailyReportNumber(12);
  });
  ASSERT_TRUE(TComPortZUV::OpenPort(server_.PortName(), 115200, true, false));
  EXPECT_EQ(TFiscal::CitajBD(), 12);
  EXPECT_EQ(server_.Connections(), 2u);
}

TEST_F(TcpTest, AConnectionLostAfterTheAckMeansCheckThePaperNotRetry) {
  server_.With([](emu::PrinterEmulator& e) { e.InjectAckThenSilence(emu::kAlways); });
  std::thread closer([&] {
    if (server_.WaitForRequests(1, emu::Millis(2000))) {
      // The ACK goes out with the request's answer; give it time to arrive.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      server_.DropConnection();
    }
  });
  const RunResult r = RunTool({"-p", server_.PortName(), "--json", "x-report"});
  closer.join();
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("check the paper"), std::string::npos) << r.err;
  const Json result = Json::parse(r.out, nullptr, false);
  ASSERT_TRUE(result.is_object()) << r.out;
  EXPECT_EQ(result["error"], -5);
  EXPECT_EQ(result["acknowledged"], true);
}

TEST_F(TcpTest, AServerThatGoesAwayBetweenCommandsIsAPortFault) {
  ASSERT_TRUE(TComPortZUV::OpenPort(server_.PortName(), 115200, true, false));
  ASSERT_TRUE(TFiscal::TestVeze());
  server_.DropConnection();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(TFiscal::TrakuPomeri());
  EXPECT_EQ(zuv::ErrorCode, -5);
  ASSERT_TRUE(TComPortZUV::OpenPort(server_.PortName(), 115200, true, false));
  EXPECT_TRUE(TFiscal::TrakuPomeri());
}

// A loopback listener that accepts one connection and resets it (an
// abortive close sends RST instead of FIN).
class ResettingListener {
 public:
  ResettingListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 1);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
  }
  ~ResettingListener() { ::close(fd_); }
  std::string Name() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
  // Accepts, waits for the first request bytes, then resets.
  void ResetAfterFirstBytes() {
    const int client = ::accept(fd_, nullptr, nullptr);
    uint8_t byte;
    ::recv(client, &byte, 1, 0);
    const linger abort{1, 0};
    ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(client);
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(TcpTest, AResetConnectionIsAPortFault) {
  ResettingListener listener;
  ASSERT_TRUE(TComPortZUV::OpenPort(listener.Name(), 115200, true, false));
  std::thread resetter([&] { listener.ResetAfterFirstBytes(); });
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(TFiscal::TestVeze());
  resetter.join();
  EXPECT_EQ(zuv::ErrorCode, -5);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1500));
}

TEST_F(TcpTest, LineSettingsAreAcceptedAndChangeNothing) {
  server_.With([](emu::PrinterEmulator& e) { e.SetReceiptNumber(5); });
  for (int baud : TComPortZUV::GetBaudRates()) {
    SCOPED_TRACE(baud);
    ASSERT_TRUE(TComPortZUV::OpenPort(server_.PortName(), baud, true, false));
    EXPECT_EQ(TFiscal::CitajBI(), 5);
    EXPECT_EQ(TComPortZUV::GetSettings().at(1), std::to_string(baud));
  }
  EXPECT_EQ(server_.Connections(), 5u);  // every OpenPort connects afresh
}

TEST_F(TcpTest, ANewConnectionTakesOverFromTheOldOne) {
  ASSERT_TRUE(TComPortZUV::OpenPort(server_.PortName(), 115200, true, false));
  serial::TComPort other;
  other.SetPort(server_.PortName());
  other.Open();
  ASSERT_TRUE(other.Connected());
  const uint8_t test[] = {0x02, 0x01, 0x65, 0x00, 0x66};
  other.Write(test, sizeof test);
  ASSERT_TRUE(server_.WaitForRequests(1, emu::Millis(2000)));
  EXPECT_EQ(server_.Connections(), 2u);
  // The driver's connection was closed for the newcomer.
  EXPECT_FALSE(TFiscal::TestVeze());
  EXPECT_EQ(zuv::ErrorCode, -5);
  other.Close();
  ASSERT_TRUE(TComPortZUV::OpenPort(server_.PortName(), 115200, true, false));
  EXPECT_TRUE(TFiscal::TestVeze());
}

}  // namespace
}  // namespace clitest
