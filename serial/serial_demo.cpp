// Shows the port component at work without hardware: makes a
// pseudo-terminal pair, lists the ports, opens the terminal end through
// TComPort and passes a few bytes each way.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "serial/comport.h"
#include "serial/names.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, " %02X", bytes[i]);
    out += buf;
  }
  return out;
}

}  // namespace

int main() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::perror("pseudo-terminal");
    return 1;
  }
  struct termios raw;
  ::tcgetattr(master, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(master, TCSANOW, &raw);
  const std::string slave = ::ptsname(master);
  std::printf("pseudo-terminal pair: the component opens %s, this program plays the far end\n",
              slave.c_str());

  std::vector<std::string> ports;
  serial::EnumComPorts(ports);
  std::printf("serial ports found: %zu\n", ports.size());
  for (const auto& p : ports) std::printf("  %s\n", p.c_str());

  try {
    serial::TComPort port;
    port.OnAfterOpen = [](serial::TCustomComPort* p) {
      std::printf("opened %s at %s bit/s\n", p->Port().c_str(),
                  serial::BaudRateToStr(p->BaudRate()).c_str());
    };
    port.OnAfterClose = [](serial::TCustomComPort*) { std::printf("closed\n"); };
    // Arrivals are handed to this thread; nothing here runs an event loop, so
    // the hand-over is served explicitly below.
    bool arrived = false;
    port.OnRxChar = [&arrived](serial::TCustomComPort*, int32_t count) {
      std::printf("event: %d bytes arrived (left for Read)\n", count);
      arrived = true;
    };
    port.OnTxEmpty = [](serial::TCustomComPort*) { std::printf("event: output sent\n"); };
    port.SetPort(slave);
    port.SetBaudRate(serial::br115200);
    port.Open();

    const uint8_t hello[] = {0x02, 0x01, 0x02, 0x00, 0x03};
    const int32_t sent = port.Write(hello, sizeof hello);
    std::printf("component wrote %d bytes:%s\n", sent, Hex(hello, sizeof hello).c_str());

    uint8_t buf[64];
    struct pollfd pfd = {master, POLLIN, 0};
    ::poll(&pfd, 1, 1000);
    const ssize_t got = ::read(master, buf, sizeof buf);
    std::printf("far end received %zd bytes:%s\n", got, Hex(buf, got > 0 ? size_t(got) : 0).c_str());

    const uint8_t reply[] = {0x06, 0x02, 0x01, 0x02, 0x00, 0x03};
    if (::write(master, reply, sizeof reply) < 0) std::perror("far end write");
    std::printf("far end wrote %zu bytes:%s\n", sizeof reply, Hex(reply, sizeof reply).c_str());

    struct pollfd events = {port.PendingEventsHandle(), POLLIN, 0};
    while (!arrived && ::poll(&events, 1, 1000) == 1) port.ProcessPendingEvents();
    std::printf("bytes waiting at the component: %d\n", port.InputCount());
    // Wait up to 500 ms for the whole reply rather than take what is there.
    port.Timeouts().SetReadTotalConstant(500);
    const int32_t n = port.Read(buf, sizeof reply);
    std::printf("component read %d bytes:%s\n", n, Hex(buf, size_t(n)).c_str());

    port.Close();
  } catch (const serial::EComPort& e) {
    std::printf("port error: %s\n", e.what());
    ::close(master);
    return 1;
  }
  ::close(master);
  return 0;
}
