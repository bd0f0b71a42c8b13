// The printer's answer to one request, decoded byte by byte however the
// line split it into reads: ACK or NACK, wait codes while the printer is
// busy, then one reply frame. Frames that answer another command are
// dropped; a frame whose checksum is wrong is never taken.
//
// A start byte before the ACK may open a late reply, read over whole so that
// its data bytes are not taken for the ACK; or it may be noise, with the
// real ACK and reply inside the bytes it would span. Both readings run side
// by side until the candidate frame completes: checksum right, it was a late
// reply; wrong, it never was one. A complete reply to this request found by
// the second reading settles it at once.
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

  // Header of the reply frame being stored; 0 while none is known. While a
  // candidate late reply is open, these describe the reading that takes it
  // for noise.
  int32_t ExpectDataLen() const { return FExpectDataLen; }
  int32_t DataIndex() const { return FDataIndex; }
  // Whether an ACK has come, counting a late reply only once it is complete.
  bool Acknowledged() const { return FAcknowledged; }
  uint8_t WaitCode() const { return FWaitCode; }
  uint8_t WaitStatus() const { return FWaitStatus; }
  uint8_t ErrorReplyCode() const { return FErrorCode; }
  uint8_t StaleCommand() const { return FStaleCommand; }
  uint16_t ReceivedChecksum() const { return FReceivedChecksum; }
  uint16_t ComputedChecksum() const { return FComputedChecksum; }

 private:
  enum class Stage { BeforeAck, AfterAck, WaitStatus, Frame, Finished };

  // A frame that started before the ACK, not yet known to be one: its
  // running sum is all it needs, not its bytes.
  struct LateCandidate {
    enum class Verdict { Open, LateReply, NotAFrame };
    Verdict Take(uint8_t byte, bool verifyChecksum);
    uint8_t start = 0;
    size_t taken = 0;  // bytes after the start byte
    int32_t length = 0;
    uint16_t sum = 0;  // running checksum
    uint16_t received = 0;
    uint8_t command = 0;
  };

  ReplyEvent TakeStream(uint8_t byte);
  ReplyEvent TakeWithCandidates(uint8_t byte);
  ReplyEvent Settled(ReplyEvent event);
  ReplyEvent WhileOpen(ReplyEvent event) const;
  void RestartBeforeAck();
  ReplyEvent Finish(ReplyEvent event);
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
  std::vector<LateCandidate> FCandidates;  // open ones, outermost first
  Stage FStage = Stage::BeforeAck;
  ReplyEvent FEnd = ReplyEvent::NeedMore;  // what finished the stream reading
  bool FAcknowledged = false;
  bool FAckReported = false;
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
