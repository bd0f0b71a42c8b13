// Settings persistence: the keys of each group in their order, written to
// and read from an ini file or the registry-like key store.
#include <functional>
#include <stdexcept>

#include "comport.h"
#include "names.h"
#include "settings_store.h"

namespace serial {

namespace {

using Port = TCustomComPort;

// One stored setting: a text or an integer, with its getter and setter.
struct Key {
  const char* name;
  std::function<std::string(Port&)> text;
  std::function<void(Port&, const std::string&)> setText;
  std::function<int32_t(Port&)> number;
  std::function<void(Port&, int32_t)> setNumber;
  bool IsInteger() const { return static_cast<bool>(number); }
};

Key Text(const char* name, std::function<std::string(Port&)> get,
         std::function<void(Port&, const std::string&)> set) {
  return {name, std::move(get), std::move(set), nullptr, nullptr};
}
Key Integer(const char* name, std::function<int32_t(Port&)> get,
            std::function<void(Port&, int32_t)> set) {
  return {name, nullptr, nullptr, std::move(get), std::move(set)};
}
Key YesNo(const char* name, std::function<bool(Port&)> get, std::function<void(Port&, bool)> set) {
  return Text(
      name, [get](Port& p) { return BoolToStr(get(p)); },
      [set](Port& p, const std::string& s) { set(p, StrToBool(s)); });
}
Key Character(const char* name, std::function<char16_t(Port&)> get,
              std::function<void(Port&, char16_t)> set) {
  return Text(
      name, [get](Port& p) { return CharToStr(get(p)); },
      [set](Port& p, const std::string& s) { set(p, StrToChar(s)); });
}

constexpr char kCustomBaudRate[] = "CustomBaudRate";
constexpr int32_t kCustomBaudRateDefault = 9600;

struct Group {
  TStoredProp prop;
  std::vector<Key> keys;
};

// Groups in the order they are written and read ("CustomBaudRate" is
// handled apart: only with brCustom).
const std::vector<Group>& Groups() {
  static const std::vector<Group> groups = {
      {spBasic,
       {Text("Port", [](Port& p) { return p.Port(); }, [](Port& p, const std::string& s) { p.SetPort(s); }),
        Text("BaudRate", [](Port& p) { return BaudRateToStr(p.BaudRate()); },
             [](Port& p, const std::string& s) { p.SetBaudRate(StrToBaudRate(s)); }),
        Integer(kCustomBaudRate, [](Port& p) { return p.CustomBaudRate(); },
                [](Port& p, int32_t v) { p.SetCustomBaudRate(v); }),
        Text("StopBits", [](Port& p) { return StopBitsToStr(p.StopBits()); },
             [](Port& p, const std::string& s) { p.SetStopBits(StrToStopBits(s)); }),
        Text("DataBits", [](Port& p) { return DataBitsToStr(p.DataBits()); },
             [](Port& p, const std::string& s) { p.SetDataBits(StrToDataBits(s)); }),
        Text("Parity", [](Port& p) { return ParityToStr(p.Parity().Bits()); },
             [](Port& p, const std::string& s) { p.Parity().SetBits(StrToParity(s)); }),
        Text("FlowControl", [](Port& p) { return FlowControlToStr(p.FlowControl().FlowControl()); },
             [](Port& p, const std::string& s) { p.FlowControl().SetFlowControl(StrToFlowControl(s)); })}},
      {spOthers,
       {Character("EventChar", [](Port& p) { return p.EventChar(); },
                  [](Port& p, char16_t c) { p.SetEventChar(c); }),
        YesNo("DiscardNull", [](Port& p) { return p.DiscardNull(); },
              [](Port& p, bool b) { p.SetDiscardNull(b); })}},
      {spParity,
       {YesNo("Parity.Check", [](Port& p) { return p.Parity().Check(); },
              [](Port& p, bool b) { p.Parity().SetCheck(b); }),
        YesNo("Parity.Replace", [](Port& p) { return p.Parity().Replace(); },
              [](Port& p, bool b) { p.Parity().SetReplace(b); }),
        Character("Parity.ReplaceChar", [](Port& p) { return p.Parity().ReplaceChar(); },
                  [](Port& p, char16_t c) { p.Parity().SetReplaceChar(c); })}},
      {spBuffer,
       {Integer("Buffer.OutputSize", [](Port& p) { return p.Buffer().OutputSize(); },
                [](Port& p, int32_t v) { p.Buffer().SetOutputSize(v); }),
        Integer("Buffer.InputSize", [](Port& p) { return p.Buffer().InputSize(); },
                [](Port& p, int32_t v) { p.Buffer().SetInputSize(v); })}},
      {spTimeouts,
       {Integer("Timeouts.ReadInterval", [](Port& p) { return p.Timeouts().ReadInterval(); },
                [](Port& p, int32_t v) { p.Timeouts().SetReadInterval(v); }),
        Integer("Timeouts.ReadTotalConstant", [](Port& p) { return p.Timeouts().ReadTotalConstant(); },
                [](Port& p, int32_t v) { p.Timeouts().SetReadTotalConstant(v); }),
        Integer("Timeouts.ReadTotalMultiplier",
                [](Port& p) { return p.Timeouts().ReadTotalMultiplier(); },
                [](Port& p, int32_t v) { p.Timeouts().SetReadTotalMultiplier(v); }),
        Integer("Timeouts.WriteTotalConstant",
                [](Port& p) { return p.Timeouts().WriteTotalConstant(); },
                [](Port& p, int32_t v) { p.Timeouts().SetWriteTotalConstant(v); }),
        Integer("Timeouts.WriteTotalMultiplier",
                [](Port& p) { return p.Timeouts().WriteTotalMultiplier(); },
                [](Port& p, int32_t v) { p.Timeouts().SetWriteTotalMultiplier(v); })}},
      {spFlowControl,
       {Text("FlowControl.ControlRTS", [](Port& p) { return RTSToStr(p.FlowControl().ControlRTS()); },
             [](Port& p, const std::string& s) { p.FlowControl().SetControlRTS(StrToRTS(s)); }),
        Text("FlowControl.ControlDTR", [](Port& p) { return DTRToStr(p.FlowControl().ControlDTR()); },
             [](Port& p, const std::string& s) { p.FlowControl().SetControlDTR(StrToDTR(s)); }),
        YesNo("FlowControl.DSRSensitivity", [](Port& p) { return p.FlowControl().DSRSensitivity(); },
              [](Port& p, bool b) { p.FlowControl().SetDSRSensitivity(b); }),
        YesNo("FlowControl.OutCTSFlow", [](Port& p) { return p.FlowControl().OutCTSFlow(); },
              [](Port& p, bool b) { p.FlowControl().SetOutCTSFlow(b); }),
        YesNo("FlowControl.OutDSRFlow", [](Port& p) { return p.FlowControl().OutDSRFlow(); },
              [](Port& p, bool b) { p.FlowControl().SetOutDSRFlow(b); }),
        YesNo("FlowControl.TxContinueOnXoff",
              [](Port& p) { return p.FlowControl().TxContinueOnXoff(); },
              [](Port& p, bool b) { p.FlowControl().SetTxContinueOnXoff(b); }),
        YesNo("FlowControl.XonXoffIn", [](Port& p) { return p.FlowControl().XonXoffIn(); },
              [](Port& p, bool b) { p.FlowControl().SetXonXoffIn(b); }),
        YesNo("FlowControl.XonXoffOut", [](Port& p) { return p.FlowControl().XonXoffOut(); },
              [](Port& p, bool b) { p.FlowControl().SetXonXoffOut(b); }),
        Character("FlowControl.XoffChar", [](Port& p) { return p.FlowControl().XoffChar(); },
                  [](Port& p, char16_t c) { p.FlowControl().SetXoffChar(c); }),
        Character("FlowControl.XonChar", [](Port& p) { return p.FlowControl().XonChar(); },
                  [](Port& p, char16_t c) { p.FlowControl().SetXonChar(c); })}}};
  return groups;
}

bool IsCustomRate(const Key& key) { return std::string(key.name) == kCustomBaudRate; }

// Where the values go to and come from.
struct Sink {
  std::function<void(const char*, const std::string&)> text;
  std::function<void(const char*, int32_t)> number;
};
struct Source {
  // Each gets the current value as the default for a missing key.
  std::function<std::string(const char*, const std::string&)> text;
  std::function<int32_t(const char*, int32_t)> number;
};

void StoreGroups(Port& port, TStoredProps props, const Sink& sink) {
  for (const Group& group : Groups()) {
    if (!(props & StoredBit(group.prop))) continue;
    for (const Key& key : group.keys) {
      if (IsCustomRate(key) && port.BaudRate() != brCustom) continue;
      if (key.IsInteger())
        sink.number(key.name, key.number(port));
      else
        sink.text(key.name, key.text(port));
    }
  }
}

void LoadGroups(Port& port, TStoredProps props, const Source& source) {
  for (const Group& group : Groups()) {
    if (!(props & StoredBit(group.prop))) continue;
    for (const Key& key : group.keys) {
      if (IsCustomRate(key)) {
        if (port.BaudRate() == brCustom)
          key.setNumber(port, source.number(key.name, kCustomBaudRateDefault));
      } else if (key.IsInteger()) {
        key.setNumber(port, source.number(key.name, key.number(port)));
      } else {
        key.setText(port, source.text(key.name, key.text(port)));
      }
    }
  }
}

}  // namespace

// ---- the component -------------------------------------------------------------

void TCustomComPort::StoreIniFile(TIniFile& IniFile) {
  StoreGroups(*this, FStoredProps,
              {[&](const char* k, const std::string& v) { IniFile.WriteString(FName, k, v); },
               [&](const char* k, int32_t v) { IniFile.WriteInteger(FName, k, v); }});
}

void TCustomComPort::StoreRegistry(TRegistry& Reg) {
  StoreGroups(*this, FStoredProps,
              {[&](const char* k, const std::string& v) { Reg.WriteString(k, v); },
               [&](const char* k, int32_t v) { Reg.WriteInteger(k, v); }});
}

void TCustomComPort::LoadIniFile(TIniFile& IniFile) {
  LoadGroups(*this, FStoredProps,
             {[&](const char* k, const std::string& d) { return IniFile.ReadString(FName, k, d); },
              [&](const char* k, int32_t d) { return IniFile.ReadInteger(FName, k, d); }});
}

void TCustomComPort::LoadRegistry(TRegistry& Reg) {
  // No defaults here: a missing text is empty, a missing integer a failure.
  LoadGroups(*this, FStoredProps,
             {[&](const char* k, const std::string&) { return Reg.ReadString(k); },
              [&](const char* k, int32_t) { return Reg.ReadInteger(k); }});
}

void TCustomComPort::StoreSettings(TStoreType StoreType, const std::string& StoreTo) {
  try {
    if (StoreType == stIniFile) {
      TIniFile ini(StoreTo);
      StoreIniFile(ini);
      ini.UpdateFile();
    } else {
      TRegistry reg;
      SetRegistry(reg, StoreTo, FName);
      StoreRegistry(reg);
      reg.CloseKey();
    }
  } catch (...) {
    CallException(CError_StoreFailed);
  }
}

void TCustomComPort::LoadSettings(TStoreType StoreType, const std::string& LoadFrom) {
  bool failed = false;
  BeginUpdate();
  try {
    // A file that cannot be parsed fails here, before any setting changed.
    if (StoreType == stIniFile) {
      TIniFile ini(LoadFrom);
      LoadIniFile(ini);
    } else {
      TRegistry reg;
      SetRegistry(reg, LoadFrom, FName);
      LoadRegistry(reg);
    }
  } catch (...) {
    failed = true;
  }
  // What was loaded before a failure is applied all the same.
  try {
    EndUpdate();
  } catch (...) {
    failed = true;
  }
  if (failed) CallException(CError_LoadFailed);
}

}  // namespace serial
