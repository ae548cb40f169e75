// The simulated analyzer's portable parts: LCD drawing, the capture memory's
// split into transfer sections and the front panel. (A whole download from
// it is tested end to end by tests/cli/sim_download_test.sh.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/analyzer_session.h"
#include "remote/ksvwrmt.h"
#include "sim/analyzer.h"
#include "sim/capture_sections.h"
#include "sim/lcd.h"
#include "testsupport/capture_builder.h"

namespace ksvw::sim {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(SimLcd, ImageIsRowsOfThirtyBytesMsbLeftmost) {
  Lcd lcd;
  lcd.SetPixel(0, 0, true);
  lcd.SetPixel(9, 0, true);
  lcd.SetPixel(239, 63, true);
  lcd.SetPixel(-1, 0, true);  // outside: ignored
  lcd.SetPixel(240, 5, true);
  lcd.SetPixel(3, 64, true);
  const uint8_t* img = lcd.Image();
  EXPECT_EQ(img[0], 0x80);
  EXPECT_EQ(img[1], 0x40);
  EXPECT_EQ(img[1919], 0x01);
  int set = 0;
  for (uint32_t i = 0; i < kScreenBytes; ++i) set += __builtin_popcount(img[i]);
  EXPECT_EQ(set, 3);
  lcd.SetPixel(9, 0, false);
  EXPECT_EQ(img[1], 0x00);
}

TEST(SimLcd, TextDrawsKnownPixels) {
  const struct {
    int x, y;
    const char* text;
    bool inverse;
    std::vector<std::pair<int, uint8_t>> bytes;  // image offset, value
  } cases[] = {
      // 'H': full columns 0 and 4, a bar across row 3, the cell's spacing row 7.
      {0,
       0,
       "H",
       false,
       {{0, 0x88}, {2 * 30, 0x88}, {3 * 30, 0xF8}, {6 * 30, 0x88}, {7 * 30, 0}, {1, 0}}},
      {2, 8, "H", false, {{8 * 30, 0x22}, {11 * 30, 0x3E}}},  // two right, second text line
      {0, 0, "H", true, {{0, 0x74}, {3 * 30, 0x04}, {7 * 30, 0xFC}}},  // dark 6-pixel cell
      {0, 0, "II", false, {{2 * 30, 0x20}, {2 * 30 + 1, 0x80}}},       // six pixels a character
  };
  for (const auto& c : cases) {
    Lcd lcd;
    lcd.Text(c.x, c.y, c.text, c.inverse);
    for (auto [at, value] : c.bytes) EXPECT_EQ(lcd.Image()[at], value) << c.text << " at " << at;
  }
  EXPECT_EQ(Glyph('\x7F'), Glyph('?'));
  EXPECT_EQ(Glyph('\x10'), Glyph('?'));
}

Bytes Assemble(const CaptureMemory& m) {
  Bytes out(m.File().begin(), m.File().begin() + 16);
  for (uint32_t s : {kSectionHead, kSectionDataHeader, kSectionData, kSectionTail}) {
    const uint8_t* p = m.Bytes(s);
    out.insert(out.end(), p, p + m.Span(s).size);
  }
  return out;
}

// The head (settings), the data chunk's header, its records and what
// follows: in order, the whole file.
TEST(SimCapture, SectionsConcatenateToTheFile) {
  const Bytes dinf = build::KnownSizeDinf(build::SettingsPlan{});
  Bytes file = build::CaptureFileBuilder()
                   .Dinf(dinf)
                   .Data(kTagMdcl, build::GenerateTraffic(10, kTagMdcl, 3))
                   .Chunk(MakeTag('X', 'T', 'R', 'A'), {1, 2, 3})
                   .Build();
  CaptureMemory m;
  std::string error;
  ASSERT_TRUE(m.Load(file, error)) << error;
  EXPECT_EQ(m.Span(kSectionHead).size, 8 + dinf.size());
  EXPECT_EQ(m.Span(kSectionDataHeader).size, 8u);
  EXPECT_EQ(m.Span(kSectionData).size, 320u);
  EXPECT_EQ(Assemble(m), file);
  EXPECT_EQ(m.Span(0x8104).size, 0u);
}

// Only the last data chunk is the data; the chunks before it are the head.
TEST(SimCapture, TheLastDataChunkIsTheData) {
  CaptureMemory m;
  std::string error;
  ASSERT_TRUE(m.Load(build::CaptureFileBuilder()
                         .Data(kTagMonc, build::GenerateTraffic(2, kTagMonc, 1))
                         .Data(kTagMonc, build::GenerateTraffic(3, kTagMonc, 2))
                         .Build(),
                     error));
  EXPECT_EQ(m.Span(kSectionHead).size, 8u + 64u);
  EXPECT_EQ(m.Span(kSectionData).size, 96u);
  EXPECT_EQ(m.Span(kSectionTail).size, 0u);
}

TEST(SimCapture, CapturesThatDoNotFitAreRefused) {
  CaptureMemory m;
  std::string error;
  EXPECT_FALSE(m.Load(Bytes(40, 0), error));
  EXPECT_NE(error.find("magic"), std::string::npos);
  EXPECT_FALSE(m.Load(build::CaptureFileBuilder().Dinf(Bytes(100, 0)).Build(), error));
  EXPECT_NE(error.find("data chunk"), std::string::npos);
  Bytes cut =
      build::CaptureFileBuilder().Data(kTagMonc, build::GenerateTraffic(4, kTagMonc, 1)).Build();
  cut.resize(cut.size() - 1);
  EXPECT_FALSE(m.Load(cut, error));
  // Settings before the data larger than one small section.
  EXPECT_FALSE(m.Load(build::CaptureFileBuilder()
                          .Chunk(MakeTag('X', 'T', 'R', 'A'), Bytes(0x10000 - 7, 0))
                          .Data(kTagMonc, {})
                          .Build(),
                      error));
  EXPECT_NE(error.find("65536"), std::string::npos);
  EXPECT_TRUE(m.Load(build::CaptureFileBuilder()
                         .Chunk(MakeTag('X', 'T', 'R', 'A'), Bytes(0x10000 - 8, 0))
                         .Data(kTagMonc, {})
                         .Build(),
                     error))
      << error;
  // A data chunk of one record more than the data section holds.
  Bytes big = build::CaptureFileBuilder().ChunkWithLength(kTagMdcl, 0xC00000 + 32, {}).Build();
  big.resize(big.size() + 0xC00000 + 32);
  EXPECT_FALSE(m.Load(big, error));
  EXPECT_NE(error.find("12582912"), std::string::npos);
  big.resize(big.size() - 32);
  uint32_t exact = 0xC00000;
  std::memcpy(big.data() + 20, &exact, 4);
  EXPECT_TRUE(m.Load(big, error)) << error;
}

class SimPanel : public ::testing::Test {
 protected:
  static CaptureMemory Loaded() {
    CaptureMemory m;
    std::string error;
    EXPECT_TRUE(m.Load(build::GenerateCapture(100, kTagMdcl, 5), error));
    return m;
  }
  uint32_t Press(uint32_t code) { return static_cast<uint32_t>(model.PressKey(code, now)); }

