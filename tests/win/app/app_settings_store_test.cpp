// The settings store against real INI files through the private-profile
// API: the start-up load, the mapping of the stored indices, values cut to
// their record fields, and a section write replacing the whole section.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "settings/win32/settings_store.h"

namespace ksvw {
namespace {

// A fresh folder per test and per case: the profile API may cache a file it
// has read.
class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override { NewFolder(); }
  void NewFolder() {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    static int serial = 0;
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%sksvw_settings_%lu_%d", temp, GetCurrentProcessId(),
                  ++serial);
    folder_ = name;
    CreateDirectoryA(folder_.c_str(), nullptr);
    ini_ = folder_ + "\\SETTING.ini";
    DeleteFileA(ini_.c_str());
    currentConnectionSettings = DefaultConnectionSettings();
    workingConnectionSettings = DefaultConnectionSettings();
  }
  void TearDown() override {
    DeleteFileA(ini_.c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  void WriteIni(const std::string& text) {
    std::FILE* f = std::fopen(ini_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }
  std::string Read(const char* section, const char* key) {
    char value[2048];
    GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, ini_.c_str());
    return value;
  }

  std::string folder_, ini_;
};

// Every field of the current record, as one line.
std::string Current() {
  const ConnectionSettings& r = currentConnectionSettings;
  return std::to_string(r.size) + " " + std::to_string(r.method) + " " + r.com + " " + r.host +
         " " + r.port + " " + r.ctport + " " + std::to_string(r.speed) + " " +
         std::to_string(r.parity) + " " + std::to_string(r.flow);
}

// The load rules themselves are tested on a profile in memory
// (settings_sections_test); here the real API reads the files. (Sections
// written, read back with the other sections left alone, are GUI test
// `ConnectionDialogTest.ShowsTheStoredSettingsAndOkWritesExactlyThreeSections`.)
TEST_F(SettingsStore, StartupLoadThroughTheProfileApi) {
  const std::string overlongCom = "COM" + std::string(300, '7');
  const struct {
    std::string ini;  // "": no file
    std::string record;
    const char* imageFolder;  // nullptr: the program's folder is written
  } cases[] = {
      {"", "1396 0 COM1    115200 0 0", nullptr},
      {"[EMU]\r\nPATH=C:\\images\r\n[REMOTE]\r\nMETHOD=1\r\n[SERIAL]\r\nCOM=COM3\r\n"
       "SPEED=9600\r\nPARITY=1\r\nFLOW=2\r\n",
       "1396 1 COM3    9600 2 0", "C:\\images"},
      {"[EMU]\r\nPATH=\r\n[SERIAL]\r\nPARITY=2\r\nFLOW=1\r\n", "1396 0 COM1    115200 1 1",
       nullptr},
      // Empty values (not missing ones) keep method, port and speed built in.
      {"[REMOTE]\r\nMETHOD=\r\n[SERIAL]\r\nCOM=\r\nSPEED=\r\nPARITY=\r\nFLOW=\r\n",
       "1396 0 COM1    115200 0 0", nullptr},
      // Overlong values are cut to their record fields.
      {"[RB40]\r\nHOST=" + std::string(1500, 'h') + "\r\nPORT=" + std::string(40, '1') +
           "\r\nCTPORT=" + std::string(80, '2') + "\r\n[SERIAL]\r\nCOM=" + overlongCom +
           "\r\nSPEED=57600\r\n",
       "1396 0 " + overlongCom.substr(0, 259) + " " + std::string(1024, 'h') + " " +
           std::string(31, '1') + " " + std::string(58, '2') + " 57600 0 0",
       nullptr},
  };
  for (const auto& c : cases) {
    TearDown();
    NewFolder();
    if (!c.ini.empty()) WriteIni(c.ini);
    LoadStartupSettings(folder_.c_str());
    EXPECT_EQ(Current(), c.record) << (c.ini.empty() ? "no file" : c.ini.substr(0, 40));
    EXPECT_EQ(Read("EMU", "PATH"), c.imageFolder ? c.imageFolder : folder_);
  }
}

TEST_F(SettingsStore, ASectionWriteReplacesTheWholeSection) {
  WriteIni("[CVT]\r\nPATH=C:\\dt\r\nCH=2\r\n");
  char text[kSectionTextCapacity];
  ASSERT_TRUE(PathSectionText("D:\\captures", false, text, sizeof text));
  ASSERT_TRUE(WriteSettingsSection("CVT", text, ini_.c_str()));
  EXPECT_EQ(Read("CVT", "PATH"), "D:\\captures");
  EXPECT_EQ(Read("CVT", "CH"), "<missing>");
}

}  // namespace
}  // namespace ksvw
