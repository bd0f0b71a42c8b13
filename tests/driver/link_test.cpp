// Frame transmission and reply reception, chunk by chunk.
#include <random>

#include "driver_fixture.h"
#include "testing/reply_oracle.h"

using namespace zuv;

namespace {
Bytes Slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }
}  // namespace

class LinkTest : public DriverTest {};

TEST_F(LinkTest, WorkedRequestFrames) {
  ReplyAlways({{0x06}});
  EXPECT_TRUE(TComPortZUV::SendFrame(101, {}, true, false));
  EXPECT_TRUE(TComPortZUV::SendFrame(101, {}, false, false));  // short frames ignore printer
  ReplyAlways({});
  TComPortZUV::SendFrame(56, {}, true, false);
  TComPortZUV::SendFrame(26, {0x41, 0x42}, true, true);
  TComPortZUV::SendFrame(26, {0x41, 0x42}, false, true);
  TComPortZUV::SendFrame(14, {}, true, true);
  const auto frames = Frames();
  ASSERT_EQ(frames.size(), 6u);
  EXPECT_EQ(frames[0], (Bytes{0x02, 0x01, 0x65, 0x00, 0x66}));
  EXPECT_EQ(frames[1], frames[0]);
  EXPECT_EQ(frames[2], (Bytes{0x02, 0x01, 0x38, 0x00, 0x39}));
  EXPECT_EQ(frames[3], (Bytes{0x03, 0x03, 0x00, 0x1A, 0x41, 0x42, 0x00, 0xA0}));
  EXPECT_EQ(frames[4], (Bytes{0x01, 0x03, 0x00, 0x1A, 0x41, 0x42, 0x00, 0xA0}));
  EXPECT_EQ(frames[5], (Bytes{0x03, 0x01, 0x00, 0x0E, 0x00, 0x0F}));
}

TEST_F(LinkTest, ChecksumWrapsModulo65536) {
  ReplyAlways({});
  TComPortZUV::SendFrame(0x1A, Bytes(300, 0xFF), true, true);
  const Bytes frame = Frames().at(0);
  ASSERT_EQ(frame.size(), 306u);
  EXPECT_EQ(frame[1], 0x2D);
  EXPECT_EQ(frame[2], 0x01);
  EXPECT_EQ(frame[304], 0x2B);
  EXPECT_EQ(frame[305], 0x1C);
}

TEST_F(LinkTest, BlocksThatDoNotFitAreRefusedUnsent) {
  ErrorCode = 7;
  EXPECT_FALSE(TComPortZUV::SendFrame(26, Bytes(255, 0x20), true, false));
  EXPECT_FALSE(TComPortZUV::SendFrame(26, Bytes(1020, 0x20), true, true));
  EXPECT_TRUE(dev().Writes().empty());
  EXPECT_EQ(ErrorCode, 7);

  // The largest blocks still go out whole.
  ReplyAlways({ShortReply(26, {})});
  EXPECT_TRUE(TComPortZUV::SendFrame(26, Bytes(254, 0x20), true, false));
  EXPECT_TRUE(TComPortZUV::SendFrame(26, Bytes(1019, 0x20), true, true));
  const auto frames = Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].size(), 259u);
  EXPECT_EQ(frames[0][1], 0xFF);
  EXPECT_EQ(frames[1].size(), 1025u);
}

TEST_F(LinkTest, AckAloneCompletesTheConnectionTest) {
  ReplyAlways({{0x06, 0x99, 0x98}});
  EXPECT_TRUE(TComPortZUV::SendFrame(101, {}, true, false));
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_EQ(*receiveBuffer, Bytes{0x06});  // the rest of the chunk is not kept
  EXPECT_EQ(RxDataIndex, 0);
  EXPECT_EQ(RxExpectDataLen, 0);
  EXPECT_EQ(ClosingBytes(), 1);
  EXPECT_EQ(dev().Writes().back(), Bytes{0x40});  // after the reply
}

TEST_F(LinkTest, NackIsRetriedThreeTimesInAll) {
  ReplyAlways({{0x15}});
  EXPECT_FALSE(TComPortZUV::SendFrame(101, {}, true, false));
  EXPECT_EQ(ErrorCode, -2);
  EXPECT_EQ(*receiveBuffer, Bytes{0x15});
  const auto frames = Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[1], frames[0]);
  EXPECT_EQ(frames[2], frames[0]);
  EXPECT_EQ(ClosingBytes(), 0);
  EXPECT_GE(dev().purgeCalls, 3);  // every attempt purges first
}

