// Settings persistence: ini files and the file-based key store.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "serial/atomic_file.h"
#include "serial/comport.h"
#include "serial/settings_store.h"

using namespace serial;

namespace {

constexpr TStoredProps kAllGroups = 0x3F;

// Every setting as text, to compare components.
std::vector<std::string> Snapshot(TComPort& p) {
  auto& f = p.FlowControl();
  auto& t = p.Timeouts();
  std::vector<int64_t> n = {p.BaudRate(), p.CustomBaudRate(), p.StopBits(), p.DataBits(),
                            p.Parity().Bits(), p.Parity().Check(), p.Parity().Replace(),
                            p.Parity().ReplaceChar(), p.EventChar(), p.DiscardNull(),
                            p.Buffer().InputSize(), p.Buffer().OutputSize(), t.ReadInterval(),
                            t.ReadTotalConstant(), t.ReadTotalMultiplier(), t.WriteTotalConstant(),
                            t.WriteTotalMultiplier(), f.ControlRTS(), f.ControlDTR(),
                            f.DSRSensitivity(), f.OutCTSFlow(), f.OutDSRFlow(),
                            f.TxContinueOnXoff(), f.XonXoffIn(), f.XonXoffOut(), f.XonChar(),
                            f.XoffChar()};
  std::vector<std::string> out{p.Port()};
  for (int64_t v : n) out.push_back(std::to_string(v));
  return out;
}

// Every setting away from its default.
void SetEverything(TComPort& p) {
  p.SetPort("ttyUSB3");
  p.SetBaudRate(brCustom);
  p.SetCustomBaudRate(31250);
  p.SetStopBits(sbTwoStopBits);
  p.SetDataBits(dbSeven);
  p.Parity().SetBits(prEven);
  p.Parity().SetCheck(true);
  p.Parity().SetReplace(true);
  p.Parity().SetReplaceChar(u'?');
  p.SetEventChar(u'\r');
  p.SetDiscardNull(true);
  p.Buffer().SetInputSize(4096);
  p.Buffer().SetOutputSize(2048);
  p.Timeouts().SetReadInterval(5);
  p.Timeouts().SetReadTotalConstant(6);
  p.Timeouts().SetReadTotalMultiplier(7);
  p.Timeouts().SetWriteTotalConstant(8);
  p.Timeouts().SetWriteTotalMultiplier(9);
  p.FlowControl().SetControlRTS(rtsToggle);
  p.FlowControl().SetControlDTR(dtrEnable);
  p.FlowControl().SetDSRSensitivity(true);
  p.FlowControl().SetOutCTSFlow(true);
  p.FlowControl().SetOutDSRFlow(true);
  p.FlowControl().SetTxContinueOnXoff(true);
  p.FlowControl().SetXonXoffIn(true);
  p.FlowControl().SetXonXoffOut(true);
  p.FlowControl().SetXonChar(u'A');
  p.FlowControl().SetXoffChar(u'B');
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

int FilesIn(const std::string& dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
  }
  return n;
}

class Persist : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zuv-persist-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) oldXdg_ = old, hadXdg_ = true;
    ::setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    ini_ = dir_ + "/port.ini";
  }
  void TearDown() override {
    SetBeforeRenameHook(nullptr);
    SetFileSyncHook(nullptr);
    if (hadXdg_) ::setenv("XDG_CONFIG_HOME", oldXdg_.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
    [[maybe_unused]] int rc = std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  std::string Registry(const std::string& root) {
    return dir_ + "/config/zuv-serial/registry/" + root;
  }

  std::string dir_, ini_, oldXdg_;
  bool hadXdg_ = false;
};

TEST_F(Persist, DefaultBasicGroupInIniForm) {
  TComPort port;
  port.StoreSettings(stIniFile, ini_);
  EXPECT_EQ(ReadFile(ini_),
            "[ComPort1]\nPort=COM1\nBaudRate=9600\nStopBits=1\nDataBits=8\nParity=None\n"
            "FlowControl=None\n");
}

TEST_F(Persist, EveryGroupRoundTripsThroughBothForms) {
  TComPort source;
  SetEverything(source);
  source.SetStoredProps(kAllGroups);
  source.StoreSettings(stIniFile, ini_);
  source.StoreSettings(stRegistry, "HKEY_CURRENT_USER\\Software\\Zuv");
  for (TStoreType type : {stIniFile, stRegistry}) {
    TComPort target;
    target.SetStoredProps(kAllGroups);
    target.LoadSettings(type, type == stIniFile ? ini_ : "HKEY_CURRENT_USER\\Software\\Zuv");
    EXPECT_EQ(Snapshot(target), Snapshot(source)) << type;
  }
}

TEST_F(Persist, OnlyTheSelectedGroupsAreWrittenInTableOrder) {
  TComPort port;
  port.SetStoredProps(StoredBit(spTimeouts) | StoredBit(spOthers));
  port.StoreSettings(stIniFile, ini_);
  EXPECT_EQ(ReadFile(ini_),
            "[ComPort1]\nEventChar=#0\nDiscardNull=No\nTimeouts.ReadInterval=-1\n"
            "Timeouts.ReadTotalConstant=0\nTimeouts.ReadTotalMultiplier=0\n"
            "Timeouts.WriteTotalConstant=1000\nTimeouts.WriteTotalMultiplier=100\n");
}

TEST_F(Persist, IniKeepsOtherSectionsAndReplacesValuesInPlace) {
  WriteFile(ini_, "; kept\n[Other]\nA=1\n\n[comport1]\nPort=old\nExtra=x\n");
  TComPort port;
  port.StoreSettings(stIniFile, ini_);
  EXPECT_EQ(ReadFile(ini_),
            "; kept\n[Other]\nA=1\n\n[comport1]\nPort=COM1\nExtra=x\nBaudRate=9600\n"
            "StopBits=1\nDataBits=8\nParity=None\nFlowControl=None\n");
}

TEST_F(Persist, EmptyGroupSelection) {
  TComPort port;
  port.SetStoredProps(0);
  port.StoreSettings(stIniFile, ini_);
  EXPECT_FALSE(Exists(ini_));
  port.StoreSettings(stRegistry, "HKEY_CURRENT_USER\\Software\\Empty");
  EXPECT_TRUE(Exists(Registry("HKEY_CURRENT_USER") + "/Software/Empty/ComPort1"));
  const auto before = Snapshot(port);
  WriteFile(ini_, "[ComPort1]\nPort=COM9\n");
  port.LoadSettings(stIniFile, ini_);
  EXPECT_EQ(Snapshot(port), before);
}

TEST_F(Persist, MissingSectionLeavesSettingsButCustomRate) {
  WriteFile(ini_, "[Someone]\nPort=COM7\n");
  TComPort port;
  port.SetStoredProps(kAllGroups);
  SetEverything(port);
  auto expected = Snapshot(port);
  port.LoadSettings(stIniFile, ini_);
  expected[2] = "9600";  // CustomBaudRate: its own default, not the current value
  EXPECT_EQ(Snapshot(port), expected);
}

TEST_F(Persist, CustomRateAndYesWithTrailingSpace) {
  WriteFile(ini_,
            "[ComPort1]\nBaudRate=Custom\nCustomBaudRate=31250\n"
            "[ComPort1]\nParity.Check=Yes \nParity.Replace=yes\n");
  TComPort port;
  port.SetStoredProps(StoredBit(spBasic) | StoredBit(spParity));
  port.Parity().SetCheck(true);
  port.LoadSettings(stIniFile, ini_);
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 31250);
  EXPECT_FALSE(port.Parity().Check());
  EXPECT_TRUE(port.Parity().Replace());
}

