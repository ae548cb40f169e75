// Loading DT capture images: the magic, the chunk walk, the data chunk and
// the record walk.
#include "capture/capture_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "capture/search.h"
#include "convert/capture_export.h"
#include "testsupport/capture_builder.h"

namespace ksvw {
namespace {

using build::CaptureFileBuilder;

std::vector<CaptureRecord> ThreeFrames() {
  return {build::CanData(1, 0x100, false, {1}), build::CanData(2, 0x200, false, {2, 3}),
          build::CanData(1, 0x300, false, {4, 5, 6})};
}
std::vector<uint8_t> Bytes(size_t n, uint8_t fill = 0xAB) {
  return std::vector<uint8_t>(n, fill);
}
std::vector<uint8_t> Cut(std::vector<uint8_t> file, size_t n) {
  file.resize(n);
  return file;
}
// The real magic with byte `at` replaced.
std::string MagicWith(size_t at, char c) {
  std::string magic(kCaptureMagic, kMagicSize);
  magic[at] = c;
  return magic;
}

// Loads from an exactly sized heap copy so that AddressSanitizer sees any
// read past the end of the file.
struct Loaded {
  CaptureReader reader;
  bool ok;
  explicit Loaded(const std::vector<uint8_t>& file)
      : ok(reader.LoadCopy(file.data(), file.size())) {}
};

TEST(CaptureImage, MagicChunkWalkAndDataChunk) {
  const auto three = CaptureFileBuilder().Data(kTagMonc, ThreeFrames());
  auto seventy = Bytes(70);
  seventy[32] = 2;  // source of the second record
  struct {
    const char* what;
    std::vector<uint8_t> file;
    int32_t records;  // -1: not a capture
    uint32_t tag;
  } cases[] = {
      {"three frames", three.Build(), 3, kTagMonc},
      {"magic alone", CaptureFileBuilder().Build(), -1, 0},
      {"interrupted download: zero header",
       CaptureFileBuilder(three).Magic(std::string(16, '\0')).Build(), -1, 0},
      {"byte 15 not zero", CaptureFileBuilder(three).Magic(MagicWith(15, ' ')).Build(), -1, 0},
      {"two spaces", CaptureFileBuilder(three).Magic(MagicWith(14, '\0')).Build(), -1, 0},
      {"lower case", CaptureFileBuilder(three).Magic(MagicWith(0, 'k')).Build(), -1, 0},
      {"empty data chunk", CaptureFileBuilder().Chunk(kTagMonc, {}).Build(), 0, kTagMonc},
      {"70-byte data chunk", CaptureFileBuilder().Chunk(kTagMdcl, seventy).Build(), 2, kTagMdcl},
      {"last data chunk wins",
       CaptureFileBuilder(three)
           .Data(kTagMdcl, {build::Lin(2, 0x55, 0, 0x80, 0, 3, {1, 2, 3})})
           .Build(),
       1, kTagMdcl},
      {"later chunk one byte past the end",
       CaptureFileBuilder(three)
           .ChunkWithLength(MakeTag('X', 'Y', 'Z', 'W'), 11, Bytes(10))
           .Build(),
       -1, 0},
      {"data chunk past the end", Cut(three.Build(), three.Build().size() - 1), -1, 0},
      {"length near 2^32",
       CaptureFileBuilder().ChunkWithLength(kTagMonc, 0xFFFFFFF8u, Bytes(32)).Build(), -1, 0},
      {"1 trailing byte", CaptureFileBuilder(three).Raw(Bytes(1, 0xFF)).Build(), 3, kTagMonc},
      {"7 trailing bytes", CaptureFileBuilder(three).Raw(Bytes(7, 0xFF)).Build(), 3, kTagMonc},
      {"8 trailing bytes: a header claiming too much",
       CaptureFileBuilder(three).Raw(Bytes(8, 0xFF)).Build(), -1, 0},
      {"unknown chunks skipped",
       CaptureFileBuilder()
           .Chunk(MakeTag('N', 'O', 'T', 'E'), Bytes(13))
           .Data(kTagMdcl, ThreeFrames())
           .Chunk(MakeTag('M', 'O', 'N', 'D'), Bytes(5))
           .Build(),
       3, kTagMdcl},
      {"only other chunks",
       CaptureFileBuilder()
           .Chunk(kTagDinf, Bytes(8))
           .Chunk(MakeTag('M', 'O', 'N', 'X'), Bytes(32))
           .Build(),
       -1, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsCaptureImage(c.file.data(), c.file.size()), c.records >= 0) << c.what;
    Loaded loaded(c.file);
    EXPECT_EQ(loaded.ok, c.records >= 0) << c.what;
    EXPECT_EQ(loaded.reader.RecordCount(), c.records >= 0 ? c.records : 0) << c.what;
    EXPECT_EQ(loaded.reader.DataTag(), c.tag) << c.what;
    EXPECT_TRUE(loaded.reader.HasImage()) << c.what << ": kept until released";
  }
  Loaded last(cases[8].file);  // last data chunk wins
  EXPECT_EQ(last.reader.Record(0).source(), kSourceLin2);
  Loaded partial(cases[7].file);  // 70 bytes
  EXPECT_EQ(partial.reader.Record(1).source(), 2);
  for (size_t n = 0; n < 16; ++n) {
    auto cut = Cut(three.Build(), n);
    EXPECT_FALSE(IsCaptureImage(cut.data(), cut.size())) << n;
    EXPECT_FALSE(Loaded(cut).ok) << n;
  }
}

TEST(CaptureImage, SettingsFromDinfWhereverItIsElseDefaultsAgain) {
  build::SettingsPlan plan;
  plan.channel[1].lin = true;
  plan.channel[1].linBitRate = 96000;
  auto dinf = build::KnownSizeDinf(plan);
  Loaded before(CaptureFileBuilder().Dinf(dinf).Data(kTagMdcl, ThreeFrames()).Build());
  Loaded after(CaptureFileBuilder().Data(kTagMdcl, ThreeFrames()).Dinf(dinf).Build());
  ASSERT_TRUE(before.ok && after.ok);
  EXPECT_EQ(
      0, std::memcmp(before.reader.Settings().bytes, after.reader.Settings().bytes, kSettingsSize));
  EXPECT_EQ(after.reader.Settings().protocol(1), 2);
  EXPECT_EQ(after.reader.Settings().lin(1).bitRate(), 96000);

  // Loading a file without DINF into the same reader starts from defaults.
  auto without = CaptureFileBuilder().Data(kTagMdcl, ThreeFrames()).Build();
  ASSERT_TRUE(after.reader.LoadCopy(without.data(), without.size()));
  EXPECT_EQ(0, std::memcmp(after.reader.Settings().bytes, CaptureSettings{}.bytes, kSettingsSize));
  EXPECT_EQ(after.reader.Settings().protocol(1), 0);
  EXPECT_FALSE(after.reader.Settings().lin(1).hasLengthTable());
}

TEST(CaptureRecordWalk, SeekClampsAndNextVisitsEveryRecordOnceInFileOrder) {
  // A 3-byte chunk before the data puts every record at an odd address.
  Loaded loaded(CaptureFileBuilder()
                    .Chunk(MakeTag('P', 'A', 'D', '3'), Bytes(3))
                    .Data(kTagMonc, ThreeFrames())
                    .Build());
  CaptureReader& r = loaded.reader;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&r.Record(0)) % 2, 1u);
  EXPECT_EQ(r.CurrentIndex(), 0);
  for (auto [seek, index] : {std::pair{3, 2}, {1000000, 2}, {-5, 0}, {1, 1}}) {
    r.SeekRecord(seek);
    EXPECT_EQ(r.CurrentIndex(), index) << seek;
  }
  std::vector<uint32_t> ids;
  int32_t cursor = 0;
  do {
    ids.push_back(CanIdentifier(r.Record(cursor)));
  } while (r.NextRecord(cursor));
  EXPECT_EQ(ids, (std::vector<uint32_t>{0x100, 0x200, 0x300}));
  EXPECT_EQ(r.Record(1).count(), 2);

