// Windows only: the registry form on the real registry, the port listing
// from HKLM\HARDWARE\DEVICEMAP\SERIALCOMM and the port names CreateFile
// takes. Run in a wine prefix of the test's own: it rewrites SERIALCOMM.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "serial/names.h"
#include "serial/settings_store.h"

using namespace serial;

namespace {

const std::wstring kTestKey =
    L"Software\\zuv-registry-test-" + std::to_wstring(::GetCurrentProcessId());
constexpr const wchar_t* kSerialComm = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

void SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
  ASSERT_EQ(::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

class Registry : public ::testing::Test {
 protected:
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestKey.c_str());
  }
  std::string TestKey() const { return std::string(kTestKey.begin(), kTestKey.end()); }
};

TEST_F(Registry, TextsAndIntegersKeepTheirTypes) {
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(TestKey() + "\\\\Port1\\", true));
    reg.WriteString("Port", "COM3");
    reg.WriteString("Parity.ReplaceChar", "#0");
    reg.WriteString("Name \"quoted\" \\ back", "Đž");
    reg.WriteInteger("CustomBaudRate", -5);
    reg.WriteInteger("Buffer.InputSize", 1024);
  }
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(TestKey() + "\\Port1", false));
  EXPECT_EQ(reg.ReadString("Port"), "COM3");
  EXPECT_EQ(reg.ReadString("Name \"quoted\" \\ back"), "Đž");
  EXPECT_EQ(reg.ReadInteger("CustomBaudRate"), -5);
  EXPECT_EQ(reg.ReadInteger("Buffer.InputSize"), 1024);
  EXPECT_EQ(reg.ReadString("StopBits"), "");  // a missing text is empty
  EXPECT_THROW(reg.ReadInteger("Timeouts.ReadInterval"),
               std::runtime_error);  // a missing integer is not
  EXPECT_THROW(reg.ReadInteger("Port"), std::runtime_error);
  EXPECT_THROW(reg.ReadString("CustomBaudRate"), std::runtime_error);
  reg.CloseKey();
  EXPECT_THROW(reg.WriteString("Port", "COM4"), std::runtime_error);
  EXPECT_FALSE(reg.OpenKey(TestKey() + "\\Absent", false));
  EXPECT_FALSE(reg.HasKey());
}

TEST_F(Registry, ThePathChoosesTheRootAndTheNameIsTheLastKey) {
  TRegistry machine;
  SetRegistry(machine, "hkey_local_machine\\" + TestKey(), "Port1");
  ASSERT_TRUE(machine.HasKey());
  machine.WriteString("Port", "COM1");
  machine.CloseKey();
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kTestKey + L"\\Port1"));

  // A first part that names no root keeps the current user's.
  TRegistry user;
  SetRegistry(user, "Software\\" + TestKey(), "Port2");
  user.CloseKey();
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTestKey + L"\\Port2"));

  TRegistry none;
  SetRegistry(none, "HKEY_CURRENT_USER", "Port3");  // no backslash: no key
  EXPECT_FALSE(none.HasKey());
}

class SerialComm : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSerialComm); }
  void TearDown() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSerialComm); }
};

TEST_F(SerialComm, RegisteredNamesSortedIgnoringCase) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  SetText(key, L"\\Device\\Serial0", L"COM3");
  SetText(key, L"\\Device\\Serial1", L"COM10");
  SetText(key, L"\\Device\\VCP0", L"com1");
  const DWORD notAName = 7;
  ::RegSetValueExW(key, L"\\Device\\Odd", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&notAName),
                   sizeof notAName);
  ::RegCloseKey(key);
  std::vector<std::string> ports{"stale"};
  EnumComPorts(ports);
  EXPECT_EQ(ports, (std::vector<std::string>{"com1", "COM10", "COM3"}));
}

TEST_F(SerialComm, NoKeyLeavesTheListAlone) {
  std::vector<std::string> ports{"COM7"};
  EnumComPorts(ports);
  EXPECT_EQ(ports, std::vector<std::string>{"COM7"});
}

TEST(PortNames, BareNamesOpenInTheDeviceNamespace) {
  EXPECT_EQ(PortPath("COM3"), "\\\\.\\COM3");
  EXPECT_EQ(PortPath("COM10"), "\\\\.\\COM10");
  EXPECT_EQ(PortPath("\\\\.\\COM4"), "\\\\.\\COM4");
  EXPECT_EQ(PortPath("tcp://127.0.0.1:9100"), "tcp://127.0.0.1:9100");
}

}  // namespace
