// The TCP device on Windows: a non-blocking Winsock stream socket behind the
// SerialDevice interface. Failures are turned into the same errno numbers
// and texts as on Linux, so a closed or reset connection is reported as a
// port fault in the same words.
// The component's names for the serial constants come first: <windows.h>
// defines the same names, with the same values, as macros.
#include "tcp_device.h"
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tcp_open.h"
#include "win32_text.h"

namespace serial {

namespace {

struct SocketFailure {
  int wsa;
  int err;
  const char* text;
};
// Linux's words for the failures a connection meets.
constexpr SocketFailure kFailures[] = {
    {WSAECONNREFUSED, ECONNREFUSED, "Connection refused"},
    {WSAETIMEDOUT, ETIMEDOUT, "Connection timed out"},
    {WSAEHOSTUNREACH, EHOSTUNREACH, "No route to host"},
    {WSAENETUNREACH, ENETUNREACH, "Network is unreachable"},
    {WSAENETDOWN, ENETDOWN, "Network is down"},
    {WSAECONNRESET, ECONNRESET, "Connection reset by peer"},
    {WSAECONNABORTED, ECONNABORTED, "Software caused connection abort"},
    {WSAEADDRNOTAVAIL, EADDRNOTAVAIL, "Cannot assign requested address"},
    {WSAENOTCONN, ENOTCONN, "Transport endpoint is not connected"},
    {WSAESHUTDOWN, ENOTCONN, "Transport endpoint is not connected"},
};

// The errno number of a Winsock error; EIO for one without a counterpart.
int ErrnoOf(int wsa) {
  for (const SocketFailure& f : kFailures)
    if (f.wsa == wsa) return f.err;
  return EIO;
}

std::string TextOf(int wsa) {
  for (const SocketFailure& f : kFailures)
    if (f.wsa == wsa) return f.text;
  return SystemErrorText(static_cast<unsigned long>(wsa));
}

// Winsock is started once for the process and left running until it ends.
int StartWinsock() {
  static const int started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return started;
}

int64_t SteadyNowMs() { return static_cast<int64_t>(::GetTickCount64()); }

// Waits at most `timeoutMs` until the socket can be read or written (or has
// failed to connect, which Windows reports in the exception set). `ready`
// false when the time ran out; the result is the Winsock error.
int SelectOne(SOCKET s, bool forWrite, int timeoutMs, bool& ready) {
  fd_set main, failed;
  FD_ZERO(&main);
  FD_ZERO(&failed);
  FD_SET(s, &main);
  FD_SET(s, &failed);
  timeval limit{std::max(timeoutMs, 0) / 1000, (std::max(timeoutMs, 0) % 1000) * 1000};
  const int n =
      ::select(0, forWrite ? nullptr : &main, forWrite ? &main : nullptr, &failed, &limit);
  if (n == SOCKET_ERROR) return ::WSAGetLastError();
  ready = n > 0;
  return 0;
}

int PendingError(SOCKET s) {
  int err = 0;
  int len = sizeof err;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
    return ::WSAGetLastError();
  return err;
}

// Connects one resolved address within the time left: 0 and the socket, or
// the Winsock error.
int ConnectOne(const addrinfo& ai, int64_t deadlineMs, SOCKET& out) {
  const SOCKET s = ::socket(ai.ai_family, ai.ai_socktype, ai.ai_protocol);
  if (s == INVALID_SOCKET) return ::WSAGetLastError();
  // Not handed to child processes, which would keep the connection open.
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long nonBlocking = 1;
  int wsa = ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0 ? 0 : ::WSAGetLastError();
  if (!wsa && ::connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) != 0)
    wsa = ::WSAGetLastError();
  if (wsa == WSAEWOULDBLOCK) {
    bool ready = false;
    wsa = SelectOne(s, true, static_cast<int>(deadlineMs - SteadyNowMs()), ready);
    if (!wsa) wsa = ready ? PendingError(s) : WSAETIMEDOUT;
  }
  if (wsa) {
    ::closesocket(s);
    return wsa;
  }
  // Frames are small and the printer waits for each: no Nagle delay.
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  out = s;
  return 0;
}

class WinsockTcpDevice : public SerialDevice {
 public:
  ~WinsockTcpDevice() override { Close(); }

  int Open(const std::string& path) override {
    if (IsOpen()) return EBUSY;
    const std::optional<TcpAddress> address = ParseTcpPortName(path);
    if (!address) return EINVAL;
    if (const int wsa = StartWinsock()) {
      SetLastTcpOpenFailure(TextOf(wsa));
      return ErrnoOf(wsa);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int gai =
            ::getaddrinfo(address->host.c_str(), address->port.c_str(), &hints, &found)) {
      SetLastTcpOpenFailure(
          NoSuchHost(address->host, SystemErrorText(static_cast<unsigned long>(gai))));
      return EHOSTUNREACH;
    }
    // One time-out for all the addresses of the name together.
    const int64_t deadline = SteadyNowMs() + kTcpConnectTimeoutMs;
    int wsa = WSAEHOSTUNREACH;
    for (const addrinfo* ai = found; ai && !IsOpen(); ai = ai->ai_next)
      wsa = ConnectOne(*ai, deadline, s_);
    ::freeaddrinfo(found);
    SetLastTcpOpenFailure(IsOpen() ? "" : TextOf(wsa));
    return IsOpen() ? 0 : ErrnoOf(wsa);
  }

  int Close() override {
    if (!IsOpen()) return EBADF;
    const int result = ::closesocket(s_);
    s_ = INVALID_SOCKET;
    return result == 0 ? 0 : ErrnoOf(::WSAGetLastError());
  }
  bool IsOpen() const override { return s_ != INVALID_SOCKET; }
  int Handle() const override { return IsOpen() ? static_cast<int>(s_) : -1; }
  // A socket is nothing the event thread can wait on beside a port.
  int EventDescriptor() const override { return -1; }

