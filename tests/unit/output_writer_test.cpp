// The converter's output writer: CR LF line ends, line and page counting,
// the buffer boundary, and failures that must be reported.
#include "convert/output_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "testsupport/capture_builder.h"

namespace ksvw {
namespace {

std::string TempPath(const char* name) {
  return ::testing::TempDir() + "ksvw_writer_" + name;
}

std::string Contents(const std::string& path) {
  std::vector<uint8_t> bytes = build::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(OutputWriterLines, LineFeedBecomesCrLfAndFormattedTextIsCutAt255) {
  std::string path = TempPath("crlf.txt");
  OutputWriter out;
  ASSERT_EQ(out.OpenOutput(path.c_str()), 1);
  EXPECT_EQ(out.outputFailed, 0);
  out.WriteChar('a');
  out.WriteChar('\n');
  out.WriteText("b\tc\r\nd");
  out.WriteFormatted("%d-%02X|%-4s|\n", 7, 0xA, "x");
  EXPECT_EQ(out.lineCount, 3);
  out.WriteFormatted("%s\n", std::string(300, 'w').c_str());
  EXPECT_EQ(out.lineCount, 3) << "the line feed was cut off too";
  EXPECT_EQ(out.CloseOutput(), 0);
  // A CR already in the text stays; only the line feed grows a CR.
  EXPECT_EQ(Contents(path), "a\r\nb\tc\r\r\nd7-0A|x   |\r\n" + std::string(255, 'w'));
  std::remove(path.c_str());
}

TEST(OutputWriterLines, SixtySixLinesMakeAPage) {
  std::string path = TempPath("pages.txt");
  OutputWriter out;
  ASSERT_EQ(out.OpenOutput(path.c_str()), 1);
  for (int i = 0; i < 65; ++i) out.WriteChar('\n');
  EXPECT_EQ(out.lineCount + out.pageCount * 100, 65);
  out.WriteText("x\n");
  EXPECT_EQ(out.lineCount + out.pageCount * 100, 100);
  for (int i = 0; i < 66 * 3 + 5; ++i) out.WriteSpan("\n", 1);
  EXPECT_EQ(out.lineCount + out.pageCount * 100, 405);
  EXPECT_EQ(out.CloseOutput(), 0);

  // Opening again starts counting afresh and truncates the file.
  ASSERT_EQ(out.OpenOutput(path.c_str()), 1);
  EXPECT_EQ(out.lineCount + out.pageCount, 0);
  out.WriteText("new");
  EXPECT_EQ(out.CloseOutput(), 0);
  EXPECT_EQ(Contents(path), "new");
  std::remove(path.c_str());
}

TEST(OutputWriterBuffer, TextLongerThanTheBufferArrivesWhole) {
  std::string path = TempPath("big.txt");
  OutputWriter out;
  ASSERT_EQ(out.OpenOutput(path.c_str()), 1);
  // Lines of 99 characters and a line end, by character and in bulk, so
  // that a CR LF pair and spans straddle the buffer boundary.
  std::string expected;
  std::string line(99, 'q');
  for (int i = 0; i < 4000; ++i) {
    line[0] = static_cast<char>('A' + i % 26);
    if (i % 2 == 0) {
      for (char c : line) out.WriteChar(c);
      out.WriteChar('\n');
    } else {
      out.WriteSpan((line + "\n").data(), line.size() + 1);
    }
    expected += line + "\r\n";
  }
  std::string block(OutputWriter::kBufferSize + 17, 'z');
  block[OutputWriter::kBufferSize - 1] = '\n';
  out.WriteSpan(block.data(), block.size());
  std::string blockOut = block;
  blockOut.insert(OutputWriter::kBufferSize - 1, "\r");
  expected += blockOut;
  EXPECT_EQ(out.CloseOutput(), 0);
  EXPECT_EQ(out.lineCount + out.pageCount * 66, 4001);
  std::string got = Contents(path);
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  std::remove(path.c_str());
}

TEST(OutputWriterFailure, UncreatableFileFailsTheOpenAndWritesNothing) {
  std::string path = TempPath("no_such_dir/out.txt");
  OutputWriter out;
  EXPECT_EQ(out.OpenOutput(path.c_str()), 0);
  EXPECT_EQ(out.outputFailed, 1);
  out.WriteChar('a');
  out.WriteText("line\n");
  EXPECT_EQ(out.lineCount, 0);
  EXPECT_EQ(out.CloseOutput(), -1);
  EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr);
  OutputWriter neverOpened;
  EXPECT_EQ(neverOpened.outputFailed, 1);
  EXPECT_EQ(neverOpened.CloseOutput(), -1);
}

#if !defined(_WIN32)
TEST(OutputWriterFailure, FullDiskIsRememberedAndReportedOnClose) {
  OutputWriter out;
  if (out.OpenOutput("/dev/full") == 0) GTEST_SKIP() << "no /dev/full";
  // A little text stays in the buffer: the failure shows at close.
  out.WriteText("short\n");
  EXPECT_EQ(out.outputFailed, 0);
  EXPECT_EQ(out.CloseOutput(), -1);
  EXPECT_TRUE(out.WriteFailed());

  // More than a buffer: the failure shows while writing and stops the output.
  ASSERT_EQ(out.OpenOutput("/dev/full"), 1);
  EXPECT_FALSE(out.WriteFailed());
  std::string block(OutputWriter::kBufferSize, 'x');
  out.WriteSpan(block.data(), block.size());
  out.WriteChar('y');
  EXPECT_EQ(out.outputFailed, 1);
  EXPECT_TRUE(out.WriteFailed());
  int lines = out.lineCount;
  out.WriteChar('\n');
  EXPECT_EQ(out.lineCount, lines);  // nothing is counted after a failure
  EXPECT_EQ(out.CloseOutput(), -1);
}
#endif

}  // namespace
}  // namespace ksvw