  // StopWalk ends a walk after the record in hand.
  cursor = 0;
  ASSERT_TRUE(r.NextRecord(cursor));
  r.StopWalk();
  EXPECT_FALSE(r.NextRecord(cursor));

  Loaded one(CaptureFileBuilder().Data(kTagMonc, {build::CanData(1, 1, false, {})}).Build());
  Loaded empty(CaptureFileBuilder().Chunk(kTagMonc, {}).Build());
  empty.reader.SeekRecord(7);
  EXPECT_EQ(empty.reader.CurrentIndex(), 0);
  for (CaptureReader* single : {&one.reader, &empty.reader}) {
    int32_t c = 0;
    EXPECT_FALSE(single->NextRecord(c));
  }
}

TEST(CaptureFiles, SelectorsLoadSeparateReadersFromFiles) {
  std::string a = ::testing::TempDir() + "ksvw_reader_a.DT";
  std::string b = ::testing::TempDir() + "ksvw_reader_b.DT";
  std::string text = ::testing::TempDir() + "ksvw_reader_text.DT";
  std::string missing = ::testing::TempDir() + "ksvw_reader_missing.DT";
  ASSERT_TRUE(build::WriteFile(a, CaptureFileBuilder().Data(kTagMonc, ThreeFrames()).Build()));
  ASSERT_TRUE(build::WriteFile(b, build::GenerateCapture(100, kTagMdcl, 3)));
  ASSERT_TRUE(build::WriteFile(text, {'h', 'e', 'l', 'l', 'o'}));
  std::remove(missing.c_str());

  EXPECT_TRUE(IsCaptureFile(a.c_str()));
  EXPECT_FALSE(IsCaptureFile(text.c_str()));
  EXPECT_FALSE(IsCaptureFile(missing.c_str()));
  ASSERT_TRUE(LoadCaptureFile(a.c_str(), kReaderOpenedFile));
  ASSERT_TRUE(LoadCaptureFile(b.c_str(), kReaderConversion));
  EXPECT_EQ(ViewerRecordCount(), 3);
  EXPECT_EQ(conversionReader.RecordCount(), 100);
  ReleaseCaptureImage(kReaderConversion);
  EXPECT_EQ(viewerReader.RecordCount(), 3) << "releasing one reader leaves the other alone";
  EXPECT_EQ(CanIdentifier(viewerReader.Record(2)), 0x300u);
  ReleaseCaptureImage(kReaderOpenedFile);
  EXPECT_EQ(ViewerRecordCount(), 0);

  EXPECT_FALSE(LoadCaptureFile(missing.c_str(), kReaderOpenedFile));
  EXPECT_FALSE(LoadCaptureFile(a.c_str(), 7));  // unknown selector
  EXPECT_FALSE(LoadCaptureFile(text.c_str(), kReaderDownload));
  EXPECT_EQ(ViewerRecordCount(), 0);
  ReleaseCaptureImage(kReaderDownload);
  for (const std::string& path : {a, b, text}) std::remove(path.c_str());
}

