// Windows only: the Winsock TCP device against a device server the test
// plays on loopback, with the failures in Linux's numbers and words.
// The component's serial constants before <winsock2.h>, whose macros of
// the same names would otherwise replace them.
#include "serial/tcp_device.h"
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

using namespace serial;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int kPatienceMs = 10000;  // sanity bound, never reached when all is well

// The far end: a listening socket on 127.0.0.1 and the connection it takes.
class FarEnd {
 public:
  FarEnd() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      return;
    port_ = ntohs(address.sin_port);
  }
  ~FarEnd() {
    if (peer_ != INVALID_SOCKET) ::closesocket(peer_);
    Stop();
    ::WSACleanup();
  }
  bool ok() const { return port_ != 0; }
  std::string Name() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
  bool Accept() {
    peer_ = ::accept(listener_, nullptr, nullptr);
    return peer_ != INVALID_SOCKET;
  }
  // No one listens on the port any more.
  void Stop() {
    if (listener_ != INVALID_SOCKET) ::closesocket(listener_);
    listener_ = INVALID_SOCKET;
  }
  bool Send(const Bytes& bytes) {
    return ::send(peer_, reinterpret_cast<const char*>(bytes.data()),
                  static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
  }
  Bytes Receive(size_t count) {
    Bytes got(count);
    size_t have = 0;
    while (have < count) {
      const int n = ::recv(peer_, reinterpret_cast<char*>(got.data() + have),
                           static_cast<int>(count - have), 0);
      if (n <= 0) break;
      have += static_cast<size_t>(n);
    }
    got.resize(have);
    return got;
  }
  void Close(bool reset) {
    if (reset) {
      const linger now{1, 0};
      ::setsockopt(peer_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now), sizeof now);
    }
    ::closesocket(peer_);
    peer_ = INVALID_SOCKET;
  }

 private:
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET peer_ = INVALID_SOCKET;
  unsigned short port_ = 0;
};

class WinsockTcp : public ::testing::Test {
 protected:
  void Connect() {
    ASSERT_TRUE(far_.ok());
    ASSERT_EQ(device_->Open(far_.Name()), 0);
    EXPECT_EQ(LastTcpOpenFailure(), "");
    ASSERT_TRUE(far_.Accept());
  }
  void WaitForInput() {
    bool ready = false;
    ASSERT_EQ(device_->WaitReadable(kPatienceMs, ready), 0);
    ASSERT_TRUE(ready);
  }

  FarEnd far_;
  std::unique_ptr<SerialDevice> device_ = MakeTcpDevice();
};

TEST_F(WinsockTcp, BytesTravelBothWaysAndTheLinesAreNoOps) {
  Connect();
  EXPECT_EQ(device_->Open(far_.Name()), EBUSY);
  const uint8_t frame[] = {0x02, 0x01, 0x65, 0x00, 0x66};
  size_t sent = 0;
  ASSERT_EQ(device_->WriteSome(frame, sizeof frame, sent), 0);
  EXPECT_EQ(sent, sizeof frame);
  EXPECT_EQ(far_.Receive(5), Bytes(frame, frame + 5));
  ASSERT_TRUE(far_.Send({0x06, 0x15}));
  WaitForInput();
  TComStat stat;
  ASSERT_EQ(device_->ClearCommError(stat), 0);
  EXPECT_EQ(stat.InQueue, 2u);
  uint8_t buf[4] = {};
  size_t got = 0;
  ASSERT_EQ(device_->ReadSome(buf, sizeof buf, got), 0);
  EXPECT_EQ(Bytes(buf, buf + got), (Bytes{0x06, 0x15}));
  EXPECT_EQ(device_->ReadSome(buf, sizeof buf, got), 0);  // nothing more yet is no failure
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(device_->EscapeCommFunction(SETDTR), 0);
  EXPECT_EQ(device_->EscapeCommFunction(77), EINVAL);
  EXPECT_EQ(device_->Close(), 0);
  EXPECT_EQ(device_->ReadSome(buf, sizeof buf, got), EBADF);
}

TEST_F(WinsockTcp, WhatCameBeforeThePeerClosedIsReadThenTheCloseIsAFault) {
  Connect();
  ASSERT_TRUE(far_.Send({1, 2, 3}));
  far_.Close(false);
  WaitForInput();
  uint8_t buf[8] = {};
  size_t got = 0;
  ASSERT_EQ(device_->ReadSome(buf, sizeof buf, got), 0);
  EXPECT_EQ(Bytes(buf, buf + got), (Bytes{1, 2, 3}));
  TComStat stat;
  EXPECT_EQ(device_->ClearCommError(stat), EIO);
  EXPECT_EQ(device_->ReadSome(buf, sizeof buf, got), EIO);
}

TEST_F(WinsockTcp, AResetConnectionIsAFault) {
  Connect();
  far_.Close(true);
  // Windows reports the reset itself; wine (8.0) reads it as a close, EIO.
  bool ready = false;
  const int waited = device_->WaitReadable(kPatienceMs, ready);
  EXPECT_TRUE(waited == ECONNRESET || (waited == 0 && ready)) << waited;
  TComStat stat;
  const int queried = device_->ClearCommError(stat);
  EXPECT_TRUE(queried == ECONNRESET || queried == EIO) << queried;
  const uint8_t byte = 0;
  size_t sent = 0;
  EXPECT_EQ(device_->WriteSome(&byte, 1, sent), ECONNRESET);
  EXPECT_EQ(sent, 0u);
}

TEST_F(WinsockTcp, NobodyListeningOrABadNameCannotBeOpened) {
  ASSERT_TRUE(far_.ok());
  far_.Stop();
  EXPECT_EQ(device_->Open(far_.Name()), ECONNREFUSED);
  EXPECT_EQ(LastTcpOpenFailure(), "Connection refused");
  EXPECT_FALSE(device_->IsOpen());
  EXPECT_EQ(device_->Open("tcp://127.0.0.1:0"), EINVAL);
  EXPECT_EQ(device_->Open("tcp://no-such-host.invalid:9100"), EHOSTUNREACH);
  EXPECT_EQ(LastTcpOpenFailure().rfind("no such host \"no-such-host.invalid\" (", 0), 0u)
      << LastTcpOpenFailure();
}

}  // namespace
