#include "common/files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace ksvw {
namespace {

// Both forms join alike; the buffer form refuses what would not fit with
// its NUL and leaves the buffer as it was.
TEST(JoinPath, OneSeparatorAndTheBufferBound) {
  const struct {
    const char* folder;
    const char* name;
    const char* joined;
  } cases[] = {
      {"C:\\a", "b.ini", "C:\\a\\b.ini"},
      {"C:\\", "b.ini", "C:\\b.ini"},
      {"Z:/tmp/", "x.DT", "Z:/tmp/x.DT"},
      {"", "SETTING.ini", "SETTING.ini"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JoinPath(std::string(c.folder), std::string(c.name)), c.joined) << c.folder;
    const size_t fit = std::strlen(c.joined) + 1;
    char out[32];
    ASSERT_TRUE(JoinPath(c.folder, c.name, out, fit)) << c.folder;
    EXPECT_STREQ(out, c.joined);
    std::strcpy(out, "kept");
    EXPECT_FALSE(JoinPath(c.folder, c.name, out, fit - 1)) << c.folder;
    EXPECT_STREQ(out, "kept");
  }
}

}  // namespace
}  // namespace ksvw