// A capture of several stream windows read each way the program and the
// command line read one: the records forward and backward, the settings and
// the searches in both directions are those of the image in memory.
TEST(CaptureFiles, MappedCopiedAndStreamedReadWhatTheImageHolds) {
  const int32_t n = 2 * kStreamWindowRecords + 5;
  const std::vector<uint8_t> file = build::GenerateCapture(n, kTagMdcl, 9);
  const std::string path = ::testing::TempDir() + "ksvw_reader_windows.DT";
  ASSERT_TRUE(build::WriteFile(path, file));
  const Loaded image(file);
  SearchCondition errors{};
  errors.kind = kSearchError;
  errors.errorStatusMask = 0xFFFF;
  errors.mode = kSearchCount;
  ASSERT_GT(FindForward(image.reader, errors, -1).count, 2u);
  for (CaptureAccess access : {CaptureAccess::Map, CaptureAccess::Copy, CaptureAccess::Stream}) {
    SCOPED_TRACE(static_cast<int>(access));
    ASSERT_TRUE(LoadCaptureFile(path.c_str(), kReaderConversion, access));
    const CaptureReader& r = conversionReader;
    ASSERT_EQ(r.RecordCount(), n);
    EXPECT_EQ(0, std::memcmp(r.Settings().bytes, image.reader.Settings().bytes, kSettingsSize));
    auto differs = [&](int32_t i) {
      return std::memcmp(&r.Record(i), &image.reader.Record(i), kRecordSize) != 0;
    };
    int32_t cursor = 0, visited = 0, mismatches = 0;
    do {
      mismatches += differs(cursor);
      ++visited;
    } while (r.NextRecord(cursor));
    for (int32_t i = n - 1; i >= 0; i -= 3) mismatches += differs(i);
    EXPECT_EQ(visited, n);
    EXPECT_EQ(mismatches, 0);
    for (int mode : {kSearchCount, kSearchSelectFirst}) {
      for (auto direction : {SearchDirection::Down, SearchDirection::Up}) {
        for (int32_t from : {-1, kStreamWindowRecords + 1, n}) {
          errors.mode = mode;
          errors.direction = direction;
          const SearchResult got = FindInDirection(r, errors, from);
          const SearchResult want = FindInDirection(image.reader, errors, from);
          EXPECT_EQ(got.row, want.row) << mode << " from " << from;
          EXPECT_EQ(got.count, want.count) << mode << " from " << from;
        }
      }
    }
    EXPECT_EQ(r.ReadError(), 0);
  }
  ReleaseCaptureImage(kReaderConversion);
  std::remove(path.c_str());
}

