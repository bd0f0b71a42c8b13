// The ini file and its atomic replacement on the system's own file calls,
// in a directory whose name is not ASCII.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

#include "serial/atomic_file.h"
#include "serial/settings_store.h"

using namespace serial;
namespace fs = std::filesystem;

namespace {

std::string Utf8(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

class IniStore : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        Utf8(fs::temp_directory_path()) + "/zuv-ini-Đž-" + std::to_string(std::random_device{}());
    MakeDirectories(dir_);
    file_ = dir_ + "/port.ini";
  }
  void TearDown() override {
    SetFileSyncHook(nullptr);
    SetBeforeRenameHook(nullptr);
    std::error_code ignored;
    fs::remove_all(PathOf(dir_), ignored);
  }
  std::string Contents() {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(file_, text));
    return text;
  }
  int FilesInDir() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(PathOf(dir_))) ++n;
    return n;
  }
  // Stores COM8 over a file that holds the port COM1.
  void StoreOverAnOldFile() {
    TIniFile old(file_);
    old.WriteString("ComPort1", "Port", "COM1");
    old.UpdateFile();
    TIniFile ini(file_);
    ini.WriteString("ComPort1", "Port", "COM8");
    ini.UpdateFile();
  }

  std::string dir_, file_;
};

TEST_F(IniStore, ValuesSurviveARewriteAndOtherLinesStay) {
  WriteFileAtomically(file_, "; kept\n[Other]\nA=1\n");
  TIniFile ini(file_);
  ini.WriteString("ComPort1", "Port", "COM3");
  ini.WriteInteger("ComPort1", "CustomBaudRate", -5);
  ini.WriteString("Other", "A", "Yes ");
  ini.UpdateFile();
  EXPECT_EQ(Contents(), "; kept\n[Other]\nA=Yes \n[ComPort1]\nPort=COM3\nCustomBaudRate=-5\n");
  const TIniFile again(file_);
  EXPECT_EQ(again.ReadString("comport1", "PORT", ""), "COM3");
  EXPECT_EQ(again.ReadInteger("ComPort1", "CustomBaudRate", 0), -5);
  EXPECT_EQ(again.ReadInteger("ComPort1", "Missing", 9600), 9600);
  EXPECT_EQ(again.ReadString("Other", "A", ""), "Yes ");
}

TEST_F(IniStore, AFailedFlushOrACrashBeforeTheRenameKeepsTheOldFile) {
  StoreOverAnOldFile();
  const std::string before = Contents();
  SetFileSyncHook([](int) { return EIO; });
  EXPECT_THROW(StoreOverAnOldFile(), std::runtime_error);
  EXPECT_EQ(Contents(), before);
  EXPECT_EQ(FilesInDir(), 1);  // no temporary file left beside it

  SetFileSyncHook(nullptr);
  std::string tempSeen;
  SetBeforeRenameHook([&](const std::string& temp) {
    tempSeen = temp;
    throw std::runtime_error("crash");
  });
  TIniFile ini(file_);
  ini.WriteString("ComPort1", "Port", "COM9");
  EXPECT_THROW(ini.UpdateFile(), std::runtime_error);
  EXPECT_EQ(Contents(), before);
  EXPECT_EQ(FilesInDir(), 1);
  EXPECT_EQ(tempSeen.rfind(file_, 0),
            0u);  // beside the target, so the rename stays in one directory

  SetBeforeRenameHook(nullptr);
  ini.UpdateFile();
  EXPECT_NE(Contents().find("Port=COM9\n"), std::string::npos);
}

TEST_F(IniStore, AMissingFileIsEmptyAndDirectoriesAreMadeOnDemand) {
  std::string text = "stale";
  EXPECT_FALSE(ReadWholeFile(file_, text));
  EXPECT_EQ(text, "");
  EXPECT_EQ(TIniFile(file_).ReadString("ComPort1", "Port", "COM1"), "COM1");

  const std::string nested = dir_ + "/a/b";
  MakeDirectories(nested);
  MakeDirectories(nested);  // again: nothing to do
  EXPECT_TRUE(fs::is_directory(PathOf(nested)));
  WriteFileAtomically(nested + "/x.ini", "[S]\n");
  EXPECT_THROW(MakeDirectories(nested + "/x.ini"), std::runtime_error);  // a file is in the way
  EXPECT_THROW(WriteFileAtomically(dir_ + "/none/x.ini", ""), std::runtime_error);
}

}  // namespace
