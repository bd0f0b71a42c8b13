// libFuzzer target for reply reception: the real SendFrame and ReceiveFrame
// on an in-memory port whose clock runs only when the driver waits.
//
// Input: byte 0 picks the mode and the command, byte 1 seeds how the bytes
// are cut into reads and spaced in time, the rest is the material.
//   mode 0: the material is the printer's whole answer, as it comes;
//   mode 1: it is the data of a valid reply, with wait codes before it:
//           the reply must be taken, however it is split;
//   mode 2: as mode 1 with one bit flipped in the data or checksum, or the
//           reply made to answer another command: it must never be taken.
// In every mode: true only when a frame went out, an ACK came, the reply's
// checksum and command byte matched and one closing byte followed; false
// only with a failure code and no closing byte; the exchange ends within
// its budgets. Mode 0 also runs the answer whole and byte by byte, which
// must give the same outcome.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "driver/comportzuv.h"
#include "testing/memory_device.h"
#include "testing/reply_oracle.h"

namespace {

using Bytes = std::vector<uint8_t>;

serial::MemoryDevice* g_device = nullptr;

void Check(bool ok) {
  if (!ok) std::abort();
}

void Setup() {
  serial::TCustomComPort::SetDefaultDeviceFactory([]() {
    auto memory = std::make_unique<serial::MemoryDevice>();
    g_device = memory.get();
    return memory;
  });
  zuv::SetMonotonicClock([]() { return g_device ? g_device->NowMs() : 0; });
  Check(zuv::TComPortZUV::OpenPort("mem0", 9600, true, false));
}

struct Outcome {
  bool result = false;
  int32_t error = 0;
  int32_t dataIndex = 0;
  int32_t expectLen = 0;
};

// Runs one exchange of `cmd` answered by `chunks`, `delays` ms apart, and
// checks the oracles that hold for any answer.
Outcome Exchange(int cmd, const std::vector<Bytes>& chunks, const std::vector<int64_t>& delays) {
  serial::MemoryDevice& dev = *g_device;
  dev.ClearWrites();
  bool first = true;
  dev.OnWrite = [&](serial::MemoryDevice& d, const Bytes& w) {
    if (!first || (w.size() == 1 && w[0] == 0x40)) return;
    first = false;
    for (size_t i = 0; i < chunks.size(); ++i) d.QueueChunk(chunks[i], delays[i]);
  };
  int64_t total = 0;
  for (int64_t d : delays) total += d;
  const int64_t start = dev.NowMs();
  Outcome o;
  o.result = zuv::TComPortZUV::SendFrame(cmd, {}, true, false);
  o.error = zuv::ErrorCode;
  o.dataIndex = zuv::RxDataIndex;
  o.expectLen = zuv::RxExpectDataLen;
  Check(dev.NowMs() - start <= 3 * (total + zuv::linkState.replyBudgetMs + 2));
  const auto& writes = dev.Writes();
  Check(!writes.empty());
  int closing = 0;
  for (const Bytes& w : writes) closing += w.size() == 1 && w[0] == 0x40;
  if (o.result) {
    Check(o.error == 0 && closing == 1 && writes.back() == Bytes{0x40});
    Check(zuv::TComPortZUV::LastRequestAcknowledged());
    Check(cmd == 101 ? *zuv::receiveBuffer == Bytes{0x06}
                     : zuvtest::HoldsReplyTo(*zuv::receiveBuffer, static_cast<uint8_t>(cmd)));
  } else {
    Check(closing == 0 && zuvtest::IsFailureCode(o.error));
  }
  dev.OnWrite = {};
  while (dev.QueuedChunks() > 0) {
    dev.Advance(1000000);
    zuv::comport->InputCount();
    zuv::comport->ClearBuffer(true, true);
  }
  return o;
}

// One reception alone (no resend after a NACK), all bytes due at once.
Outcome ReceiveOnly(int cmd, const std::vector<Bytes>& chunks) {
  serial::MemoryDevice& dev = *g_device;
  for (const Bytes& c : chunks) dev.QueueChunk(c, 0);
  Outcome o;
  o.result = zuv::TComPortZUV::ReceiveFrame(cmd, 0);
  o.error = zuv::ErrorCode;
  o.dataIndex = zuv::RxDataIndex;
  o.expectLen = zuv::RxExpectDataLen;
  while (dev.QueuedChunks() > 0) {
    dev.Advance(1000000);
    zuv::comport->InputCount();
    zuv::comport->ClearBuffer(true, true);
  }
  zuv::comport->ClearBuffer(true, true);
  return o;
}

void Split(const Bytes& stream, std::mt19937& rng, int64_t maxTotal, std::vector<Bytes>& chunks,
           std::vector<int64_t>& delays) {
  size_t pos = 0;
  int64_t total = 0;
  while (pos < stream.size()) {
    const size_t len = std::uniform_int_distribution<size_t>(1, stream.size() - pos)(rng);
    chunks.emplace_back(stream.begin() + pos, stream.begin() + pos + len);
    const int64_t d = std::min<int64_t>(rng() % 700, maxTotal - total);
    delays.push_back(d);
    total += d;
    pos += len;
  }
}

Bytes ValidReply(uint8_t cmd, const Bytes& data, bool longForm) {
  const size_t n = data.size() + 1;
  Bytes r{0x06, static_cast<uint8_t>(longForm ? 0x03 : 0x02), static_cast<uint8_t>(n & 0xFF)};
  if (longForm) r.push_back(static_cast<uint8_t>(n >> 8));
  r.push_back(cmd);
  r.insert(r.end(), data.begin(), data.end());
  uint32_t sum = 0;
  for (size_t i = 2; i < r.size(); ++i) sum += r[i];
  r.push_back(static_cast<uint8_t>(sum >> 8 & 0xFF));
  r.push_back(static_cast<uint8_t>(sum & 0xFF));
  return r;
}

void RawAnswer(int cmd, const Bytes& material, std::mt19937& rng) {
  std::vector<Bytes> chunks;
  std::vector<int64_t> delays;
  Split(material, rng, 1 << 30, chunks, delays);
  Exchange(cmd, chunks, delays);
  // Split-independence: whole, then byte by byte, all at once.
  if (material.empty()) return;
  const Outcome whole = ReceiveOnly(cmd, {material});
  std::vector<Bytes> bytes;
  for (uint8_t b : material) bytes.push_back({b});
  const Outcome single = ReceiveOnly(cmd, bytes);
  Check(whole.result == single.result && whole.error == single.error &&
        whole.dataIndex == single.dataIndex && whole.expectLen == single.expectLen);
}

void ReplyWithWaits(const Bytes& material, std::mt19937& rng, bool corrupt) {
  static const Bytes kCodes[] = {{0x08}, {0x09}, {0x07, 0x12}, {0x07, 0x06}, {0x15}, {0x06}, {0x44}};
  const bool longForm = material.size() > 250 || (rng() & 1);
  Bytes data(material.begin(), material.begin() + std::min<size_t>(material.size(), 1000));
  const bool stale = corrupt && (rng() % 3 == 0);
  Bytes reply = ValidReply(stale ? 0x56 : 0x38, data, longForm);
  Bytes stream{0x06};
  for (int w = static_cast<int>(rng() % 4); w > 0; --w) {
    const Bytes& c = kCodes[rng() % std::size(kCodes)];
    stream.insert(stream.end(), c.begin(), c.end());
  }
  const size_t frameAt = stream.size();
  stream.insert(stream.end(), reply.begin() + 1, reply.end());
  if (corrupt && !stale) {
    const size_t dataAt = frameAt + (longForm ? 4 : 3);
    const size_t at = dataAt + rng() % (stream.size() - dataAt);
    stream[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
  }
  std::vector<Bytes> chunks;
  std::vector<int64_t> delays;
  Split(stream, rng, zuv::linkState.replyBudgetMs, chunks, delays);
  const Outcome o = Exchange(0x38, chunks, delays);
  Check(o.result != corrupt);
  if (!corrupt) Check(*zuv::receiveBuffer == reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (Setup(), true);
  (void)ready;
  if (size < 2 || !zuv::comport) return 0;
  const Bytes material(data + 2, data + size);
  std::mt19937 rng(data[1]);
  switch (data[0] % 3) {
    case 0:
      RawAnswer((data[0] >> 2) % 4 == 0 ? 101 : 0x38, material, rng);
      break;
    case 1:
      ReplyWithWaits(material, rng, false);
      break;
    default:
      ReplyWithWaits(material, rng, true);
      break;
  }
  return 0;
}
