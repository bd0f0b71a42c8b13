// The reply decoder alone: byte streams in, events out, however the bytes
// were split.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "driver/reply_decoder.h"

using namespace zuv;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(uint8_t start, uint8_t command, const Bytes& data) {
  const size_t n = data.size() + 1;
  Bytes f{start, static_cast<uint8_t>(n & 0xFF)};
  if (start != 0x02) f.push_back(static_cast<uint8_t>(n >> 8));
  f.push_back(command);
  f.insert(f.end(), data.begin(), data.end());
  uint32_t sum = 0;
  for (size_t i = 1; i < f.size(); ++i) sum += f[i];
  f.push_back(static_cast<uint8_t>(sum >> 8 & 0xFF));
  f.push_back(static_cast<uint8_t>(sum & 0xFF));
  return f;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct Decoded {
  std::vector<ReplyEvent> events;  // everything but NeedMore
  Bytes stored;
  int32_t dataIndex = 0;
  int32_t expectLen = 0;
  uint8_t errorCode = 0;
};

// Feeds bytes until an event ends the reception.
Decoded Decode(int command, const Bytes& bytes, bool verify = true) {
  Decoded run;
  TReplyDecoder d(command, verify, run.stored);
  for (uint8_t b : bytes) {
    const ReplyEvent e = d.Take(b);
    if (e != ReplyEvent::NeedMore) run.events.push_back(e);
    if (EndsReception(e)) break;
  }
  run.dataIndex = d.DataIndex();
  run.expectLen = d.ExpectDataLen();
  run.errorCode = d.ErrorReplyCode();
  return run;
}

ReplyEvent Last(const Decoded& r) { return r.events.empty() ? ReplyEvent::NeedMore : r.events.back(); }

int Count(const Decoded& r, ReplyEvent e) {
  int n = 0;
  for (ReplyEvent x : r.events) n += x == e;
  return n;
}

const Bytes kAck{0x06};
const Bytes kWaitCodes[] = {{0x08}, {0x09}, {0x07, 0x12}, {0x07, 0x02}, {0x15}, {0x06}, {0xFF}};

}  // namespace

TEST(ReplyDecoder, ShortAndLongRepliesAndTheirHeader) {
  const Bytes shortFrame = Frame(0x02, 0x38, {0x41, 0x42});
  Decoded r = Decode(0x38, Cat({kAck, shortFrame}));
  EXPECT_EQ(Last(r), ReplyEvent::Reply);
  EXPECT_EQ(r.stored, Cat({kAck, shortFrame}));
  EXPECT_EQ(r.dataIndex, 4);
  EXPECT_EQ(r.expectLen, 3);

  for (uint8_t start : {0x01, 0x03}) {
    const Bytes longFrame = Frame(start, 0x1A, Bytes(299, 0x33));
    r = Decode(0x1A, Cat({kAck, longFrame}));
    EXPECT_EQ(Last(r), ReplyEvent::Reply);
    EXPECT_EQ(r.stored.size(), 306u);
    EXPECT_EQ(r.dataIndex, 5);
    EXPECT_EQ(r.expectLen, 300);
    // One byte short never completes.
    r = Decode(0x1A, Cat({kAck, Bytes(longFrame.begin(), longFrame.end() - 1)}));
    EXPECT_EQ(Last(r), ReplyEvent::Ack);
  }
}

TEST(ReplyDecoder, WaitCodesAnywhereBetweenAckAndFrame) {
  const Bytes frame = Frame(0x02, 0x38, {0x41});
  for (const Bytes& code : kWaitCodes) {
    for (int copies = 1; copies <= 3; ++copies) {
      Bytes stream = kAck;
      for (int i = 0; i < copies; ++i) stream = Cat({stream, code});
      const Decoded r = Decode(0x38, Cat({stream, frame}));
      EXPECT_EQ(Last(r), ReplyEvent::Reply) << int(code[0]);
      EXPECT_EQ(Count(r, ReplyEvent::Wait), copies);
      EXPECT_EQ(r.stored, Cat({kAck, frame}));  // wait codes are not stored
    }
  }
}

