// CAN preset labels, the CAN bit rate from custom timing, and the two rate
// texts of the conversion banner: every rule and the values at each rule's
// edges.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "capture/capture_settings.h"

namespace ksvw {
namespace {

// Runs a formatter into a 16-byte buffer followed by guard bytes, and checks
// that the text and its terminator stay inside the 16 bytes.
struct Guarded {
  char text[16];
  char guard[16];
};

template <typename Format>
std::string Run(Format format, int32_t v) {
  Guarded g;
  std::memset(&g, '#', sizeof g);
  char* out = format(v, g.text);
  EXPECT_EQ(out, g.text);
  EXPECT_EQ(std::string(g.guard, sizeof g.guard), std::string(16, '#')) << v;
  EXPECT_NE(std::memchr(g.text, '\0', sizeof g.text), nullptr) << v;
  return std::string(g.text);
}

std::string Rate(int32_t v) {
  return Run(FormatRate, v);
}
std::string Tenths(int32_t v) {
  return Run(FormatTenths, v);
}

TEST(FormatRate, ExamplesOfEveryRule) {
  EXPECT_EQ(Rate(0), "--");
  EXPECT_EQ(Rate(33333), "3333");
  EXPECT_EQ(Rate(333333), "33.33k");
  EXPECT_EQ(Rate(500000), "50k");
  EXPECT_EQ(Rate(625000), "62.5k");
  EXPECT_EQ(Rate(833333), "83.33k");
  EXPECT_EQ(Rate(999960), "100k");
  EXPECT_EQ(Rate(1250000), "125k");
  EXPECT_EQ(Rate(6666666), "666.7k");
  EXPECT_EQ(Rate(5000000), "500k");
  EXPECT_EQ(Rate(10000000), "1M");
}

TEST(FormatRate, WholeBitsPerSecondRoundedBelow10k) {
  EXPECT_EQ(Rate(1), "0");
  EXPECT_EQ(Rate(4), "0");
  EXPECT_EQ(Rate(5), "1");
  EXPECT_EQ(Rate(96000), "9600");
  EXPECT_EQ(Rate(99994), "9999");
  EXPECT_EQ(Rate(99995), "10000");  // still this rule: v < 100,000
  EXPECT_EQ(Rate(99999), "10000");
}

TEST(FormatRate, TwoDecimalsOfKilobitsFrom10kTo100k) {
  EXPECT_EQ(Rate(100000), "10k");
  EXPECT_EQ(Rate(100049), "10k");
  EXPECT_EQ(Rate(100050), "10.01k");  // y is 0, z is not: both shown
  EXPECT_EQ(Rate(120500), "12.05k");
  EXPECT_EQ(Rate(123000), "12.3k");
  EXPECT_EQ(Rate(999949), "99.99k");
}

TEST(FormatRate, RoundingThatCarriesMovesToTheNextUnit) {
  EXPECT_EQ(Rate(999950), "100k");
  EXPECT_EQ(Rate(999999), "100k");
  EXPECT_EQ(Rate(1000000), "100k");
  EXPECT_EQ(Rate(1000499), "100k");
  EXPECT_EQ(Rate(1000500), "100.1k");
  EXPECT_EQ(Rate(9999499), "999.9k");
  EXPECT_EQ(Rate(9999500), "1M");
  EXPECT_EQ(Rate(9999999), "1M");
}

TEST(FormatRate, AboveOneMegabitIsNotShown) {
  EXPECT_EQ(Rate(10000001), "--");
  EXPECT_EQ(Rate(20000000), "--");
  EXPECT_EQ(Rate(INT32_MAX), "--");
}

TEST(FormatRate, NegativeValuesStayInsideTheBuffer) {
  for (int32_t v : {-1, -5, -99999, -1000000, INT32_MIN}) Rate(v);
}

TEST(FormatTenths, ExamplesOfEveryRule) {
  EXPECT_EQ(Tenths(0), "--");
  EXPECT_EQ(Tenths(24005), "2400.5");
  EXPECT_EQ(Tenths(99995), "9999.5");
  EXPECT_EQ(Tenths(100000), "10000");
  EXPECT_EQ(Tenths(96000), "9600");
  EXPECT_EQ(Tenths(192000), "19200");
  EXPECT_EQ(Tenths(5000000), "500k");
  EXPECT_EQ(Tenths(80000000), "8M");
  EXPECT_EQ(Tenths(16000000), "1.6M");
  EXPECT_EQ(Tenths(160000000), "16M");
  EXPECT_EQ(Tenths(245000000), "24.5M");
}

TEST(FormatTenths, TenthsShownOnlyBelow10000AndWhenNotZero) {
  EXPECT_EQ(Tenths(1), "0.1");
  EXPECT_EQ(Tenths(9), "0.9");
  EXPECT_EQ(Tenths(10), "1");
  EXPECT_EQ(Tenths(99999), "9999.9");
  EXPECT_EQ(Tenths(99990), "9999");
  EXPECT_EQ(Tenths(100001), "10000");  // truncated, never rounded
  EXPECT_EQ(Tenths(100009), "10000");
  EXPECT_EQ(Tenths(999999), "99999");
}

TEST(FormatTenths, KilohertzWithOneDecimalTruncated) {
  EXPECT_EQ(Tenths(1000000), "100k");
  EXPECT_EQ(Tenths(1000999), "100k");
  EXPECT_EQ(Tenths(1001000), "100.1k");
  EXPECT_EQ(Tenths(1234567), "123.4k");
  EXPECT_EQ(Tenths(9999999), "999.9k");
}

TEST(FormatTenths, MegahertzBelow10WithUpToThreeDecimals) {
  EXPECT_EQ(Tenths(10000000), "1M");
  EXPECT_EQ(Tenths(10009999), "1M");
  EXPECT_EQ(Tenths(10010000), "1.001M");
  EXPECT_EQ(Tenths(12345678), "1.234M");
  EXPECT_EQ(Tenths(20500000), "2.05M");
  EXPECT_EQ(Tenths(99999999), "9.999M");
}

TEST(FormatTenths, MegahertzFrom10WithUpToTwoDecimals) {
  EXPECT_EQ(Tenths(100000000), "10M");
  EXPECT_EQ(Tenths(100099999), "10M");
  EXPECT_EQ(Tenths(100100000), "10.01M");
  EXPECT_EQ(Tenths(123456789), "12.34M");
  EXPECT_EQ(Tenths(999999999), "99.99M");
}

TEST(FormatTenths, HundredMegahertzAndMoreKeepTheirMagnitude) {
  EXPECT_EQ(Tenths(1000000000), "100M");
  EXPECT_EQ(Tenths(1234567890), "123.45M");
  EXPECT_EQ(Tenths(2000000000), "200M");
  EXPECT_EQ(Tenths(INT32_MAX), "214.74M");
}

TEST(FormatTenths, NegativeValuesStayInsideTheBuffer) {
  for (int32_t v : {-1, -15, -99999, -100000, -1000000, INT32_MIN}) Tenths(v);
}

TEST(CanPresetLabel, EightPresetsAndNoneOtherwise) {
  const char* expected[] = {"33.3k", "50k", "83.3k", "100k", "125k", "250k", "500k", "1M"};
  for (int preset = 1; preset <= 8; ++preset) {
    ASSERT_NE(CanPresetLabel(preset), nullptr) << preset;
    EXPECT_STREQ(CanPresetLabel(preset), expected[preset - 1]);
  }
  EXPECT_EQ(CanPresetLabel(0), nullptr);
  EXPECT_EQ(CanPresetLabel(9), nullptr);
  EXPECT_EQ(CanPresetLabel(255), nullptr);
  EXPECT_EQ(CanPresetLabel(-1), nullptr);
}

// A CAN channel entry with the timing fields set.
struct Timing {
  uint8_t bytes[kCanChannelSize] = {};
  Timing(int32_t base, uint8_t pts, uint8_t pbs1, uint8_t pbs2, uint8_t preset = 0) {
    StoreLE32(bytes, kCanChannelSize);
    bytes[4] = preset;
    StoreLE32(bytes + 8, static_cast<uint32_t>(base));
    bytes[12] = pts, bytes[13] = pbs1, bytes[14] = pbs2, bytes[15] = 1;
  }
  int32_t Rate() const { return ComputeCanBitRate(CanChannelSettings{bytes}); }
};

TEST(ComputeCanBitRate, BaseFrequencyOverSegmentsPlusSync) {
  EXPECT_EQ(Timing(160000000, 5, 6, 4).Rate(), 10000000);  // 16 MHz / 16 = 1 Mbit/s
  EXPECT_EQ(Timing(80000000, 7, 6, 2).Rate(), 5000000);    // 8 MHz / 16 = 500 kbit/s
  EXPECT_EQ(Timing(1000, 0, 0, 0).Rate(), 1000);           // sync segment only
  EXPECT_EQ(Timing(1000, 1, 1, 0).Rate(), 333);            // truncated
  EXPECT_EQ(Timing(2000, 1, 1, 0).Rate(), 666);
}

TEST(ComputeCanBitRate, PresetDoesNotChangeTheComputation) {
  EXPECT_EQ(Timing(160000000, 5, 6, 4, 7).Rate(), 10000000);
}

TEST(ComputeCanBitRate, SegmentsAndBaseAreSigned) {
  // 0x80 is -128: -128 + 127 + 2 + 1 = 2.
  EXPECT_EQ(Timing(1000, 0x80, 127, 2).Rate(), 500);
  EXPECT_EQ(Timing(1000, 0xFF, 0x01, 0x01).Rate(), 500);  // -1 + 1 + 1 + 1
  EXPECT_EQ(Timing(-1000, 1, 1, 0).Rate(), -333);         // truncated toward zero
  EXPECT_EQ(Timing(INT32_MIN, 0, 0, 0).Rate(), INT32_MIN);
  EXPECT_EQ(Timing(INT32_MAX, 127, 127, 127).Rate(), INT32_MAX / 382);
}

TEST(ComputeCanBitRate, ZeroOrNegativeDivisorIsNeverDividedBy) {
  EXPECT_EQ(Timing(160000000, 0xFF, 0, 0).Rate(), -1);        // -1 + 1 = 0
  EXPECT_EQ(Timing(160000000, 0xFE, 0, 0).Rate(), -1);        // -1
  EXPECT_EQ(Timing(160000000, 0x80, 0x80, 0x80).Rate(), -1);  // -383
  EXPECT_EQ(Timing(0, 0xFF, 0, 0).Rate(), -1);
  EXPECT_EQ(Timing(INT32_MIN, 0xFE, 0, 0).Rate(), -1);
}

}  // namespace
}  // namespace ksvw
