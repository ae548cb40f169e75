// Text and CSV conversion: what the sample captures of tests/data cannot
// show (their banners and row shapes are compared byte for byte by
// tests/cli/sample_outputs_test.sh): damaged chunk lengths, progress, page
// limit, stop, output failures, hostile source bytes and the list's cells.
#include "convert/text_converter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "convert/list_cells.h"
#include "testsupport/capture_builder.h"

#if !defined(_WIN32)
#include <sys/resource.h>

#include <csignal>
#endif

namespace ksvw {
namespace {

using build::CanData;

// 2026-12-06 1:05:12: a one-digit hour.
std::tm FixedTime() {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 6;
  t.tm_hour = 1;
  t.tm_min = 5;
  t.tm_sec = 12;
  return t;
}

// Splits converter output at its CR LF line ends; a trailing part without a
// line end comes last (empty when the output ends with CR LF).
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  lines.push_back(text.substr(start));
  return lines;
}

class Conversion {
 public:
  Conversion(uint32_t tag, const std::vector<CaptureRecord>& records)
      : Conversion(
            build::CaptureFileBuilder().Dinf(build::KnownSizeDinf({})).Data(tag, records).Build()) {
  }
  explicit Conversion(const std::vector<uint8_t>& file) {
    loaded_ = reader.LoadCopy(file.data(), file.size());
    // Named after the test: tests may run in parallel processes.
    static int serial = 0;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path = ::testing::TempDir() + "ksvw_convert_" + test->test_suite_name() + "_" + test->name() +
           "_" + std::to_string(++serial) + ".out";
    converter.SetOutputPath(path);
    converter.SetClock([] { return FixedTime(); });
  }
  ~Conversion() { std::remove(path.c_str()); }

  std::string Run(const ConversionOptions& options, ProgressSink* progress = nullptr,
                  int32_t pageLimit = TextConverter::kNoPageLimit) {
    EXPECT_TRUE(loaded_);
    converter.SetOptions(options);
    result = converter.Convert(progress, pageLimit);
    std::vector<uint8_t> bytes = build::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
  }

  CaptureReader reader;
  CaptureReader listReader;
  TextConverter converter{reader, listReader};
  std::string path;
  ConvertResult result = ConvertResult::CannotCreate;

