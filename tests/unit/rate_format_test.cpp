// CAN preset labels, the CAN bit rate from custom timing, and the two rate
// texts of the conversion banner: each rule at its edges, as tables.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "capture/capture_settings.h"

namespace ksvw {
namespace {

// Runs a formatter into a 16-byte buffer followed by guard bytes, and checks
// that the text and its terminator stay inside the 16 bytes.
template <typename Format>
std::string Formatted(Format format, int32_t v) {
  struct {
    char text[16];
    char guard[16];
  } g;
  std::memset(&g, '#', sizeof g);
  EXPECT_EQ(format(v, g.text), g.text);
  EXPECT_EQ(std::string(g.guard, sizeof g.guard), std::string(16, '#')) << v;
  EXPECT_NE(std::memchr(g.text, '\0', sizeof g.text), nullptr) << v;
  return std::string(g.text);
}

struct Case {
  int32_t value;
  const char* text;
};

TEST(FormatRate, EveryRuleAtItsEdges) {
  // clang-format off
  const Case cases[] = {
      {0, "--"}, {1, "0"}, {4, "0"}, {5, "1"}, {96000, "9600"}, {99994, "9999"},
      // Below 100,000 whole bits per second, even when rounding reaches 10000.
      {99995, "10000"}, {99999, "10000"},
      // Two decimals of kilobits, trailing zeros dropped.
      {100000, "10k"}, {100049, "10k"}, {100050, "10.01k"}, {120500, "12.05k"}, {123000, "12.3k"},
      {333333, "33.33k"}, {500000, "50k"}, {625000, "62.5k"}, {999949, "99.99k"},
      // Rounding that carries moves to the next unit.
      {999950, "100k"}, {999999, "100k"}, {1000499, "100k"}, {1000500, "100.1k"},
      {6666666, "666.7k"}, {9999499, "999.9k"}, {9999500, "1M"}, {10000000, "1M"},
      // Above one megabit is not shown.
      {10000001, "--"}, {INT32_MAX, "--"}};
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(Formatted(FormatRate, c.value), c.text) << c.value;
  for (int32_t v : {-1, -5, -99999, -1000000, INT32_MIN}) Formatted(FormatRate, v);
}

TEST(FormatTenths, EveryRuleAtItsEdges) {
  // clang-format off
  const Case cases[] = {
      // Tenths shown only below 10000 and when not zero.
      {0, "--"}, {1, "0.1"}, {10, "1"}, {24005, "2400.5"}, {99990, "9999"}, {99999, "9999.9"},
      // Whole units, truncated.
      {100000, "10000"}, {100009, "10000"}, {999999, "99999"},
      // Kilohertz, one decimal, truncated.
      {1000000, "100k"}, {1000999, "100k"}, {1001000, "100.1k"}, {1234567, "123.4k"},
      {9999999, "999.9k"},
      // Megahertz below 10 with up to three decimals, from 10 with two.
      {10000000, "1M"}, {10009999, "1M"}, {10010000, "1.001M"}, {16000000, "1.6M"},
      {20500000, "2.05M"}, {80000000, "8M"}, {99999999, "9.999M"}, {100000000, "10M"},
      {100099999, "10M"}, {100100000, "10.01M"}, {160000000, "16M"}, {245000000, "24.5M"},
      {999999999, "99.99M"},
      // A hundred megahertz and more keep their magnitude.
      {1000000000, "100M"}, {1234567890, "123.45M"}, {INT32_MAX, "214.74M"}};
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(Formatted(FormatTenths, c.value), c.text) << c.value;
  for (int32_t v : {-1, -15, -99999, -100000, -1000000, INT32_MIN}) Formatted(FormatTenths, v);
}

TEST(CanPresetLabel, EightPresetsAndNoneOtherwise) {
  const char* expected[] = {"33.3k", "50k", "83.3k", "100k", "125k", "250k", "500k", "1M"};
  for (int preset = 1; preset <= 8; ++preset) {
    ASSERT_NE(CanPresetLabel(preset), nullptr) << preset;
    EXPECT_STREQ(CanPresetLabel(preset), expected[preset - 1]);
  }
  for (int preset : {0, 9, 255, -1}) EXPECT_EQ(CanPresetLabel(preset), nullptr) << preset;
}

TEST(ComputeCanBitRate, BaseOverSignedSegmentsPlusSyncAndNeverByZero) {
  struct {
    int32_t base;
    uint8_t pts, pbs1, pbs2, preset;
    int32_t rate;
  } cases[] = {// clang-format off
      {160000000, 5, 6, 4, 0, 10000000},  // 16 MHz / 16 = 1 Mbit/s
      {160000000, 5, 6, 4, 7, 10000000},  // the preset does not change it
      {80000000, 7, 6, 2, 0, 5000000}, {1000, 0, 0, 0, 0, 1000},  // sync segment only
      {1000, 1, 1, 0, 0, 333}, {2000, 1, 1, 0, 0, 666},           // truncated
      // Segments and base are signed: 0x80 is -128.
      {1000, 0x80, 127, 2, 0, 500}, {1000, 0xFF, 1, 1, 0, 500}, {-1000, 1, 1, 0, 0, -333},
      {INT32_MIN, 0, 0, 0, 0, INT32_MIN}, {INT32_MAX, 127, 127, 127, 0, INT32_MAX / 382},
      // A divisor of zero or below gives -1.
      {160000000, 0xFF, 0, 0, 0, -1}, {160000000, 0xFE, 0, 0, 0, -1},
      {160000000, 0x80, 0x80, 0x80, 0, -1}, {INT32_MIN, 0xFE, 0, 0, 0, -1}};
  // clang-format on
  for (const auto& c : cases) {
    uint8_t bytes[kCanChannelSize] = {};
    StoreLE32(bytes, kCanChannelSize);
    bytes[4] = c.preset;
    StoreLE32(bytes + 8, static_cast<uint32_t>(c.base));
    bytes[12] = c.pts, bytes[13] = c.pbs1, bytes[14] = c.pbs2, bytes[15] = 1;
    EXPECT_EQ(ComputeCanBitRate(CanChannelSettings{bytes}), c.rate) << c.base << " " << int{c.pts};
  }
}

}  // namespace
}  // namespace ksvw
