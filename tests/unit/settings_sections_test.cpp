// SETTING.ini without the file: the exact section texts, the parity and
// flow mapping, values cut to their record fields, and the load rules over
// an in-memory profile.
#include "settings/settings_sections.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ksvw {
namespace {

// Section writers bound to their values, with the buffer each is given and
// the text it must write (empty: refused, the buffer left all zeros).
TEST(SettingsSectionText, TextsAndTheBuffersTheyNeed) {
  using Write = std::function<bool(char*, size_t)>;
  const std::string h(1024, 'h'), p(31, '1'), t(58, '2');
  const struct {
    Write write;
    size_t capacity;
    std::string text;
  } cases[] = {
      {[](char* o, size_t n) { return RemoteSectionText(2, o, n); }, 64, "METHOD=2\n"},
      {[](char* o, size_t n) { return Rb40SectionText("192.0.2.7", "10001", "10002", o, n); }, 64,
       "HOST=192.0.2.7\nPORT=10001\nCTPORT=10002\n"},
      {[](char* o, size_t n) { return Rb40SectionText("", "", nullptr, o, n); }, 64,
       "HOST=\nPORT=\nCTPORT=\n"},
      {[](char* o, size_t n) { return SerialSectionText("COM3", "9600", 2, 1, o, n); }, 64,
       "COM=COM3\nSPEED=9600\nPARITY=2\nFLOW=1\n"},
      {[](char* o, size_t n) { return PathSectionText("C:\\images", false, o, n); }, 64,
       "PATH=C:\\images"},
      // "PATH=abc\n" is 9 characters: 11 bytes with both NULs.
      {[](char* o, size_t n) { return PathSectionText("abc", true, o, n); }, 11, "PATH=abc\n"},
      {[](char* o, size_t n) { return DbcSectionText("a.dbc", "", o, n); }, 64,
       "CH1=a.dbc\nCH2=\n"},
      {[](char* o, size_t n) { return PathSectionText("abc", true, o, n); }, 10, ""},
      {[](char* o, size_t n) { return RemoteSectionText(0, o, n); }, 2, ""},
      // The longest record fits the section buffer.
      {[&](char* o, size_t n) { return Rb40SectionText(h.c_str(), p.c_str(), t.c_str(), o, n); },
       kSectionTextCapacity, "HOST=" + h + "\nPORT=" + p + "\nCTPORT=" + t + "\n"},
  };
  for (const auto& c : cases) {
    std::vector<char> out(c.capacity, 'x');
    EXPECT_EQ(c.write(out.data(), out.size()), !c.text.empty()) << c.text;
    // The text, its NUL and a second NUL; zeros after them.
    std::vector<char> want(c.capacity, '\0');
    std::copy(c.text.begin(), c.text.end(), want.begin());
    EXPECT_EQ(out, want) << c.text;
  }
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
  // The last source has no NUL inside the field's length: it is never read past it.
  const char unterminated[4] = {'a', 'b', 'c', 'd'};
  const std::pair<const char*, const char*> cases[] = {
      {"COM12", "COM"}, {"CO", "CO"}, {nullptr, ""}, {unterminated, "abc"}};
  for (auto [text, cut] : cases) {
    char field[4];
    CopyCut(field, sizeof field, text);
    EXPECT_STREQ(field, cut);
  }
}

// What the connection page shows for stored texts it may not understand:
// as "port speed", a '!' after each one shown as the default instead.
TEST(ConnectionPage, StoredSerialTextsShownOrReplacedByTheDefault) {
  const struct {
    const char* com;
    const char* speed;  // SERIAL/SPEED (null: no key, the record's 9600)
    const char* shown;
  } cases[] = {{"COM3", "19200", "3 19200"},       {"com12", "250000", "12 250000"},
               {"COM256", nullptr, "256 9600"},    {"COM257", "", "1! 9600"},
               {"COM0", "abc", "1! 115200!"},      {"LPT5", "12abc", "1! 115200!"},
               {"\\\\.\\COM3", "0", "1! 115200!"}, {"COM03", "+9600", "1! 115200!"},
               {"COM", "-5", "1! 115200!"}};
  for (const auto& c : cases) {
    const ShownSerial s = ShowSerialSettings(c.com, c.speed, 9600);
    EXPECT_EQ(std::to_string(s.port) + (s.portUnderstood ? " " : "! ") + std::to_string(s.speed) +
                  (s.speedUnderstood ? "" : "!"),
              c.shown)
        << c.com << " " << (c.speed ? c.speed : "null");
  }
}

TEST(ConnectionPage, LanFieldsOkTakes) {
  using C = LanFieldsCheck;
  const struct {
    const char *host, *port, *ctport;
    C check;
  } cases[] = {{"analyzer", "4001", "", C::Ok},
               {"10.0.0.2", "65535", "1", C::Ok},
               {"", "4001", "", C::NoHost},
               {"  \t ", "4001", "", C::NoHost},
               {"a", "", "", C::BadPort},
               {"a", "0", "", C::BadPort},
               {"a", "65536", "", C::BadPort},
               {"a", "40x1", "", C::BadPort},
               {"a", "4001", "70000", C::BadControlPort},
               {"a", "4001", " 1", C::BadControlPort}};
  for (const auto& c : cases)
    EXPECT_EQ(CheckLanFields(c.host, c.port, c.ctport), c.check)
        << c.host << "|" << c.port << "|" << c.ctport;
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

// Each profile is read over the same record of earlier values, whose size
// field (7) both the load and the copy into a fresh record leave alone.
TEST(LoadConnectionSettings, ProfilesOverAnEarlierRecord) {
  const struct {
    const char* what;
    std::vector<std::string> keys;  // "SECTION/KEY=value"
    std::string fields;
  } cases[] = {
      {"no keys: the fallbacks", {}, "7 0 COM1    115200 0 0"},
      // Method is passed through unchanged; the stored indices go through
      // the code mapping.
      {"every key",
       {"REMOTE/METHOD=1", "RB40/HOST=analyzer.local", "RB40/PORT=10001", "RB40/CTPORT=10002",
        "SERIAL/COM=COM4", "SERIAL/SPEED=38400", "SERIAL/PARITY=1", "SERIAL/FLOW=2"},
       "7 1 COM4 analyzer.local 10001 10002 38400 2 0"},
      {"empty values leave method, COM and speed alone",
       {"REMOTE/METHOD=", "SERIAL/COM=", "SERIAL/SPEED=", "RB40/HOST=", "SERIAL/PARITY=",
        "SERIAL/FLOW="},
       "7 2 COM7    9600 0 0"},
      // The read buffer holds 1024 characters; host keeps all of them.
      {"overlong values are cut to their fields",
       {"RB40/HOST=" + std::string(3000, 'h'), "RB40/PORT=" + std::string(100, '1'),
        "RB40/CTPORT=" + std::string(100, '2'), "SERIAL/COM=COM" + std::string(500, '9'),
        "SERIAL/FLOW=1"},
       "7 0 COM" + std::string(256, '9') + " " + std::string(1024, 'h') + " " +
           std::string(31, '1') + " " + std::string(58, '2') + " 115200 0 1"},
  };
  for (const auto& c : cases) {
    MemoryProfile profile;
    for (const std::string& k : c.keys)
      profile.keys[k.substr(0, k.find('='))] = k.substr(k.find('=') + 1);
    ConnectionSettings record = DefaultConnectionSettings();
    record.method = 2, record.speed = 9600, record.parity = 1, record.flow = 1;
    std::strcpy(record.com, "COM7");
    std::strcpy(record.host, "old");
    std::strcpy(record.port, "1");
    std::strcpy(record.ctport, "2");
    record.size = 7;
    LoadConnectionSettings(profile, record);
    EXPECT_EQ(Fields(record), c.fields) << c.what;
    ConnectionSettings copy = DefaultConnectionSettings();
    CopyConnectionFields(record, copy);
    EXPECT_EQ(Fields(copy), "1396" + c.fields.substr(1)) << c.what;
  }
}

}  // namespace
}  // namespace ksvw
