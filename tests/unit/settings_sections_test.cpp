// SETTING.ini without the file: the exact section texts, the parity and
// flow mapping, values cut to their record fields, and the load rules over
// an in-memory profile.
#include "settings/settings_sections.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

namespace ksvw {
namespace {

// The section text as written: everything up to the first NUL, and a check
// that a second NUL follows it.
std::string Text(const char* buffer, size_t capacity) {
  size_t n = strnlen(buffer, capacity);
  EXPECT_LT(n + 1, capacity);
  if (n + 1 < capacity) {
    EXPECT_EQ(buffer[n + 1], '\0');
  }
  return std::string(buffer, n);
}

TEST(SettingsSectionText, ExactTexts) {
  char out[kSectionTextCapacity];
  ASSERT_TRUE(RemoteSectionText(2, out, sizeof out));
  EXPECT_EQ(Text(out, sizeof out), "METHOD=2\n");
  ASSERT_TRUE(Rb40SectionText("192.0.2.7", "10001", "10002", out, sizeof out));
  EXPECT_EQ(Text(out, sizeof out), "HOST=192.0.2.7\nPORT=10001\nCTPORT=10002\n");
  ASSERT_TRUE(Rb40SectionText("", "", nullptr, out, sizeof out));
  EXPECT_EQ(Text(out, sizeof out), "HOST=\nPORT=\nCTPORT=\n");
  ASSERT_TRUE(SerialSectionText("COM3", "9600", 2, 1, out, sizeof out));
  EXPECT_EQ(Text(out, sizeof out), "COM=COM3\nSPEED=9600\nPARITY=2\nFLOW=1\n");
  ASSERT_TRUE(PathSectionText("C:\\ksvw", true, out, sizeof out));
  EXPECT_EQ(Text(out, sizeof out), "PATH=C:\\ksvw\n");
  ASSERT_TRUE(PathSectionText("C:\\images", false, out, sizeof out));
  EXPECT_EQ(Text(out, sizeof out), "PATH=C:\\images");
}

TEST(SettingsSectionText, TheLongestRecordFitsTheSectionBuffer) {
  std::string host(1024, 'h'), port(31, '1'), ctport(58, '2');
  char out[kSectionTextCapacity];
  ASSERT_TRUE(Rb40SectionText(host.c_str(), port.c_str(), ctport.c_str(), out, sizeof out));
  EXPECT_EQ(Text(out, sizeof out), "HOST=" + host + "\nPORT=" + port + "\nCTPORT=" + ctport + "\n");
}

TEST(SettingsSectionText, ATextThatDoesNotFitIsRefusedAndLeavesZeros) {
  // "PATH=abc\n" is 9 characters: 11 bytes with both NULs.
  char out[11];
  ASSERT_TRUE(PathSectionText("abc", true, out, sizeof out));
  EXPECT_EQ(Text(out, sizeof out), "PATH=abc\n");
  char small[10];
  std::memset(small, 'x', sizeof small);
  EXPECT_FALSE(PathSectionText("abc", true, small, sizeof small));
  for (char c : small) EXPECT_EQ(c, '\0');
  EXPECT_FALSE(RemoteSectionText(0, small, 1));
}

TEST(SettingsCodes, ParityAndFlowIndexToCodeAndBack) {
  // Combo box index 0, 1, 2 is parity none, even, odd: codes 0, 2, 1.
  const int parity[][2] = {{0, 0}, {1, 2}, {2, 1}};
  for (auto [index, code] : parity) {
    EXPECT_EQ(ParityCodeFromIndex(index), code);
    EXPECT_EQ(ParityIndexFromCode(code), index);
  }
  for (int outside : {5, -1}) EXPECT_EQ(ParityCodeFromIndex(outside), 0) << outside;
  EXPECT_EQ(ParityIndexFromCode(9), 0);
  const int flow[][2] = {{0, 0}, {1, 1}, {2, 0}, {-1, 0}};
  for (auto [index, code] : flow) EXPECT_EQ(FlowCodeFromIndex(index), code) << index;
}

TEST(SettingsCodes, ParseDecimalLikeAtoiWithoutOverflow) {
  // clang-format off
  const std::pair<const char*, int32_t> cases[] = {
      {"115200", 115200}, {"  -12x", -12}, {"+7", 7}, {"abc", 0}, {"", 0}, {nullptr, 0},
      {"99999999999999999999", 2147483647}, {"-2147483648", -2147483647 - 1},
      {"-99999999999999999999", -2147483647 - 1}};
  // clang-format on
  for (auto [text, value] : cases) EXPECT_EQ(ParseDecimal(text), value) << (text ? text : "null");
}

TEST(SettingsCodes, CopyCutKeepsTheFieldTerminated) {
  char field[4];
  CopyCut(field, sizeof field, "COM12");
  EXPECT_STREQ(field, "COM");
  CopyCut(field, sizeof field, "CO");
  EXPECT_STREQ(field, "CO");
  CopyCut(field, sizeof field, nullptr);
  EXPECT_STREQ(field, "");
  // A source without a NUL inside the field's length is never read past it.
  const char unterminated[4] = {'a', 'b', 'c', 'd'};
  CopyCut(field, sizeof field, unterminated);
  EXPECT_STREQ(field, "abc");
}

// A profile in memory with the private-profile read rules: a missing key
// gives the fallback, a present one its (possibly empty) text, cut to the
// buffer; integers are read like the API (leading number, 0 for no digits).
class MemoryProfile : public ProfileSource {
 public:
  std::map<std::string, std::string> keys;  // "SECTION/KEY" -> value

