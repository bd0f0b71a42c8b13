// Replies that are lost, corrupted, stale or late, and what the driver then
// reports: ErrorCode, the closing byte, resends, the acknowledgement flag.
#include <algorithm>
#include <functional>

#include "driver_fixture.h"

using namespace zuv;

namespace {

Bytes Slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }
Bytes Cat(const Bytes& a, const Bytes& b) {
  Bytes all = a;
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

class HardeningTest : public DriverTest {
 protected:
  // Hangs the line up at the first clock reading that finds the receive
  // buffer at `size` bytes: between the reads of one reception, or after it.
  void HangUpWhenStored(size_t size) {
    SetMonotonicClock([this, size]() {
      if (device && receiveBuffer && receiveBuffer->size() == size) device->HangUp();
      return device ? device->NowMs() : 0;
    });
  }
  bool LogHas(const std::string& part) const {
    return std::any_of(sink.lines.begin(), sink.lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }
};

}  // namespace

TEST_F(HardeningTest, WaitCodesSharingReadsWithTheAckOrTheReply) {
  const Bytes reply = ShortReply(0x38, {0x41, 0x42});
  const Bytes frame = Slice(reply, 1, reply.size());
  const std::vector<std::vector<Bytes>> cases = {
      {{0x06, 0x08}, frame},
      {{0x06}, Cat({0x08}, frame)},
      {{0x06}, Cat({0x09}, frame)},
      {Cat({0x06, 0x08}, frame)},
      {{0x06, 0x07}, Cat({0x3A}, frame)},  // 07 and its status byte in two reads
      {{0x06, 0x08, 0x09, 0x07, 0x01, 0x44}, frame},
  };
  for (const auto& chunks : cases) {
    dev().ClearWrites();
    ReplyAlways(chunks);
    EXPECT_TRUE(TComPortZUV::SendFrame(56, {}, true, false));
    EXPECT_EQ(*receiveBuffer, reply);
    EXPECT_EQ(ClosingBytes(), 1);
  }
  // Each code is logged as before.
  DebugMode = true;
  ReplyAlways({Cat({0x06, 0x08, 0x09, 0x07, 0x3A, 0x15}, frame)});
  EXPECT_TRUE(TComPortZUV::SendFrame(56, {}, true, false));
  const std::vector<std::string> waits = {"(Wait 08)\n", "(Wait 09 Error: 09)\n",
                                          "(Wait 07 Error: 3A)\n", "(+ Error: 15)\n", "[8] "};
  auto at = sink.lines.begin();
  for (const std::string& w : waits) {
    at = std::find(at, sink.lines.end(), w);
    EXPECT_NE(at, sink.lines.end()) << w;
  }
}

TEST_F(HardeningTest, WaitCodeInOneReadRestartsTheBudget) {
  const Bytes reply = ShortReply(0x38, {0x41});
  dev().OnWrite = [&](serial::MemoryDevice& d, const Bytes& w) {
    if (w.size() == 1) return;
    d.QueueChunk({0x06, 0x08}, 0);
    d.QueueChunk({0x07, 0x01, 0x08}, 2400);
    d.QueueChunk(Slice(reply, 1, reply.size()), 2400);
  };
  EXPECT_TRUE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_EQ(dev().NowMs(), 4800);
}

TEST_F(HardeningTest, BadChecksumFailsAtOnceWithoutClosingOrResend) {
  // 131.00 with one flipped bit would read as 90.04.
  Bytes data(48, 0);
  data[0] = 0x2C;
  data[1] = 0x33;  // 13100
  Bytes reply = ShortReply(0x38, data);
  reply[5] ^= 0x10;
  DebugMode = true;
  ReplyAlways({reply});
  const TStanjeRacuna state = TFiscal::StanjeRacuna();
  EXPECT_FALSE(state.UspesanOdgovor);
  EXPECT_EQ(ErrorCode, -1);
  EXPECT_EQ(Frames().size(), 1u);
  EXPECT_EQ(ClosingBytes(), 0);
  EXPECT_EQ(dev().NowMs(), 0);  // not by the budget
  EXPECT_TRUE(TComPortZUV::LastRequestAcknowledged());
  EXPECT_EQ(std::count_if(sink.lines.begin(), sink.lines.end(),
                          [](const std::string& l) { return l.find("Checksum error") != std::string::npos; }),
            1);

  // The switch for devices that fill the checksum differently.
  {
    const ScopedLinkSettings unchecked(DefaultReplyBudgetMs, false);
    EXPECT_TRUE(TFiscal::StanjeRacuna().UspesanOdgovor);
    EXPECT_EQ(ClosingBytes(), 1);
  }
  EXPECT_TRUE(linkState.verifyReplyChecksum);
  reply[5] ^= 0x10;
  ReplyAlways({reply});
  EXPECT_DOUBLE_EQ(TFiscal::StanjeRacuna().MEDJUZBIR, 131.0);
}

TEST_F(HardeningTest, StaleReplyIsDroppedAndTheOwnReplyTaken) {
  Bytes state(48, 0);
  state[0] = 0x2C;
  state[1] = 0x33;
  const Bytes stale = ShortReply(0x38, state);
  const Bytes own = ShortReply(86, {0x07, 0x00, 0x00, 0x00});
  // The late receipt-state reply comes after the ACK of the next request.
  ReplyAlways({{0x06}, Slice(stale, 1, stale.size()), Slice(own, 1, own.size())});
  EXPECT_EQ(TFiscal::CitajBD(), 7);
  EXPECT_EQ(*receiveBuffer, own);
  // Or before the ACK, with ACK bytes in its data.
  const Bytes staleAcks = ShortReply(0x38, Bytes(48, 0x06));
  ReplyAlways({Cat(Slice(staleAcks, 1, staleAcks.size()), own)});
  EXPECT_EQ(TFiscal::CitajBD(), 7);
  // A stale reply alone: the reception runs out its budget, not restarted.
  ReplyAlways({{0x06}, Slice(stale, 1, stale.size())});
  const int64_t start = dev().NowMs();
  EXPECT_EQ(TFiscal::CitajBD(), -1);
  EXPECT_EQ(ErrorCode, -1);
  EXPECT_LE(dev().NowMs() - start, 2501);
  EXPECT_EQ(*receiveBuffer, Bytes{0x06});
}

TEST_F(HardeningTest, ReplyBudgetEndsAtItsLastMillisecond) {
  const Bytes reply = ShortReply(0x38, {0x41});
  for (const auto& [delay, taken] : {std::pair{2500, true}, std::pair{2501, false}}) {
    dev().OnWrite = [&, delay = delay](serial::MemoryDevice& d, const Bytes& w) {
      if (w.size() == 1) return;
      d.QueueChunk(reply, delay);
    };
    EXPECT_EQ(TComPortZUV::SendFrame(56, {}, true, false), taken) << delay;
    while (dev().QueuedChunks() > 0) dev().Advance(10), comport->InputCount(), comport->ClearBuffer(true, true);
  }
  // A probe's shorter budget.
  const ScopedLinkSettings probe(150);
  dev().OnWrite = {};
  const int64_t start = dev().NowMs();
  EXPECT_FALSE(TComPortZUV::SendFrame(101, {}, true, false));
  EXPECT_EQ(dev().NowMs() - start, 151);
}

TEST_F(HardeningTest, LongReplyWhoseStartByteArrivesAlone) {
  const Bytes reply = LongReply(0x1A, Bytes(40, 0x11));
  ReplyAlways({{0x06}, {0x03}, Slice(reply, 2, 3), Slice(reply, 3, reply.size())});
  EXPECT_TRUE(TComPortZUV::SendFrame(26, {}, true, true));
  EXPECT_EQ(*receiveBuffer, reply);
  EXPECT_EQ(RxDataIndex, 5);
  EXPECT_EQ(RxExpectDataLen, 41);
}

TEST_F(HardeningTest, ReportWhosePortFaultsAfterTheAckFails) {
  ReplyAlways({{0x06}, ShortReply(89, {})});
  HangUpWhenStored(1);
  EXPECT_FALSE(TFiscal::PresekStanja());
  EXPECT_EQ(ErrorCode, -5);
  EXPECT_TRUE(receiveBuffer->empty());
  EXPECT_TRUE(TComPortZUV::LastRequestAcknowledged());  // the printer did take it
}

TEST_F(HardeningTest, ReportWhosePortFaultsOnTheClosingByteFails) {
  const Bytes reply = ShortReply(88, {});
  ReplyAlways({reply});
  HangUpWhenStored(reply.size());
  EXPECT_FALSE(TFiscal::DnevniIzvestaj());
  EXPECT_EQ(ErrorCode, -5);
  EXPECT_TRUE(receiveBuffer->empty());
  EXPECT_EQ(ClosingBytes(), 0);
}

TEST_F(HardeningTest, AcknowledgedTellsTakenFromNeverReached) {
  ReplyAlways({});
  EXPECT_FALSE(TFiscal::TrakuSeci());
  EXPECT_FALSE(TComPortZUV::LastRequestAcknowledged());
  ReplyAlways({{0x15}});
  EXPECT_FALSE(TFiscal::TrakuSeci());
  EXPECT_FALSE(TComPortZUV::LastRequestAcknowledged());
  ReplyAlways({{0x06}});  // taken, reply lost
  EXPECT_FALSE(TFiscal::TrakuSeci());
  EXPECT_TRUE(TComPortZUV::LastRequestAcknowledged());
  ReplySequence({{{0x15}}, {{0x15}}, {ShortReply(27, {})}});
  EXPECT_TRUE(TFiscal::TrakuSeci());
  EXPECT_TRUE(TComPortZUV::LastRequestAcknowledged());
  ReplyAlways({ErrorReply(34)});
  EXPECT_FALSE(TFiscal::TrakuSeci());
  EXPECT_TRUE(TComPortZUV::LastRequestAcknowledged());
}

TEST_F(HardeningTest, ShortRepliesNeverLeaveErrorCodeAtZero) {
  const std::vector<std::function<bool()>> reads = {
      [] { return TFiscal::StanjeRacuna().UspesanOdgovor; },
      [] { return TFiscal::StanjeRacunaBrojStavki() != -1; },
      [] { return TFiscal::CitajBI() != -1; },
      [] { return TFiscal::CitajBD() != -1; },
      [] { return !TFiscal::CitajIBFM().empty(); },
      [] { return !TFiscal::CitajVreme().empty(); },
  };
  const uint8_t commands[] = {56, 56, 56, 86, 3, 2};
  for (size_t i = 0; i < reads.size(); ++i) {
    ReplyAlways({ShortReply(commands[i], {0x01, 0x02, 0x03})});
    EXPECT_FALSE(reads[i]()) << i;
    EXPECT_EQ(ErrorCode, -1) << i;
  }
  // A clock far outside any date is a failed read too.
  ReplyAlways({ShortReply(2, Bytes(8, 0x7F))});
  EXPECT_EQ(TFiscal::CitajVreme(), "");
  EXPECT_EQ(ErrorCode, -1);
}

TEST_F(HardeningTest, DebugFiguresRefreshEveryFiftyMilliseconds) {
  DebugMode = true;
  const auto progressUpdates = [&] { return sink.statusUpdates - static_cast<int>(sink.lines.size()); };
  // Nothing arrives: the figures still move while the budget runs out.
  ReplyAlways({});
  EXPECT_FALSE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_GE(progressUpdates(), 45);
  EXPECT_LE(progressUpdates(), 52);
  // A wait code every 5 ms for a second: refreshed no more often.
  sink.lines.clear();
  sink.statusUpdates = 0;
  dev().OnWrite = [](serial::MemoryDevice& d, const Bytes& w) {
    if (w.size() == 1) return;
    d.QueueChunk({0x06});
    for (int i = 0; i < 200; ++i) d.QueueChunk({0x08}, 5);
    d.QueueChunk(ShortReply(0x38, {}), 5);
  };
  EXPECT_TRUE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_GE(progressUpdates(), 15);
  EXPECT_LE(progressUpdates(), 22);
}

TEST_F(HardeningTest, StrayStartByteBeforeTheAckLosesNothingWhereverSplit) {
  const Bytes reply = ShortReply(0x38, {0x41, 0x42});
  Bytes lateBadSum = ShortReply(0x56, {0x11});
  lateBadSum.back() ^= 0x01;
  const std::vector<Bytes> streams = {
      Cat({0x02, 0x41}, reply),        // noise before the ACK
      Cat({0x03, 0x41, 0x00}, reply),  // long-form noise
      Cat({0x02, 0x03, 0x38}, reply),  // would end inside the reply, wrong sum
      Cat(Slice(lateBadSum, 1, lateBadSum.size()), reply),
  };
  for (const Bytes& stream : streams) {
    for (size_t cut = 1; cut < stream.size(); ++cut) {
      dev().ClearWrites();
      ReplyAlways({Slice(stream, 0, cut), Slice(stream, cut, stream.size())});
      EXPECT_TRUE(TComPortZUV::SendFrame(56, {}, true, false)) << int(stream[0]) << " cut " << cut;
      EXPECT_EQ(*receiveBuffer, reply);
      EXPECT_TRUE(TComPortZUV::LastRequestAcknowledged());
      EXPECT_EQ(ClosingBytes(), 1);
      EXPECT_EQ(Frames().size(), 1u);
    }
  }
  // The reply lost behind it: a failure, but the printer did take the request.
  ReplyAlways({{0x02, 0x41}, {0x06}});
  EXPECT_FALSE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_EQ(ErrorCode, -1);
  EXPECT_TRUE(TComPortZUV::LastRequestAcknowledged());
  // A late reply with ACK bytes in its data and no ACK after it: not taken.
  const Bytes late = ShortReply(0x38, Bytes(8, 0x06));
  ReplyAlways({Slice(late, 1, late.size())});
  EXPECT_FALSE(TComPortZUV::SendFrame(101, {}, true, false));
  EXPECT_FALSE(TComPortZUV::LastRequestAcknowledged());
}
