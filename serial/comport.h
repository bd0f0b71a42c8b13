// The serial port component: one serial device, its settings, byte I/O and
// its error report.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "comport_types.h"
#include "device.h"
#include "owner_dispatch.h"

namespace serial {

class TCustomComPort;
class TComThread;
class EventMailbox;
class TRegistry;
class TIniFile;

// Raised by the component when no OnException handler is installed.
class EComPort : public std::runtime_error {
 public:
  EComPort(int ACode, int AWinCode);               // message + " (Error: %d)"
  static EComPort CreateNoWinCode(int ACode);      // message alone, WinCode -1
  int WinCode() const { return FWinCode; }
  int Code() const { return FCode; }

 private:
  EComPort(int ACode, int AWinCode, const std::string& message);
  int FWinCode;
  int FCode;
};

// Raised by AssignTo between settings objects of unlike classes.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Common base of the four settings objects, so that Assign/AssignTo can be
// called across classes (and fail there, as the framework does).
class TComSettings {
 public:
  virtual ~TComSettings() = default;
  void Assign(const TComSettings& Source) { Source.AssignTo(*this); }
  virtual void AssignTo(TComSettings& Dest) const;
  virtual const char* ClassName() const { return "TComSettings"; }
  TCustomComPort* ComPort() const { return FComPort; }

 protected:
  friend class TCustomComPort;
  TCustomComPort* FComPort = nullptr;
};

class TComParity : public TComSettings {
 public:
  const char* ClassName() const override { return "TComParity"; }
  TParityBits Bits() const { return FBits; }
  bool Check() const { return FCheck; }
  bool Replace() const { return FReplace; }
  char16_t ReplaceChar() const { return FReplaceChar; }
  void SetBits(TParityBits Value);
  void SetCheck(bool Value);
  void SetReplace(bool Value);
  void SetReplaceChar(char16_t Value);
  void AssignTo(TComSettings& Dest) const override;

 private:
  TParityBits FBits = prNone;
  bool FCheck = false;
  bool FReplace = false;
  char16_t FReplaceChar = 0;
};

class TComFlowControl : public TComSettings {
 public:
  const char* ClassName() const override { return "TComFlowControl"; }
  bool OutCTSFlow() const { return FOutCTSFlow; }
  bool OutDSRFlow() const { return FOutDSRFlow; }
  TDTRFlowControl ControlDTR() const { return FControlDTR; }
  TRTSFlowControl ControlRTS() const { return FControlRTS; }
  bool XonXoffOut() const { return FXonXoffOut; }
  bool XonXoffIn() const { return FXonXoffIn; }
  bool DSRSensitivity() const { return FDSRSensitivity; }
  bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
  char16_t XonChar() const { return FXonChar; }
  char16_t XoffChar() const { return FXoffChar; }
  void SetOutCTSFlow(bool Value);
  void SetOutDSRFlow(bool Value);
  void SetControlDTR(TDTRFlowControl Value);
  void SetControlRTS(TRTSFlowControl Value);
  void SetXonXoffOut(bool Value);
  void SetXonXoffIn(bool Value);
  void SetDSRSensitivity(bool Value);
  void SetTxContinueOnXoff(bool Value);
  void SetXonChar(char16_t Value);
  void SetXoffChar(char16_t Value);
  // The derived summary over ControlRTS, OutCTSFlow, XonXoffIn, XonXoffOut.
  TFlowControl GetFlowControl() const;
  void SetFlowControl(TFlowControl Value);
  TFlowControl FlowControl() const { return GetFlowControl(); }
  void AssignTo(TComSettings& Dest) const override;

 private:
  bool FOutCTSFlow = false;
  bool FOutDSRFlow = false;
  TDTRFlowControl FControlDTR = dtrDisable;
  TRTSFlowControl FControlRTS = rtsDisable;
  bool FXonXoffOut = false;
  bool FXonXoffIn = false;
  bool FDSRSensitivity = false;
  bool FTxContinueOnXoff = false;
  char16_t FXonChar = 17;
  char16_t FXoffChar = 19;
};

class TComTimeouts : public TComSettings {
 public:
  const char* ClassName() const override { return "TComTimeouts"; }
  int32_t ReadInterval() const { return FReadInterval; }
  int32_t ReadTotalMultiplier() const { return FReadTotalM; }
  int32_t ReadTotalConstant() const { return FReadTotalC; }
  int32_t WriteTotalMultiplier() const { return FWriteTotalM; }
  int32_t WriteTotalConstant() const { return FWriteTotalC; }
  void SetReadInterval(int32_t Value);
  void SetReadTotalMultiplier(int32_t Value);
  void SetReadTotalConstant(int32_t Value);
  void SetWriteTotalMultiplier(int32_t Value);
  void SetWriteTotalConstant(int32_t Value);
  void AssignTo(TComSettings& Dest) const override;

