#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "serial/comport.h"
#include "serial/enum_ports.h"
#include "serial/names.h"

using namespace serial;

TEST(Names, ToStringUsesTheTables) {
  EXPECT_EQ(BaudRateToStr(brCustom), "Custom");
  EXPECT_EQ(BaudRateToStr(br256000), "256000");
  EXPECT_EQ(StopBitsToStr(sbOne5StopBits), "1.5");
  EXPECT_EQ(DataBitsToStr(dbFive), "5");
  EXPECT_EQ(ParityToStr(prSpace), "Space");
  EXPECT_EQ(FlowControlToStr(fcSoftware), "Software");
  EXPECT_EQ(DTRToStr(dtrHandshake), "Handshake");
  EXPECT_EQ(RTSToStr(rtsToggle), "Toggle");
  EXPECT_EQ(BoolToStr(true), "Yes");
  EXPECT_EQ(BoolToStr(false), "No");
}

TEST(Names, FromStringIgnoresCaseAndFallsBackToDefaults) {
  for (int i = 0; i < BaudRateCount; ++i)
    EXPECT_EQ(StrToBaudRate(BaudRateStrings[i]), static_cast<TBaudRate>(i));
  EXPECT_EQ(StrToBaudRate("custom"), brCustom);
  EXPECT_EQ(StrToBaudRate("4800"), br4800);
  EXPECT_EQ(StrToBaudRate(" 9600"), br9600);
  EXPECT_EQ(StrToBaudRate(""), br9600);
  EXPECT_EQ(StrToBaudRate("115200x"), br9600);

  EXPECT_EQ(StrToStopBits("1.5"), sbOne5StopBits);
  EXPECT_EQ(StrToStopBits("1,5"), sbOneStopBit);
  EXPECT_EQ(StrToDataBits("7"), dbSeven);
  EXPECT_EQ(StrToDataBits("9"), dbEight);
  EXPECT_EQ(StrToParity("mARK"), prMark);
  EXPECT_EQ(StrToDTR("enable"), dtrEnable);
  EXPECT_EQ(StrToDTR("toggle"), dtrDisable);
  EXPECT_EQ(StrToRTS("TOGGLE"), rtsToggle);
  EXPECT_EQ(StrToFlowControl("hardware"), fcHardware);
  // The same unknown text falls back differently per table.
  EXPECT_EQ(StrToFlowControl("Xyz"), fcCustom);
  EXPECT_EQ(StrToParity("Xyz"), prNone);

  EXPECT_TRUE(StrToBool("yes"));
  EXPECT_TRUE(StrToBool("YES"));
  EXPECT_FALSE(StrToBool("Y"));
  EXPECT_FALSE(StrToBool("true"));
}

TEST(Names, CharToStrAndBack) {
  EXPECT_EQ(CharToStr(0), "#0");
  EXPECT_EQ(CharToStr(u' '), "#32");
  EXPECT_EQ(CharToStr(17), "#17");
  EXPECT_EQ(CharToStr(u'A'), "A");
  EXPECT_EQ(CharToStr(127), "\x7f");
  EXPECT_EQ(CharToStr(128), "#128");

  EXPECT_EQ(StrToChar(""), 0);
  EXPECT_EQ(StrToChar("#17"), 17);
  EXPECT_EQ(StrToChar("#300"), 44);
  EXPECT_EQ(StrToChar("#x"), 0);
  EXPECT_EQ(StrToChar("#"), u'#');
  EXPECT_EQ(StrToChar("AB"), u'A');

  for (int c = 0; c <= 255; ++c)
    EXPECT_EQ(StrToChar(CharToStr(static_cast<char16_t>(c))), c) << "code " << c;
  EXPECT_EQ(StrToChar(CharToStr(0x141)), 0x41);
}

