#include "reply_decoder.h"

#include "protocol.h"

namespace zuv {

namespace {
bool IsStartByte(uint8_t b) {
  return b == ctl::ShortStart || b == ctl::LongStart || b == ctl::LongStartPrinter;
}

// Length field of the longest frame a late reply can be: the longest data
// block and its command byte, with room to spare.
constexpr int32_t MaxLateReplyLength = MaxLongData + 3;
}  // namespace

bool EndsReception(ReplyEvent event) {
  switch (event) {
    case ReplyEvent::Nack:
    case ReplyEvent::ErrorReply:
    case ReplyEvent::Reply:
    case ReplyEvent::BadChecksum:
      return true;
    default:
      return false;
  }
}

TReplyDecoder::TReplyDecoder(int command, bool verifyChecksum, std::vector<uint8_t>& stored)
    : FCommand(static_cast<uint8_t>(command & 0xFF)), FVerifyChecksum(verifyChecksum), FStored(stored) {
  FStored.clear();
}

ReplyEvent TReplyDecoder::Take(uint8_t byte) {
  const ReplyEvent event = FCandidates.empty() ? TakeStream(byte) : TakeWithCandidates(byte);
  if (event == ReplyEvent::Ack) FAckReported = true;
  return event;
}

ReplyEvent TReplyDecoder::TakeWithCandidates(uint8_t byte) {
  for (size_t i = 0; i < FCandidates.size();) {
    const LateCandidate::Verdict verdict = FCandidates[i].Take(byte, FVerifyChecksum);
    if (verdict == LateCandidate::Verdict::Open) {
      ++i;
    } else if (verdict == LateCandidate::Verdict::NotAFrame) {
      FCandidates.erase(FCandidates.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      // Everything read since its start byte was its data.
      FStaleCommand = FCandidates[i].command;
      const bool outermost = i == 0;
      FCandidates.resize(i);
      RestartBeforeAck();
      return outermost ? ReplyEvent::StaleReply : ReplyEvent::NeedMore;
    }
  }
  const ReplyEvent event = TakeStream(byte);
  if (FCandidates.empty()) return Settled(event);
  if (event == ReplyEvent::Reply || event == ReplyEvent::ErrorReply) {
    FCandidates.clear();  // a whole reply to this request: no late reply spans it
    return event;
  }
  return WhileOpen(event);
}

// The last candidate turned out no frame: what the stream reading held back
// comes out now, the end of the exchange first, then the ACK.
ReplyEvent TReplyDecoder::Settled(ReplyEvent event) {
  if (EndsReception(event)) return event;
  if (FStage == Stage::Finished) return FEnd;
  if (FAcknowledged && !FAckReported) return ReplyEvent::Ack;
  return event;
}

// While a candidate is open only the busy codes pass, so that a busy printer
// keeps the budget running; the rest waits for the candidate's verdict.
ReplyEvent TReplyDecoder::WhileOpen(ReplyEvent event) const {
  if (event != ReplyEvent::Wait) return ReplyEvent::NeedMore;
  const bool busy = FWaitCode == waitcode::Busy || FWaitCode == waitcode::BusyError ||
                    FWaitCode == waitcode::Status;
  return busy ? event : ReplyEvent::NeedMore;
}

void TReplyDecoder::RestartBeforeAck() {
  FStage = Stage::BeforeAck;
  FEnd = ReplyEvent::NeedMore;
  FStored.clear();
  FFrame.clear();
  FAcknowledged = false;
  FExpectDataLen = 0;
  FDataIndex = 0;
}

ReplyEvent TReplyDecoder::Finish(ReplyEvent event) {
  FStage = Stage::Finished;
  FEnd = event;
  return event;
}

ReplyEvent TReplyDecoder::TakeStream(uint8_t byte) {
  switch (FStage) {
    case Stage::BeforeAck:
      return TakeBeforeAck(byte);
    case Stage::AfterAck:
      return TakeAfterAck(byte);
    case Stage::WaitStatus:
      FWaitStatus = byte;
      FStage = Stage::AfterAck;
      return ReplyEvent::Wait;
    case Stage::Frame:
      return TakeFrameByte(byte);
    case Stage::Finished:
      break;
  }
  return ReplyEvent::NeedMore;
}

ReplyEvent TReplyDecoder::TakeBeforeAck(uint8_t byte) {
  if (byte == ctl::ACK) {
    FStored.push_back(byte);
    FAcknowledged = true;
    FStage = Stage::AfterAck;
    // The connection test is answered by the ACK alone.
    if (FCommand == cmd::ConnectionTest) return Finish(ReplyEvent::Ack);
    return ReplyEvent::Ack;
  }
  if (byte == ctl::NACK) {
    FStored.push_back(byte);
    return Finish(ReplyEvent::Nack);
  }
  // A frame before the ACK answers an earlier request, if it is one; this
  // reading goes on as if it were not. Other bytes are line noise.
  if (IsStartByte(byte)) {
    LateCandidate candidate;
    candidate.start = byte;
    FCandidates.push_back(candidate);
  }
  return ReplyEvent::NeedMore;
}

TReplyDecoder::LateCandidate::Verdict TReplyDecoder::LateCandidate::Take(uint8_t byte,
                                                                         bool verifyChecksum) {
  const size_t header = start == ctl::ShortStart ? 2 : 3;
  const size_t at = ++taken;  // index in the frame, the start byte at 0
  if (at < header) {
    length |= static_cast<int32_t>(byte) << (8 * (at - 1));
    sum = AddToChecksum(sum, byte);
    if (at + 1 < header) return Verdict::Open;
    // No command byte, or longer than any reply: not a frame.
    return length == 0 || length > MaxLateReplyLength ? Verdict::NotAFrame : Verdict::Open;
  }
  const size_t checksumAt = header + static_cast<size_t>(length);
  if (at < checksumAt) {
    if (at == header) command = byte;
    sum = AddToChecksum(sum, byte);
    return Verdict::Open;
  }
  if (at == checksumAt) {
    received = static_cast<uint16_t>(byte << 8);
    return Verdict::Open;
  }
  received = static_cast<uint16_t>(received | byte);
  const bool sumMatches = received == sum;
  return sumMatches || !verifyChecksum ? Verdict::LateReply : Verdict::NotAFrame;
}

ReplyEvent TReplyDecoder::TakeAfterAck(uint8_t byte) {
  if (IsStartByte(byte)) {
    FFrame.assign(1, byte);
    FStored.push_back(byte);
    FStage = Stage::Frame;
    return ReplyEvent::NeedMore;
  }
  if (byte == waitcode::Status) {
    FWaitCode = byte;
    FStage = Stage::WaitStatus;
    return ReplyEvent::NeedMore;
  }
  if (byte > ctl::LastControl) {
    FWaitCode = byte;
    return ReplyEvent::Wait;
  }
  return ReplyEvent::NeedMore;  // a zero byte: no frame starts with it
}

size_t TReplyDecoder::HeaderSize() const { return FFrame[0] == ctl::ShortStart ? 2 : 3; }

ReplyEvent TReplyDecoder::TakeFrameByte(uint8_t byte) {
  FFrame.push_back(byte);
  FStored.push_back(byte);
  const size_t header = HeaderSize();
  if (FFrame.size() < header) return ReplyEvent::NeedMore;
  const int32_t n = header == 2 ? FFrame[1] : FFrame[1] | FFrame[2] << 8;
  if (FFrame.size() == header) {
    // No command byte: not a frame. Read on as if it had not started.
    if (n == 0) {
      DropFrame();
      return ReplyEvent::NeedMore;
    }
    FExpectDataLen = n;
    FDataIndex = static_cast<int32_t>(header) + 2;
  }
  if (FFrame.size() < header + static_cast<size_t>(n) + 2) return ReplyEvent::NeedMore;
  return FrameComplete();
}

ReplyEvent TReplyDecoder::FrameComplete() {
  const size_t header = HeaderSize();
  const size_t size = FFrame.size();
  FComputedChecksum = FrameChecksum(FFrame.data() + 1, FFrame.data() + size - 2);
  FReceivedChecksum = static_cast<uint16_t>(FFrame[size - 2] << 8 | FFrame[size - 1]);
  const uint8_t command = FFrame[header];
  if (FVerifyChecksum && FComputedChecksum != FReceivedChecksum) return Finish(ReplyEvent::BadChecksum);
  if (command == cmd::ErrorReply) {
    // Code 0 is no error: the reply then counts as positive.
    FErrorCode = size - header - 2 > 1 ? FFrame[header + 1] : 0;
    return Finish(FErrorCode != 0 ? ReplyEvent::ErrorReply : ReplyEvent::Reply);
  }
  if (command == FCommand) return Finish(ReplyEvent::Reply);
  FStaleCommand = command;
  DropFrame();
  return ReplyEvent::StaleReply;
}

void TReplyDecoder::DropFrame() {
  FStored.resize(1);  // the ACK
  FExpectDataLen = 0;
  FDataIndex = 0;
  FFrame.clear();
  FStage = Stage::AfterAck;
}

}  // namespace zuv
