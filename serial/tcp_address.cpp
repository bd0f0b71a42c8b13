// What the TCP device is on every system: its port names and the word on
// why the last open failed.
#include "tcp_device.h"
#include "tcp_open.h"

namespace serial {

namespace {
thread_local std::string lastOpenFailure;
}  // namespace

bool IsTcpPortName(const std::string& name) { return name.rfind(kTcpScheme, 0) == 0; }

std::optional<TcpAddress> ParseTcpPortName(const std::string& name) {
  if (!IsTcpPortName(name)) return std::nullopt;
  const std::string rest = name.substr(std::string(kTcpScheme).size());
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  TcpAddress address{rest.substr(0, colon), rest.substr(colon + 1)};
  if (address.host.front() == '[') {
    if (address.host.size() < 3 || address.host.back() != ']') return std::nullopt;
    address.host = address.host.substr(1, address.host.size() - 2);
  } else if (address.host.find(':') != std::string::npos) {
    return std::nullopt;  // an IPv6 literal needs its brackets
  }
  if (address.host.find_first_of("/[]") != std::string::npos) return std::nullopt;
  if (address.port.empty() || address.port.size() > 5 ||
      address.port.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const int port = std::stoi(address.port);
  if (port < 1 || port > 65535) return std::nullopt;
  return address;
}

void SetLastTcpOpenFailure(const std::string& why) { lastOpenFailure = why; }

std::string NoSuchHost(const std::string& host, const std::string& reason) {
  return "no such host \"" + host + "\" (" + reason + ")";
}

std::string LastTcpOpenFailure() { return lastOpenFailure; }

}  // namespace serial
