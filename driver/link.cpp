// One exchange with the printer: frame and send a request, collect the reply.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "comportzuv.h"
#include "diagnostics/log_sink.h"
#include "hex.h"
#include "protocol.h"
#include "reply_decoder.h"

namespace zuv {

namespace {

constexpr int PollBufferSize = 512;
constexpr int MaxAttempts = 3;
// With debug mode on, the reception time and iteration shown refresh this
// often while the reception lasts, and no more often.
constexpr int64_t ProgressIntervalMs = 50;
// Wait codes restart the reply budget, but a line that never stops sending
// them (a printer stuck busy, a chattering line) must not hold the caller
// forever: one reception lasts at most this many budgets.
constexpr int64_t BusyCeilingBudgets = 24;

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

// One port call. The port reports a fault through comportException, which
// drops it: false then, and the exchange ends at once.
template <typename Call>
bool PortCall(Call&& call) {
  if (!comport) return false;
  call(*comport);
  return comport != nullptr;
}

// Builds the request frame in sendBuffer; returns its size.
int BuildFrame(int command, const std::vector<uint8_t>& dataBlock, bool longCmd, bool printer) {
  std::memcpy(sendBuffer, empty, SendBufferSize);
  const std::vector<uint8_t> frame = EncodeRequestFrame(command, dataBlock, longCmd, printer);
  std::memcpy(sendBuffer, frame.data(), frame.size());
  return static_cast<int>(frame.size());
}

void LogRequest(int command, int bufferSize) {
  if (!DebugMode) return;
  TComPortZUV::WriteLog("\r\n\r\n" + Dashes + "\r\n==> send     {cmd:" + std::to_string(command) +
                            ", 0x" + Hex2(static_cast<uint32_t>(command)) +
                            "}   size: " + std::to_string(bufferSize),
                        0, 0);
  TComPortZUV::WriteLog(ByteArrayToHEX(sendBuffer, SendBufferSize, bufferSize) + "\r\n", 0, 0);
}

// How one attempt ended, for SendFrame.
enum class Attempt { Done, Failed, Retry };

Attempt AfterFailedReception() {
  if (!comport) return Attempt::Failed;
  if (ErrorCode == linkerr::Refused) return Attempt::Retry;
  if (ErrorCode > 0 && !TComPortZUV::HasErrorMessage(ErrorCode))
    ErrorCode += linkerr::UnlistedOffset;
  return Attempt::Failed;
}

Attempt SendOnce(int command, const std::vector<uint8_t>& dataBlock, bool printer, bool longCmd) {
  const int bufferSize = BuildFrame(command, dataBlock, longCmd, printer);
  const int SOH = longCmd ? sendBuffer[0] : 0;
  if (!PortCall([](serial::TComPort& p) { p.ClearBuffer(true, true); })) return Attempt::Failed;
  LogRequest(command, bufferSize);
  if (!PortCall([&](serial::TComPort& p) { p.Write(sendBuffer, bufferSize); }))
    return Attempt::Failed;
  if (!TComPortZUV::ReceiveFrame(command, SOH)) return AfterFailedReception();
  const uint8_t closing = ctl::Closing;
  // A fault on the closing byte drops the port and the reply with it.
  if (!PortCall([&](serial::TComPort& p) { p.Write(&closing, 1); })) return Attempt::Failed;
  return Attempt::Done;
}

// ---- reception -------------------------------------------------------------

// Working data of one reception.
struct Reception {
  Reception(int cmd, ByteList& rb) : command(cmd), decoder(cmd, linkState.verifyReplyChecksum, rb) {}
  int command;
  TReplyDecoder decoder;
  std::string log;  // outcome text of the closing entry
  int64_t ItrCnt = 1;
  std::optional<int64_t> shownAtMs;  // when the debug figures were last refreshed
  bool result = false;
};

// Reception time and iteration for the debug window, refreshed at most
// every ProgressIntervalMs.
void ShowProgress(Reception& r) {
  const int64_t now = MonotonicMs();
  if (!r.shownAtMs || now - *r.shownAtMs >= ProgressIntervalMs) {
    TComPortZUV::WriteLog("", RxStopwatch.ElapsedMilliseconds(), r.ItrCnt);
    r.shownAtMs = now;
  }
  ++r.ItrCnt;
}

void PublishHeader(const Reception& r) {
  RxExpectDataLen = r.decoder.ExpectDataLen();
  RxDataIndex = r.decoder.DataIndex();
}

void LogWait(const TReplyDecoder& d) {
  switch (d.WaitCode()) {
    case waitcode::Busy:
      Trace("(Wait 08)\n");
      break;
    case waitcode::BusyError:
      Trace("(Wait 09 Error: " + Hex2(d.WaitCode()) + ")\n");
      break;
    case waitcode::Status:
      Trace("(Wait 07 Error: " + Hex2(d.WaitStatus()) + ")\n");
      break;
    default:
      Trace("(+ Error: " + Hex2(d.WaitCode()) + ")\n");
      break;
  }
}

// Acts on one decoder event; true when the reception is over.
bool OnEvent(Reception& r, ReplyEvent event) {
  const TReplyDecoder& d = r.decoder;
  switch (event) {
    case ReplyEvent::NeedMore:
      return false;
    case ReplyEvent::Ack:
      linkState.requestAcknowledged = true;
      if (r.command != cmd::ConnectionTest) return false;
      ErrorCode = linkerr::Ok;
      Trace("(ACK)\n");
      r.result = true;
      return true;
    case ReplyEvent::Wait:
      LogWait(d);
      RxStopwatch.Start();
      return false;
    case ReplyEvent::StaleReply:
      Trace("(Dropped reply to command " + Hex2(d.StaleCommand()) + ")\n");
      return false;
    case ReplyEvent::Nack:
      ErrorCode = linkerr::Refused;
      Trace("(NACK)\n");
      return true;
    case ReplyEvent::BadChecksum:
      Trace("(Checksum error: received " + Hex2(d.ReceivedChecksum()) + ", computed " +
            Hex2(d.ComputedChecksum()) + ")\n");
      return true;
    case ReplyEvent::ErrorReply:
      r.log = " |  with error code: " + std::to_string(d.ErrorReplyCode());
      ErrorCode = d.ErrorReplyCode();
      return true;
    case ReplyEvent::Reply:
      r.log = " |  successfully";
      ErrorCode = linkerr::Ok;
      r.result = true;
      return true;
  }
  return false;
}

// Feeds one chunk to the decoder; true when the reception is over.
bool TakeChunk(Reception& r, const uint8_t* chunk, int k) {
  ByteList& rb = *receiveBuffer;
  const size_t storedBefore = rb.size();
  r.log.clear();
  ReplyEvent last = ReplyEvent::NeedMore;
  bool over = false;
  for (int i = 0; i < k && !over; ++i) {
    last = r.decoder.Take(chunk[i]);
    over = OnEvent(r, last);
    // Bytes after a reply frame in the same read stay with it.
    if (over && EndsReception(last) && last != ReplyEvent::Nack)
      rb.insert(rb.end(), chunk + i + 1, chunk + k);
  }
  PublishHeader(r);
  // An ACK inside a candidate late reply that never completed counts too.
  linkState.requestAcknowledged = r.decoder.Acknowledged();
  // A refusal and the connection test's ACK have log lines of their own.
  const bool ownLine = over && (last == ReplyEvent::Nack || last == ReplyEvent::Ack);
  if (!ownLine && rb.size() > storedBefore)
    Trace("[" + std::to_string(rb.size() - storedBefore) + "] ");
  return over;
}

// Bytes now waiting, at most a poll buffer's worth; -1 when the port was lost.
int ReadChunk(uint8_t* pollBuffer) {
  int32_t waiting = 0;
  if (!PortCall([&](serial::TComPort& p) { waiting = p.InputCount(); })) return -1;
  if (waiting <= 0) return 0;
  int k = 0;
  if (!PortCall([&](serial::TComPort& p) {
        k = p.Read(pollBuffer, std::min<int32_t>(waiting, PollBufferSize));
      }))
    return -1;
  return std::clamp(k, 0, PollBufferSize);
}

// Sleeps on the port until input arrives or the budget is over (a
// millisecond past it, so that the last check sees it exceeded).
void WaitForMore() {
  int64_t wait = linkState.replyBudgetMs - RxStopwatch.ElapsedMilliseconds() + 1;
  if (DebugMode) wait = std::min(wait, ProgressIntervalMs);
  if (wait <= 0) return;
  PortCall([&](serial::TComPort& p) { p.WaitForInput(static_cast<int>(wait)); });
}

void LogClosing(const Reception& r, int64_t startMs) {
  if (!DebugMode) return;
  const ByteList& rb = *receiveBuffer;
  Trace("\r\n[Finished] after " + std::to_string(MonotonicMs() - startMs) +
        "ms  | bytes in buffer: " + std::to_string(rb.size()) + r.log + "\r\n" + TBytesToHEX(rb) +
        "\r\n\r\n");
  Trace("RxDataIndex       : " + std::to_string(RxDataIndex));
  Trace("RxExpectDataLen: " + std::to_string(RxExpectDataLen));
  Trace("ErrorCode: " + std::to_string(ErrorCode));
  Trace(Dashes);
}

}  // namespace

std::vector<uint8_t> EncodeRequestFrame(int command, const std::vector<uint8_t>& dataBlock,
                                        bool longCmd, bool printer) {
  const int dataBlockSize = static_cast<int>(dataBlock.size()) + 1;
  std::vector<uint8_t> frame;
  frame.reserve(dataBlock.size() + 6);
  if (longCmd) {
    frame.push_back(printer ? ctl::LongStartPrinter : ctl::LongStart);
    frame.push_back(static_cast<uint8_t>(dataBlockSize & 0xFF));
    frame.push_back(static_cast<uint8_t>((dataBlockSize >> 8) & 0xFF));
  } else {
    frame.push_back(ctl::ShortStart);
    frame.push_back(static_cast<uint8_t>(dataBlockSize & 0xFF));
  }
  frame.push_back(static_cast<uint8_t>(command & 0xFF));
  frame.insert(frame.end(), dataBlock.begin(), dataBlock.end());
  // The sum covers the length field, the command and the data.
  uint32_t crc = 0;
  for (size_t i = 1; i < frame.size(); ++i) crc += frame[i];
  frame.push_back(static_cast<uint8_t>((crc >> 8) & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  return frame;
}

void TComPortZUV::WriteLog(const std::string& s, int64_t timems, int64_t itr) {
  diag::Log(s, timems, itr);
}

bool TComPortZUV::LastRequestAcknowledged() { return linkState.requestAcknowledged; }

bool TComPortZUV::SendFrame(int command, const std::vector<uint8_t>& dataBlock, bool printer,
                            bool longCmd) {
  linkState.requestAcknowledged = false;
  if (!comport) return false;
  // A block that does not fit the frame's length field or the send buffer is
  // refused before anything goes out.
  if (dataBlock.size() > static_cast<size_t>(longCmd ? MaxLongData : MaxShortData)) return false;
  if (!receiveBuffer) receiveBuffer = std::make_unique<ByteList>();
  try {
    for (int attempt = 1; attempt <= MaxAttempts; ++attempt) {
      switch (SendOnce(command, dataBlock, printer, longCmd)) {
        case Attempt::Done:
          return true;
        case Attempt::Failed:
          return false;
        case Attempt::Retry:
          break;
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
  Reception r(cmd, *receiveBuffer);
  RxExpectDataLen = 0;
  RxDataIndex = 0;
  ErrorCode = linkerr::NoReply;
  linkState.requestAcknowledged = false;
  const int64_t startMs = MonotonicMs();

  if (DebugMode) Trace("<== receiving started at: " + TimeOfDay(NowDateTime()));
  RxStopwatch.Start();

  uint8_t pollBuffer[PollBufferSize];
  bool over = false;
  const int64_t ceilingMs = BusyCeilingBudgets * linkState.replyBudgetMs;
  bool tooLong = false;
  while (!over && RxStopwatch.ElapsedMilliseconds() <= linkState.replyBudgetMs && !tooLong) {
    std::memset(pollBuffer, 0, sizeof pollBuffer);
    const int k = ReadChunk(pollBuffer);
    if (k < 0) return false;
    if (k > 0) over = TakeChunk(r, pollBuffer, k);
    if (DebugMode) ShowProgress(r);
    if (!over && k == 0) WaitForMore();
    if (!comport) return false;
    tooLong = !over && MonotonicMs() - startMs > ceilingMs;
  }
  if (tooLong) Trace("(Busy too long: no reply after " + std::to_string(ceilingMs) + " ms)\n");
  RxStopwatch.Stop();
  LogClosing(r, startMs);
  return r.result;
}

}  // namespace zuv
