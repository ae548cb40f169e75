// The settings store against real INI files through the private-profile
// API: the start-up load, the mapping of the stored indices, values cut to
// their record fields, and whole-section writes read back key by key.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "settings/win32/settings_store.h"

namespace ksvw {
namespace {

// A fresh folder per test: the profile API may cache a file it has read.
class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override {
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

TEST_F(SettingsStore, MissingFileGivesDefaultsAndWritesTheImageFolder) {
  LoadStartupSettings(folder_.c_str());
  EXPECT_EQ(std::string(SettingsFilePath), ini_);
  EXPECT_EQ(GetFileAttributesA(ini_.c_str()) != INVALID_FILE_ATTRIBUTES, true);
  EXPECT_EQ(Read("EMU", "PATH"), folder_);
  const ConnectionSettings& s = currentConnectionSettings;
  EXPECT_EQ(s.size, 1396u);
  EXPECT_EQ(s.method, 0);
  EXPECT_STREQ(s.com, "COM1");
  EXPECT_EQ(s.speed, 115200);
  EXPECT_EQ(s.parity, 0);
  EXPECT_EQ(s.flow, 0);
  EXPECT_STREQ(s.host, "");
  EXPECT_STREQ(s.port, "");
  EXPECT_STREQ(s.ctport, "");
}

TEST_F(SettingsStore, StoredIndicesBecomeRecordCodes) {
  WriteIni(
      "[EMU]\r\nPATH=C:\\images\r\n[REMOTE]\r\nMETHOD=1\r\n[SERIAL]\r\nCOM=COM3\r\n"
      "SPEED=9600\r\nPARITY=1\r\nFLOW=2\r\n");
  LoadStartupSettings(folder_.c_str());
  EXPECT_EQ(currentConnectionSettings.method, 1);
  EXPECT_STREQ(currentConnectionSettings.com, "COM3");
  EXPECT_EQ(currentConnectionSettings.speed, 9600);
  EXPECT_EQ(currentConnectionSettings.parity, 2);
  EXPECT_EQ(currentConnectionSettings.flow, 0);
  // The image folder that was there stays.
  EXPECT_EQ(Read("EMU", "PATH"), "C:\\images");
}

TEST_F(SettingsStore, ParityTwoIsCodeOneAndFiveIsZeroFlowOneIsOne) {
  WriteIni("[SERIAL]\r\nPARITY=2\r\nFLOW=1\r\n");
  LoadStartupSettings(folder_.c_str());
  EXPECT_EQ(currentConnectionSettings.parity, 1);
  EXPECT_EQ(currentConnectionSettings.flow, 1);
}

TEST_F(SettingsStore, ParityFiveIsCodeZero) {
  WriteIni("[SERIAL]\r\nPARITY=5\r\n");
  currentConnectionSettings.parity = 2;
  LoadStartupSettings(folder_.c_str());
  EXPECT_EQ(currentConnectionSettings.parity, 0);
}

TEST_F(SettingsStore, EmptyImageFolderIsRewritten) {
  WriteIni("[EMU]\r\nPATH=\r\n[SERIAL]\r\nCOM=COM2\r\n");
  LoadStartupSettings(folder_.c_str());
  EXPECT_EQ(Read("EMU", "PATH"), folder_);
  EXPECT_STREQ(currentConnectionSettings.com, "COM2");
}

TEST_F(SettingsStore, EmptyMethodComAndSpeedKeepTheBuiltInValues) {
  WriteIni("[REMOTE]\r\nMETHOD=\r\n[SERIAL]\r\nCOM=\r\nSPEED=\r\nPARITY=\r\nFLOW=\r\n");
  LoadStartupSettings(folder_.c_str());
  EXPECT_EQ(currentConnectionSettings.method, 0);
  EXPECT_STREQ(currentConnectionSettings.com, "COM1");
  EXPECT_EQ(currentConnectionSettings.speed, 115200);
  EXPECT_EQ(currentConnectionSettings.parity, 0);
  EXPECT_EQ(currentConnectionSettings.flow, 0);
}

TEST_F(SettingsStore, OverlongValuesAreCutToTheirFields) {
  std::string host(1500, 'h'), port(40, '1'), ctport(80, '2'), com = "COM" + std::string(300, '7');
  WriteIni("[RB40]\r\nHOST=" + host + "\r\nPORT=" + port + "\r\nCTPORT=" + ctport +
           "\r\n[SERIAL]\r\nCOM=" + com + "\r\nSPEED=57600\r\n");
  LoadStartupSettings(folder_.c_str());
  const ConnectionSettings& s = currentConnectionSettings;
  EXPECT_EQ(std::string(s.host), std::string(1024, 'h'));
  EXPECT_EQ(std::string(s.port), std::string(31, '1'));
  EXPECT_EQ(std::string(s.ctport), std::string(58, '2'));
  EXPECT_EQ(std::string(s.com), com.substr(0, 259));
  EXPECT_EQ(s.speed, 57600);
  EXPECT_EQ(s.size, 1396u);
}

TEST_F(SettingsStore, SectionWritesReadBackKeyByKeyEvenWithEmptyValues) {
  char text[kSectionTextCapacity];
  ASSERT_TRUE(Rb40SectionText("", "10001", "", text, sizeof text));
  ASSERT_TRUE(WriteSettingsSection("RB40", text, ini_.c_str()));
  ASSERT_TRUE(SerialSectionText("COM4", "38400", 2, 1, text, sizeof text));
  ASSERT_TRUE(WriteSettingsSection("SERIAL", text, ini_.c_str()));
  ASSERT_TRUE(RemoteSectionText(2, text, sizeof text));
  ASSERT_TRUE(WriteSettingsSection("REMOTE", text, ini_.c_str()));
  EXPECT_EQ(Read("RB40", "HOST"), "");
  EXPECT_EQ(Read("RB40", "PORT"), "10001");
  EXPECT_EQ(Read("RB40", "CTPORT"), "");
  EXPECT_EQ(Read("SERIAL", "COM"), "COM4");
  EXPECT_EQ(Read("SERIAL", "SPEED"), "38400");
  EXPECT_EQ(Read("SERIAL", "PARITY"), "2");
  EXPECT_EQ(Read("SERIAL", "FLOW"), "1");
  EXPECT_EQ(Read("REMOTE", "METHOD"), "2");

  LoadStartupSettings(folder_.c_str());
  EXPECT_EQ(currentConnectionSettings.method, 2);
  EXPECT_STREQ(currentConnectionSettings.port, "10001");
  EXPECT_EQ(currentConnectionSettings.parity, 1);
  EXPECT_EQ(currentConnectionSettings.flow, 1);
}

TEST_F(SettingsStore, ASectionWriteReplacesTheWholeSection) {
  WriteIni("[SERIAL]\r\nCOM=COM9\r\nOLDKEY=1\r\n[CVT]\r\nPATH=C:\\dt\r\nCH=2\r\n");
  char text[kSectionTextCapacity];
  ASSERT_TRUE(PathSectionText("D:\\captures", false, text, sizeof text));
  ASSERT_TRUE(WriteSettingsSection("CVT", text, ini_.c_str()));
  EXPECT_EQ(Read("CVT", "PATH"), "D:\\captures");
  EXPECT_EQ(Read("CVT", "CH"), "<missing>");
  // Other sections are untouched.
  EXPECT_EQ(Read("SERIAL", "COM"), "COM9");
  EXPECT_EQ(Read("SERIAL", "OLDKEY"), "1");
}

TEST(SettingsPaths, JoinAndModuleFolder) {
  char out[16];
  EXPECT_TRUE(JoinPath("C:\\a", "b.ini", out, sizeof out));
  EXPECT_STREQ(out, "C:\\a\\b.ini");
  EXPECT_TRUE(JoinPath("C:\\", "b.ini", out, sizeof out));
  EXPECT_STREQ(out, "C:\\b.ini");
  EXPECT_FALSE(JoinPath("C:\\folder", "name.ini", out, sizeof out));
  char folder[MAX_PATH], module[MAX_PATH];
  ASSERT_TRUE(ModuleFolder(nullptr, folder, sizeof folder));
  GetModuleFileNameA(nullptr, module, sizeof module);
  EXPECT_EQ(std::string(module).rfind(std::string(folder) + "\\", 0), 0u);
  EXPECT_EQ(std::strchr(module + std::strlen(folder) + 1, '\\'), nullptr);
  EXPECT_FALSE(ModuleFolder(nullptr, folder, 3));
}

}  // namespace
}  // namespace ksvw