TEST_F(LinkTest, NackNackThenReplySucceeds) {
  ReplySequence({{{0x15}}, {{0x15}}, {ShortReply(0x38, {0x41, 0x42})}});
  EXPECT_TRUE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_EQ(Frames().size(), 3u);
  EXPECT_EQ(ClosingBytes(), 1);
}

TEST_F(LinkTest, TimeoutEndsTheExchangeAfterOneFrame) {
  ReplyAlways({{0x06}});
  const int64_t start = dev().NowMs();
  EXPECT_FALSE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_EQ(ErrorCode, -1);
  EXPECT_EQ(Frames().size(), 1u);
  EXPECT_EQ(*receiveBuffer, Bytes{0x06});
  const int64_t spent = dev().NowMs() - start;
  EXPECT_GE(spent, 2500);
  EXPECT_LE(spent, 2510);
  EXPECT_FALSE(RxStopwatch.IsRunning());
}

TEST_F(LinkTest, ShortAndLongRepliesComplete) {
  const Bytes shortReply = ShortReply(0x38, {0x41, 0x42});
  ReplySequence({{{0x06}, Slice(shortReply, 1, shortReply.size())}});
  ASSERT_TRUE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_EQ(receiveBuffer->size(), 8u);
  EXPECT_EQ(RxDataIndex, 4);
  EXPECT_EQ(RxExpectDataLen, 3);
  EXPECT_EQ((*receiveBuffer)[4], 0x41);
  EXPECT_EQ((*receiveBuffer)[5], 0x42);

  ReplySequence({{LongReply(0x1A, {0x41, 0x42})}});
  ASSERT_TRUE(TComPortZUV::SendFrame(26, {}, true, true));
  EXPECT_EQ(receiveBuffer->size(), 9u);
  EXPECT_EQ(RxDataIndex, 5);
  EXPECT_EQ(RxExpectDataLen, 3);
}

TEST_F(LinkTest, LongLengthFieldNeedsEveryByte) {
  const Bytes reply = LongReply(0x1A, Bytes(299, 0x33));
  ASSERT_EQ(reply.size(), 306u);
  ASSERT_EQ(reply[2], 0x2C);
  ASSERT_EQ(reply[3], 0x01);
  // One byte short: never completes.
  ReplySequence({{Slice(reply, 0, 305)}});
  EXPECT_FALSE(TComPortZUV::SendFrame(26, {}, true, true));
  EXPECT_EQ(ErrorCode, -1);
  EXPECT_EQ(RxExpectDataLen, 300);
  // Over several chunks, more than one poll buffer's worth.
  ReplySequence({{Slice(reply, 0, 305), Slice(reply, 305, 306)}});
  EXPECT_TRUE(TComPortZUV::SendFrame(26, {}, true, true));
  EXPECT_EQ(receiveBuffer->size(), 306u);
}

TEST_F(LinkTest, MoreThanAPollBufferIsTakenOverSeveralPasses) {
  const Bytes reply = LongReply(0x1A, Bytes(700, 0x44));
  ReplySequence({{reply}});
  EXPECT_TRUE(TComPortZUV::SendFrame(26, {}, true, true));
  EXPECT_EQ(*receiveBuffer, reply);
  EXPECT_EQ(RxExpectDataLen, 701);
}

TEST_F(LinkTest, ErrorRepliesAndTheThousandRule) {
  ReplyAlways({ErrorReply(34)});
  EXPECT_FALSE(TComPortZUV::SendFrame(88, {}, true, false));
  EXPECT_EQ(ErrorCode, 34);
  ReplyAlways({ErrorReply(5)});
  EXPECT_FALSE(TComPortZUV::SendFrame(88, {}, true, false));
  EXPECT_EQ(ErrorCode, 1005);
  ReplyAlways({ErrorReply(0x12)});
  EXPECT_FALSE(TComPortZUV::SendFrame(88, {}, true, false));
  EXPECT_EQ(ErrorCode, 18);
  ReplyAlways({ErrorReply(0x28)});
  EXPECT_FALSE(TComPortZUV::SendFrame(88, {}, true, false));
  EXPECT_EQ(ErrorCode, 1040);
  EXPECT_EQ(Frames().size(), 4u);  // no retries
  EXPECT_EQ(ClosingBytes(), 0);
  // Code 0 is no error: with the ACK first the reply is positive.
  ReplyAlways({ErrorReply(0)});
  EXPECT_TRUE(TComPortZUV::SendFrame(88, {}, true, false));
  EXPECT_EQ(ErrorCode, 0);
}

