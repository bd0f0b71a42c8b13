// One exchange with the printer: frame and send a request, collect the reply.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "comportzuv.h"
#include "diagnostics/log_sink.h"
#include "hex.h"

namespace zuv {

namespace {

constexpr uint8_t ACK = 0x06;
constexpr uint8_t NACK = 0x15;
constexpr uint8_t ErrorReplyCommand = 0x7F;
constexpr uint8_t ClosingByte = 0x40;
constexpr int PollBufferSize = 512;
// How long an empty poll sleeps on the port before the next pass: short
// enough to take a reply within about a millisecond of its arrival.
constexpr int IdleWaitMs = 1;

const std::string Dashes(80, '-');

std::string Hex2(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

// Time of day of a date-time as hh:mm:ss.
std::string TimeOfDay(double dateTime) {
  double fraction = dateTime - std::floor(dateTime);
  int64_t seconds = static_cast<int64_t>(std::llround(fraction * 86400000.0) / 1000) % 86400;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

void Trace(const std::string& text) {
  if (DebugMode) TComPortZUV::WriteLog(text, 0, 0);
}

// The port reports faults through comportException, which drops it; every
// port call is followed by this check so the exchange ends at once.
bool PortLost() { return !comport; }

}  // namespace

void TComPortZUV::WriteLog(const std::string& s, int64_t timems, int64_t itr) {
  diag::Log(s, timems, itr);
}

bool TComPortZUV::LastRequestAcknowledged() { return RequestAcknowledged; }

bool TComPortZUV::SendFrame(int command, const std::vector<uint8_t>& dataBlock, bool printer,
                            bool longCmd) {
  RequestAcknowledged = false;
  if (!comport) return false;
  const int L = static_cast<int>(dataBlock.size());
  // A block that does not fit the frame's length field or the send buffer is
  // refused before anything goes out.
  if (L > (longCmd ? MaxLongData : MaxShortData)) return false;
  if (!receiveBuffer) receiveBuffer = std::make_unique<ByteList>();

  const int dataBlockSize = L + 1;
  const int bufferSize = longCmd ? L + 6 : L + 5;
  try {
    for (int repeateCount = 1; repeateCount <= 3; ++repeateCount) {
      std::memcpy(sendBuffer, empty, SendBufferSize);

      comport->ClearBuffer(true, true);
      if (PortLost()) return false;

      int pos = 0;
      int SOH = 0;
      if (longCmd) {
        SOH = printer ? 0x03 : 0x01;
        sendBuffer[pos++] = static_cast<uint8_t>(SOH);
        sendBuffer[pos++] = static_cast<uint8_t>(dataBlockSize & 0xFF);
        sendBuffer[pos++] = static_cast<uint8_t>((dataBlockSize >> 8) & 0xFF);
      } else {
        sendBuffer[pos++] = 0x02;
        sendBuffer[pos++] = static_cast<uint8_t>(dataBlockSize & 0xFF);
      }
      sendBuffer[pos++] = static_cast<uint8_t>(command & 0xFF);
      if (L > 0) std::memcpy(sendBuffer + pos, dataBlock.data(), L);
      pos += L;

      // For a short frame the range also covers the first checksum position,
      // which is still zero, so the sum is the same.
      uint32_t crc = 0;
      for (int i = 1; i <= dataBlockSize + 2; ++i) crc += sendBuffer[i];
      sendBuffer[pos++] = static_cast<uint8_t>((crc >> 8) & 0xFF);
      sendBuffer[pos++] = static_cast<uint8_t>(crc & 0xFF);

      if (DebugMode) {
        WriteLog("\r\n\r\n" + Dashes + "\r\n==> send     {cmd:" + std::to_string(command) + ", 0x" +
                     Hex2(static_cast<uint32_t>(command)) + "}   size: " + std::to_string(bufferSize),
                 0, 0);
        WriteLog(ByteArrayToHEX(sendBuffer, SendBufferSize, bufferSize) + "\r\n", 0, 0);
      }

      comport->Write(sendBuffer, bufferSize);
      if (PortLost()) return false;

      if (ReceiveFrame(command, SOH)) {
        const uint8_t closing = ClosingByte;
        comport->Write(&closing, 1);
        // A fault on the closing byte drops the port and the reply with it.
        return !PortLost();
      }
      if (PortLost()) return false;

      switch (ErrorCode) {
        case -1:
          return false;
        case -2:
          continue;
        default:
          if (!HasErrorMessage(ErrorCode)) ErrorCode += 1000;
          return false;
      }
    }
    RxStopwatch.Stop();
    return false;
  } catch (...) {
    return false;
  }
}

bool TComPortZUV::ReceiveFrame(int cmd, int /*SOH*/) {
  if (!receiveBuffer) receiveBuffer = std::make_unique<ByteList>();
  ByteList& rb = *receiveBuffer;
  rb.clear();
  RxExpectDataLen = 0;
  RxDataIndex = 0;
  ErrorCode = -1;
  int64_t ItrCnt = 1;
  const int64_t startMs = MonotonicMs();
  bool result = false;
  std::string log;

  if (DebugMode) Trace("<== receiving started at: " + TimeOfDay(NowDateTime()));
  RxStopwatch.Start();

  uint8_t pollBuffer[PollBufferSize];
  while (RxStopwatch.ElapsedMilliseconds() <= ReplyBudgetMs) {
    std::memset(pollBuffer, 0, sizeof pollBuffer);
    const int32_t waiting = comport->InputCount();
    if (PortLost()) return false;
    int k = 0;
    if (waiting > 0) {
      k = comport->Read(pollBuffer, std::min<int32_t>(waiting, PollBufferSize));
      if (PortLost()) return false;
      k = std::clamp(k, 0, PollBufferSize);
    }

    if (k > 0) {
      log.clear();
      const bool ackOnly = rb.size() == 1 && rb[0] == ACK;
      if (cmd == 101 && rb.empty() && pollBuffer[0] == ACK) {
        rb.push_back(ACK);
        RequestAcknowledged = true;
        ErrorCode = 0;
        Trace("(ACK)\n");
        result = true;
        break;
      }
      if (ackOnly && pollBuffer[0] == 0x08) {
        Trace("(Wait 08)\n");
        RxStopwatch.Start();
        continue;
      }
      if (ackOnly && k == 1 && pollBuffer[0] == 0x09) {
        Trace("(Wait 09 Error: " + Hex2(pollBuffer[0]) + ")\n");
        RxStopwatch.Start();
        continue;
      }
      if (ackOnly && k == 2 && pollBuffer[0] == 0x07) {
        Trace("(Wait 07 Error: " + Hex2(pollBuffer[1]) + ")\n");
        RxStopwatch.Start();
        continue;
      }
      if (ackOnly && k == 1 && pollBuffer[0] > 0x03) {
        Trace("(+ Error: " + Hex2(pollBuffer[0]) + ")\n");
        RxStopwatch.Start();
        continue;
      }
      rb.insert(rb.end(), pollBuffer, pollBuffer + k);
      if (rb[0] == ACK) RequestAcknowledged = true;
      if (rb[0] == NACK) {
        ErrorCode = -2;
        result = false;
        Trace("(NACK)\n");
        break;
      }
      Trace("[" + std::to_string(k) + "] ");
    }

    if (DebugMode) WriteLog("", RxStopwatch.ElapsedMilliseconds(), ItrCnt);

    if (rb.size() >= 5) {
      if (rb[1] == 0x01 || rb[1] == 0x03) {
        RxExpectDataLen = rb[2] + 256 * rb[3];
        RxDataIndex = 5;
      } else if (rb[1] == 0x02) {
        RxExpectDataLen = rb[2];
        RxDataIndex = 4;
      }
    }

    if (RxDataIndex != 0 && RxExpectDataLen != 0 &&
        rb.size() >= static_cast<size_t>(RxExpectDataLen + RxDataIndex + 1)) {
      if (rb[RxDataIndex - 1] == ErrorReplyCommand && rb[RxDataIndex] != 0) {
        log = " |  with error code: " + std::to_string(rb[RxDataIndex]);
        ErrorCode = rb[RxDataIndex];
        result = false;
        RxStopwatch.Stop();
        break;
      }
      if (rb[0] == ACK) {
        log = " |  successfully";
        ErrorCode = 0;
        result = true;
        RxStopwatch.Stop();
        break;
      }
    }

    if (DebugMode) ++ItrCnt;
    // Nothing arrived: sleep on the port instead of spinning.
    if (k == 0) comport->WaitForInput(IdleWaitMs);
  }

  if (DebugMode) {
    Trace("\r\n[Finished] after " + std::to_string(MonotonicMs() - startMs) +
          "ms  | bytes in buffer: " + std::to_string(rb.size()) + log + "\r\n" + TBytesToHEX(rb) +
          "\r\n\r\n");
    Trace("RxDataIndex       : " + std::to_string(RxDataIndex));
    Trace("RxExpectDataLen: " + std::to_string(RxExpectDataLen));
    Trace("ErrorCode: " + std::to_string(ErrorCode));
    Trace(Dashes);
  }
  RxStopwatch.Stop();
  return result;
}

}  // namespace zuv