 private:
  int32_t FReadInterval = -1;
  int32_t FReadTotalM = 0;
  int32_t FReadTotalC = 0;
  int32_t FWriteTotalM = 100;
  int32_t FWriteTotalC = 1000;
};

class TComBuffer : public TComSettings {
 public:
  const char* ClassName() const override { return "TComBuffer"; }
  int32_t InputSize() const { return FInputSize; }
  int32_t OutputSize() const { return FOutputSize; }
  void SetInputSize(int32_t Value);   // odd positive values are stored one lower
  void SetOutputSize(int32_t Value);
  void AssignTo(TComSettings& Dest) const override;

 private:
  int32_t FInputSize = 1024;
  int32_t FOutputSize = 1024;
};

// -1 becomes the largest unsigned 32-bit value; everything else passes as is.
uint32_t GetTOValue(int32_t Value);

// One asynchronous operation. Made by InitAsync, destroyed by DoneAsync; used
// for one operation at a time.
struct TAsync {
  TOperationKind Kind = okWrite;
  std::vector<uint8_t> Data;  // private copy of a write's bytes
  int32_t Size = 0;
  // Progress of the operation, driven by the component.
  uint8_t* ReadBuffer = nullptr;
  const uint8_t* WriteBuffer = nullptr;
  size_t Requested = 0;
  size_t Done = 0;
  bool Pending = false;
  bool Completed = false;
  int Error = 0;               // errno of a failed completion, 0 when none
  int64_t StartMs = 0;         // monotonic start of the operation
  int64_t LastByteMs = -1;     // arrival of the last byte (read interval rule)
  // Limits taken from the time-outs when the operation starts.
  bool Immediate = false;      // read: return with what has arrived
  int64_t TotalMs = -1;        // total budget from StartMs, -1 unlimited
  int64_t IntervalMs = 0;      // read: longest gap between bytes, 0 unused
  TCustomComPort* Owner = nullptr;  // set while the operation is pending
};
using PAsync = TAsync*;

void InitAsync(PAsync& AsyncPtr);
void DoneAsync(PAsync& AsyncPtr);
// CError_WriteFailed for okWrite, CError_ReadFailed for okRead.
int ErrorCode(PAsync AsyncPtr);

using TNotifyEvent = std::function<void(TCustomComPort* Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort* Sender, int32_t Count)>;
using TRxBufEvent = std::function<void(TCustomComPort* Sender, const uint8_t* Buffer, int32_t Count)>;
using TComSignalEvent = std::function<void(TCustomComPort* Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TCustomComPort* Sender, TComErrors Errors)>;
using TComExceptionEvent =
    std::function<void(TCustomComPort* Sender, TComExceptions TComException,
                       const std::string& ComportMessage, int64_t WinError,
                       const std::string& WinMessage)>;

// Another component following the port. Each handler is empty by default;
// the port calls the ones that are set (Sender: the port). The port does not
// own its links.
enum TComLinkEvent { leConn, leCTS, leDSR, leRLSD, leRing, leRx, leTx, leTxEmpty, leRxFlag };

class TComLink {
 public:
  TComSignalEvent OnConn;
  TRxBufEvent OnRxBuf;
  TRxBufEvent OnTxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnRxFlag;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TNotifyEvent OnRing;
  TComSignalEvent OnTx;
  TComSignalEvent OnRx;
};

// Makes the device object a new component talks to. The default gives the
// system's tty device; tests install an in-memory device.
using DeviceFactory = std::function<std::unique_ptr<SerialDevice>()>;

class TCustomComPort {
 public:
  explicit TCustomComPort(void* AOwner = nullptr);
  virtual ~TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // Factory used by components created from now on (nullptr restores the
  // tty device). Returns the previous one.
  static DeviceFactory SetDefaultDeviceFactory(DeviceFactory factory);
  // The device object of this component (never null).
  SerialDevice& Device() { return *FDevice; }

  // Lifecycle.
  void Open();
  void Close();
  bool Connected() const { return FConnected; }
  void SetConnected(bool Value);
  int Handle() const;  // -1 while closed
  bool ThreadCreated() const { return FThreadCreated; }

  // Links.
  void RegisterLink(TComLink* AComLink);
  void UnRegisterLink(TComLink* AComLink);
  bool HasLink() const { return FHasLink; }

  // Waits for line events without the event thread. `Events` in: the events
  // to wait for; out: those that occurred (empty after the time-out or the
  // stop). `StopEvent`: a descriptor whose readability ends the wait, 0 for
  // none. `Timeout`: milliseconds, -1 (WaitInfinite) for no limit.
  void WaitForEvent(TComEvents& Events, int StopEvent, int32_t Timeout);