 private:
  bool loaded_ = false;
};

ConversionOptions Text(uint8_t channels = 0, uint8_t rawHex = 0, int32_t delta = 0) {
  ConversionOptions o;
  o.channelSelection = channels;
  o.rawHex = rawHex;
  o.deltaTime = delta;
  return o;
}
ConversionOptions Csv(uint8_t channels = 0, uint8_t rawHex = 0) {
  ConversionOptions o = Text(channels, rawHex);
  o.csv = 1;
  return o;
}

class CountingSink : public ProgressSink {
 public:
  void SetRange(int32_t max) override { range = max; }
  void Step() override {
    ++steps;
    if (steps == stopAt && converter != nullptr) {
      EXPECT_EQ(converter->RequestStop(), 1);
    }
  }
  int32_t range = -1;
  int steps = 0;
  int stopAt = -1;
  TextConverter* converter = nullptr;
};

TEST(ConverterWalk, ProgressStepsOnlyForWrittenRows) {
  std::vector<CaptureRecord> records;
  for (int i = 0; i < 10; ++i) records.push_back(CanData(1 + i % 2, 0x10, false, {}));
  Conversion c(kTagMonc, records);
  CountingSink sink;
  c.Run(Text(2), &sink);
  EXPECT_EQ(sink.range, 10);
  EXPECT_EQ(sink.steps, 5);
  EXPECT_EQ(c.result, ConvertResult::Done);
}

// ------------------------------------------------------ chunk lengths

// No settings chunk and no records: the banner (with a one-digit hour, the
// bracket one further right) reads custom timing with no rate, and is
// followed by one empty line; the CSV is empty.
TEST(ConverterChunks, EmptyChunkWithoutSettings) {
  Conversion c(build::CaptureFileBuilder().Data(kTagMonc, {}).Build());
  std::vector<std::string> lines = Lines(c.Run(Text()));
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(lines[0], "*=[KSTCVTC]======[2026-12-06 1:05:12]=*");
  EXPECT_EQ(lines[2], "*      BAUDRATE:--                    *");
  EXPECT_EQ(lines[3], "*        BASEFREQ:--                  *");
  EXPECT_EQ(lines[15], "*=====================================*");
  EXPECT_EQ(lines[16] + lines[17], "");
  EXPECT_EQ(c.Run(Csv()), "");
  EXPECT_EQ(c.result, ConvertResult::Done);
}

std::vector<uint8_t> FileWithDataBytes(uint32_t tag, size_t n) {
  std::vector<uint8_t> body(n, 0);
  for (size_t i = 0; i < n; i += kRecordSize) body[i] = kSourceCan1;
  return build::CaptureFileBuilder().Dinf(build::KnownSizeDinf({})).Chunk(tag, body).Build();
}

// Only whole records are rows: 1 or 31 bytes give the header line alone,
// 70 bytes two rows.
TEST(ConverterChunks, OnlyWholeRecordsAreRows) {
  const std::string header = "TM,dT,CH,ID,TYPE,DLC,D1,D2,D3,D4,D5,D6,D7,D8,ST\r\n";
  const std::string row = "00:00.000,-------,1,000,DATA,0,,,,,,,,,G\r\n";
  const std::string next = "00:00.000,00:00.000,1,000,DATA,0,,,,,,,,,G\r\n";
  for (size_t n : {1u, 31u, 70u}) {
    Conversion c(FileWithDataBytes(kTagMonc, n));
    EXPECT_EQ(c.Run(Csv()), n < 32 ? header : header + row + next) << n;
    std::vector<std::string> lines = Lines(c.Run(Text()));
    ASSERT_EQ(lines.size(), n < 32 ? 9u : 11u) << n;
    EXPECT_EQ(lines[7], "--TM---CH------ID--TYPE--DLC------DATA-------ST");
  }
}

// ------------------------------------------------ pages, stop, output

TEST(ConverterOutput, PageLimitEndsTheOutputAfterWholePages) {
  std::vector<CaptureRecord> records(200, CanData(1, 0x10, false, {}));
  Conversion c(kTagMonc, records);
  // Banner 6 lines, empty line, header: 58 rows complete the first page.
  std::string out = c.Run(Text(), nullptr, 1);
  std::vector<std::string> lines = Lines(out);
  EXPECT_EQ(lines.size(), 67u);
  EXPECT_EQ(lines[65], "0000000 1      010 DATA    0 " + std::string(16, ' ') + " G");
  EXPECT_EQ(lines[66], "");
  EXPECT_EQ(c.result, ConvertResult::Stopped);

  // A limit of 0 stops at the first line end, after the banner.
  lines = Lines(c.Run(Text(), nullptr, 0));
  EXPECT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[6], "");
  // CSV: the header line completes no page; 66 lines are the header and 65 rows.
  lines = Lines(c.Run(Csv(), nullptr, 1));
  EXPECT_EQ(lines.size(), 67u);
}

TEST(ConverterOutput, StopRequestEndsAfterACompleteRowAndClosesTheFile) {
  std::vector<CaptureRecord> records(1000, CanData(1, 0x10, false, {1, 2}));
  Conversion c(kTagMdcl, records);
  CountingSink sink;
  sink.stopAt = 3;
  sink.converter = &c.converter;
  std::string out = c.Run(Csv(), &sink);
  EXPECT_EQ(c.result, ConvertResult::Stopped);
  std::vector<std::string> lines = Lines(out);
  ASSERT_EQ(lines.size(), 5u);  // header, three rows, nothing after the last line end
  EXPECT_EQ(lines[3], "00:00.000,00:00.000,1,,,010,DATA,2,01,02,,,,,,,,G,0,");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(sink.steps, 3);
}

TEST(ConverterOutput, UncreatableOutputWritesNothing) {
  Conversion c(kTagMonc, {CanData(1, 0x10, false, {})});
  std::string path = ::testing::TempDir() + "ksvw_no_such_dir/x.txt";
  c.converter.SetOutputPath(path);
  c.converter.SetOptions(Text());
  EXPECT_EQ(c.converter.Convert(nullptr, TextConverter::kNoPageLimit), ConvertResult::CannotCreate);
  EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr);
}

