// Port enumeration, setting names, error messages and port naming.
#pragma once

#include <string>
#include <vector>

#include "comport_types.h"

namespace serial {

extern const char* const BaudRateStrings[BaudRateCount];
extern const char* const StopBitsStrings[3];
extern const char* const DataBitsStrings[4];
extern const char* const ParityBitsStrings[5];
extern const char* const FlowControlStrings[4];
extern const char* const DTRStrings[3];
extern const char* const RTSStrings[4];

// Message text of a component error code (1 to 24); empty for others.
std::string ComErrorMessage(int code);

// Replaces `Ports` by the serial devices present, sorted case-insensitively;
// leaves it untouched when the system offers no device list at all (Windows:
// the names registered under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM).
void EnumComPorts(std::vector<std::string>& Ports);

// The table entry of the value; empty for a value outside its enumeration.
std::string BaudRateToStr(TBaudRate BaudRate);
std::string StopBitsToStr(TStopBits StopBits);
std::string DataBitsToStr(TDataBits DataBits);
std::string ParityToStr(TParityBits Parity);
std::string FlowControlToStr(TFlowControl FlowControl);
std::string DTRToStr(TDTRFlowControl DTRFlowControl);
std::string RTSToStr(TRTSFlowControl RTSFlowControl);
TBaudRate StrToBaudRate(const std::string& Str);
TStopBits StrToStopBits(const std::string& Str);
TDataBits StrToDataBits(const std::string& Str);
TParityBits StrToParity(const std::string& Str);
TFlowControl StrToFlowControl(const std::string& Str);
TDTRFlowControl StrToDTR(const std::string& Str);
TRTSFlowControl StrToRTS(const std::string& Str);
std::string BoolToStr(bool Value);
bool StrToBool(const std::string& Value);
std::string CharToStr(char16_t Ch);
char16_t StrToChar(const std::string& Str);

// Directory of named links to virtual ports (the emulator puts its
// pseudo-terminal there): $ZUV_PORT_DIR, else $XDG_RUNTIME_DIR/zuv-ports,
// else /tmp/zuv-ports-<uid>. Windows: $ZUV_PORT_DIR, else %TEMP%\zuv-ports.
std::string PortDirectory();

// Device path of a port name: a name with a '/' is a path already; a bare
// name is looked up as /dev/<name>, then in PortDirectory(); a name found in
// neither maps to /dev/<name> (so "COM1" fails to open like any missing
// device). Windows: a name with a '/' or '\' is kept, a bare name ("COM3")
// becomes \\.\COM3.
std::string PortPath(const std::string& name);

}  // namespace serial