// A file that gets shorter after it was loaded: a streamed conversion or
// export ends with the read error and leaves the old output as it was; a
// copy in memory is not touched by it.
TEST(CaptureFiles, AStreamedFileThatGetsShorterWritesNoOutput) {
  const std::vector<uint8_t> file = build::GenerateCapture(3 * kStreamWindowRecords, kTagMonc, 4);
  const std::string path = ::testing::TempDir() + "ksvw_reader_shrinking.DT";
  const std::string out = ::testing::TempDir() + "ksvw_reader_shrinking.out";
  TextConverter converter(conversionReader, viewerReader);
  converter.SetOutputPath(out);
  // The converter (no format) and every export.
  std::vector<const ExportFormat*> formats{nullptr};
  for (const ExportFormat& f : kExportFormats) formats.push_back(&f);
  for (const ExportFormat* format : formats) {
    for (CaptureAccess access : {CaptureAccess::Copy, CaptureAccess::Stream}) {
      SCOPED_TRACE(std::string(format ? format->name : "text") + " " +
                   std::to_string(static_cast<int>(access)));
      const bool streamed = access == CaptureAccess::Stream;
      ASSERT_TRUE(build::WriteFile(path, file));
      ASSERT_TRUE(build::WriteFile(out, {'o', 'l', 'd'}));
      ASSERT_TRUE(LoadCaptureFile(path.c_str(), kReaderConversion, access));
      std::filesystem::resize_file(path, file.size() / 2);
      ExportOptions options;
      options.format = format;
      ExportTally tally;
      const ConvertResult result =
          format ? ExportCapture(conversionReader, options, out, nullptr, tally)
                 : converter.Convert(nullptr, TextConverter::kNoPageLimit);
      EXPECT_EQ(result, streamed ? ConvertResult::ReadFailed : ConvertResult::Done);
      EXPECT_EQ(conversionReader.ReadError(), streamed ? EIO : 0);
      EXPECT_EQ(build::ReadFile(out).size() == 3, streamed);
    }
  }
  ReleaseCaptureImage(kReaderConversion);
  for (const std::string& p : {path, out}) std::remove(p.c_str());
}

}  // namespace
}  // namespace ksvw