  size_t ReadText(const char* section, const char* key, const char* fallback, char* out,
                  size_t capacity) const override {
    auto it = keys.find(std::string(section) + "/" + key);
    std::string value = it != keys.end() ? it->second : (fallback ? fallback : "");
    if (value.size() > capacity - 1) value.resize(capacity - 1);
    std::memcpy(out, value.c_str(), value.size() + 1);
    return value.size();
  }
  int32_t ReadInt(const char* section, const char* key, int32_t fallback) const override {
    auto it = keys.find(std::string(section) + "/" + key);
    if (it == keys.end()) return fallback;
    return ParseDecimal(it->second.c_str());
  }
};

// Every field of a record, as one line.
std::string Fields(const ConnectionSettings& r) {
  return std::to_string(r.size) + " " + std::to_string(r.method) + " " + r.com + " " + r.host +
         " " + r.port + " " + r.ctport + " " + std::to_string(r.speed) + " " +
         std::to_string(r.parity) + " " + std::to_string(r.flow);
}

TEST(LoadConnectionSettings, DefaultsValuesAndMappedCodes) {
  MemoryProfile profile;
  ConnectionSettings record = DefaultConnectionSettings();
  std::strcpy(record.host, "stale");
  LoadConnectionSettings(profile, record);
  EXPECT_EQ(Fields(record), "1396 0 COM1    115200 0 0");

  profile.keys = {{"REMOTE/METHOD", "1"}, {"RB40/HOST", "analyzer.local"},
                  {"RB40/PORT", "10001"}, {"RB40/CTPORT", "10002"},
                  {"SERIAL/COM", "COM4"}, {"SERIAL/SPEED", "38400"},
                  {"SERIAL/PARITY", "1"}, {"SERIAL/FLOW", "2"}};
  LoadConnectionSettings(profile, record);  // method passed through unchanged
  // The stored indices go through the code mapping (SettingsCodes).
  EXPECT_EQ(Fields(record), "1396 1 COM4 analyzer.local 10001 10002 38400 2 0");
}

TEST(LoadConnectionSettings, EmptyValuesLeaveMethodComAndSpeedAlone) {
  MemoryProfile profile;
  profile.keys = {{"REMOTE/METHOD", ""}, {"SERIAL/COM", ""},    {"SERIAL/SPEED", ""},
                  {"RB40/HOST", ""},     {"SERIAL/PARITY", ""}, {"SERIAL/FLOW", ""}};
  ConnectionSettings record = DefaultConnectionSettings();
  record.method = 2, record.speed = 9600, record.parity = 1, record.flow = 1;
  std::strcpy(record.com, "COM7");
  std::strcpy(record.host, "old");
  LoadConnectionSettings(profile, record);
  EXPECT_EQ(Fields(record), "1396 2 COM7    9600 0 0");
}

TEST(LoadConnectionSettings, OverlongValuesAreCutToTheirFields) {
  MemoryProfile profile;
  profile.keys = {{"RB40/HOST", std::string(3000, 'h')},
                  {"RB40/PORT", std::string(100, '1')},
                  {"RB40/CTPORT", std::string(100, '2')},
                  {"SERIAL/COM", "COM" + std::string(500, '9')}};
  ConnectionSettings record = DefaultConnectionSettings();
  record.speed = 0x5EED;
  LoadConnectionSettings(profile, record);
  // The read buffer holds 1024 characters; host keeps all of them. The
  // fields around the texts keep their values.
  EXPECT_EQ(Fields(record), "1396 0 COM" + std::string(256, '9') + " " + std::string(1024, 'h') +
                                " " + std::string(31, '1') + " " + std::string(58, '2') +
                                " 115200 0 0");
}

TEST(CopyConnectionFields, CopiesEverythingButTheSize) {
  ConnectionSettings from = DefaultConnectionSettings();
  from.size = 7, from.method = 2, from.speed = 230400, from.parity = 1, from.flow = 1;
  std::strcpy(from.com, "COM9");
  std::strcpy(from.host, "h");
  std::strcpy(from.port, "1");
  std::strcpy(from.ctport, "2");
  ConnectionSettings to = DefaultConnectionSettings();
  CopyConnectionFields(from, to);
  EXPECT_EQ(Fields(to), "1396 2 COM9 h 1 2 230400 1 1");
}

}  // namespace
}  // namespace ksvw