TEST(ReplyDecoder, RefusalsAndErrorReplies) {
  EXPECT_EQ(Last(Decode(0x38, {0x15})), ReplyEvent::Nack);
  Decoded r = Decode(0x38, Cat({kAck, Frame(0x02, 0x7F, {0x22})}));
  EXPECT_EQ(Last(r), ReplyEvent::ErrorReply);
  EXPECT_EQ(r.errorCode, 0x22);
  // Code 0 is no error.
  EXPECT_EQ(Last(Decode(0x38, Cat({kAck, Frame(0x02, 0x7F, {0x00})}))), ReplyEvent::Reply);
  // A zero length is no frame: what follows is read as usual.
  r = Decode(0x38, Cat({kAck, {0x02, 0x00}, Frame(0x02, 0x38, {})}));
  EXPECT_EQ(Last(r), ReplyEvent::Reply);
  EXPECT_EQ(r.stored, Cat({kAck, Frame(0x02, 0x38, {})}));
}

TEST(ReplyDecoder, ChecksumIsVerifiedUnlessSwitchedOff) {
  Bytes frame = Frame(0x02, 0x38, {0x39, 0x30});
  frame[4] ^= 0x10;  // one flipped data bit
  EXPECT_EQ(Last(Decode(0x38, Cat({kAck, frame}))), ReplyEvent::BadChecksum);
  EXPECT_EQ(Last(Decode(0x38, Cat({kAck, frame}), false)), ReplyEvent::Reply);
  Bytes badSum = Frame(0x03, 0x1A, {0x41});
  badSum.back() ^= 0x01;
  EXPECT_EQ(Last(Decode(0x1A, Cat({kAck, badSum}))), ReplyEvent::BadChecksum);
}

TEST(ReplyDecoder, FramesForOtherCommandsAreDropped) {
  const Bytes stale = Frame(0x02, 0x38, Bytes(48, 0x06));  // data full of ACK bytes
  const Bytes own = Frame(0x02, 0x56, {0x07, 0x00, 0x00, 0x00});
  // After the ACK.
  Decoded r = Decode(0x56, Cat({kAck, stale, own}));
  EXPECT_EQ(Last(r), ReplyEvent::Reply);
  EXPECT_EQ(Count(r, ReplyEvent::StaleReply), 1);
  EXPECT_EQ(r.stored, Cat({kAck, own}));
  EXPECT_EQ(r.dataIndex, 4);
  EXPECT_EQ(r.expectLen, 5);
  // Before the ACK: read over whole, its ACK bytes not taken for the ACK.
  r = Decode(0x56, Cat({stale, kAck, own}));
  EXPECT_EQ(Last(r), ReplyEvent::Reply);
  EXPECT_EQ(r.stored, Cat({kAck, own}));
  // A reply with no ACK before it is never taken.
  r = Decode(0x56, own);
  EXPECT_EQ(Last(r), ReplyEvent::StaleReply);
  EXPECT_TRUE(r.stored.empty());
  // Nor is an error reply before the ACK.
  EXPECT_EQ(Last(Decode(0x56, Frame(0x02, 0x7F, {0x22}))), ReplyEvent::StaleReply);
}

