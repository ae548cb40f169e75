// Bounded formatting: capacities at the edges, exact fits, cuts, and the
// result-code message texts built from language-library formats.
#include "app/safe_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace ksvw {
namespace {

constexpr int32_t kCut = static_cast<int32_t>(0x8007007Au);
constexpr int32_t kInvalid = static_cast<int32_t>(0x80070057u);

TEST(SafeFormat, CapacityOneAlwaysGivesEmptyText) {
  char buffer[1] = {'x'};
  EXPECT_EQ(SafeFormat(buffer, 1, "%s", ""), 0);
  EXPECT_EQ(buffer[0], '\0');
  buffer[0] = 'x';
  EXPECT_EQ(SafeFormat(buffer, 1, "ab%d", 7), kCut);
  EXPECT_EQ(buffer[0], '\0');
}

TEST(SafeFormat, TextOfExactlyCapacityMinusOneFits) {
  // A heap buffer of the exact size, so that a sanitizer sees a write past it.
  std::unique_ptr<char[]> buffer(new char[6]);
  EXPECT_EQ(SafeFormat(buffer.get(), 6, "%s%d", "abc", 42), 0);
  EXPECT_STREQ(buffer.get(), "abc42");
}

TEST(SafeFormat, OneCharacterMoreIsCutToCapacityMinusOne) {
  std::unique_ptr<char[]> buffer(new char[6]);
  EXPECT_EQ(SafeFormat(buffer.get(), 6, "%s%d", "abcd", 42), kCut);
  EXPECT_STREQ(buffer.get(), "abcd4");
}

TEST(SafeFormat, ShorterTextIsTerminatedAndSucceeds) {
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(SafeFormat(buffer, sizeof buffer, "%u / %u", 4u, 9u), 0);
  EXPECT_STREQ(buffer, "4 / 9");
}

TEST(SafeFormat, LanguageLibraryFileName) {
  char name[260];
  EXPECT_EQ(SafeFormat(name, sizeof name, "ksvw4q%04d.dll", 1041 & 0xFFFF), 0);
  EXPECT_STREQ(name, "ksvw4q1041.dll");
  EXPECT_EQ(SafeFormat(name, sizeof name, "ksvw4q%04d.dll", 0x0409 & 0xFFFF), 0);
  EXPECT_STREQ(name, "ksvw4q1033.dll");
}

TEST(SafeFormat, ZeroOrHugeCapacityIsRefusedWithoutTouchingTheBuffer) {
  char buffer[4] = {'a', 'b', 'c', '\0'};
  EXPECT_EQ(SafeFormat(buffer, 0, "zz"), kInvalid);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(SafeFormat(buffer, static_cast<size_t>(2147483648u), "zz"), kInvalid);
  EXPECT_STREQ(buffer, "abc");
  // The largest capacity accepted is 2,147,483,647 (the text is short).
  EXPECT_EQ(SafeFormat(buffer, 2147483647u, "zz"), 0);
  EXPECT_STREQ(buffer, "zz");
}

TEST(FormatWithCode, AcceptsFormatsOfOneInteger) {
  EXPECT_TRUE(IsSingleIntegerFormat("Error %08X."));
  EXPECT_TRUE(IsSingleIntegerFormat("%d"));
  EXPECT_TRUE(IsSingleIntegerFormat("100%% sure: %#x"));
  EXPECT_TRUE(IsSingleIntegerFormat("code %-+ 12.4i!"));
  EXPECT_FALSE(IsSingleIntegerFormat("no code"));
  EXPECT_FALSE(IsSingleIntegerFormat("%s"));
  EXPECT_FALSE(IsSingleIntegerFormat("%d and %d"));
  EXPECT_FALSE(IsSingleIntegerFormat("%*d"));
  EXPECT_FALSE(IsSingleIntegerFormat("%ld"));
  EXPECT_FALSE(IsSingleIntegerFormat("%n"));
  EXPECT_FALSE(IsSingleIntegerFormat("trailing %"));
  EXPECT_FALSE(IsSingleIntegerFormat(nullptr));
}

TEST(FormatWithCode, UsesAGoodFormatAsIs) {
  char text[64];
  EXPECT_EQ(FormatWithCode(text, sizeof text, "Connect failed (0x%08X).",
                           static_cast<int32_t>(0x80004005u)),
            0);
  EXPECT_STREQ(text, "Connect failed (0x80004005).");
}

TEST(FormatWithCode, AnUnsafeFormatKeepsItsWordsAndAppendsTheCode) {
  char text[64];
  EXPECT_EQ(FormatWithCode(text, sizeof text, "Failed: %s", static_cast<int32_t>(0xA0000001u)), 0);
  EXPECT_STREQ(text, "Failed:  0xA0000001");
  EXPECT_EQ(FormatWithCode(text, sizeof text, "%d of %d 100%%", 5), 0);
  EXPECT_STREQ(text, " of  100% 0x00000005");
  EXPECT_EQ(FormatWithCode(text, sizeof text, nullptr, -1), 0);
  EXPECT_STREQ(text, "0xFFFFFFFF");
  EXPECT_EQ(FormatWithCode(text, sizeof text, "", 0), 0);
  EXPECT_STREQ(text, "0x00000000");
}

TEST(FormatWithCode, CutsLikeSafeFormat) {
  char text[8];
  EXPECT_EQ(FormatWithCode(text, sizeof text, "Code %08X", 1), kCut);
  EXPECT_STREQ(text, "Code 00");
  EXPECT_EQ(FormatWithCode(text, sizeof text, "Words only here", 1), kCut);
  EXPECT_STREQ(text, "Words o");
  EXPECT_EQ(FormatWithCode(text, 0, "x", 1), kInvalid);
}

}  // namespace
}  // namespace ksvw