#if !defined(_WIN32)
// A file size limit makes the writes fail like a full disk.
TEST(ConverterOutput, WriteFailureRemovesThePartialOutput) {
  std::vector<CaptureRecord> records(50000, CanData(1, 0x10, false, {1, 2, 3}));
  Conversion c(kTagMonc, records);
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 300 * 1024;
  void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  c.converter.SetOptions(Text());
  ConvertResult result = c.converter.Convert(nullptr, TextConverter::kNoPageLimit);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(result, ConvertResult::WriteFailed);
  EXPECT_EQ(std::fopen(c.path.c_str(), "rb"), nullptr);
}
#endif

// A damaged source byte must never put a control character into any view,
// and every line ends in CR LF:
// every source value, in record shapes of both boards, through text, CSV
// (with and without raw hex) and every list cell.
TEST(ConverterOutput, EverySourceByteGivesPrintableOutput) {
  for (uint32_t tag : {kTagMonc, kTagMdcl}) {
    std::vector<CaptureRecord> records;
    build::RecordFields f;
    for (int source = 0; source < 256; ++source) {
      f.source = static_cast<uint8_t>(source);
      f.count = static_cast<int8_t>(source % 13 - 3);  // -3 .. 9
      f.kind = static_cast<uint8_t>(source % 3 == 0 ? 0 : (source % 3 == 1 ? 2 : 0x81));
      f.status = static_cast<uint16_t>(source * 0x1234);
      f.data = {1, 2, 3, 4, 5, 6, 7, 8, 9};
      records.push_back(build::Record(f));
    }
    Conversion c(tag, records);
    std::vector<uint8_t> listFile = build::CaptureFileBuilder().Data(tag, records).Build();
    ASSERT_TRUE(c.listReader.LoadCopy(listFile.data(), listFile.size()));
    std::string all;
    for (const ConversionOptions& options : {Text(), Text(0, 1, 1), Csv(), Csv(0, 1)})
      all += c.Run(options);
    char cell[kListCellCapacity];
    for (int32_t row = 0; row < 256; ++row)
      for (int column = 0; column < kListColumnCount; ++column) {
        all.append(cell, c.converter.FormatListRow(row, column, row % 2 == 0, cell, sizeof cell));
        all += "\r\n";
      }
    for (size_t i = 0; i < all.size(); ++i) {
      auto b = static_cast<uint8_t>(all[i]);
      ASSERT_TRUE(b >= 0x20 || b == '\r' || b == '\n')
          << "byte " << int{b} << " at " << i << " (tag " << std::hex << tag << ")";
      // Text mode: every line ends in CR LF.
      if (b == '\n') {
        ASSERT_TRUE(i > 0 && all[i - 1] == '\r') << i;
      }
    }
  }
}

TEST(ConverterListRow, ForwardsToTheListReaderAndCutsToCapacity) {
  Conversion c(kTagMonc, {CanData(1, 0x10, false, {})});
  char out[16];
  EXPECT_EQ(c.converter.FormatListRow(0, 0, false, out, sizeof out), 0u) << "nothing loaded";
  std::vector<uint8_t> listFile =
      build::CaptureFileBuilder().Data(kTagMonc, {CanData(2, 0x123, true, {})}).Build();
  ASSERT_TRUE(c.listReader.LoadCopy(listFile.data(), listFile.size()));
  for (auto [row, column] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, kListColumnCount}}) {
    EXPECT_EQ(c.converter.FormatListRow(row, column, false, out, sizeof out), 0u) << row << column;
    EXPECT_STREQ(out, "");
  }
  EXPECT_EQ(c.converter.FormatListRow(0, 4, false, out, sizeof out), 8u);
  EXPECT_STREQ(out, "00000123");
  EXPECT_EQ(c.converter.FormatListRow(0, 4, false, out, 4), 3u);
  EXPECT_STREQ(out, "000");
  EXPECT_EQ(c.converter.FormatListRow(0, 1, false, out, sizeof out), 1u);
  EXPECT_STREQ(out, "2");
}

}  // namespace
}  // namespace ksvw