// An error reply with no data has no code byte: what follows the command
// byte is the checksum, and it must not be read as the code. With checking
// on the first checksum byte of so short a frame is 0 anyway; with it off it
// can be anything.
TEST_F(LinkTest, ErrorReplyWithoutACodeByteTakesNoCodeFromTheChecksum) {
  VerifyReplyChecksum = false;
  const Bytes reply{0x06, 0x02, 0x01, 0x7F, 0x22, 0x00};
  ReplyAlways({reply});
  const bool positive = TComPortZUV::SendFrame(88, {}, true, false);
  VerifyReplyChecksum = true;
  EXPECT_TRUE(positive);
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_EQ(*receiveBuffer, reply);
}

TEST_F(LinkTest, WaitCodesAreDiscardedAndRestartTheBudget) {
  const Bytes reply = ShortReply(0x38, {0x41});
  // A wait code every two seconds keeps the reception open for 8 s.
  dev().OnWrite = [&](serial::MemoryDevice& d, const Bytes& w) {
    if (w.size() == 1) return;
    d.QueueChunk({0x06});
    d.QueueChunk({0x08}, 2000);
    d.QueueChunk({0x09}, 2000);
    d.QueueChunk({0x07, 0x31}, 2000);
    d.QueueChunk({0x15}, 1000);  // a lone byte above 0x03 is a wait code, not a refusal
    d.QueueChunk({0x08, 0x09}, 1000);  // two codes in one read: both count
    d.QueueChunk(Bytes(reply.begin() + 1, reply.end()), 1000);
  };
  const int64_t start = dev().NowMs();
  EXPECT_TRUE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_GE(dev().NowMs() - start, 9000);
  EXPECT_EQ(*receiveBuffer, reply);
}

TEST_F(LinkTest, WaitCodesWithoutEndGiveUpAfterTwentyFourBudgets) {
  // A wait code every two seconds for 80 s: the caller is released after 60 s.
  const Bytes reply = ShortReply(0x38, {0x41});
  dev().OnWrite = [&](serial::MemoryDevice& d, const Bytes& w) {
    if (w.size() == 1) return;
    d.QueueChunk({0x06});
    for (int i = 0; i < 40; ++i) d.QueueChunk({0x08}, 2000);
    d.QueueChunk(Bytes(reply.begin() + 1, reply.end()), 1);
  };
  DebugMode = true;
  const int64_t start = dev().NowMs();
  EXPECT_FALSE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_GE(dev().NowMs() - start, 60000);
  EXPECT_LT(dev().NowMs() - start, 62600);
  EXPECT_EQ(ErrorCode, -1);
  EXPECT_TRUE(TComPortZUV::LastRequestAcknowledged());
  EXPECT_EQ(ClosingBytes(), 0);
  EXPECT_EQ(Frames().size(), 1u);
  EXPECT_NE(std::find(sink.lines.begin(), sink.lines.end(),
                      "(Busy too long: no reply after 60000 ms)\n"),
            sink.lines.end());
}

TEST_F(LinkTest, WaitCodesCountWhereverTheReadsFall) {
  // ACK and 08 in one read: the 08 is a wait code, the reply that follows is taken.
  const Bytes reply = ShortReply(0x38, {0x41, 0x42});
  ReplySequence({{{0x06, 0x08}, Slice(reply, 1, reply.size())}});
  EXPECT_TRUE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_EQ(*receiveBuffer, reply);
  EXPECT_EQ(RxDataIndex, 4);

  // A lone 02 after the ACK is stored like any start byte.
  ReplySequence({{{0x06}, {0x02}, Slice(reply, 2, reply.size())}});
  EXPECT_TRUE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_EQ(*receiveBuffer, reply);
}

TEST_F(LinkTest, BytesAfterTheChecksumStay) {
  Bytes chunk = ShortReply(0x38, {0x41});
  chunk.push_back(0xEE);
  chunk.push_back(0xDD);
  ReplyAlways({chunk});
  EXPECT_TRUE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_EQ(*receiveBuffer, chunk);
  EXPECT_EQ(ErrorCode, 0);
}