TEST_F(Persist, CorruptFilesFailToLoadAndChangeNothing) {
  TComPort port;
  port.SetStoredProps(kAllGroups);
  const auto before = Snapshot(port);
  WriteFile(ini_, "[ComPort1]\nPort=COM5\nthis line is no setting\n");
  const Raised failed{CError_LoadFailed, -1, "Failed to load settings"};
  EXPECT_EQ(RaisedBy([&] { port.LoadSettings(stIniFile, ini_); }), failed);
  WriteFile(ini_, "[ComPort1\nPort=COM5\n");
  EXPECT_EQ(RaisedBy([&] { port.LoadSettings(stIniFile, ini_); }), failed);
  const std::string key = Registry("HKEY_CURRENT_USER") + "/Bad/ComPort1";
  MakeDirectories(key);
  WriteFile(key + "/values", "\"Port\"=\"COM5\"\n\"BaudRate\"=dword:zz\n");
  EXPECT_EQ(RaisedBy([&] { port.LoadSettings(stRegistry, "HKEY_CURRENT_USER\\Bad"); }), failed);
  WriteFile(key + "/values", "\"Port\"=\"COM5\n");
  EXPECT_EQ(RaisedBy([&] { port.LoadSettings(stRegistry, "HKEY_CURRENT_USER\\Bad"); }), failed);
  EXPECT_EQ(Snapshot(port), before);
}

