#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "serial/comport.h"
#include "serial/enum_ports.h"
#include "serial/names.h"

using namespace serial;

TEST(Names, TextToValueIgnoresCaseAndFallsBackPerTable) {
  for (int i = 0; i < BaudRateCount; ++i)
    EXPECT_EQ(StrToBaudRate(BaudRateToStr(static_cast<TBaudRate>(i))), i);
  EXPECT_EQ(StrToBaudRate("custom"), brCustom);
  EXPECT_EQ(StrToBaudRate(" 4800"), br9600);
  EXPECT_EQ(StrToBaudRate(""), br9600);
  EXPECT_EQ(StopBitsToStr(sbOne5StopBits), "1.5");
  EXPECT_EQ(StrToStopBits("1,5"), sbOneStopBit);
  EXPECT_EQ(StrToDataBits("7"), dbSeven);
  EXPECT_EQ(StrToParity("mARK"), prMark);
  EXPECT_EQ(StrToDTR("toggle"), dtrDisable);
  EXPECT_EQ(StrToRTS("TOGGLE"), rtsToggle);
  EXPECT_EQ(StrToFlowControl("Xyz"), fcCustom);
  EXPECT_EQ(StrToParity("Xyz"), prNone);
  EXPECT_TRUE(StrToBool("yes"));
  EXPECT_FALSE(StrToBool("Y"));
}

TEST(Names, CharactersSurviveTheRoundTrip) {
  EXPECT_EQ(CharToStr(0), "#0");
  EXPECT_EQ(CharToStr(u' '), "#32");
  EXPECT_EQ(CharToStr(u'A'), "A");
  EXPECT_EQ(StrToChar("#300"), 44);
  EXPECT_EQ(StrToChar("#x"), 0);
  EXPECT_EQ(StrToChar("#"), u'#');
  EXPECT_EQ(StrToChar("AB"), u'A');
  EXPECT_EQ(StrToChar("Šta"), u'Š');  // the first character, not its first byte
  EXPECT_EQ(StrToChar("€"), u'€');
  EXPECT_EQ(StrToChar("\xC5"), 0);    // cut short
  EXPECT_EQ(StrToChar("\xE9t"), 0);   // not UTF-8
  EXPECT_EQ(StrToChar(""), 0);
  for (int c = 0; c <= 255; ++c)
    EXPECT_EQ(StrToChar(CharToStr(static_cast<char16_t>(c))), c) << "code " << c;
  EXPECT_EQ(StrToChar(CharToStr(0x141)), 0x41);
}

TEST(Names, ExceptionTextCarriesTheSystemCodeOnlyWhenThereIsOne) {
  const EComPort withCode(CError_OpenFailed, 2);
  EXPECT_STREQ(withCode.what(), "Unable to open com port (Error: 2)");
  EXPECT_EQ(withCode.WinCode(), 2);
  const EComPort plain = EComPort::CreateNoWinCode(CError_PortNotOpen);
  EXPECT_STREQ(plain.what(), "Port Not Open");
  EXPECT_EQ(plain.WinCode(), -1);
  EXPECT_EQ(ComErrorMessage(CError_HasLink), "A component is linked to OnRxBuf event");
  EXPECT_EQ(ComErrorMessage(25), "");
}

class EnumPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zuv-enum-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    for (const char* d : {"class", "dev", "links", "drivers", "drivers/ftdi_sio", "drivers/port"})
      MakeDir(d);
  }
  void TearDown() override { std::system(("rm -rf " + root_).c_str()); }
  void MakeDir(const std::string& rel) { ::mkdir((root_ + "/" + rel).c_str(), 0755); }
  void Link(const std::string& target, const std::string& rel) {
    ASSERT_EQ(::symlink(target.c_str(), (root_ + "/" + rel).c_str()), 0) << rel;
  }
  // A sysfs tty entry; `driver` empty for one without a device.
  void Tty(const std::string& name, const std::string& driver, const char* type = nullptr) {
    MakeDir("class/" + name);
    if (driver.empty()) return;
    MakeDir("class/" + name + "/device");
    Link(root_ + "/drivers/" + driver, "class/" + name + "/device/driver");
    if (type) std::ofstream(root_ + "/class/" + name + "/type") << type << "\n";
  }
  std::vector<std::string> List(std::vector<std::string> ports = {}) {
    EnumComPortsFrom(root_ + "/class", root_ + "/dev", root_ + "/links", ports);
    return ports;
  }
  std::string root_;
};

TEST_F(EnumPorts, RealDevicesAndLiveLinksSortedIgnoringCase) {
  Tty("ttyUSB0", "ftdi_sio");
  Tty("tty1", "");
  Tty("ttyS0", "port", "4");
  Tty("ttyS3", "port", "0");  // registered, no UART behind it
  Link("/dev/null", "links/zeta");
  Link("/dev/null", "links/COM10");
  Link("/dev/null", "links/com2");
  Link(root_ + "/nowhere", "links/dangling");
  EXPECT_EQ(List({"old"}), (std::vector<std::string>{"COM10", "com2", "ttyS0", "ttyUSB0", "zeta"}));
}

TEST_F(EnumPorts, NoSourceAtAllLeavesTheListAlone) {
  std::vector<std::string> ports{"kept"};
  EnumComPortsFrom(root_ + "/none", root_ + "/none", root_ + "/none", ports);
  EXPECT_EQ(ports, std::vector<std::string>{"kept"});
}

TEST_F(EnumPorts, SystemListingIncludesThePortDirectory) {
  Link("/dev/null", "links/zuv-virtual-port");
  Link(root_ + "/nowhere", "links/zuv-dead-port");
  const char* old = std::getenv("ZUV_PORT_DIR");
  const std::string saved = old ? old : "";
  ::setenv("ZUV_PORT_DIR", (root_ + "/links").c_str(), 1);
  std::vector<std::string> ports;
  EnumComPorts(ports);
  const std::string path = PortPath("zuv-virtual-port");
  old ? ::setenv("ZUV_PORT_DIR", saved.c_str(), 1) : ::unsetenv("ZUV_PORT_DIR");
  EXPECT_NE(std::find(ports.begin(), ports.end(), "zuv-virtual-port"), ports.end());
  EXPECT_EQ(std::find(ports.begin(), ports.end(), "zuv-dead-port"), ports.end());
  EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(), [](std::string a, std::string b) {
    for (auto* s : {&a, &b}) std::transform(s->begin(), s->end(), s->begin(), ::tolower);
    return a < b;
  }));
  EXPECT_EQ(path, root_ + "/links/zuv-virtual-port");
}