TEST_F(LinkTest, NoPortMeansNothingSent) {
  ResetDriverState();
  ErrorCode = 3;
  EXPECT_FALSE(TComPortZUV::SendFrame(101, {}, true, false));
  EXPECT_EQ(ErrorCode, 3);
}

TEST_F(LinkTest, TrafficLogOfOneExchange) {
  DebugMode = true;
  SetDateTimeClock([] { return 36526.0 + (10 * 3600 + 20 * 60 + 30) / 86400.0; });
  const Bytes reply = ShortReply(0x38, {0x41, 0x42});
  ReplySequence({{{0x06}, Slice(reply, 1, reply.size())}});
  ASSERT_TRUE(TComPortZUV::SendFrame(56, {}, true, false));
  const std::string dashes(80, '-');
  const std::vector<std::string> expected = {
      "\r\n\r\n" + dashes + "\r\n==> send     {cmd:56, 0x38}   size: 5",
      " 02 01 38 00 39\r\n",
      "<== receiving started at: 10:20:30",
      "[1] ",
      "[7] ",
      "\r\n[Finished] after 0ms  | bytes in buffer: 8 |  successfully\r\n" + std::string(" 06 02 03 38 41 42 00 BE") +
          "\r\n\r\n",
      "RxDataIndex       : 4",
      "RxExpectDataLen: 3",
      "ErrorCode: 0",
      dashes,
  };
  EXPECT_EQ(sink.lines, expected);
  EXPECT_GT(sink.statusUpdates, 0);
  EXPECT_EQ(sink.timeText, "time: 0ms");  // every report resets the labels
  EXPECT_EQ(sink.iterationText, "iteration: 0");
}

TEST_F(LinkTest, ReceptionEventsAreLoggedByName) {
  DebugMode = true;
  ReplySequence({{{0x06}, {0x08}, {0x09}, {0x07, 0x3A}, {0x15}}, {}, {}});
  EXPECT_FALSE(TComPortZUV::SendFrame(56, {}, true, false));
  const auto& l = sink.lines;
  auto has = [&](const std::string& s) { return std::find(l.begin(), l.end(), s) != l.end(); };
  EXPECT_TRUE(has("(Wait 08)\n"));
  EXPECT_TRUE(has("(Wait 09 Error: 09)\n"));
  EXPECT_TRUE(has("(Wait 07 Error: 3A)\n"));
  EXPECT_TRUE(has("(+ Error: 15)\n"));
  EXPECT_TRUE(has("ErrorCode: -1"));

  sink.lines.clear();
  ReplyAlways({{0x15}});
  TComPortZUV::SendFrame(56, {}, true, false);
  EXPECT_EQ(std::count(l.begin(), l.end(), std::string("(NACK)\n")), 3);
  sink.lines.clear();
  ReplyAlways({ErrorReply(34)});
  TComPortZUV::SendFrame(56, {}, true, false);
  EXPECT_NE(std::find_if(l.begin(), l.end(),
                         [](const std::string& s) {
                           return s.find(" |  with error code: 34\r\n") != std::string::npos;
                         }),
            l.end());
  sink.lines.clear();
  ReplyAlways({{0x06}});
  TComPortZUV::SendFrame(101, {}, true, false);
  EXPECT_TRUE(has("(ACK)\n"));
  EXPECT_NE(std::find_if(l.begin(), l.end(),
                         [](const std::string& s) { return s.find("bytes in buffer: 1\r\n") != std::string::npos; }),
            l.end());
}

TEST_F(LinkTest, NothingIsLoggedWithDebugModeOff) {
  ReplyAlways({{0x06}, {0x08}});
  TComPortZUV::SendFrame(56, {}, true, false);
  EXPECT_TRUE(sink.lines.empty());
  EXPECT_EQ(sink.statusUpdates, 0);
}

TEST_F(LinkTest, PortFaultEndsTheExchange) {
  ReplyAlways({{0x06}});
  dev().HangUp();
  EXPECT_FALSE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_EQ(ErrorCode, -5);
  EXPECT_EQ(comport, nullptr);
  EXPECT_TRUE(TComPortZUV::GetSettings().empty());
  // Later exchanges fail without sending.
  EXPECT_FALSE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_EQ(ErrorCode, -5);
}

