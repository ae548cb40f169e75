// The one way outputs are written, here for the Windows rename under Wine as
// well (tests/cli/output_files_test.sh covers links, devices and full disks):
// only a committed file replaces the old one, and Keep never replaces.
#include "common/output_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "testsupport/capture_builder.h"

namespace ksvw {
namespace {

namespace fs = std::filesystem;

TEST(OutputFile, OnlyACommittedFileReplacesTheOldOne) {
  const std::string dir = ::testing::TempDir() + "ksvw_output_file";
  fs::remove_all(dir);
  fs::create_directory(dir);
  const std::string path = dir + "/out.bin";
  const std::vector<uint8_t> old = {'o', 'l', 'd'}, fresh = {'n', 'e', 'w', '!'};
  ASSERT_TRUE(build::WriteFile(path, old));
  auto alone = [&] { return std::distance(fs::directory_iterator(dir), {}) == 1; };
  {
    OutputFile file;  // destroyed before Commit, as in a failed run
    ASSERT_TRUE(file.Open(path));
    ASSERT_TRUE(file.Write(fresh.data(), fresh.size()));
  }
  EXPECT_EQ(build::ReadFile(path), old);
  EXPECT_TRUE(alone()) << "a temporary was left";

  OutputFile file;
  EXPECT_FALSE(file.Open(path, OutputFile::Existing::Keep));
  EXPECT_EQ(file.Error(), EEXIST);
  EXPECT_FALSE(file.Open(dir));
  EXPECT_EQ(file.Error(), EISDIR);
  ASSERT_TRUE(file.Open(path));
  ASSERT_TRUE(file.Write(fresh.data(), fresh.size()));
  EXPECT_TRUE(file.Commit());
  EXPECT_EQ(build::ReadFile(path), fresh);
  EXPECT_TRUE(alone());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ksvw
