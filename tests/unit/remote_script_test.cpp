// ksvw-remote's command line (steps, key sequences with the SHIFT latch,
// links) and its JSON objects.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "keyemu/key_tables.h"
#include "tools/ksvw-remote/report.h"
#include "tools/ksvw-remote/script.h"

namespace ksvw::remote {
namespace {

bool Parse(std::vector<const char*> words, Script& script, std::string& error) {
  words.insert(words.begin(), "ksvw-remote");
  return ParseScript(static_cast<int>(words.size()), words.data(), script, error);
}

std::vector<uint32_t> Presses(const Script& script) {
  std::vector<uint32_t> all;
  for (const Step& step : script.steps)
    all.insert(all.end(), step.presses.begin(), step.presses.end());
  return all;
}

TEST(RemoteScript, KeySequencesSendWhatTheKeyEmulatorSends) {
  const struct {
    std::vector<const char*> words;
    std::vector<uint32_t> presses;
  } cases[] = {
      {{"keys", "5"}, {0x8005}},
      {{"keys", "shift 5 6"}, {0xFFFFFFFF, 0x8085, 0x8006}},  // SHIFT goes with the next key
      {{"keys", "SHIFT,SHIFT 5"}, {0xFFFFFFFF, 0x8005}},      // a second SHIFT lets it go
      {{"keys", "SHIFT*2 Pgdn"}, {0xFFFFFFFF, 0x8016}},
      {{"keys", "SHIFT", "info", "keys", "PGDN"}, {0xFFFFFFFF, 0x8096}},  // latched across steps
      {{"keys", " ENTER,up*2\tDEL "}, {0x8014, 0x8012, 0x8012, 0x801C}},
  };
  for (const auto& c : cases) {
    Script script;
    std::string error;
    ASSERT_TRUE(Parse(c.words, script, error)) << c.words[1] << ": " << error;
    EXPECT_EQ(Presses(script), c.presses) << c.words[1];
  }
  for (int32_t id = keyemu::kFirstKeyId; id < keyemu::kFirstKeyId + keyemu::kKeyCount; ++id)
    EXPECT_EQ(keyemu::KeyIdForPanelName(keyemu::KeyPanelName(id)), id);
}

TEST(RemoteScript, UsageErrorsAreRefused) {
  const std::vector<std::vector<const char*>> cases = {
      {},
      {"keys"},
      {"keys", ""},
      {"keys", "Q"},
      {"keys", "5*0"},
      {"keys", "5*101"},
      {"frob"},
      {"--frob", "info"},
      {"screen", "x.bmp", "--mode", "3"},
      {"wait-idle", "--timeout", "0"},
      {"wait-idle", "--timeout", "1s"},
      {"wait-screen", "--timeout"},
      {"sleep", "0"},
      {"download", "-"},
      {"--json", "screen", "-"},
      {"--lan", "host:0", "info"},
      {"--lan", "host:1:70000", "info"},
      {"--lan", "[::1", "info"},
      {"--serial", "COM0", "info"},
      {"--serial", "COM3:", "info"},
      {"--lan", "a:1", "--serial", "COM1", "info"},
  };
  for (const auto& words : cases) {
    Script script;
    std::string error;
    EXPECT_FALSE(Parse(words, script, error)) << (words.empty() ? "(none)" : words.back());
    EXPECT_FALSE(error.empty());
  }
}

TEST(RemoteScript, LinksAndDeadlines) {
  Script script;
  std::string error;
  ASSERT_TRUE(Parse({"--lan", "[::1]:5000:5001", "expect-screen", "r.bmp", "--timeout", "0.25",
                     "download", "o.DT", "screen", "s.bmp", "--mode", "2"},
                    script, error))
      << error;
  EXPECT_EQ(script.link.host + " " + script.link.port + " " + script.link.ctport, "::1 5000 5001");
  EXPECT_EQ(script.steps[0].milliseconds, 250u);
  EXPECT_EQ(script.steps[1].milliseconds, 600000u);
  EXPECT_EQ(script.steps[2].mode, 2);

  // SETTING.ini's port stays under a --lan without one; --serial keeps parity.
  ConnectionSettings s = DefaultConnectionSettings();
  std::snprintf(s.port, sizeof s.port, "4000");
  s.parity = 2;
  EXPECT_TRUE(ApplyLinkChoice({LinkChoice::Method::Lan, "bench", "", "", "", 0}, s, error));
  EXPECT_EQ(LinkText(s), "LAN bench:4000");
  EXPECT_TRUE(ApplyLinkChoice({LinkChoice::Method::Serial, "", "", "", "COM7", 57600}, s, error));
  EXPECT_EQ(LinkText(s) + " " + std::to_string(s.parity), "COM7, 57600 bit/s 2");
  s = DefaultConnectionSettings();
  EXPECT_FALSE(ApplyLinkChoice({LinkChoice::Method::Lan, "bench", "", "", "", 0}, s, error));
}

TEST(RemoteReport, JsonObjectsStayValid) {
  JsonLine line;
  line.Text("file", "a\"b\\c\n\x01\xE9").Integer("n", -3).Number("ms", 1.23456).Flag("ok", true);
  JsonLine more;
  more.Code("code", static_cast<int32_t>(0x800704C7u))
      .Number("bad", std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(line.Append(more).Finish(),
            "{\"file\":\"a\\\"b\\\\c\\u000a\\u0001\\u00e9\",\"n\":-3,\"ms\":1.235,\"ok\":true,"
            "\"code\":\"0x800704C7\",\"bad\":0.000}");
}

}  // namespace
}  // namespace ksvw::remote
