// The platform's serial services, behind one small interface.
//
// Every operation returns 0 on success or a positive errno-style code on
// failure; the component turns that code into its own error report. The
// component does all waiting and time-out bookkeeping itself on top of the
// non-blocking primitives here, so a device only has to move bytes and
// answer queries.
//
// <windows.h> defines several names declared here (PURGE_RXCLEAR, SETDTR,
// CE_FRAME...) as macros of the same values: a source that needs both
// includes this header, directly or through another, before <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace serial {

// Device-control record: the line parameters as one value. The component
// fills it exactly as the Windows DCB is filled; a device maps it onto its
// own interface and refuses what it cannot do.
struct TDCB {
  uint32_t DCBlength = 28;
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;  // dcb_* bits below
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  uint8_t XonChar = 17;
  uint8_t XoffChar = 19;
  uint8_t ErrorChar = 0;
  uint8_t EofChar = 0;
  uint8_t EvtChar = 0;
};

constexpr uint32_t dcb_Binary = 0x0001;
constexpr uint32_t dcb_Parity = 0x0002;
constexpr uint32_t dcb_OutxCTSFlow = 0x0004;
constexpr uint32_t dcb_OutxDSRFlow = 0x0008;
constexpr uint32_t dcb_DTRControl = 0x0030;
constexpr uint32_t dcb_DSRSensivity = 0x0040;
constexpr uint32_t dcb_TxContinueOnXoff = 0x0080;
constexpr uint32_t dcb_OutX = 0x0100;
constexpr uint32_t dcb_InX = 0x0200;
constexpr uint32_t dcb_ErrorChar = 0x0400;
constexpr uint32_t dcb_Null = 0x0800;
constexpr uint32_t dcb_RTSControl = 0x3000;
constexpr uint32_t dcb_AbortOnError = 0x4000;

// The five time-outs as the device receives them (-1 already turned into
// 0xFFFFFFFF).
struct TCommTimeouts {
  uint32_t ReadIntervalTimeout = 0xFFFFFFFF;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 100;
  uint32_t WriteTotalTimeoutConstant = 1000;
};

// Purge flags.
constexpr uint32_t PURGE_TXABORT = 0x0001;
constexpr uint32_t PURGE_RXABORT = 0x0002;
constexpr uint32_t PURGE_TXCLEAR = 0x0004;
constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// Modem status bits.
constexpr uint32_t MS_CTS_ON = 0x10;
constexpr uint32_t MS_DSR_ON = 0x20;
constexpr uint32_t MS_RING_ON = 0x40;
constexpr uint32_t MS_RLSD_ON = 0x80;

// Line-status error bits.
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;
constexpr uint32_t CE_TXFULL = 0x0100;
constexpr uint32_t CE_IOE = 0x0400;
constexpr uint32_t CE_MODE = 0x8000;

// Line-control functions.
constexpr int SETXOFF = 1;
constexpr int SETXON = 2;
constexpr int SETRTS = 3;
constexpr int CLRRTS = 4;
constexpr int SETDTR = 5;
constexpr int CLRDTR = 6;
constexpr int SETBREAK = 8;
constexpr int CLRBREAK = 9;

// What one status query returns: queue lengths, hold flags and the line
// errors accumulated since the previous query (cleared by the query).
struct TComStat {
  uint32_t Errors = 0;  // CE_* bits
  uint32_t Flags = 0;   // bit n = TComStateFlag ordinal n
  uint32_t InQueue = 0;
  uint32_t OutQueue = 0;
};

// Running counts of modem-line changes and line errors (they only grow; the
// event thread looks at what changed).
struct TLineCounters {
  uint32_t cts = 0, dsr = 0, ring = 0, rlsd = 0;
  uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufferOverrun = 0;
  bool operator==(const TLineCounters&) const = default;
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Opens `path` for reading and writing, exclusively. The handle is the
  // device's own number for the open device (a descriptor for a tty).
  virtual int Open(const std::string& path) = 0;
  virtual int Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual int Handle() const = 0;  // -1 while closed

  virtual int SetCommState(const TDCB& dcb) = 0;
  virtual int SetCommTimeouts(const TCommTimeouts& timeouts) = 0;
  virtual int SetupComm(int inputSize, int outputSize) = 0;

  // Non-blocking transfers: move what can move now and say how much.
  virtual int ReadSome(uint8_t* buffer, size_t count, size_t& got) = 0;
  virtual int WriteSome(const uint8_t* buffer, size_t count, size_t& sent) = 0;

  // Wait at most `timeoutMs` (0: just look) until input is waiting or output
  // has room. `ready` tells which; a hung-up line reports an error (EIO).
  virtual int WaitReadable(int timeoutMs, bool& ready) = 0;
  virtual int WaitWritable(int timeoutMs, bool& ready) = 0;
  // Wait until everything written has left the device, at most `timeoutMs`.
  virtual int Drain(int timeoutMs, bool& drained) = 0;

  virtual int ClearCommError(TComStat& stat) = 0;
  virtual int Purge(uint32_t flags) = 0;
  virtual int GetModemStatus(uint32_t& status) = 0;  // MS_* bits
  virtual int EscapeCommFunction(int function) = 0;
  virtual int TransmitCommChar(uint8_t ch) = 0;

  // Monotonic milliseconds of this device's clock; the component measures
  // its time-outs with it (the in-memory device keeps a clock of its own so
  // that tests of time-outs run instantly and deterministically).
  virtual int64_t NowMs() const = 0;

  // What the event thread watches. The defaults treat Handle() as a pollable
  // descriptor and ask it the tty questions; a device that is not a
  // descriptor (or cannot answer) overrides them. None of them changes state
  // that the owner's calls rely on, so the event thread may ask at any time.
  // Descriptor to poll for arrivals and hang-ups; -1 for none.
  virtual int EventDescriptor() const { return Handle(); }
  // Bytes waiting to be read.
  virtual int PeekInputCount(uint32_t& count) const;
  // The raw modem inputs (MS_* bits); ENOTTY when the device has none.
  virtual int GetModemLines(uint32_t& status) const;
  // The kernel's running counts of line changes and errors; ENOTTY when the
  // device keeps none.
  virtual int GetLineCounters(TLineCounters& counters) const;
};

// The serial device of the running system: the tty on Linux, the COM port
// on Windows.
std::unique_ptr<SerialDevice> MakeTtyDevice();

}  // namespace serial