TEST_F(LinkTest, FaultWhilePollingStopsAtOnce) {
  DebugMode = true;
  dev().OnWrite = [](serial::MemoryDevice& d, const Bytes& w) {
    if (w.size() > 1) d.HangUp();
  };
  EXPECT_FALSE(TComPortZUV::SendFrame(56, {}, true, false));
  EXPECT_EQ(ErrorCode, -5);
  EXPECT_TRUE(receiveBuffer->empty());
  for (const auto& line : sink.lines) EXPECT_EQ(line.find("[Finished]"), std::string::npos);
}

// Random chunk sequences. Oracles: the exchange ends within its budget with
// one of its outcomes; true only when a frame went out, an ACK came, the
// reply's checksum and command byte matched and one closing byte followed;
// a valid reply, with wait codes anywhere before its start byte, is taken
// however it is split; a corrupted reply is never taken.
namespace {

struct Script {
  std::vector<Bytes> chunks;
  std::vector<int64_t> delays;
};

// Cuts `stream` at random points into chunks arriving `maxDelay` ms apart
// at most, all of them within the reply budget.
Script SplitRandomly(const Bytes& stream, std::mt19937& rng, int64_t maxDelay) {
  Script s;
  size_t pos = 0;
  int64_t total = 0;
  while (pos < stream.size()) {
    const size_t len = std::uniform_int_distribution<size_t>(1, stream.size() - pos)(rng);
    s.chunks.emplace_back(stream.begin() + pos, stream.begin() + pos + len);
    const int64_t delay = std::min<int64_t>(std::uniform_int_distribution<int64_t>(0, maxDelay)(rng), 2500 - total);
    s.delays.push_back(delay);
    total += delay;
    pos += len;
  }
  return s;
}

}  // namespace

class RandomLinkTest : public DriverTest {
 protected:
  // One exchange of command `cmd` answered by `script`; checks the oracles
  // that hold for any answer and returns the result.
  bool Exchange(int cmd, const Script& script) {
    dev().ClearWrites();
    bool first = true;
    dev().OnWrite = [&](serial::MemoryDevice& d, const Bytes& w) {
      if (!first || (w.size() == 1 && w[0] == 0x40)) return;
      first = false;
      for (size_t i = 0; i < script.chunks.size(); ++i) d.QueueChunk(script.chunks[i], script.delays[i]);
    };
    int64_t total = 0;
    for (int64_t d : script.delays) total += d;
    const int64_t start = dev().NowMs();
    const bool ok = TComPortZUV::SendFrame(cmd, {}, true, false);
    const int64_t spent = dev().NowMs() - start;
    EXPECT_LE(spent, 3 * (total + 2502));
    const auto& writes = dev().Writes();
    EXPECT_FALSE(writes.empty());
    if (ok) {
      EXPECT_EQ(ErrorCode, 0);
      EXPECT_EQ(ClosingBytes(), 1);
      EXPECT_EQ(writes.back(), Bytes{0x40});
      EXPECT_TRUE(TComPortZUV::LastRequestAcknowledged());
      if (cmd == 101)
        EXPECT_EQ(*receiveBuffer, Bytes{0x06});
      else
        EXPECT_TRUE(zuvtest::HoldsReplyTo(*receiveBuffer, static_cast<uint8_t>(cmd)));
    } else {
      EXPECT_EQ(ClosingBytes(), 0);
      EXPECT_TRUE(zuvtest::IsFailureCode(ErrorCode)) << ErrorCode;
    }
    // Drop what this run left behind.
    while (comport && dev().QueuedChunks() > 0)
      dev().Advance(100000), comport->InputCount(), comport->ClearBuffer(true, true);
    return ok;
  }
};

TEST_F(RandomLinkTest, ValidRepliesAreTakenHoweverSplit) {
  std::mt19937 rng(2024);
  const Bytes codes[] = {{0x08}, {0x09}, {0x07, 0x12}, {0x07, 0x06}, {0x15}, {0x06}, {0x44}};
  for (int run = 0; run < 1500; ++run) {
    Bytes data(std::uniform_int_distribution<int>(0, run % 10 == 0 ? 600 : 20)(rng));
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const bool longForm = data.size() > 250 || run % 3 == 0;
    const Bytes reply = longForm ? LongReply(0x38, data) : ShortReply(0x38, data);
    Bytes stream{0x06};
    const int waits = std::uniform_int_distribution<int>(0, 3)(rng);
    for (int w = 0; w < waits; ++w) {
      const Bytes& c = codes[rng() % std::size(codes)];
      stream.insert(stream.end(), c.begin(), c.end());
    }
    stream.insert(stream.end(), reply.begin() + 1, reply.end());
    ASSERT_TRUE(Exchange(56, SplitRandomly(stream, rng, 800))) << "run " << run;
    ASSERT_EQ(*receiveBuffer, reply) << "run " << run;
    ASSERT_EQ(Frames().size(), 1u);
  }
}

