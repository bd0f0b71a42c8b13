#include <cerrno>
#include <climits>
#include <cstdlib>

#include "names.h"
#include "utf8.h"

namespace serial {

const char* const BaudRateStrings[BaudRateCount] = {
    "Custom", "110",   "300",   "600",   "1200",   "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600",  "115200", "128000", "256000"};
const char* const StopBitsStrings[3] = {"1", "1.5", "2"};
const char* const DataBitsStrings[4] = {"5", "6", "7", "8"};
const char* const ParityBitsStrings[5] = {"None", "Odd", "Even", "Mark", "Space"};
const char* const FlowControlStrings[4] = {"Hardware", "Software", "None", "Custom"};
const char* const DTRStrings[3] = {"Disable", "Enable", "Handshake"};
const char* const RTSStrings[4] = {"Disable", "Enable", "Handshake", "Toggle"};

namespace {

const char* const ComErrorMessages[24] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

// Only ASCII letters change case: names are compared the way the stored
// settings were written, independent of the locale.
std::string UpperAscii(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

template <typename Enum, size_t N>
Enum Lookup(const char* const (&table)[N], const std::string& str, Enum fallback) {
  const std::string upper = UpperAscii(str);
  for (size_t i = 0; i < N; ++i)
    if (upper == UpperAscii(table[i])) return static_cast<Enum>(i);
  return fallback;
}

// The table entry of an enumeration value; empty for a value outside the
// table (a cast from a stray integer), which must not index past its end.
template <size_t N>
std::string Name(const char* const (&table)[N], int value) {
  return value >= 0 && static_cast<size_t>(value) < N ? table[value] : std::string();
}

// A whole decimal integer that fits in 32 bits, with an optional sign.
bool ParseInt(const std::string& s, long& value) {
  if (s.empty()) return false;
  size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
  if (i == s.size()) return false;
  for (size_t k = i; k < s.size(); ++k)
    if (s[k] < '0' || s[k] > '9') return false;
  errno = 0;
  value = std::strtol(s.c_str(), nullptr, 10);
  return errno == 0 && value >= INT_MIN && value <= INT_MAX;
}

}  // namespace

std::string ComErrorMessage(int code) {
  if (code < 1 || code > 24) return {};
  return ComErrorMessages[code - 1];
}

std::string BaudRateToStr(TBaudRate v) { return Name(BaudRateStrings, v); }
std::string StopBitsToStr(TStopBits v) { return Name(StopBitsStrings, v); }
std::string DataBitsToStr(TDataBits v) { return Name(DataBitsStrings, v); }
std::string ParityToStr(TParityBits v) { return Name(ParityBitsStrings, v); }
std::string FlowControlToStr(TFlowControl v) { return Name(FlowControlStrings, v); }
std::string DTRToStr(TDTRFlowControl v) { return Name(DTRStrings, v); }
std::string RTSToStr(TRTSFlowControl v) { return Name(RTSStrings, v); }

TBaudRate StrToBaudRate(const std::string& s) { return Lookup(BaudRateStrings, s, br9600); }
TStopBits StrToStopBits(const std::string& s) { return Lookup(StopBitsStrings, s, sbOneStopBit); }
TDataBits StrToDataBits(const std::string& s) { return Lookup(DataBitsStrings, s, dbEight); }
TParityBits StrToParity(const std::string& s) { return Lookup(ParityBitsStrings, s, prNone); }
TFlowControl StrToFlowControl(const std::string& s) {
  return Lookup(FlowControlStrings, s, fcCustom);
}
TDTRFlowControl StrToDTR(const std::string& s) { return Lookup(DTRStrings, s, dtrDisable); }
TRTSFlowControl StrToRTS(const std::string& s) { return Lookup(RTSStrings, s, rtsDisable); }

std::string BoolToStr(bool Value) { return Value ? "Yes" : "No"; }
bool StrToBool(const std::string& Value) { return UpperAscii(Value) == "YES"; }

std::string CharToStr(char16_t Ch) {
  if (Ch >= 33 && Ch <= 127) return std::string(1, static_cast<char>(Ch));
  return "#" + std::to_string(static_cast<unsigned>(Ch));
}


char16_t StrToChar(const std::string& Str) {
  if (Str.empty()) return 0;
  if (Str.size() >= 2 && Str[0] == '#') {
    long code;
    if (!ParseInt(Str.substr(1), code)) return 0;
    return static_cast<char16_t>(static_cast<unsigned long>(code) & 0xFF);
  }
  // 0 when the text does not start with a well-formed character.
  const auto first = DecodeUtf8Char(Str);
  return first ? first->code : 0;
}

}  // namespace serial
