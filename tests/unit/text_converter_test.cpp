// Text and CSV conversion: banner, header lines, every row shape, channel
// selection, time differences, page limit, stop, and output failures.
// Expected texts are written out from the row layouts, column by column.
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
using build::CanRemoteFrame;
using build::Lin;
using build::Marker;
using build::TimeStamp;

std::string Sp(int n) {
  return std::string(static_cast<size_t>(n), ' ');
}
std::string Commas(int n) {
  return std::string(static_cast<size_t>(n), ',');
}

std::tm FixedTime(int hour) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 6;
  t.tm_hour = hour;
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

size_t Cells(const std::string& row) {
  size_t n = 1;
  for (char c : row) n += c == ',';
  return n;
}

class Conversion {
 public:
  Conversion(uint32_t tag, const std::vector<CaptureRecord>& records,
             const build::SettingsPlan& plan = build::SettingsPlan{})
      : Conversion(build::CaptureFileBuilder()
                       .Dinf(build::KnownSizeDinf(plan))
                       .Data(tag, records)
                       .Build()) {}
  explicit Conversion(const std::vector<uint8_t>& file) {
    loaded_ = reader.LoadCopy(file.data(), file.size());
    // Named after the test: tests may run in parallel processes.
    static int serial = 0;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path = ::testing::TempDir() + "ksvw_convert_" + test->test_suite_name() + "_" + test->name() +
           "_" + std::to_string(++serial) + ".out";
    converter.SetOutputPath(path);
    converter.SetClock([] { return FixedTime(1); });
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
  // Output lines after the banner, its empty line and the header line
  // (text), or after the header line (CSV); the last element is what
  // follows the final line end.
  std::vector<std::string> Rows(const ConversionOptions& options) {
    std::vector<std::string> lines = Lines(Run(options));
    size_t skip = 1;
    if (options.csv == 0) {
      while (skip < lines.size() && !lines[skip - 1].empty()) ++skip;
      ++skip;
    }
    if (lines.size() < skip) return {};
    return std::vector<std::string>(lines.begin() + static_cast<long>(skip), lines.end());
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

// ---------------------------------------------------------------- banner

const std::string kClosing = "*=====================================*";
std::string Line39(const std::string& start, int pad) {
  return start + Sp(pad) + "*";
}

// Two-digit hours and the preset channels of both boards are in the
// tests/data banners (sample_outputs_test.sh); a one-digit hour is here.
TEST(ConverterBanner, OneDigitHourMovesTheBracket) {
  Conversion c(kTagMonc, {CanData(1, 0x123, false, {1})});
  EXPECT_EQ(Lines(c.Run(Text()))[0], "*=[KSTCVTC]======[2026-12-06 1:05:12]=*");
  EXPECT_EQ(c.result, ConvertResult::Done);
}

TEST(ConverterBanner, LinChannelAndCustomTimingAboveTenMegabit) {
  build::SettingsPlan plan;
  plan.channel[0].preset = 0;
  plan.channel[0].baseFrequency = 800000000;  // 80 MHz over 8 quanta: 100,000,000 tenths
  plan.channel[0].pts = 1;
  plan.channel[0].pbs1 = 4;
  plan.channel[0].pbs2 = 2;
  plan.channel[0].sjw = 1;
  plan.channel[1].lin = true;
  plan.channel[1].linBitRate = 192000;
  Conversion c(kTagMdcl, {}, plan);
  std::vector<std::string> lines = Lines(c.Run(Text()));
  std::vector<std::string> expected = {
      "*=[KSTCVTCL]=====[2026-12-06 1:05:12]=*",
      Line39("*  CH1 PROTOCOL: CAN", 18),
      Line39("*      BAUDRATE:------", 16),
      Line39("*        BASEFREQ:80M", 17),
      Line39("*        PTS     :1", 19),
      Line39("*        PBS1    :4", 19),
      Line39("*        PBS2    :2", 19),
      Line39("*        SJW     :1", 19),
      Line39("*  CH2 PROTOCOL: LIN", 18),
      Line39("*      BAUDRATE:19200", 17),
      kClosing,
      "",
      "",  // nothing after the empty line: the data chunk is empty
  };
  EXPECT_EQ(lines, expected);
}

TEST(ConverterBanner, CustomTimingInRangeAndDamagedDivisor) {
  build::SettingsPlan plan;
  plan.channel[0].preset = 0;
  plan.channel[0].baseFrequency = 40000000;  // 4 MHz / 8 = 500 kbit/s
  plan.channel[0].pts = 1;
  plan.channel[0].pbs1 = 4;
  plan.channel[0].pbs2 = 2;
  plan.channel[0].sjw = 2;
  plan.channel[1].preset = 0;
  plan.channel[1].baseFrequency = 40000000;
  plan.channel[1].pts = -1;  // -1 + 0 + 0 + 1 = 0: never divided by
  Conversion c(kTagMonc, {}, plan);
  std::vector<std::string> lines = Lines(c.Run(Text()));
  ASSERT_GE(lines.size(), 16u);
  EXPECT_EQ(lines[2], Line39("*      BAUDRATE:500k", 18));
  EXPECT_EQ(lines[3], Line39("*        BASEFREQ:4M", 18));
  EXPECT_EQ(lines[7], Line39("*        SJW     :2", 19));
  EXPECT_EQ(lines[9], Line39("*      BAUDRATE:------", 16));
  // The frame is 39 characters wide for one-digit numbers only.
  EXPECT_EQ(lines[11], Line39("*        PTS     :-1", 19));
  EXPECT_EQ(lines[15], kClosing);
}

TEST(ConverterBanner, ProtocolTwoInMoncDataIsStillCan) {
  build::SettingsPlan plan;
  plan.channel[0].lin = true;
  plan.channel[0].preset = 3;
  Conversion c(kTagMonc, {}, plan);
  std::vector<std::string> lines = Lines(c.Run(Text()));
  EXPECT_EQ(lines[1], Line39("*  CH1 PROTOCOL: CAN", 18));
  EXPECT_EQ(lines[2], Line39("*      BAUDRATE:83.3k", 17));
}

// ------------------------------------------------------------- text rows

// Rows of every shape the tests/data captures hold are compared byte for
// byte by sample_outputs_test.sh; the rows here are the shapes they lack.
TEST(ConverterTextRows, MoncRemoteFrameAndDlcAboveEight) {
  Conversion c(kTagMonc, {
                             CanRemoteFrame(1, 0x7FF, false, 8, TimeStamp(59, 59, 99, 49)),
                             CanData(2, 0x1FFFFFFF, true, {}, TimeStamp(10, 0, 5, 10), 15),
                         });
  std::vector<std::string> expected = {
      "5959999 1      7FF REMOTE  8" + Sp(17) + " G",
      "1000052 2 1FFFFFFF DATA   15 " + Sp(16) + " G",
      "",
  };
  EXPECT_EQ(c.Rows(Text()), expected);
}

// LIN record on channel 1 with SB 0x55, SF 0xA1 and protected identifier
// 0x80 (frame identifier 0).
CaptureRecord Lin1(uint8_t kind, int8_t count, std::initializer_list<uint8_t> data,
                   uint16_t status = 0) {
  return Lin(1, 0x55, 0xA1, 0x80, kind, count, data, status);
}

TEST(ConverterTextRows, LinShapesAndErrorsWithAndWithoutRawHex) {
  build::SettingsPlan plan;
  plan.channel[0].linTable = true;
  plan.channel[0].linTableLengths[0] = 4;
  std::vector<CaptureRecord> records = {
      Lin(2, 0x55, 0xA1, 0x80, 0, 3, {0x01, 0x02, 0xCC}),  // no table on channel 2
      Lin1(0, 0, {}),                                      // no data, no checksum
      build::WithLineFlags(Lin1(0, 9, {1, 2, 3, 4, 5, 6, 7, 8, 0xEE}), 0x10),  // 8 + checksum
      Lin(2, 0x55, 0xA1, 0x80, 0, -1, {}),     // header only, no table
      Lin1(0, -2, {}),                         // SB and SF without error
      Lin1(0, -5, {}),                         // identifier field as for a frame
      Lin1(2, -1, {}),                         // no header
      Lin1(0, 3, {0x01, 0x02, 0xCC}, 0x0008),  // data byte 1 in error
  };
  Conversion c(kTagMdcl, records, plan);
  std::vector<std::string> expected = {
      "0000000 2 55A1-00  FRAME     0102" + Sp(14) + "CC  G  0",
      "0000000 1 55A1-00  FRAME   4 " + Sp(16) + Sp(4) + "  G  0",
      "0000000 1 55A1-00  FRAME   4 0102030405060708  EE  G  1",
      "0000000 2 55A1-00  FRAME" + Sp(25) + "  R  0",
      "0000000 1 55A1-    ILLEGAL" + Sp(23) + "     0",
      "0000000 1 55A1-00  ILLEGAL" + Sp(23) + "     0",
      "0000000 1 " + Sp(9) + "FRAME   4" + Sp(21) + "     0",
      "0000000 1 55A1-00  FRAME   4 01##" + Sp(14) + "CC  E  0",
      "",
  };
  EXPECT_EQ(c.Rows(Text()), expected);
  // Raw hex shows the byte in error and the protected identifier.
  std::vector<std::string> raw = c.Rows(Text(0, 1));
  ASSERT_EQ(raw.size(), expected.size());
  EXPECT_EQ(raw[7], "0000000 1 55A1-80  FRAME   4 0102" + Sp(14) + "CC  E  0");
}

TEST(ConverterTextRows, CountsBeyondTheRecordNeverReadOutside) {
  build::RecordFields can;
  can.source = 1;
  can.count = 12;
  can.kind = 12;
  can.identifier = 0x123u << 18;
  can.data = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  build::RecordFields lin;
  lin.source = 3;
  lin.count = 127;
  lin.kind = 0;
  lin.identifier = 0x55A18000;
  lin.data = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  build::RecordFields linNoChecksum = lin;
  linNoChecksum.kind = 1;
  linNoChecksum.status = 0xFFFF;  // every error bit: bits above 15 read as no error
  Conversion c(kTagMdcl, {build::Record(can), build::Record(lin), build::Record(linNoChecksum)});
  std::vector<std::string> rows = c.Rows(Text());
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], "0000000 1      123 DATA   12 0102030405060708      G  0");
  EXPECT_EQ(rows[1], "0000000 1 55A1-00  FRAME     0102030405060708  09  G  0");
  EXPECT_EQ(rows[2], "0000000 1 55A1-##  " + Sp(10) + "################" + Sp(4) + "  O  0");
}

// ------------------------------------------------------------- CSV rows

TEST(ConverterCsvRows, MoncRemoteDlcAboveEightMarkerAndNoDelta) {
  Conversion c(kTagMonc, {
                             CanRemoteFrame(2, 0x123, true, 8, TimeStamp(5, 12, 35, 0)),
                             CanData(1, 0x7FF, false, {0xAB}, TimeStamp(5, 13, 0, 0), 9),
                             Marker(kSourceLostData, TimeStamp(5, 13, 0, 5)),
                         });
  std::string expected =
      "TM,dT,CH,ID,TYPE,DLC,D1,D2,D3,D4,D5,D6,D7,D8,ST\r\n"
      "05:12.350,-------,2,00000123,REMOTE, 8,,,,,,,,,G\r\n"
      "05:13.000,00:00.650,1,7FF,DATA,9,AB,,,,,,,,G\r\n"
      "05:13.001,00:00.001,--LOSTDATA--\r\n";
  EXPECT_EQ(c.Run(Csv()), expected);
  ConversionOptions delta = Csv();
  delta.deltaTime = 1;  // text output only
  EXPECT_EQ(c.Run(delta), expected);
}

TEST(ConverterCsvRows, LinShapesTriggerAndErrors) {
  build::SettingsPlan plan;
  plan.channel[0].linTable = true;
  plan.channel[0].linTableLengths[0] = 2;
  std::vector<CaptureRecord> records = {
      build::WithLineFlags(Lin1(0, 3, {0x01, 0x02, 0xCC}), 0x80),
      Lin(2, 0x55, 0xA1, 0x80, 0, -1, {}),  // no table on channel 2
      Lin1(0, -2, {}, 0x0001),
      Lin1(0, -2, {}),
      Lin1(0, -4, {}),
      Lin1(1, 0, {}),
      Lin1(0, 3, {0x01, 0x02, 0xCC}, 0x0002 | 0x0004 | 0x0010),
  };
  Conversion c(kTagMdcl, records, plan);
  const std::string t0 = "00:00.000,-------,";
  const std::string t = "00:00.000,00:00.000,";
  std::vector<std::string> expected = {
      t0 + "1,55,A1,00,FRAME,2,01,02,,,,,,,CC,G,0,T", t + "2,55,A1,00,FRAME,,,,,,,,,,,R,0,",
      t + "1,55,##,,ILLEGAL" + Commas(11) + "E,0,",   t + "1,55,A1,,ILLEGAL" + Commas(11) + ",0,",
      t + "1,55,A1,00,ILLEGAL" + Commas(11) + ",0,",  t + "1,55,A1,00,,,,,,,,,,,,,0,",
      t + "1,55,A1,##,FRAME,2,##,02,,,,,,,##,E,0,",   "",
  };
  std::vector<std::string> rows = c.Rows(Csv());
  EXPECT_EQ(rows, expected);
  for (size_t i = 0; i + 1 < rows.size(); ++i) EXPECT_EQ(Cells(rows[i]), 20u) << i;

  std::vector<std::string> raw = c.Rows(Csv(0, 1));
  ASSERT_EQ(raw.size(), expected.size());
  EXPECT_EQ(raw[6], t + "1,55,A1,80,FRAME,2,01,02,,,,,,,CC,E,0,");
  EXPECT_EQ(raw[2], expected[2]);  // the SF mark is not a byte value
}

// ------------------------------------------------- selection and times

TEST(ConverterWalk, ChannelOneSelectionKeepsMarkersAndMeasuresFromSkippedRecords) {
  std::vector<CaptureRecord> records = {
      CanData(2, 0x200, false, {}, TimeStamp(0, 0, 10, 0)),
      CanData(1, 0x100, false, {}, TimeStamp(0, 0, 12, 5)),
      Lin(2, 0x55, 0xA1, 0x80, 0, 0, {}, 0, TimeStamp(0, 0, 20, 0)),
      Marker(kSourceOverrun, TimeStamp(0, 0, 30, 0)),
      Lin(1, 0x55, 0xA1, 0x80, 0, 0, {}, 0, TimeStamp(0, 0, 31, 0)),
  };
  Conversion c(kTagMdcl, records);
  std::vector<std::string> rows = c.Rows(Csv(1));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].substr(0, 22), "00:00.121,00:00.021,1,");
  EXPECT_EQ(rows[1], "00:00.300,00:00.100,--OVERRUN--");
  EXPECT_EQ(rows[2].substr(0, 22), "00:00.310,00:00.010,1,");

  std::vector<std::string> two = c.Rows(Text(2, 0, 1));
  ASSERT_EQ(two.size(), 4u);
  EXPECT_EQ(two[0].substr(0, 10), "------- 2 ");  // the file's first record
  EXPECT_EQ(two[1].substr(0, 10), "0000079 2 ");  // 0.200 - 0.121
  EXPECT_EQ(two[2].substr(0, 23), "0000100   --OVERRUN--");
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