  // Hand-overs from the event thread to the owner (smThreadSync,
  // smWindowSync); see owner_dispatch.h. Runs the queued ones now in the
  // calling thread and returns how many ran.
  int ProcessPendingEvents();
  // Readable while hand-overs wait.
  int PendingEventsHandle() const;
  // This port's dispatcher (nullptr: the process-wide one, else the owner
  // pumps).
  void SetDispatcher(std::shared_ptr<TOwnerDispatcher> dispatcher);

  // Settings persistence.
  void StoreSettings(TStoreType StoreType, const std::string& StoreTo);
  void LoadSettings(TStoreType StoreType, const std::string& LoadFrom);
  // Name of the component: the ini section and the registry subkey.
  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value) { FName = Value; }

  // Settings.
  void BeginUpdate();
  void EndUpdate();
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate Value);
  int32_t CustomBaudRate() const { return FCustomBaudRate; }
  void SetCustomBaudRate(int32_t Value);
  const std::string& Port() const { return FPort; }
  void SetPort(const std::string& Value);
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits Value);
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits Value);
  bool DiscardNull() const { return FDiscardNull; }
  void SetDiscardNull(bool Value);
  char16_t EventChar() const { return FEventChar; }
  void SetEventChar(char16_t Value);
  TComEvents Events() const { return FEvents; }
  void SetEvents(TComEvents Value) { FEvents = Value; }
  TStoredProps StoredProps() const { return FStoredProps; }
  void SetStoredProps(TStoredProps Value) { FStoredProps = Value; }
  uint32_t CodePage() const { return FCodePage; }
  void SetCodePage(uint32_t Value) { FCodePage = Value; }
  TSyncMethod SyncMethod() const { return FSyncMethod; }
  void SetSyncMethod(TSyncMethod Value);
  TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
  void SetEventThreadPriority(TThreadPriority Value);
  bool TriggersOnRxChar() const { return GetTriggersOnRxChar(); }
  void SetTriggersOnRxChar(bool Value);
  bool GetTriggersOnRxChar() const { return FTriggersOnRxChar && !FHasLink; }

  TComParity& Parity() { return *FParity; }
  TComFlowControl& FlowControl() { return *FFlowControl; }
  TComTimeouts& Timeouts() { return *FTimeouts; }
  TComBuffer& Buffer() { return *FBuffer; }
  void SetParity(const TComParity& Value);
  void SetFlowControl(const TComFlowControl& Value);
  void SetTimeouts(const TComTimeouts& Value);
  void SetBuffer(const TComBuffer& Value);

  // Blocking byte I/O.
  int32_t Write(const void* Buffer, int32_t Count);
  int32_t Read(void* Buffer, int32_t Count);
  int32_t WriteStr(const std::u16string& Str);
  int32_t ReadStr(std::u16string& Str, int32_t Count);
  int32_t WriteUnicodeString(const std::u16string& Str);
  int32_t ReadUnicodeString(std::u16string& Str, int32_t Count);

  // Asynchronous byte I/O.
  int32_t WriteAsync(const void* Buffer, int32_t Count, PAsync& AsyncPtr);
  int32_t ReadAsync(void* Buffer, int32_t Count, PAsync& AsyncPtr);
  int32_t WriteStrAsync(std::string& Str, PAsync& AsyncPtr);
  int32_t ReadStrAsync(std::string& Str, int32_t Count, PAsync& AsyncPtr);
  int32_t WaitForAsync(PAsync& AsyncPtr);
  bool IsAsyncCompleted(PAsync AsyncPtr);
  void AbortAllAsync();

  // Waits at most TimeoutMs for received bytes without taking any; true when
  // some are waiting. Lets a poller sleep on the device instead of spinning.
  bool WaitForInput(int TimeoutMs);

  // Status and line control.
  int32_t InputCount();
  int32_t OutputCount();
  TComSignals Signals();
  TComStateFlags StateFlags();
  TComErrors LastErrors();
  void ClearBuffer(bool Input, bool Output);
  void SetDTR(bool OnOff);
  void SetRTS(bool OnOff);
  void SetXonXoff(bool OnOff);
  void SetBreak(bool OnOff);
  void TransmitChar(char16_t Ch);

  // Error report: raises EComPort, or calls OnException and returns.
  void CallException(int AnException, int64_t WinError = 0);

  // Event handlers.
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TComErrorEvent OnError;
  TNotifyEvent OnRxFlag;
  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  TNotifyEvent OnRx80Full;
  TComExceptionEvent OnException;

  // Apply steps; each does nothing unless connected and not held back.
  virtual void ApplyDCB();
  virtual void ApplyTimeouts();
  virtual void ApplyBuffer();
  virtual void SetupComPort();

 protected:
  virtual void StoreRegistry(TRegistry& Reg);
  virtual void StoreIniFile(TIniFile& IniFile);
  virtual void LoadRegistry(TRegistry& Reg);
  virtual void LoadIniFile(TIniFile& IniFile);

  virtual void CreateHandle();
  virtual void DestroyHandle();

  virtual void DoAfterClose();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoBeforeOpen();
  virtual void DoRxChar(int32_t Count);
  virtual void DoRxBuf(const uint8_t* Buffer, int32_t Count);
  virtual void DoTxEmpty();
  virtual void DoBreak();
  virtual void DoRing();
  virtual void DoRxFlag();
  virtual void DoCTSChange(bool OnOff);
  virtual void DoDSRChange(bool OnOff);
  virtual void DoError(TComErrors Errors);
  virtual void DoRLSDChange(bool OnOff);
  virtual void DoRx80Full();

 private:
  friend void DoneAsync(PAsync& AsyncPtr);
  friend class TComThread;
  // The dispatch of one event (error, receive, transmit-empty, ...).
  void DispatchEvent(TComEvent Event);
  void ErrorDispatch();
  void ReceiveDispatch();
  void TxEmptyDispatch();
  void RingDispatch();
  void RxFlagDispatch();
  void StartEventThread();
  void StopEventThread();
  // Runs the hand-overs still queued, without letting a failure out of Close.
  void ServeWhileClosing();
  // evRx80Full when the input queue is at 80 % of Buffer.InputSize.
  TComEvents Rx80FullNow() const;
  // Every registered link's handler `member`, in list order, if it has one.
  template <typename Member, typename... Args>
  void NotifyLinks(Member member, Args... args);
  void UpdateHasLink();
  // Tells the event thread that input was taken, or output has left.
  void NoteRxConsumed();
  void NoteTxDrained();

  bool CanApply() const;
  TDCB BuildDCB() const;
  // The signal-change dispatch: links, then the owner.
  void SignalChange(TComSignal Signal);
  // Starts an operation on a prepared record: moves what can move now and
  // leaves the record pending when it is not complete yet.
  bool Start(TAsync& async);
  // One device transfer of what is left; 0 or the device's errno.
  int Move(TAsync& async);
  // Completes the operation when its rule says so; true when complete.
  bool Settle(TAsync& async);
  // Moves a pending operation on; `waitMs` bounds how long it may wait.
  void Progress(TAsync& async, int waitMs);
  // The time at which the operation ends unless it completes earlier; -1 when
  // nothing but its byte count ends it.
  int64_t Deadline(const TAsync& async) const;
  void Complete(TAsync& async, int error);
  void Unregister(TAsync* async);
  // One status query; false, after the error report, when it was refused.
  bool QueryStatus(TComStat& stat);
  // One line-control function; a refusal goes to the error report.
  void Escape(int function);

  bool FThreadCreated = false;
  std::unique_ptr<SerialDevice> FDevice;
  int FUpdateCount = 0;
  bool FTriggersOnRxChar = true;
  TThreadPriority FEventThreadPriority = tpNormal;
  bool FHasLink = false;
  bool FConnected = false;
  TBaudRate FBaudRate = br9600;
  int32_t FCustomBaudRate = 9600;
  std::string FPort = "COM1";
  TStopBits FStopBits = sbOneStopBit;
  TDataBits FDataBits = dbEight;
  bool FDiscardNull = false;
  char16_t FEventChar = 0;
  TComEvents FEvents = AllComEvents;
  std::unique_ptr<TComBuffer> FBuffer;
  std::unique_ptr<TComParity> FParity;
  std::unique_ptr<TComTimeouts> FTimeouts;
  std::unique_ptr<TComFlowControl> FFlowControl;
  TSyncMethod FSyncMethod = smThreadSync;
  TStoredProps FStoredProps = StoredBit(spBasic);
  uint32_t FCodePage = 0;
  std::vector<TAsync*> FPending;  // records with an operation in flight
  TCommTimeouts FCommTimeouts;    // as last accepted by the device
  std::string FName = "ComPort1";
  std::vector<TComLink*> FLinks;
  std::shared_ptr<EventMailbox> FMailbox;
  std::shared_ptr<TComThread> FEventThread;
  // The same thread for the I/O paths, which may also run in the event
  // thread itself (smNone) while Close lets go of FEventThread.
  std::atomic<TComThread*> FEventWatch{nullptr};
};

template <typename Member, typename... Args>
void TCustomComPort::NotifyLinks(Member member, Args... args) {
  // Copied: a handler may (un)register links.
  const std::vector<TComLink*> links = FLinks;
  for (TComLink* link : links)
    if (link->*member) (link->*member)(this, args...);
}

// TCustomComPort with everything public; the class applications create.
class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};

}  // namespace serial
