// A serial line reached over TCP, as serial device servers in raw TCP mode
// offer it: the port name "tcp://HOST:PORT" opens a connection instead of a
// tty. Line settings are accepted and have no effect: the device server
// holds the line's own settings.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "device.h"

namespace serial {

constexpr const char* kTcpScheme = "tcp://";
// How long opening waits for the connection to be accepted.
constexpr int kTcpConnectTimeoutMs = 3000;

bool IsTcpPortName(const std::string& name);

struct TcpAddress {
  std::string host;  // without the brackets of an IPv6 literal
  std::string port;  // decimal, 1 to 65535
};
// "tcp://HOST:PORT" or "tcp://[V6ADDR]:PORT"; nothing for anything else.
std::optional<TcpAddress> ParseTcpPortName(const std::string& name);

std::unique_ptr<SerialDevice> MakeTcpDevice();

// Why the last tcp:// open on this thread failed, in words ("no such host
// \"printer.lan\" (Name or service not known)", "Connection refused"); ""
// after a success. The port component reports only an error number, and a
// caller that asked again would wait out a second connect time-out.
std::string LastTcpOpenFailure();

// The device for a port name: TCP for "tcp://" names, the tty otherwise,
// chosen when the port is opened.
std::unique_ptr<SerialDevice> MakeSystemDevice();

}  // namespace serial