TEST_F(Persist, StoreInterruptedBeforeTheRenameKeepsTheOldFile) {
  TComPort port;
  port.StoreSettings(stIniFile, ini_);
  const std::string old = ReadFile(ini_);
  port.SetPort("COM8");
  SetBeforeRenameHook([](const std::string&) { throw std::runtime_error("crash"); });
  EXPECT_EQ(RaisedBy([&] { port.StoreSettings(stIniFile, ini_); }),
            (Raised{CError_StoreFailed, -1, "Failed to store settings"}));
  EXPECT_EQ(ReadFile(ini_), old);
  EXPECT_EQ(FilesIn(dir_), 1);  // no temporary file left beside it
  SetBeforeRenameHook(nullptr);
  port.StoreSettings(stIniFile, ini_);
  EXPECT_NE(ReadFile(ini_).find("Port=COM8\n"), std::string::npos);
}

// What a descriptor's file holds, read without moving its offset.
std::string ContentsOf(int fd) {
  std::string out(4096, '\0');
  const ssize_t n = ::pread(fd, out.data(), out.size(), 0);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

TEST_F(Persist, NewContentsReachTheDiskBeforeTheRename) {
  std::vector<std::string> steps;
  std::string synced;
  SetFileSyncHook([&](int fd) {
    steps.push_back("sync");
    synced = ContentsOf(fd);
    return ::fsync(fd) == 0 ? 0 : errno;
  });
  SetBeforeRenameHook([&](const std::string&) { steps.push_back("rename"); });
  TComPort port;
  port.SetPort("COM8");
  port.StoreSettings(stIniFile, ini_);
  EXPECT_EQ(steps, (std::vector<std::string>{"sync", "rename"}));
  EXPECT_EQ(synced, ReadFile(ini_));
}

TEST_F(Persist, StoreWhoseFlushFailsKeepsTheOldFile) {
  TComPort port;
  port.StoreSettings(stIniFile, ini_);
  const std::string old = ReadFile(ini_);
  port.SetPort("COM8");
  SetFileSyncHook([](int) { return EIO; });
  EXPECT_EQ(RaisedBy([&] { port.StoreSettings(stIniFile, ini_); }),
            (Raised{CError_StoreFailed, -1, "Failed to store settings"}));
  EXPECT_EQ(ReadFile(ini_), old);
  EXPECT_EQ(FilesIn(dir_), 1);
}

TEST_F(Persist, RegistryRootsAndLayout) {
  TComPort port;
  port.SetName("Port1");
  port.StoreSettings(stRegistry, "HKEY_LOCAL_MACHINE\\Software\\Test");
  EXPECT_EQ(ReadFile(Registry("HKEY_LOCAL_MACHINE") + "/Software/Test/Port1/values"),
            "\"Port\"=\"COM1\"\n\"BaudRate\"=\"9600\"\n\"StopBits\"=\"1\"\n\"DataBits\"=\"8\"\n"
            "\"Parity\"=\"None\"\n\"FlowControl\"=\"None\"\n");
  port.StoreSettings(stRegistry, "Software\\Test");
  EXPECT_TRUE(Exists(Registry("HKEY_CURRENT_USER") + "/Test/Port1/values"));
  port.StoreSettings(stRegistry, "hkey_current_user\\");
  EXPECT_TRUE(Exists(Registry("HKEY_CURRENT_USER") + "/Port1/values"));
  // No backslash: no key, so the store fails.
  EXPECT_EQ(RaisedBy([&] { port.StoreSettings(stRegistry, "HKEY_CURRENT_USER"); }).code,
            CError_StoreFailed);
}

TEST_F(Persist, RegistryIntegersAreTypedAndTextsDefaultToEmpty) {
  TComPort port;
  port.SetStoredProps(StoredBit(spBasic) | StoredBit(spBuffer));
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(-5);
  port.StoreSettings(stRegistry, "HKEY_CURRENT_USER\\T");
  const std::string values = Registry("HKEY_CURRENT_USER") + "/T/ComPort1/values";
  EXPECT_NE(ReadFile(values).find("\"CustomBaudRate\"=dword:fffffffb\n"), std::string::npos);
  EXPECT_NE(ReadFile(values).find("\"Buffer.InputSize\"=dword:00000400\n"), std::string::npos);
  TComPort other;
  other.SetStoredProps(StoredBit(spBasic) | StoredBit(spBuffer));
  other.LoadSettings(stRegistry, "HKEY_CURRENT_USER\\T");
  EXPECT_EQ(other.CustomBaudRate(), -5);
  // A text missing reads as empty: Port empty, the others their defaults.
  WriteFile(values, "\"BaudRate\"=\"19200\"\n\"Buffer.OutputSize\"=dword:00000800\n"
                    "\"Buffer.InputSize\"=dword:00000100\n");
  other.LoadSettings(stRegistry, "HKEY_CURRENT_USER\\T");
  EXPECT_EQ(other.Port(), "");
  EXPECT_EQ(other.BaudRate(), br19200);
  EXPECT_EQ(other.Buffer().InputSize(), 256);
  // An integer missing fails the load; what came before it stays loaded.
  WriteFile(values, "\"Port\"=\"COM4\"\n\"BaudRate\"=\"Custom\"\n");
  EXPECT_EQ(RaisedBy([&] { other.LoadSettings(stRegistry, "HKEY_CURRENT_USER\\T"); }).code,
            CError_LoadFailed);
  EXPECT_EQ(other.Port(), "COM4");
  EXPECT_EQ(other.BaudRate(), brCustom);
}

TEST_F(Persist, RegistryNamesAndValuesKeepTheirBackslashesAndQuotes) {
  const std::vector<std::pair<std::string, std::string>> values = {
      {"Port", "\\\\.\\COM3"}, {"a\\b", "ends in a backslash\\"}, {"q\"\\", "\\\"x\"\\\\"}};
  TRegistry out;
  ASSERT_TRUE(out.OpenKey("T\\Key", true));
  for (const auto& [name, value] : values) out.WriteString(name, value);
  out.WriteInteger("n\\", 7);
  out.CloseKey();
  TRegistry in;
  ASSERT_TRUE(in.OpenKey("T\\Key", false));
  for (const auto& [name, value] : values) EXPECT_EQ(in.ReadString(name), value) << name;
  EXPECT_EQ(in.ReadInteger("n\\"), 7);

  // And through the component: a device path in the platform's form.
  TComPort port;
  port.SetPort("\\\\.\\COM3");
  port.StoreSettings(stRegistry, "HKEY_CURRENT_USER\\T");
  TComPort loaded;
  loaded.LoadSettings(stRegistry, "HKEY_CURRENT_USER\\T");
  EXPECT_EQ(loaded.Port(), "\\\\.\\COM3");
}

TEST_F(Persist, UnsafeNamesAndValuesAreRefused) {
  TComPort port;
  EXPECT_EQ(RaisedBy([&] { port.StoreSettings(stRegistry, "HKEY_CURRENT_USER\\..\\..\\x"); }).code,
            CError_StoreFailed);
  EXPECT_EQ(FilesIn(dir_ + "/config/zuv-serial/registry"), 0);
  port.SetPort("COM1\nInjected=1");
  EXPECT_EQ(RaisedBy([&] { port.StoreSettings(stIniFile, ini_); }).code, CError_StoreFailed);
  EXPECT_FALSE(Exists(ini_));
  port.SetPort("COM1");
  port.SetName("a]b");
  EXPECT_EQ(RaisedBy([&] { port.StoreSettings(stIniFile, ini_); }).code, CError_StoreFailed);
}

TEST_F(Persist, FailuresGoToTheHandlerWhenInstalled) {
  TComPort port;
  std::vector<TComExceptions> kinds;
  port.OnException = [&](TCustomComPort*, TComExceptions k, const std::string&, int64_t,
                         const std::string&) { kinds.push_back(k); };
  WriteFile(ini_, "garbage\n");
  port.LoadSettings(stIniFile, ini_);
  port.StoreSettings(stIniFile, dir_ + "/missing-dir/port.ini");
  EXPECT_EQ(kinds, (std::vector<TComExceptions>{CE_LoadFailed, CE_StoreFailed}));
}

}  // namespace