TEST(Names, ErrorMessagesAndExceptionText) {
  EXPECT_EQ(ComErrorMessage(CError_OpenFailed), "Unable to open com port");
  EXPECT_EQ(ComErrorMessage(CError_ConnChangeProp), "Cannot set property while connected");
  EXPECT_EQ(ComErrorMessage(CError_HasLink), "A component is linked to OnRxBuf event");
  EXPECT_EQ(ComErrorMessage(CError_PortNotOpen), "Port Not Open");
  EXPECT_EQ(ComErrorMessage(0), "");
  EXPECT_EQ(ComErrorMessage(25), "");
  for (int code = 1; code <= 24; ++code) EXPECT_FALSE(ComErrorMessage(code).empty()) << code;
  EXPECT_EQ(static_cast<int>(CEPortNotOpen), CError_PortNotOpen - 1);

  const EComPort withCode(CError_OpenFailed, 2);
  EXPECT_STREQ(withCode.what(), "Unable to open com port (Error: 2)");
  EXPECT_EQ(withCode.Code(), CError_OpenFailed);
  EXPECT_EQ(withCode.WinCode(), 2);
  const EComPort plain = EComPort::CreateNoWinCode(CError_PortNotOpen);
  EXPECT_STREQ(plain.what(), "Port Not Open");
  EXPECT_EQ(plain.WinCode(), -1);
}

class EnumPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zuv-enum-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + root_).c_str()); }
  void MakeDir(const std::string& rel) { ::mkdir((root_ + "/" + rel).c_str(), 0755); }
  void Link(const std::string& target, const std::string& rel) {
    ASSERT_EQ(::symlink(target.c_str(), (root_ + "/" + rel).c_str()), 0) << rel;
  }
  std::string root_;
};

TEST_F(EnumPorts, ListsDevicesWithDriversAndLiveLinksSortedIgnoringCase) {
  MakeDir("class");
  MakeDir("dev");
  MakeDir("links");
  MakeDir("drivers");
  MakeDir("drivers/ftdi_sio");
  MakeDir("drivers/serial8250");
  // A USB adapter, a virtual console without a driver, a phantom legacy port.
  for (const char* tty : {"ttyUSB0", "tty1", "ttyS3"}) MakeDir(std::string("class/") + tty);
  MakeDir("class/ttyUSB0/device");
  Link(root_ + "/drivers/ftdi_sio", "class/ttyUSB0/device/driver");
  MakeDir("class/ttyS3/device");
  Link(root_ + "/drivers/serial8250", "class/ttyS3/device/driver");
  Link("/dev/null", "links/zeta");
  Link("/dev/null", "links/Alpha");
  Link(root_ + "/nowhere", "links/dangling");

  std::vector<std::string> ports{"old"};
  EnumComPortsFrom(root_ + "/class", root_ + "/dev", root_ + "/links", ports);
  EXPECT_EQ(ports, (std::vector<std::string>{"Alpha", "ttyUSB0", "zeta"}));
}

TEST_F(EnumPorts, NamesSortCaseInsensitively) {
  MakeDir("links");
  for (const char* name : {"COM3", "com10", "COM1"}) Link("/dev/null", std::string("links/") + name);
  std::vector<std::string> ports;
  EnumComPortsFrom(root_ + "/none", root_ + "/none", root_ + "/links", ports);
  EXPECT_EQ(ports, (std::vector<std::string>{"COM1", "com10", "COM3"}));
}

TEST_F(EnumPorts, NoSourceAtAllLeavesTheListAlone) {
  std::vector<std::string> ports{"kept"};
  EnumComPortsFrom(root_ + "/none", root_ + "/none", root_ + "/none", ports);
  EXPECT_EQ(ports, std::vector<std::string>{"kept"});
}

TEST_F(EnumPorts, SystemListingIncludesThePortDirectory) {
  MakeDir("links");
  Link("/dev/null", "links/zuv-virtual-port");
  Link(root_ + "/nowhere", "links/zuv-dead-port");
  const char* old = std::getenv("ZUV_PORT_DIR");
  const std::string saved = old ? old : "";
  ::setenv("ZUV_PORT_DIR", (root_ + "/links").c_str(), 1);
  std::vector<std::string> ports;
  EnumComPorts(ports);
  const std::string path = PortPath("zuv-virtual-port");
  if (old)
    ::setenv("ZUV_PORT_DIR", saved.c_str(), 1);
  else
    ::unsetenv("ZUV_PORT_DIR");
  EXPECT_NE(std::find(ports.begin(), ports.end(), "zuv-virtual-port"), ports.end());
  EXPECT_EQ(std::find(ports.begin(), ports.end(), "zuv-dead-port"), ports.end());
  EXPECT_EQ(path, root_ + "/links/zuv-virtual-port");
}