  CaptureMemory memory = Loaded();
  SimIdentity id;
  SimFaults faults;
  SimAnalyzer model{id, faults, memory};
  uint64_t now = 1000;
};

// What the front panel shows after keys pressed from the start.
TEST_F(SimPanel, KeysChangePagesAndLines) {
  using P = SimAnalyzer::Page;
  const struct {
    std::vector<uint32_t> keys;
    P page;
    int line;
    const char* text;
  } cases[] = {
      {{}, P::Status, 0, "KS-9100 XP-RT4QX"},
      {{}, P::Status, 0, "STOP"},
      {{}, P::Status, 1, "CAN  500.0 kbit/s"},
      {{}, P::Status, 2, "LIN  19200 bit/s"},
      {{}, P::Status, 3, "100 frames"},
      {{0x8019}, P::Channels, 7, "KEY T "},                     // T: channel settings
      {{0x8019, 0x8016}, P::Memory, 7, "KEY"},                  // page down
      {{0x8019, 0x8016, 0x8015, 0x8015}, P::Status, 7, "KEY"},  // page up twice
      {{0x0019}, P::Status, 0, "STOP"},                         // no press flag: no press
      {{0xFFFFFFFFu}, P::Status, 7, "KEY SHIFT "},
      {{0xFFFFFFFFu, 0x8085}, P::Status, 7, "KEY SHIFT+5"},
      {{0xFFFFFFFFu, 0x8085}, P::Status, 5, "Input: 5"},
      {{0x8019, 0x8011}, P::Channels, 2, "CAN 1000.0 kbit/s"},          // right: CH1 faster
      {{0x8019, 0x8011, 0x8005}, P::Channels, 2, "CAN  125.0 kbit/s"},  // preset 5
      {{0x8019, 0x8013, 0x8010}, P::Channels, 3, "LIN  10417 bit/s"},   // down to CH2, left
      {{0x8019, 0x8013, 0x8090}, P::Channels, 3, "CH2 CAN  500.0"},     // SHIFT+left: CAN
      {{0x8019, 0x8013, 0xFFFFFFFFu, 0x8010}, P::Channels, 3, "CH2 CAN  500.0"},  // latched
      {{0x8019, 0x8014}, P::Channels, 6, "Settings stored"},
  };
  for (const auto& c : cases) {
    SimAnalyzer m(id, faults, memory);
    for (uint32_t key : c.keys) EXPECT_EQ(m.PressKey(key, now), 0) << key;
    EXPECT_EQ(m.CurrentPage(), c.page) << c.text;
    EXPECT_NE(m.TextLine(c.line).find(c.text), std::string::npos) << m.TextLine(c.line);
  }
  // A key changes the screen; a code without the press flag does not; a
  // code past the key table is refused.
  uint32_t v = model.ScreenVersion();
  Bytes before(model.Screen(), model.Screen() + kScreenBytes);
  Press(0x0019);
  EXPECT_EQ(model.ScreenVersion(), v);
  Press(0x8019);
  EXPECT_NE(model.ScreenVersion(), v);
  EXPECT_NE(Bytes(model.Screen(), model.Screen() + kScreenBytes), before);
  EXPECT_EQ(Press(0x8023), 0x80070057u);
  EXPECT_EQ(Press(0x18019), 0x80070057u);
}

TEST_F(SimPanel, MeasurementSetsTheStatusFlagAndBlocksSections) {
  uint32_t total = 0;
  EXPECT_EQ(model.OpenSection(kSectionData, 0xC00000, &total), 0);
  EXPECT_EQ(total, 3200u);
  Press(0x8021);  // R
  EXPECT_EQ(model.StatusFlags(), 0x100u);
  EXPECT_EQ(model.CurrentPage(), SimAnalyzer::Page::Measure);
  EXPECT_EQ(model.OpenSection(kSectionData, 0xC00000, &total), kErrAnalyzerBusy);
  uint32_t v = model.ScreenVersion();
  model.Advance(now + 1000);  // the frame counter runs
  EXPECT_NE(model.ScreenVersion(), v);
  EXPECT_NE(model.TextLine(2).find("Time 00:01.0"), std::string::npos);
  now += 1000;
  Press(0x8022);  // S
  EXPECT_EQ(model.StatusFlags(), 0u);
  EXPECT_EQ(model.OpenSection(kSectionData, 0xC00000, &total), 0);
  EXPECT_EQ(model.OpenSection(0x8104, 0x10000, &total), kErrInvalidArg);
}

TEST_F(SimPanel, OneHostAtATimeAndFaults) {
  EXPECT_EQ(model.AcceptHost(), 0);
  EXPECT_EQ(model.AcceptHost(), kErrAnalyzerBusy);
  model.ReleaseHost();
  EXPECT_EQ(model.AcceptHost(), 0);
  SimFaults refuse;
  refuse.refuse = kErrNoOptionBoard;
  SimAnalyzer refusing(id, refuse, memory);
  EXPECT_EQ(refusing.AcceptHost(), kErrNoOptionBoard);
  SimFaults silent;
  silent.noAnswer = true;
  SimAnalyzer quiet(id, silent, memory);
  EXPECT_EQ(quiet.AcceptHost(), proto::kIgnoreHello);
}

}  // namespace
}  // namespace ksvw::sim
