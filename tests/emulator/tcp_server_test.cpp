// The emulator served on loopback TCP: one connection at a time, and what
// a connection that ends takes along with it.
#include "emulator/tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "host_frames.h"

namespace {

using namespace emu_test;
using emu::Millis;
using emu::TcpServer;

constexpr size_t kStateReply = 1 + 5 + 48;  // ACK, frame with 48 data bytes

Bytes StateRequest() {
  static const Bytes request = ShortRequest(56);
  return request;
}

class Client {
 public:
  explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
  }
  ~Client() { Close(); }
  bool ok() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void Write(const Bytes& b) { ASSERT_EQ(::send(fd_, b.data(), b.size(), 0), ssize_t(b.size())); }

  // Reads until `count` bytes have come, the server closes, or the timeout
  // passes; `closed` tells whether the server closed.
  Bytes Read(size_t count, bool* closed = nullptr, Millis timeout = Millis(2000)) {
    Bytes all;
    if (closed) *closed = false;
    while (all.size() < count) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, int(timeout.count())) <= 0) break;
      uint8_t buf[512];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        if (closed) *closed = true;
        break;
      }
      all.insert(all.end(), buf, buf + n);
    }
    return all;
  }
  // Asks for the printer's state; the size of the data in its answer.
  size_t AskState() {
    Write(StateRequest());
    return ParseReply(Read(kStateReply)).data.size();
  }

 private:
  int fd_;
};

bool HasPartial(TcpServer& server) {
  return server.With([](emu::PrinterEmulator& e) { return e.HasPartialRequest(); });
}

TEST(TcpServerTest, NewConnectionTakesOverAndDropEndsTheCurrentOne) {
  TcpServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  Client first(server.Port());
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(first.AskState(), 48u);

  Client second(server.Port());
  ASSERT_TRUE(second.ok());
  bool closed = false;
  first.Read(1, &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(second.AskState(), 48u);
  EXPECT_EQ(server.Connections(), 2u);

  server.DropConnection();
  second.Read(1, &closed);
  EXPECT_TRUE(closed);
  Client third(server.Port());
  ASSERT_TRUE(third.ok());
  EXPECT_EQ(third.AskState(), 48u);
}

TEST(TcpServerTest, ClosedConnectionTakesItsHalfRequestAlongAtOnce) {
  TcpServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  Client client(server.Port());
  ASSERT_TRUE(client.ok());
  client.Write(Hex("02 01 38"));
  ASSERT_TRUE(WaitFor([&] { return HasPartial(server); }));
  client.Close();
  EXPECT_TRUE(WaitFor([&] { return !HasPartial(server); }));
  // The next connection's request is taken whole, not as the rest of the
  // old one.
  Client next(server.Port());
  ASSERT_TRUE(next.ok());
  EXPECT_EQ(next.AskState(), 48u);
}

}  // namespace
