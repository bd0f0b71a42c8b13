// Settings: the four settings objects, the component's setters and the
// three apply steps that write them to the device.
#include "comport.h"

namespace serial {

const int32_t CBaudRate[BaudRateCount] = {0,     110,   300,   600,   1200,  2400,
                                          4800,  9600,  14400, 19200, 38400, 56000,
                                          57600, 115200, 128000, 256000};
const uint8_t CStopBits[3] = {0, 1, 2};
const uint8_t CDataBits[4] = {5, 6, 7, 8};
const uint8_t CParityBits[5] = {0, 1, 2, 3, 4};
const uint32_t CControlDTR[3] = {0x0000, 0x0010, 0x0020};
const uint32_t CControlRTS[4] = {0x0000, 0x1000, 0x2000, 0x3000};

uint32_t GetTOValue(int32_t Value) {
  return Value == -1 ? 0xFFFFFFFFu : static_cast<uint32_t>(Value);
}

// ---- settings objects ------------------------------------------------------

void TComSettings::AssignTo(TComSettings& Dest) const {
  throw EConvertError(std::string("Cannot assign a ") + ClassName() + " to a " +
                      Dest.ClassName());
}

namespace {
// Stores `value` into `field` unless equal; true when something changed.
template <typename T>
bool Store(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}
}  // namespace

void TComParity::SetBits(TParityBits Value) {
  if (Store(FBits, Value) && FComPort) FComPort->ApplyDCB();
}
void TComParity::SetCheck(bool Value) {
  if (Store(FCheck, Value) && FComPort) FComPort->ApplyDCB();
}
void TComParity::SetReplace(bool Value) {
  if (Store(FReplace, Value) && FComPort) FComPort->ApplyDCB();
}
void TComParity::SetReplaceChar(char16_t Value) {
  if (Store(FReplaceChar, Value) && FComPort) FComPort->ApplyDCB();
}
void TComParity::AssignTo(TComSettings& Dest) const {
  auto* d = dynamic_cast<TComParity*>(&Dest);
  if (!d) return TComSettings::AssignTo(Dest);
  d->FBits = FBits;
  d->FCheck = FCheck;
  d->FReplace = FReplace;
  d->FReplaceChar = FReplaceChar;
}

void TComFlowControl::SetOutCTSFlow(bool Value) {
  if (Store(FOutCTSFlow, Value) && FComPort) FComPort->ApplyDCB();
}
void TComFlowControl::SetOutDSRFlow(bool Value) {
  if (Store(FOutDSRFlow, Value) && FComPort) FComPort->ApplyDCB();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl Value) {
  if (Store(FControlDTR, Value) && FComPort) FComPort->ApplyDCB();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl Value) {
  if (Store(FControlRTS, Value) && FComPort) FComPort->ApplyDCB();
}
void TComFlowControl::SetXonXoffOut(bool Value) {
  if (Store(FXonXoffOut, Value) && FComPort) FComPort->ApplyDCB();
}
void TComFlowControl::SetXonXoffIn(bool Value) {
  if (Store(FXonXoffIn, Value) && FComPort) FComPort->ApplyDCB();
}
void TComFlowControl::SetDSRSensitivity(bool Value) {
  if (Store(FDSRSensitivity, Value) && FComPort) FComPort->ApplyDCB();
}
void TComFlowControl::SetTxContinueOnXoff(bool Value) {
  if (Store(FTxContinueOnXoff, Value) && FComPort) FComPort->ApplyDCB();
}
void TComFlowControl::SetXonChar(char16_t Value) {
  if (Store(FXonChar, Value) && FComPort) FComPort->ApplyDCB();
}
void TComFlowControl::SetXoffChar(char16_t Value) {
  if (Store(FXoffChar, Value) && FComPort) FComPort->ApplyDCB();
}

TFlowControl TComFlowControl::GetFlowControl() const {
  if (FControlRTS == rtsHandshake && FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
    return fcHardware;
  if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut)
    return fcSoftware;
  if (FControlRTS == rtsDisable && !FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
    return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl Value) {
  if (Value != fcCustom) {
    FControlRTS = rtsDisable;
    FOutCTSFlow = false;
    FXonXoffIn = false;
    FXonXoffOut = false;
    if (Value == fcHardware) {
      FControlRTS = rtsHandshake;
      FOutCTSFlow = true;
    } else if (Value == fcSoftware) {
      FXonXoffIn = true;
      FXonXoffOut = true;
    }
  }
  if (FComPort) FComPort->ApplyDCB();
}

void TComFlowControl::AssignTo(TComSettings& Dest) const {
  auto* d = dynamic_cast<TComFlowControl*>(&Dest);
  if (!d) return TComSettings::AssignTo(Dest);
  d->FOutCTSFlow = FOutCTSFlow;
  d->FOutDSRFlow = FOutDSRFlow;
  d->FControlDTR = FControlDTR;
  d->FControlRTS = FControlRTS;
  d->FXonXoffOut = FXonXoffOut;
  d->FXonXoffIn = FXonXoffIn;
  d->FDSRSensitivity = FDSRSensitivity;
  d->FTxContinueOnXoff = FTxContinueOnXoff;
  d->FXonChar = FXonChar;
  d->FXoffChar = FXoffChar;
}

void TComTimeouts::SetReadInterval(int32_t Value) {
  if (Store(FReadInterval, Value) && FComPort) FComPort->ApplyTimeouts();
}
void TComTimeouts::SetReadTotalMultiplier(int32_t Value) {
  if (Store(FReadTotalM, Value) && FComPort) FComPort->ApplyTimeouts();
}
void TComTimeouts::SetReadTotalConstant(int32_t Value) {
  if (Store(FReadTotalC, Value) && FComPort) FComPort->ApplyTimeouts();
}
void TComTimeouts::SetWriteTotalMultiplier(int32_t Value) {
  if (Store(FWriteTotalM, Value) && FComPort) FComPort->ApplyTimeouts();
}
void TComTimeouts::SetWriteTotalConstant(int32_t Value) {
  if (Store(FWriteTotalC, Value) && FComPort) FComPort->ApplyTimeouts();
}
void TComTimeouts::AssignTo(TComSettings& Dest) const {
  auto* d = dynamic_cast<TComTimeouts*>(&Dest);
  if (!d) return TComSettings::AssignTo(Dest);
  d->FReadInterval = FReadInterval;
  d->FReadTotalM = FReadTotalM;
  d->FReadTotalC = FReadTotalC;
  d->FWriteTotalM = FWriteTotalM;
  d->FWriteTotalC = FWriteTotalC;
}

namespace {
int32_t EvenSize(int32_t Value) { return (Value > 0 && Value % 2 != 0) ? Value - 1 : Value; }
}  // namespace

void TComBuffer::SetInputSize(int32_t Value) {
  if (Value == FInputSize) return;
  FInputSize = EvenSize(Value);
  if (FComPort) FComPort->ApplyBuffer();
}
void TComBuffer::SetOutputSize(int32_t Value) {
  if (Value == FOutputSize) return;
  FOutputSize = EvenSize(Value);
  if (FComPort) FComPort->ApplyBuffer();
}
void TComBuffer::AssignTo(TComSettings& Dest) const {
  auto* d = dynamic_cast<TComBuffer*>(&Dest);
  if (!d) return TComSettings::AssignTo(Dest);
  d->FInputSize = FInputSize;
  d->FOutputSize = FOutputSize;
}

// ---- component setters -----------------------------------------------------

void TCustomComPort::BeginUpdate() { ++FUpdateCount; }

void TCustomComPort::EndUpdate() {
  if (FUpdateCount <= 0) return;
  if (--FUpdateCount == 0) SetupComPort();
}

void TCustomComPort::SetBaudRate(TBaudRate Value) {
  if (Store(FBaudRate, Value)) ApplyDCB();
}
void TCustomComPort::SetCustomBaudRate(int32_t Value) {
  if (Store(FCustomBaudRate, Value)) ApplyDCB();
}
void TCustomComPort::SetStopBits(TStopBits Value) {
  if (Store(FStopBits, Value)) ApplyDCB();
}
void TCustomComPort::SetDataBits(TDataBits Value) {
  if (Store(FDataBits, Value)) ApplyDCB();
}
void TCustomComPort::SetDiscardNull(bool Value) {
  if (Store(FDiscardNull, Value)) ApplyDCB();
}
void TCustomComPort::SetEventChar(char16_t Value) {
  if (Store(FEventChar, Value)) ApplyDCB();
}

void TCustomComPort::SetPort(const std::string& Value) {
  if (!Store(FPort, Value)) return;
  if (FConnected) {
    Close();
    Open();
  }
}

void TCustomComPort::SetSyncMethod(TSyncMethod Value) {
  if (Value == FSyncMethod) return;
  // The event thread reads it at every event, so it is frozen while open.
  if (FConnected) return CallException(CError_ConnChangeProp);
  FSyncMethod = Value;
}

void TCustomComPort::SetEventThreadPriority(TThreadPriority Value) {
  if (Value == FEventThreadPriority) return;
  if (FConnected) return CallException(CError_ConnChangeProp);
  FEventThreadPriority = Value;
}

void TCustomComPort::SetTriggersOnRxChar(bool Value) {
  if (FHasLink) CallException(CError_HasLink);
  FTriggersOnRxChar = Value;
}

void TCustomComPort::SetParity(const TComParity& Value) {
  Value.AssignTo(*FParity);
  ApplyDCB();
}
void TCustomComPort::SetFlowControl(const TComFlowControl& Value) {
  Value.AssignTo(*FFlowControl);
  ApplyDCB();
}
void TCustomComPort::SetTimeouts(const TComTimeouts& Value) {
  Value.AssignTo(*FTimeouts);
  ApplyTimeouts();
}
void TCustomComPort::SetBuffer(const TComBuffer& Value) {
  Value.AssignTo(*FBuffer);
  ApplyBuffer();
}

// ---- apply steps -----------------------------------------------------------

bool TCustomComPort::CanApply() const { return FConnected && FUpdateCount == 0; }

namespace {
template <class T, size_t N>
T Entry(const T (&table)[N], int index, T outside) {
  return index >= 0 && static_cast<size_t>(index) < N ? table[index] : outside;
}
}  // namespace

TDCB TCustomComPort::BuildDCB() const {
  TDCB dcb;
  dcb.DCBlength = 28;
  const int32_t lim = FBuffer->InputSize() / 4;
  dcb.XonLim = static_cast<uint16_t>(lim);
  dcb.XoffLim = static_cast<uint16_t>(lim);
  dcb.EvtChar = static_cast<uint8_t>(FEventChar & 0xFF);

  const TComFlowControl& fc = *FFlowControl;
  const TComParity& par = *FParity;
  uint32_t flags = dcb_Binary;
  if (par.Check()) flags |= dcb_Parity;
  if (fc.OutCTSFlow()) flags |= dcb_OutxCTSFlow;
  if (fc.OutDSRFlow()) flags |= dcb_OutxDSRFlow;
  // A value cast from an integer outside its enumeration gets a device value
  // every device refuses, instead of a read past the table.
  flags |= Entry(CControlDTR, fc.ControlDTR(), 0x0020u);
  if (fc.DSRSensitivity()) flags |= dcb_DSRSensivity;
  if (fc.TxContinueOnXoff()) flags |= dcb_TxContinueOnXoff;
  if (fc.XonXoffOut()) flags |= dcb_OutX;
  if (fc.XonXoffIn()) flags |= dcb_InX;
  if (par.Check() && par.Replace()) flags |= dcb_ErrorChar;
  if (FDiscardNull) flags |= dcb_Null;
  flags |= Entry(CControlRTS, fc.ControlRTS(), 0x3000u);
  dcb.Flags = flags;

  dcb.XonChar = static_cast<uint8_t>(fc.XonChar() & 0xFF);
  dcb.XoffChar = static_cast<uint8_t>(fc.XoffChar() & 0xFF);
  dcb.Parity = Entry(CParityBits, par.Bits(), uint8_t{0xFF});
  dcb.StopBits = Entry(CStopBits, FStopBits, uint8_t{0xFF});
  dcb.ByteSize = Entry(CDataBits, FDataBits, uint8_t{0});
  dcb.BaudRate = static_cast<uint32_t>(FBaudRate == brCustom ? FCustomBaudRate
                                                             : Entry(CBaudRate, FBaudRate, 0));
  dcb.ErrorChar = (flags & dcb_ErrorChar) ? static_cast<uint8_t>(par.ReplaceChar() & 0xFF) : 0;
  return dcb;
}

void TCustomComPort::ApplyDCB() {
  if (!CanApply()) return;
  if (int err = FDevice->SetCommState(BuildDCB())) CallException(CError_SetStateFailed, err);
}

void TCustomComPort::ApplyTimeouts() {
  if (!CanApply()) return;
  TCommTimeouts t;
  t.ReadIntervalTimeout = GetTOValue(FTimeouts->ReadInterval());
  t.ReadTotalTimeoutMultiplier = GetTOValue(FTimeouts->ReadTotalMultiplier());
  t.ReadTotalTimeoutConstant = GetTOValue(FTimeouts->ReadTotalConstant());
  t.WriteTotalTimeoutMultiplier = GetTOValue(FTimeouts->WriteTotalMultiplier());
  t.WriteTotalTimeoutConstant = GetTOValue(FTimeouts->WriteTotalConstant());
  if (int err = FDevice->SetCommTimeouts(t)) return CallException(CError_TimeoutsFailed, err);
  // Reads and writes follow what the device accepted, as a driver would.
  FCommTimeouts = t;
}

void TCustomComPort::ApplyBuffer() {
  if (!CanApply()) return;
  if (int err = FDevice->SetupComm(FBuffer->InputSize(), FBuffer->OutputSize()))
    CallException(CError_SetupComFailed, err);
}

void TCustomComPort::SetupComPort() {
  ApplyBuffer();
  ApplyDCB();
  ApplyTimeouts();
}

}  // namespace serial