// The text of an empty data chunk (the banner alone) is in
// LinChannelAndCustomTimingAboveTenMegabit.
TEST(ConverterChunks, EmptyChunkGivesAnEmptyCsv) {
  Conversion c(kTagMdcl, {});
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

TEST(ConverterChunks, NoSettingsChunkReadsAsCustomTimingWithNoRate) {
  Conversion c(build::CaptureFileBuilder().Data(kTagMonc, {}).Build());
  std::vector<std::string> lines = Lines(c.Run(Text()));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], Line39("*  CH1 PROTOCOL: CAN", 18));
  EXPECT_EQ(lines[2], Line39("*      BAUDRATE:--", 20));
  EXPECT_EQ(lines[3], Line39("*        BASEFREQ:--", 18));
}

// ------------------------------------------------ pages, stop, output

TEST(ConverterOutput, PageLimitEndsTheOutputAfterWholePages) {
  std::vector<CaptureRecord> records(200, CanData(1, 0x10, false, {}));
  Conversion c(kTagMonc, records);
  // Banner 6 lines, empty line, header: 58 rows complete the first page.
  std::string out = c.Run(Text(), nullptr, 1);
  std::vector<std::string> lines = Lines(out);
  EXPECT_EQ(lines.size(), 67u);
  EXPECT_EQ(lines[65], "0000000 1      010 DATA    0 " + Sp(16) + " G");
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
  std::vector<uint8_t> listFile =
      build::CaptureFileBuilder().Data(kTagMonc, {CanData(2, 0x123, true, {})}).Build();
  ASSERT_TRUE(c.listReader.LoadCopy(listFile.data(), listFile.size()));
  char out[16];
  EXPECT_EQ(c.converter.FormatListRow(0, 4, false, out, sizeof out), 8u);
  EXPECT_STREQ(out, "00000123");
  EXPECT_EQ(c.converter.FormatListRow(0, 4, false, out, 4), 3u);
  EXPECT_STREQ(out, "000");
  EXPECT_EQ(c.converter.FormatListRow(0, 1, false, out, sizeof out), 1u);
  EXPECT_STREQ(out, "2");
}

}  // namespace
}  // namespace ksvw