  // The line behind a device server keeps the server's settings; the
  // component honours the time-outs itself.
  int SetCommState(const TDCB&) override { return OpenOrBad(); }
  int SetCommTimeouts(const TCommTimeouts&) override { return OpenOrBad(); }
  int SetupComm(int, int) override { return OpenOrBad(); }

  int ReadSome(uint8_t* buffer, size_t count, size_t& got) override {
    got = 0;
    if (!IsOpen()) return EBADF;
    if (count == 0) return 0;
    const int n = ::recv(s_, reinterpret_cast<char*>(buffer),
                         static_cast<int>(std::min<size_t>(count, 1 << 20)), 0);
    if (n == 0) return EIO;  // the peer closed after what it sent
    return Moved(n, got);
  }
  int WriteSome(const uint8_t* buffer, size_t count, size_t& sent) override {
    sent = 0;
    if (!IsOpen()) return EBADF;
    if (count == 0) return 0;
    return Moved(::send(s_, reinterpret_cast<const char*>(buffer),
                        static_cast<int>(std::min<size_t>(count, 1 << 20)), 0),
                 sent);
  }
  // Readable also when the peer closed (the read that follows tells); a
  // reset with nothing left to read is the device's error.
  int WaitReadable(int timeoutMs, bool& ready) override {
    if (int err = Wait(false, timeoutMs, ready)) return err;
    uint32_t waiting = 0;
    if (!ready || PeekInputCount(waiting) || waiting > 0) return 0;
    const int err = ConnectionError();
    if (err == EIO) return 0;  // closed in order: the read reports it
    ready = err == 0;
    return err;
  }
  int WaitWritable(int timeoutMs, bool& ready) override { return Wait(true, timeoutMs, ready); }
  // Bytes handed to the system are on their way; a socket has no line.
  int Drain(int, bool& drained) override {
    drained = IsOpen();
    return OpenOrBad();
  }

  int ClearCommError(TComStat& stat) override {
    stat = TComStat{};
    if (!IsOpen()) return EBADF;
    if (int err = PeekInputCount(stat.InQueue)) return err;
    if (stat.InQueue > 0) return 0;
    // Nothing left to read: a closed or reset connection is a fault now.
    bool readable = false;
    if (const int wsa = SelectOne(s_, false, 0, readable)) return ErrnoOf(wsa);
    return readable ? ConnectionError() : 0;
  }

  int Purge(uint32_t flags) override {
    if (!IsOpen()) return EBADF;
    // What was sent is in the network; only received bytes can be dropped.
    if (!(flags & PURGE_RXCLEAR)) return 0;
    uint8_t scrap[512];
    size_t got = 0;
    do {
      // A closed peer is not a purge failure; the next query reports it.
      if (ReadSome(scrap, sizeof scrap, got) != 0) return 0;
    } while (got > 0);
    return 0;
  }

  int GetModemStatus(uint32_t& status) override {
    status = 0;
    return OpenOrBad();
  }
  int EscapeCommFunction(int function) override {
    if (!IsOpen()) return EBADF;
    switch (function) {
      case SETXOFF:
      case SETXON:
      case SETRTS:
      case CLRRTS:
      case SETDTR:
      case CLRDTR:
      case SETBREAK:
      case CLRBREAK:
        return 0;  // no modem lines over TCP
      default:
        return EINVAL;
    }
  }
  // No priority send: the byte goes behind what the system already holds.
  int TransmitCommChar(uint8_t ch) override {
    size_t sent = 0;
    if (int err = WriteSome(&ch, 1, sent)) return err;
    return sent == 1 ? 0 : EAGAIN;
  }
  int64_t NowMs() const override { return SteadyNowMs(); }

  int PeekInputCount(uint32_t& count) const override {
    count = 0;
    if (!IsOpen()) return EBADF;
    u_long waiting = 0;
    if (::ioctlsocket(s_, FIONREAD, &waiting) != 0) return ErrnoOf(::WSAGetLastError());
    count = static_cast<uint32_t>(waiting);
    return 0;
  }
  int GetModemLines(uint32_t&) const override { return ENOTTY; }
  int GetLineCounters(TLineCounters&) const override { return ENOTTY; }

 private:
  int OpenOrBad() const { return IsOpen() ? 0 : EBADF; }

  // Non-blocking transfers that moved nothing yet are not failures.
  static int Moved(int n, size_t& moved) {
    if (n >= 0) {
      moved = static_cast<size_t>(n);
      return 0;
    }
    const int wsa = ::WSAGetLastError();
    return wsa == WSAEWOULDBLOCK ? 0 : ErrnoOf(wsa);
  }

  // Why a readable socket with nothing to read is: EIO for the peer's
  // orderly close, its error for a reset, 0 when it is fine after all.
  int ConnectionError() const {
    char probe;
    const int n = ::recv(s_, &probe, 1, MSG_PEEK);
    if (n == 0) return EIO;
    if (n > 0) return 0;
    const int wsa = ::WSAGetLastError();
    return wsa == WSAEWOULDBLOCK ? 0 : ErrnoOf(wsa);
  }

  int Wait(bool forWrite, int timeoutMs, bool& ready) {
    ready = false;
    if (!IsOpen()) return EBADF;
    const int wsa = SelectOne(s_, forWrite, timeoutMs, ready);
    return wsa ? ErrnoOf(wsa) : 0;
  }

  SOCKET s_ = INVALID_SOCKET;
};

}  // namespace

std::unique_ptr<SerialDevice> MakeTcpDevice() { return std::make_unique<WinsockTcpDevice>(); }

}  // namespace serial
