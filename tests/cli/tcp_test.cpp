// The TCP transport through the driver: refused connections, a peer that
// closes in the middle of an exchange, reconnection, and line settings that
// change nothing.
#include <cstdint>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_fixture.h"
#include "serial/tcp_device.h"
#include "tests/serial/loopback_listener.h"

namespace clitest {
namespace {

using zuv::TComPortZUV;
using zuv::TFiscal;
using Json = nlohmann::json;

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
  const std::string port = LoopbackListener::RefusingName();
  EXPECT_FALSE(TComPortZUV::OpenPort(port, 115200, true, false));
  EXPECT_EQ(zuv::ErrorCode, -5);
  const RunResult r = RunTool({"-p", port, "test"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot open " + port + ": Connection refused"), std::string::npos) << r.err;
}

TEST_F(TcpTest, APeerThatClosesMidExchangeIsAPortFaultAndOpenPortReconnects) {
  ASSERT_TRUE(TComPortZUV::OpenPort(server_.PortName(), 115200, true, false));
  ASSERT_TRUE(TFiscal::TestVeze());
  server_.With([](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
  std::thread closer([&] {
    const emu::Millis patience(LoopbackListener::kPatienceMs);
    if (server_.WaitForRequests(2, patience)) server_.DropConnection();
  });
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(TFiscal::CitajBD(), -1);
  closer.join();
  // A port fault, not the reply budget running out (that would be -1).
  EXPECT_EQ(zuv::ErrorCode, -5);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));  // sanity only
  EXPECT_FALSE(TFiscal::TestVeze());  // the port is gone until reopened

  server_.With([](emu::PrinterEmulator& e) {
    e.ClearFaults();
    e.SetDailyReportNumber(12);
  });
  ASSERT_TRUE(TComPortZUV::OpenPort(server_.PortName(), 115200, true, false));
  EXPECT_EQ(TFiscal::CitajBD(), 12);
  EXPECT_EQ(server_.Connections(), 2u);
}

// Takes one whole request frame: start byte, length (one byte after 02, two
// after 01), then the length's worth of command and data and the checksum.
bool ReceiveRequestFrame(LoopbackListener& far) {
  const std::vector<uint8_t> start = far.Receive(1);
  if (start.empty()) return false;
  const std::vector<uint8_t> length = far.Receive(start[0] == 0x02 ? 1 : 2);
  if (length.empty()) return false;
  const size_t n = length[0] | (length.size() > 1 ? length[1] << 8 : 0);
  return far.Receive(n + 2).size() == n + 2;
}

// The device server here is the test's own: it acknowledges the request
// and then ends the connection in order, so the ACK is sure to arrive first.
TEST_F(TcpTest, AConnectionLostAfterTheAckMeansCheckThePaperNotRetry) {
  LoopbackListener far;
  ASSERT_TRUE(far.ok());
  std::thread printer([&] {
    if (!far.Accept() || !ReceiveRequestFrame(far)) return;
    far.Send({0x06});
    far.CloseOrderly();
  });
  const RunResult r = RunTool({"-p", far.Name(), "--json", "x-report"});
  printer.join();
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
  // The wait ends once the end of the connection has arrived, however it reads.
  zuv::comport->WaitForInput(LoopbackListener::kPatienceMs);
  EXPECT_FALSE(TFiscal::TrakuPomeri());
  EXPECT_EQ(zuv::ErrorCode, -5);
  ASSERT_TRUE(TComPortZUV::OpenPort(server_.PortName(), 115200, true, false));
  EXPECT_TRUE(TFiscal::TrakuPomeri());
}

TEST_F(TcpTest, AResetConnectionIsAPortFault) {
  LoopbackListener listener;
  ASSERT_TRUE(listener.ok());
  ASSERT_TRUE(TComPortZUV::OpenPort(listener.Name(), 115200, true, false));
  std::thread resetter([&] {
    // Reset once the first request bytes came.
    if (listener.Accept() && !listener.Receive(1).empty()) listener.Reset();
  });
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(TFiscal::TestVeze());
  resetter.join();
  EXPECT_EQ(zuv::ErrorCode, -5);  // a port fault, not the budget running out
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));  // sanity only
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
  ASSERT_TRUE(server_.WaitForRequests(1, emu::Millis(LoopbackListener::kPatienceMs)));
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
