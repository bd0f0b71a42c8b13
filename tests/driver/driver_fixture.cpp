#include "driver_fixture.h"

#include <cstdlib>
#include <ctime>

using namespace zuv;

void DriverTest::SetUp() {
  ResetDriverState();
  serial::TCustomComPort::SetDefaultDeviceFactory([this]() {
    auto memory = std::make_unique<serial::MemoryDevice>();
    device = memory.get();
    memory->openError = openErrorForNewDevices;
    memory->OnWrite = [this](serial::MemoryDevice& d, const Bytes& written) {
      if (written.size() == 1 && written[0] == 0x40) return;
      const size_t index = framesSeen++;
      if (useSequence) {
        if (index < sequence.size())
          for (const auto& chunk : sequence[index]) d.QueueChunk(chunk);
      } else {
        for (const auto& chunk : always) d.QueueChunk(chunk);
      }
    };
    return memory;
  });
  SetMonotonicClock([this]() { return device ? device->NowMs() : 0; });
  diag::SetLogSink(&sink);
  ASSERT_TRUE(TComPortZUV::OpenPort("mem0", 9600, true, false));
}

void DriverTest::TearDown() {
  ResetDriverState();
  device = nullptr;
  diag::SetLogSink(nullptr);
  SetMonotonicClock(nullptr);
  SetDateTimeClock(nullptr);
  serial::TCustomComPort::SetDefaultDeviceFactory(nullptr);
}

serial::MemoryDevice& DriverTest::dev() { return *device; }

void DriverTest::ReplyAlways(std::vector<Bytes> chunks) {
  useSequence = false;
  always = std::move(chunks);
}

void DriverTest::ReplySequence(std::vector<std::vector<Bytes>> replies) {
  useSequence = true;
  sequence = std::move(replies);
  framesSeen = 0;
}

std::vector<Bytes> DriverTest::Frames() const {
  std::vector<Bytes> frames;
  for (const auto& w : device->Writes())
    if (!(w.size() == 1 && w[0] == 0x40)) frames.push_back(w);
  return frames;
}

int DriverTest::ClosingBytes() const {
  int n = 0;
  for (const auto& w : device->Writes())
    if (w.size() == 1 && w[0] == 0x40) ++n;
  return n;
}

uint16_t DriverTest::Checksum(const Bytes& bytes, size_t from, size_t to) {
  uint32_t sum = 0;
  for (size_t i = from; i < to; ++i) sum += bytes[i];
  return static_cast<uint16_t>(sum);
}

namespace {
void AppendChecksum(Bytes& b, size_t from) {
  const uint16_t ck = DriverTest::Checksum(b, from, b.size());
  b.push_back(static_cast<uint8_t>(ck >> 8));
  b.push_back(static_cast<uint8_t>(ck & 0xFF));
}
}  // namespace

Bytes DriverTest::ShortReply(uint8_t cmd, Bytes data) {
  Bytes b{0x06, 0x02, static_cast<uint8_t>(data.size() + 1), cmd};
  b.insert(b.end(), data.begin(), data.end());
  AppendChecksum(b, 2);
  return b;
}

Bytes DriverTest::LongReply(uint8_t cmd, Bytes data) {
  const size_t n = data.size() + 1;
  Bytes b{0x06, 0x03, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8), cmd};
  b.insert(b.end(), data.begin(), data.end());
  AppendChecksum(b, 2);
  return b;
}

Bytes DriverTest::ErrorReply(uint8_t code) { return ShortReply(0x7F, {code}); }

Bytes DriverTest::ShortFrame(uint8_t cmd, Bytes data) {
  Bytes b{0x02, static_cast<uint8_t>(data.size() + 1), cmd};
  b.insert(b.end(), data.begin(), data.end());
  AppendChecksum(b, 1);
  return b;
}

Bytes DriverTest::LongFrame(uint8_t cmd, Bytes data, bool printer) {
  const size_t n = data.size() + 1;
  Bytes b{static_cast<uint8_t>(printer ? 0x03 : 0x01), static_cast<uint8_t>(n & 0xFF),
          static_cast<uint8_t>(n >> 8), cmd};
  b.insert(b.end(), data.begin(), data.end());
  AppendChecksum(b, 1);
  return b;
}

void SetZone(const char* zone) {
#ifdef _WIN32
  _putenv_s("TZ", zone ? zone : "");
  _tzset();
#else
  if (zone) ::setenv("TZ", zone, 1);
  else ::unsetenv("TZ");
  ::tzset();
#endif
}
