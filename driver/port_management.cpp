// Driver initialisation and the one serial port through which the printer
// is reached.
#include <cstring>

#include "comportzuv.h"
#include "dropped_ports.h"
#include "protocol.h"
#include "serial/names.h"

namespace zuv {

namespace {

bool MapBaudRate(int BRate, serial::TBaudRate& rate) {
  if (BRate >= 0 && BRate < serial::BaudRateCount) {
    rate = static_cast<serial::TBaudRate>(BRate);
    return true;
  }
  switch (BRate) {
    case 9600: rate = serial::br9600; return true;
    case 19200: rate = serial::br19200; return true;
    case 38400: rate = serial::br38400; return true;
    case 57600: rate = serial::br57600; return true;
    case 115200: rate = serial::br115200; return true;
    default: return false;  // also negative values: no such rate
  }
}

std::unique_ptr<serial::TComPort> CreatePrinterPort() {
  auto port = std::make_unique<serial::TComPort>();
  port->Parity().SetBits(serial::prNone);
  port->SetStopBits(serial::sbOneStopBit);
  port->SetDataBits(serial::dbEight);
  port->SetEvents(serial::AllComEvents);
  port->FlowControl().SetOutCTSFlow(false);
  port->FlowControl().SetOutDSRFlow(false);
  port->FlowControl().SetControlDTR(serial::dtrDisable);
  port->FlowControl().SetControlRTS(serial::rtsDisable);
  port->FlowControl().SetXonXoffOut(false);
  port->FlowControl().SetXonXoffIn(false);
  port->SetStoredProps(serial::StoredBit(serial::spBasic));
  port->SetTriggersOnRxChar(true);
  port->OnException = &TComPortZUV::comportException;
  return port;
}

}  // namespace

void ReleaseDroppedPorts() {
  for (auto& port : linkState.droppedPorts) {
    port->OnException = nullptr;
    try {
      port->Close();
    } catch (...) {
      // A port that faulted may fail to close cleanly; it is discarded anyway.
    }
  }
  linkState.droppedPorts.clear();
}

void TComPortZUV::Init(const std::string& recnik) {
  ZUVtableInit();
  ErrorTableK3RTinit(recnik);
  receiveBuffer = std::make_unique<ByteList>();
  bufferArtikala = std::make_unique<ByteList>();
}

bool TComPortZUV::OpenPort(const std::string& Port, int BRate, bool isPrinter, bool SetDebug) {
  serial::TBaudRate rate;
  if (!MapBaudRate(BRate, rate)) return false;
  ReleaseDroppedPorts();
  try {
    if (!comport) comport = CreatePrinterPort();
    comport->Close();
    if (!comport) return false;
    comport->SetPort(Port);
    comport->SetBaudRate(rate);
    comport->Open();
    if (!comport) return false;
    if (!ZUVtable || !ErrorTableK3RT || !receiveBuffer || !bufferArtikala) Init("SRB");
    DebugMode = SetDebug;
    PrinterType = isPrinter;
    return true;
  } catch (...) {
    return false;
  }
}

void TComPortZUV::ClosePort() {
  if (!comport) return;
  try {
    comport->Close();
  } catch (...) {
    // Close faults are reported through comportException; nothing to add.
  }
}

std::vector<std::string> TComPortZUV::GetPorts() {
  std::vector<std::string> ports;
  serial::EnumComPorts(ports);
  return ports;
}

std::vector<int> TComPortZUV::GetBaudRates() { return {9600, 19200, 38400, 57600, 115200}; }

std::vector<std::string> TComPortZUV::GetSettings() {
  if (!comport) return {};
  return {comport->Port(), serial::BaudRateToStr(comport->BaudRate())};
}

void TComPortZUV::comportException(serial::TCustomComPort* Sender, serial::TComExceptions,
                                   const std::string&, int64_t, const std::string&) {
  serial::TCustomComPort* port = Sender ? Sender : comport.get();
  if (port) port->OnException = nullptr;
  if (comport && (!Sender || comport.get() == Sender)) linkState.droppedPorts.push_back(std::move(comport));
  if (receiveBuffer) receiveBuffer->clear();
  ErrorCode = linkerr::PortFault;
}

void ResetDriverState() {
  if (comport) comport->OnException = nullptr;
  comport.reset();
  ReleaseDroppedPorts();
  ZUVtable.reset();
  ErrorTableK3RT.reset();
  receiveBuffer.reset();
  bufferArtikala.reset();
  std::memset(sendBuffer, 0, sizeof sendBuffer);
  RxStopwatch = TStopwatch();
  RxExpectDataLen = 0;
  RxDataIndex = 0;
  ErrorCode = 0;
  linkState = {};
  PrinterType = false;
  DebugMode = false;
}

}  // namespace zuv
