// The printer's answer to one request, decoded byte by byte however the
// line split it into reads: ACK or NACK, wait codes while the printer is
// busy, then one reply frame. Frames that answer another command are
// dropped; a frame whose checksum is wrong is never taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zuv {

enum class ReplyEvent {
  NeedMore,     // nothing decided yet
  Ack,          // the printer took the request
  Wait,         // a wait code (WaitCode, WaitStatus): the budget restarts
  Nack,         // the printer refused the request
  ErrorReply,   // complete error reply (ErrorReplyCode)
  Reply,        // complete reply to this request
  BadChecksum,  // complete reply whose checksum does not match
  StaleReply,   // complete frame answering another command (StaleCommand): dropped
};

// True for the events that end a reception.
bool EndsReception(ReplyEvent event);

class TReplyDecoder {
 public:
  // `stored` receives the ACK and the bytes of the reply frame that follows
  // it (receiveBuffer); it is cleared here.
  TReplyDecoder(int command, bool verifyChecksum, std::vector<uint8_t>& stored);

  ReplyEvent Take(uint8_t byte);

  // Header of the reply frame being stored; 0 while none is known.
  int32_t ExpectDataLen() const { return FExpectDataLen; }
  int32_t DataIndex() const { return FDataIndex; }
  bool Acknowledged() const { return FAcknowledged; }
  uint8_t WaitCode() const { return FWaitCode; }
  uint8_t WaitStatus() const { return FWaitStatus; }
  uint8_t ErrorReplyCode() const { return FErrorCode; }
  uint8_t StaleCommand() const { return FStaleCommand; }
  uint16_t ReceivedChecksum() const { return FReceivedChecksum; }
  uint16_t ComputedChecksum() const { return FComputedChecksum; }

 private:
  enum class Stage { BeforeAck, AfterAck, WaitStatus, Frame, Finished };

  ReplyEvent TakeBeforeAck(uint8_t byte);
  ReplyEvent TakeAfterAck(uint8_t byte);
  ReplyEvent TakeFrameByte(uint8_t byte);
  ReplyEvent FrameComplete();
  void DropFrame();
  size_t HeaderSize() const;

  const uint8_t FCommand;
  const bool FVerifyChecksum;
  std::vector<uint8_t>& FStored;
  std::vector<uint8_t> FFrame;  // start byte .. checksum of the frame being read
  Stage FStage = Stage::BeforeAck;
  Stage FFrameReturn = Stage::BeforeAck;  // where a dropped frame leaves us
  bool FAcknowledged = false;
  int32_t FExpectDataLen = 0;
  int32_t FDataIndex = 0;
  uint8_t FWaitCode = 0;
  uint8_t FWaitStatus = 0;
  uint8_t FErrorCode = 0;
  uint8_t FStaleCommand = 0;
  uint16_t FReceivedChecksum = 0;
  uint16_t FComputedChecksum = 0;
};

}  // namespace zuv
