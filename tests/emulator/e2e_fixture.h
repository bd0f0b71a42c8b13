// The real driver, through the real port component, against the emulator
// served on a pseudo-terminal: each test gets its own emulator, its own
// virtual-port directory and a driver opened on the emulator's link name.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "driver/comportzuv.h"
#include "emulator/pty_server.h"

namespace e2e {

using Bytes = std::vector<uint8_t>;
using emu::Millis;
using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Little-endian field of a request's data block.
inline int64_t FieldLE(const Bytes& data, size_t pos, int size) {
  uint64_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | data.at(pos + size_t(i));
  if (size < 8 && (v >> (8 * size - 1)) != 0) v |= ~uint64_t(0) << (8 * size);
  return int64_t(v);
}

class EndToEnd : public ::testing::Test {
 protected:
  static constexpr const char* kLinkName = "ttyPrinter";

  void SetUp() override {
    char tmpl[] = "/tmp/zuv-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ::setenv("ZUV_PORT_DIR", (dir_ + "/ports").c_str(), 1);
    emu::PtyOptions options;
    options.link = true;
    options.link_name = kLinkName;
    ASSERT_TRUE(server.Start(options)) << server.Error();
    ASSERT_EQ(server.PortName(), kLinkName);
    zuv::ResetDriverState();
    ASSERT_TRUE(Open(true));
  }

  void TearDown() override {
    zuv::ResetDriverState();
    zuv::SetDateTimeClock({});
    server.Stop();
    ::unsetenv("ZUV_PORT_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  bool Open(bool isPrinter) {
    return zuv::TComPortZUV::OpenPort(server.PortName(), 115200, isPrinter, false);
  }

  // f(emulator) under the server's lock.
  template <class F>
  decltype(auto) Emu(F&& f) {
    return server.With(std::forward<F>(f));
  }

  std::vector<emu::ReceivedRequest> Requests() {
    return Emu([](emu::PrinterEmulator& e) { return e.Requests(); });
  }
  size_t RequestCount() {
    return Emu([](emu::PrinterEmulator& e) { return e.RequestCount(); });
  }
  void ClearRecord() {
    Emu([](emu::PrinterEmulator& e) { e.ClearRecord(); });
  }
  std::string Paper() {
    return Emu([](emu::PrinterEmulator& e) { return e.TakePaper(); });
  }

  // The host's closing byte follows the reply, so it may still be on its way
  // when the driver returns: waits (briefly) for `expected` of them and
  // returns the count then. A test that counts them waits after every
  // exchange: the purge that starts the next one discards a closing byte
  // the emulator has not read yet.
  size_t ClosingBytes(size_t expected) {
    const auto end = Clock::now() + Millis(1000);
    for (;;) {
      const size_t n = Emu([](emu::PrinterEmulator& e) { return e.ClosingBytes(); });
      if (n >= expected || Clock::now() >= end) return n;
      std::this_thread::sleep_for(Millis(2));
    }
  }

  emu::PtyServer server;

 private:
  std::string dir_;
};

}  // namespace e2e