// A start byte before the ACK opens a late reply only if a whole frame with a
// matching checksum follows; otherwise the bytes it would span are read anew.
TEST(ReplyDecoder, StrayStartByteBeforeTheAckSwallowsNothing) {
  const Bytes own = Frame(0x02, 0x38, {0x41, 0x42});
  for (const Bytes& stray : {Bytes{0x02, 0x41}, Bytes{0x01, 0x41, 0x00}, Bytes{0x03, 0x20, 0x01},
                             Bytes{0x03, 0xFF, 0xFF}, Bytes{0x41, 0x02}}) {
    const Decoded r = Decode(0x38, Cat({stray, kAck, own}));
    EXPECT_EQ(Last(r), ReplyEvent::Reply) << int(stray[0]) << " " << int(stray[1]);
    EXPECT_EQ(r.stored, Cat({kAck, own}));
    EXPECT_EQ(r.dataIndex, 4);
    EXPECT_EQ(r.expectLen, 3);
    Bytes ackOnly;
    TReplyDecoder d(0x38, true, ackOnly);
    for (uint8_t b : Cat({stray, kAck, own})) d.Take(b);
    EXPECT_TRUE(d.Acknowledged());
  }
  // The ACK alone behind it: acknowledged, though nothing settles the candidate.
  Bytes stored;
  TReplyDecoder d(0x38, true, stored);
  for (uint8_t b : Bytes{0x02, 0x41, 0x06}) EXPECT_EQ(d.Take(b), ReplyEvent::NeedMore);
  EXPECT_TRUE(d.Acknowledged());
  // A busy printer behind it keeps the budget running.
  EXPECT_EQ(d.Take(0x08), ReplyEvent::Wait);
}

TEST(ReplyDecoder, LateReplyWithABadChecksumBeforeTheAckIsReadAnew) {
  // 02 03 38 06 | 02 03 would be a late reply ending inside the real one,
  // with a checksum that does not match.
  const Bytes own = Frame(0x02, 0x38, {0x41, 0x42});
  const Decoded r = Decode(0x38, Cat({{0x02, 0x03, 0x38}, kAck, own}));
  EXPECT_EQ(Count(r, ReplyEvent::Ack), 1);
  EXPECT_EQ(Last(r), ReplyEvent::Reply);
  EXPECT_EQ(r.stored, Cat({kAck, own}));
  // A complete late reply with a wrong sum, then the ACK and the reply.
  Bytes late = Frame(0x03, 0x56, {0x11, 0x22});
  late.back() ^= 0x01;
  const Decoded after = Decode(0x38, Cat({late, kAck, own}));
  EXPECT_EQ(Last(after), ReplyEvent::Reply);
  EXPECT_EQ(after.stored, Cat({kAck, own}));
  EXPECT_EQ(Count(after, ReplyEvent::StaleReply), 0);
}

TEST(ReplyDecoder, ValidLateReplyBeforeTheAckIsReadOverWhole) {
  // Its data holds an ACK, a busy code and a would-be reply to this request
  // with a wrong sum: none of it is taken.
  const Bytes late = Frame(0x02, 0x38, {0x06, 0x08, 0x02, 0x03, 0x38, 0x41, 0x42, 0x00, 0x00, 0x15});
  Bytes stored;
  TReplyDecoder d(0x38, true, stored);
  std::vector<ReplyEvent> events;
  for (uint8_t b : late) {
    const ReplyEvent e = d.Take(b);
    if (e != ReplyEvent::NeedMore && e != ReplyEvent::Wait) events.push_back(e);
  }
  EXPECT_EQ(events, std::vector<ReplyEvent>{ReplyEvent::StaleReply});
  EXPECT_FALSE(d.Acknowledged());
  EXPECT_TRUE(stored.empty());
  // The connection test takes none of its ACK bytes either, only the real one.
  const Decoded probe = Decode(101, Cat({Frame(0x02, 0x38, Bytes(8, 0x06)), kAck}));
  EXPECT_EQ(probe.events, (std::vector<ReplyEvent>{ReplyEvent::StaleReply, ReplyEvent::Ack}));
  EXPECT_EQ(probe.stored, kAck);
  // Nor is the late frame settled early by a reply to another command inside it.
  const Bytes inner = Frame(0x02, 0x56, {0x07});
  const Bytes wrapper = Frame(0x03, 0x1A, Cat({kAck, inner}));
  const Decoded r = Decode(0x38, Cat({wrapper, kAck, Frame(0x02, 0x38, {})}));
  EXPECT_EQ(Count(r, ReplyEvent::Ack), 1);
  EXPECT_EQ(Last(r), ReplyEvent::Reply);
  EXPECT_EQ(r.stored, Cat({kAck, Frame(0x02, 0x38, {})}));
}
