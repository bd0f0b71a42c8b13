#include "reply_decoder.h"

#include "protocol.h"

namespace zuv {

namespace {
bool IsStartByte(uint8_t b) {
  return b == ctl::ShortStart || b == ctl::LongStart || b == ctl::LongStartPrinter;
}
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
    return ReplyEvent::Ack;
  }
  if (byte == ctl::NACK) {
    FStored.push_back(byte);
    FStage = Stage::Finished;
    return ReplyEvent::Nack;
  }
  // A frame before the ACK answers an earlier request: read over it so that
  // its data bytes are not taken for an ACK. Other bytes are line noise.
  if (IsStartByte(byte)) {
    FFrame.assign(1, byte);
    FFrameReturn = Stage::BeforeAck;
    FStage = Stage::Frame;
  }
  return ReplyEvent::NeedMore;
}

ReplyEvent TReplyDecoder::TakeAfterAck(uint8_t byte) {
  if (IsStartByte(byte)) {
    FFrame.assign(1, byte);
    FStored.push_back(byte);
    FFrameReturn = Stage::AfterAck;
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
  const bool storing = FFrameReturn == Stage::AfterAck;
  if (storing) FStored.push_back(byte);
  const size_t header = HeaderSize();
  if (FFrame.size() < header) return ReplyEvent::NeedMore;
  const int32_t n = header == 2 ? FFrame[1] : FFrame[1] | FFrame[2] << 8;
  if (FFrame.size() == header) {
    // No command byte: not a frame. Read on as if it had not started.
    if (n == 0) {
      DropFrame();
      return ReplyEvent::NeedMore;
    }
    if (storing) {
      FExpectDataLen = n;
      FDataIndex = static_cast<int32_t>(header) + 2;
    }
  }
  if (FFrame.size() < header + static_cast<size_t>(n) + 2) return ReplyEvent::NeedMore;
  return FrameComplete();
}

ReplyEvent TReplyDecoder::FrameComplete() {
  const size_t header = HeaderSize();
  const size_t size = FFrame.size();
  uint32_t sum = 0;
  for (size_t i = 1; i < size - 2; ++i) sum += FFrame[i];
  FComputedChecksum = static_cast<uint16_t>(sum);
  FReceivedChecksum = static_cast<uint16_t>(FFrame[size - 2] << 8 | FFrame[size - 1]);
  const uint8_t command = FFrame[header];
  if (FFrameReturn == Stage::BeforeAck) {
    FStaleCommand = command;
    DropFrame();
    return ReplyEvent::StaleReply;
  }
  if (FVerifyChecksum && FComputedChecksum != FReceivedChecksum) {
    FStage = Stage::Finished;
    return ReplyEvent::BadChecksum;
  }
  if (command == cmd::ErrorReply) {
    // Code 0 is no error: the reply then counts as positive.
    FErrorCode = size - header - 2 > 1 ? FFrame[header + 1] : 0;
    FStage = Stage::Finished;
    return FErrorCode != 0 ? ReplyEvent::ErrorReply : ReplyEvent::Reply;
  }
  if (command == FCommand) {
    FStage = Stage::Finished;
    return ReplyEvent::Reply;
  }
  FStaleCommand = command;
  DropFrame();
  return ReplyEvent::StaleReply;
}

void TReplyDecoder::DropFrame() {
  if (FFrameReturn == Stage::AfterAck) {
    FStored.resize(1);  // the ACK
    FExpectDataLen = 0;
    FDataIndex = 0;
  }
  FFrame.clear();
  FStage = FFrameReturn;
}

}  // namespace zuv
