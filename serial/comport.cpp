// The component's lifetime, opening and closing, notifications and its
// error report.
#include "comport.h"

#include <cerrno>
#include <cstring>

#include "com_thread.h"
#include "error_text.h"
#include "event_mailbox.h"
#include "names.h"
#include "tcp_device.h"

namespace serial {

// ---- EComPort --------------------------------------------------------------

EComPort::EComPort(int ACode, int AWinCode, const std::string& message)
    : std::runtime_error(message), FWinCode(AWinCode), FCode(ACode) {}

EComPort::EComPort(int ACode, int AWinCode)
    : EComPort(ACode, AWinCode,
               ComErrorMessage(ACode) + " (Error: " + std::to_string(AWinCode) + ")") {}

EComPort EComPort::CreateNoWinCode(int ACode) {
  return EComPort(ACode, -1, ComErrorMessage(ACode));
}

// ---- construction ----------------------------------------------------------

namespace {
DeviceFactory& DefaultFactory() {
  static DeviceFactory factory;  // empty: the tty device
  return factory;
}
}  // namespace

DeviceFactory TCustomComPort::SetDefaultDeviceFactory(DeviceFactory factory) {
  DeviceFactory previous = std::move(DefaultFactory());
  DefaultFactory() = std::move(factory);
  return previous;
}

TCustomComPort::TCustomComPort(void*)
    : FDevice(DefaultFactory() ? DefaultFactory()() : MakeSystemDevice()),
      FBuffer(std::make_unique<TComBuffer>()),
      FParity(std::make_unique<TComParity>()),
      FTimeouts(std::make_unique<TComTimeouts>()),
      FFlowControl(std::make_unique<TComFlowControl>()),
      FMailbox(std::make_shared<EventMailbox>()) {
  FBuffer->FComPort = this;
  FParity->FComPort = this;
  FTimeouts->FComPort = this;
  FFlowControl->FComPort = this;
}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; the device is closed below regardless.
  }
  // Also when Close raised before its thread step.
  StopEventThread();
  // Hand-overs posted to an event loop find nothing to run any more.
  FMailbox->Detach();
  // Records still pending must not point back at a component that is gone.
  for (TAsync* async : FPending) {
    async->Owner = nullptr;
    async->Pending = false;
    async->Completed = true;
    async->Error = ECANCELED;
  }
  FPending.clear();
  if (FDevice->IsOpen()) FDevice->Close();
}

int TCustomComPort::Handle() const { return FDevice->Handle(); }

// ---- opening and closing ---------------------------------------------------

void TCustomComPort::CreateHandle() {
  // The system would open the name cut at the NUL: some other device.
  if (FPort.find('\0') != std::string::npos) return CallException(CError_OpenFailed, ENOENT);
  if (int err = FDevice->Open(PortPath(FPort))) CallException(CError_OpenFailed, err);
}

void TCustomComPort::DestroyHandle() {
  if (FDevice->IsOpen()) FDevice->Close();
}

void TCustomComPort::SignalChange(TComSignal Signal) {
  const bool on = (Signals() >> Signal) & 1;
  switch (Signal) {
    case csCTS:
      NotifyLinks(&TComLink::OnCTSChange, on);
      DoCTSChange(on);
      break;
    case csDSR:
      NotifyLinks(&TComLink::OnDSRChange, on);
      DoDSRChange(on);
      break;
    case csRLSD:
      NotifyLinks(&TComLink::OnRLSDChange, on);
      DoRLSDChange(on);
      break;
    case csRing: break;
  }
}

void TCustomComPort::Open() {
  if (FConnected) return;
  DoBeforeOpen();
  CreateHandle();
  FConnected = true;
  try {
    SetupComPort();
  } catch (...) {
    DestroyHandle();
    FConnected = false;
    throw;
  }
  FThreadCreated = false;
  if (FEvents) {
    try {
      StartEventThread();
    } catch (...) {
      // No descriptor or thread to be had: the port does not stay half open.
      DestroyHandle();
      FConnected = false;
      throw;
    }
  }
  NotifyLinks(&TComLink::OnConn, true);
  DoAfterOpen();
  // The owner learns the lines' states as if each had just changed.
  SignalChange(csCTS);
  SignalChange(csDSR);
  SignalChange(csRLSD);
}

void TCustomComPort::Close() {
  if (!FConnected) return;
  NotifyLinks(&TComLink::OnCTSChange, false);
  NotifyLinks(&TComLink::OnDSRChange, false);
  NotifyLinks(&TComLink::OnRLSDChange, false);
  DoCTSChange(false);
  DoDSRChange(false);
  DoRLSDChange(false);
  DoBeforeClose();
  try {
    AbortAllAsync();
  } catch (...) {
    // The thread must not outlive the device even when the purge raised.
    StopEventThread();
    throw;
  }
  StopEventThread();
  DestroyHandle();
  FConnected = false;
  NotifyLinks(&TComLink::OnConn, false);
  DoAfterClose();
}

void TCustomComPort::SetConnected(bool Value) {
  if (Value)
    Open();
  else
    Close();
}

// ---- error report ----------------------------------------------------------

void TCustomComPort::CallException(int AnException, int64_t WinError) {
  if (OnException) {
    std::string winMessage;
    if (WinError > 0)
      winMessage = "System Error.  Code: " + std::to_string(WinError) + ".\r\n" +
                   ErrorCodeText(WinError);
    // A handler may replace or clear itself while it runs.
    TComExceptionEvent handler = OnException;
    handler(this, static_cast<TComExceptions>(AnException - 1), ComErrorMessage(AnException),
            WinError, winMessage);
    return;
  }
  if (WinError > 0) throw EComPort(AnException, static_cast<int32_t>(WinError));
  throw EComPort::CreateNoWinCode(AnException);
}

// ---- notifications ---------------------------------------------------------

void TCustomComPort::DoAfterClose() {
  if (OnAfterClose) OnAfterClose(this);
}
void TCustomComPort::DoAfterOpen() {
  if (OnAfterOpen) OnAfterOpen(this);
}
void TCustomComPort::DoBeforeClose() {
  if (OnBeforeClose) OnBeforeClose(this);
}
void TCustomComPort::DoBeforeOpen() {
  if (OnBeforeOpen) OnBeforeOpen(this);
}
void TCustomComPort::DoRxChar(int32_t Count) {
  if (OnRxChar) OnRxChar(this, Count);
}
void TCustomComPort::DoRxBuf(const uint8_t* Buffer, int32_t Count) {
  if (OnRxBuf) OnRxBuf(this, Buffer, Count);
}
void TCustomComPort::DoTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(this);
}
void TCustomComPort::DoBreak() {
  if (OnBreak) OnBreak(this);
}
void TCustomComPort::DoRing() {
  if (OnRing) OnRing(this);
}
void TCustomComPort::DoRxFlag() {
  if (OnRxFlag) OnRxFlag(this);
}
void TCustomComPort::DoCTSChange(bool OnOff) {
  if (OnCTSChange) OnCTSChange(this, OnOff);
}
void TCustomComPort::DoDSRChange(bool OnOff) {
  if (OnDSRChange) OnDSRChange(this, OnOff);
}
void TCustomComPort::DoError(TComErrors Errors) {
  if (OnError) OnError(this, Errors);
}
void TCustomComPort::DoRLSDChange(bool OnOff) {
  if (OnRLSDChange) OnRLSDChange(this, OnOff);
}
void TCustomComPort::DoRx80Full() {
  if (OnRx80Full) OnRx80Full(this);
}

}  // namespace serial
