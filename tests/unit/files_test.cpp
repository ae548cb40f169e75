#include "common/files.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace ksvw {
namespace {

// Both forms join alike; the buffer form refuses a result that does not
// fit with its NUL and leaves the buffer as it was.
TEST(JoinPath, OneSeparatorAndTheBufferBound) {
  using Case = std::array<const char*, 3>;  // folder, name, joined
  for (const auto& [folder, name, joined] :
       {Case{"C:\\a", "b", "C:\\a\\b"}, Case{"C:\\", "b", "C:\\b"}, Case{"Z:/t/", "x", "Z:/t/x"},
        Case{"", "b", "b"}}) {
    EXPECT_EQ(JoinPath(std::string(folder), name), joined);
    char out[16] = "kept";
    EXPECT_FALSE(JoinPath(folder, name, out, std::strlen(joined)));
    EXPECT_STREQ(out, "kept");
    ASSERT_TRUE(JoinPath(folder, name, out, std::strlen(joined) + 1));
    EXPECT_STREQ(out, joined);
  }
}

}  // namespace
}  // namespace ksvw
