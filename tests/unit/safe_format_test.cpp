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

TEST(SafeFormat, FitsOrCutsToCapacityMinusOne) {
  struct {
    size_t capacity;
    const char* text;
    int32_t result;
    const char* kept;
  } cases[] = {{1, "", 0, ""},
               {1, "ab7", kCut, ""},
               {6, "abc42", 0, "abc42"},
               {6, "abcd42", kCut, "abcd4"},
               {16, "4 / 9", 0, "4 / 9"}};
  for (const auto& c : cases) {
    // A heap buffer of the exact size, so that a sanitizer sees a write past it.
    std::unique_ptr<char[]> buffer(new char[c.capacity]);
    std::memset(buffer.get(), '#', c.capacity);
    EXPECT_EQ(SafeFormat(buffer.get(), c.capacity, "%s", c.text), c.result) << c.text;
    EXPECT_STREQ(buffer.get(), c.kept);
  }
}

TEST(SafeFormat, ZeroOrHugeCapacityIsRefusedWithoutTouchingTheBuffer) {
  char buffer[4] = {'a', 'b', 'c', '\0'};
  EXPECT_EQ(SafeFormat(buffer, 0, "zz"), kInvalid);
  EXPECT_EQ(SafeFormat(buffer, static_cast<size_t>(2147483648u), "zz"), kInvalid);
  EXPECT_STREQ(buffer, "abc");
  // The largest capacity accepted is 2,147,483,647 (the text is short).
  EXPECT_EQ(SafeFormat(buffer, 2147483647u, "zz"), 0);
  EXPECT_STREQ(buffer, "zz");
}

TEST(FormatWithCode, SingleIntegerFormatsOnly) {
  for (const char* good : {"Error %08X.", "%d", "100%% sure: %#x", "code %-+ 12.4i!"}) {
    EXPECT_TRUE(IsSingleIntegerFormat(good)) << good;
  }
  for (const char* bad :
       {"no code", "%s", "%d and %d", "%*d", "%ld", "%I64X", "%n", "trailing %"}) {
    EXPECT_FALSE(IsSingleIntegerFormat(bad)) << bad;
  }
  EXPECT_FALSE(IsSingleIntegerFormat(nullptr));
}

TEST(FormatWithCode, GoodFormatAsIsElseItsWordsAndTheCodeCutLikeSafeFormat) {
  struct {
    size_t capacity;
    const char* format;
    uint32_t code;
    int32_t result;
    const char* text;
  } cases[] = {
      {64, "Connect failed (0x%08X).", 0x80004005u, 0, "Connect failed (0x80004005)."},
      {64, "Failed: %s", 0xA0000001u, 0, "Failed:  0xA0000001"},
      {64, "%d of %d 100%%", 5, 0, " of  100% 0x00000005"},
      {64, nullptr, 0xFFFFFFFFu, 0, "0xFFFFFFFF"},
      {64, "", 0, 0, "0x00000000"},
      {8, "Code %08X", 1, kCut, "Code 00"},
      {8, "Words only here", 1, kCut, "Words o"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<char[]> text(new char[c.capacity]);
    EXPECT_EQ(FormatWithCode(text.get(), c.capacity, c.format, static_cast<int32_t>(c.code)),
              c.result);
    EXPECT_STREQ(text.get(), c.text);
  }
  char text[8];
  EXPECT_EQ(FormatWithCode(text, 0, "x", 1), kInvalid);
}

// Translations of the search count: any one integer conversion shows the
// whole count, above 32 bits too; anything else keeps its words.
TEST(FormatWithCount, AnyIntegerLengthShowsTheWholeCount) {
  const struct {
    const char* format;
    uint64_t count;
    const char* text;
  } cases[] = {{"%u frames", 7, "7 frames"},
               {"%llu", 5000000000u, "5000000000"},
               {"%I64u Treffer", 5000000000u, "5000000000 Treffer"},
               {"[%-6lu]", 42, "[42    ]"},
               {"%hhd of %%", 300, "300 of %"},
               {"%zx", 255, "ff"},
               {"%I32u", 9, "9"},
               {"%s found", 3, " found 3"},
               {"%u of %u", 3, " of  3"},
               {"%lc", 3, "3"},
               {nullptr, 12, "12"}};
  for (const auto& c : cases) {
    char text[64];
    EXPECT_EQ(FormatWithCount(text, sizeof text, c.format, c.count), 0) << c.format;
    EXPECT_STREQ(text, c.text) << c.format;
  }
  char cut[4];
  EXPECT_EQ(FormatWithCount(cut, sizeof cut, "%I64u", 123456), kCut);
  EXPECT_STREQ(cut, "123");
}

}  // namespace
}  // namespace ksvw