TEST_F(RandomLinkTest, ValidReplySplitAtEveryPointAndWaitCodeInEveryPosition) {
  const Bytes reply = LongReply(0x38, {0x10, 0x20, 0x30, 0x06, 0x15, 0x08});
  for (size_t cut = 1; cut < reply.size(); ++cut)
    for (size_t cut2 = cut + 1; cut2 <= reply.size(); ++cut2) {
      Script s{{Slice(reply, 0, cut), Slice(reply, cut, cut2)}, {0, 10}};
      if (cut2 < reply.size()) s.chunks.push_back(Slice(reply, cut2, reply.size())), s.delays.push_back(5);
      ASSERT_TRUE(Exchange(56, s)) << cut << "/" << cut2;
      ASSERT_EQ(*receiveBuffer, reply);
    }
  // A wait code after the ACK, alone or sharing a read with the ACK, the
  // start byte or the whole rest.
  for (const Bytes& code : {Bytes{0x08}, Bytes{0x09}, Bytes{0x07, 0x31}, Bytes{0x5A}}) {
    Bytes stream{0x06};
    stream.insert(stream.end(), code.begin(), code.end());
    stream.insert(stream.end(), reply.begin() + 1, reply.end());
    for (size_t cut = 1; cut < stream.size(); ++cut) {
      ASSERT_TRUE(Exchange(56, {{Slice(stream, 0, cut), Slice(stream, cut, stream.size())}, {0, 20}}))
          << int(code[0]) << " cut " << cut;
      ASSERT_EQ(*receiveBuffer, reply);
    }
    ASSERT_TRUE(Exchange(56, {{stream}, {0}}));
  }
}

TEST_F(RandomLinkTest, CorruptedOrStaleRepliesAreNeverTaken) {
  std::mt19937 rng(77);
  for (int run = 0; run < 1500; ++run) {
    Bytes data(std::uniform_int_distribution<int>(1, 60)(rng));
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    Bytes reply = run % 2 ? LongReply(0x38, data) : ShortReply(0x38, data);
    const size_t header = run % 2 ? 5 : 4;  // ACK, start, length, command
    if (run % 3 == 0) {
      // A reply to another command, alone.
      reply = run % 2 ? LongReply(0x56, data) : ShortReply(0x56, data);
    } else {
      // One flipped bit in the data or the checksum.
      const size_t at = std::uniform_int_distribution<size_t>(header, reply.size() - 1)(rng);
      reply[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
    ASSERT_FALSE(Exchange(56, SplitRandomly(reply, rng, 300))) << "run " << run;
    ASSERT_EQ(ErrorCode, -1);
    ASSERT_TRUE(TComPortZUV::LastRequestAcknowledged());
  }
}

TEST_F(RandomLinkTest, RandomStreamsEndSoundly) {
  std::mt19937 rng(12345);
  const Bytes interesting = {0x00, 0x01, 0x02, 0x03, 0x06, 0x07, 0x08, 0x09, 0x15, 0x38, 0x7F, 0xFF};
  for (int run = 0; run < 3000; ++run) {
    Script s;
    const int chunks = std::uniform_int_distribution<int>(0, 8)(rng);
    for (int c = 0; c < chunks; ++c) {
      Bytes chunk(std::uniform_int_distribution<int>(0, run % 10 == 0 ? 700 : 12)(rng));
      for (auto& b : chunk)
        b = rng() % 3 ? interesting[rng() % interesting.size()] : static_cast<uint8_t>(rng());
      s.chunks.push_back(chunk);
      s.delays.push_back(std::uniform_int_distribution<int>(0, 600)(rng));
    }
    Exchange(run % 7 == 0 ? 101 : 56, s);
    ASSERT_FALSE(HasFailure()) << "run " << run;
  }
}
