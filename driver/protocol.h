// The bytes, command numbers and outcome codes of the printer link, named
// once for the link layer and the commands.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv {

// Frame sizes: the send buffer holds the longest request frame.
constexpr int SendBufferSize = 1025;
constexpr int MaxShortData = 254;   // one length byte: n = L + 1 <= 255
constexpr int MaxLongData = 1019;   // L + 6 <= SendBufferSize

// The frame checksum, requests and replies alike: the sum of every byte
// between the start byte and the checksum (length, command, data) modulo
// 65536, sent high byte first. Adds one byte to a running checksum.
constexpr uint16_t AddToChecksum(uint16_t checksum, uint8_t byte) {
  return static_cast<uint16_t>(checksum + byte);
}

// The checksum of the bytes [first, last).
constexpr uint16_t FrameChecksum(const uint8_t* first, const uint8_t* last) {
  uint16_t checksum = 0;
  for (; first != last; ++first) checksum = AddToChecksum(checksum, *first);
  return checksum;
}

// Control bytes on the line.
namespace ctl {
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NACK = 0x15;
constexpr uint8_t Closing = 0x40;       // host: reply taken
constexpr uint8_t ShortStart = 0x02;    // frame with a one-byte length
constexpr uint8_t LongStart = 0x01;     // two-byte length, non-printer device
constexpr uint8_t LongStartPrinter = 0x03;
constexpr uint8_t LastControl = 0x03;   // single bytes above this are wait codes
}  // namespace ctl

// Wait codes: the printer is busy, the budget restarts.
namespace waitcode {
constexpr uint8_t Busy = 0x08;
constexpr uint8_t BusyError = 0x09;
constexpr uint8_t Status = 0x07;  // followed by one status byte
}  // namespace waitcode

// Command bytes.
namespace cmd {
constexpr int ReadClock = 2;
constexpr int ReadFiscalMemoryId = 3;
constexpr int ChangePrice = 11;
constexpr int ProgramArticles = 12;
constexpr int DeleteArticleBase = 14;
constexpr int NonfiscalPacket = 26;
constexpr int CutPaper = 27;
constexpr int FeedPaper = 28;
constexpr int Buzzer = 34;
constexpr int VoidReceipt = 50;
constexpr int Payment = 51;
constexpr int ReceiptState = 56;
constexpr int DailyReportNumber = 86;
constexpr int DailyReport = 88;
constexpr int InterimReport = 89;
constexpr int PeriodicReport = 90;
constexpr int ConnectionTest = 101;  // answered by the ACK alone
constexpr uint8_t ErrorReply = 0x7F;  // command byte of a printer error reply
}  // namespace cmd

// Data of the receipt-state reply (command ReceiptState): byte offsets of
// its fields, amounts as 8-byte and counts as 4-byte little-endian integers.
namespace receiptstate {
constexpr int Subtotal = 0;
constexpr int Total = 8;
constexpr int ItemCount = 16;
constexpr int PaidCash = 20;
constexpr int PaidCard = 28;
constexpr int PaidCheque = 36;
constexpr int ReceiptNumber = 44;
constexpr int ReplyLength = 48;
}  // namespace receiptstate

// Alignment codes of a non-fiscal line (TNonfiscalLine::Align).
namespace align {
constexpr int32_t Left = -1;
constexpr int32_t Centre = 0;
constexpr int32_t Right = 1;
constexpr int32_t Columns = 2;  // TextLeft at the left edge, TextRight at the right
}  // namespace align

// ErrorCode values the link sets itself; printer codes are 1..255.
namespace linkerr {
constexpr int32_t Ok = 0;
constexpr int32_t NoReply = -1;    // nothing usable within the budget
constexpr int32_t Refused = -2;    // NACK on every attempt
constexpr int32_t PortFault = -5;  // the port reported an error and was dropped
constexpr int32_t UnlistedOffset = 1000;  // added to a code the table lacks
}  // namespace linkerr

}  // namespace zuv
