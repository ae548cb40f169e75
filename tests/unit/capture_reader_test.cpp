// Loading DT capture images: the magic, the chunk walk, the data chunk and
// the record walk.
#include "capture/capture_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

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

bool IsCapture(const std::vector<uint8_t>& file) {
  return IsCaptureImage(file.data(), file.size());
}

// Loads from an exactly sized heap copy so that AddressSanitizer sees any
// read past the end of the file.
struct Loaded {
  CaptureReader reader;
  bool ok;
  explicit Loaded(const std::vector<uint8_t>& file)
      : ok(reader.LoadCopy(file.data(), file.size())) {}
};

TEST(CaptureMagic, ExactSixteenBytesWithRightMagicHasNoDataChunk) {
  auto file = CaptureFileBuilder().Build();
  ASSERT_EQ(file.size(), 16u);
  EXPECT_FALSE(IsCapture(file));
  EXPECT_FALSE(Loaded(file).ok);
}

TEST(CaptureMagic, InterruptedDownloadWithZeroHeaderIsNotACapture) {
  auto file =
      CaptureFileBuilder().Magic(std::string(16, '\0')).Data(kTagMdcl, ThreeFrames()).Build();
  EXPECT_FALSE(IsCapture(file));
  Loaded loaded(file);
  EXPECT_FALSE(loaded.ok);
  EXPECT_EQ(loaded.reader.RecordCount(), 0);
  EXPECT_TRUE(loaded.reader.HasImage());  // the image stays with the reader until released
}

TEST(CaptureMagic, NearMissesAreRejected) {
  const std::string lastByteNotZero = std::string("KESTRIN DATA   ") + ' ';
  const std::string twoSpaces = std::string("KESTRIN DATA  ") + '\0' + '\0';
  const std::string lowerCase = std::string("kestrin data   ") + '\0';
  for (const auto& magic : {lastByteNotZero, twoSpaces, lowerCase}) {
    auto file = CaptureFileBuilder().Magic(magic).Data(kTagMonc, ThreeFrames()).Build();
    EXPECT_FALSE(IsCapture(file)) << magic;
    EXPECT_FALSE(Loaded(file).ok) << magic;
  }
}

TEST(CaptureMagic, ShorterThanMagicIsRejected) {
  auto file = CaptureFileBuilder().Build();
  for (size_t n = 0; n < 16; ++n) {
    std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<long>(n));
    EXPECT_FALSE(IsCapture(cut));
    EXPECT_FALSE(Loaded(cut).ok);
  }
}

TEST(CaptureChunks, EmptyDataChunkIsValidWithZeroRecords) {
  auto file = CaptureFileBuilder().Chunk(kTagMonc, {}).Build();
  EXPECT_TRUE(IsCapture(file));
  Loaded loaded(file);
  EXPECT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.reader.RecordCount(), 0);
  EXPECT_EQ(loaded.reader.DataTag(), kTagMonc);
  int32_t cursor = 0;
  EXPECT_FALSE(loaded.reader.NextRecord(cursor));
}

TEST(CaptureChunks, PartialRecordAtChunkEndIsIgnored) {
  auto body = Bytes(70);
  body[32] = 2;  // source of the second record
  Loaded loaded(CaptureFileBuilder().Chunk(kTagMdcl, body).Build());
  ASSERT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.reader.RecordCount(), 2);
  EXPECT_EQ(loaded.reader.DataLength(), 70u);
  EXPECT_EQ(loaded.reader.Record(1).source(), 2);
}

TEST(CaptureChunks, LastDataChunkWins) {
  std::vector<CaptureRecord> second = {build::Lin(2, 0x55, 0, 0x80, 0, 3, {1, 2, 3})};
  Loaded loaded(CaptureFileBuilder().Data(kTagMonc, ThreeFrames()).Data(kTagMdcl, second).Build());
  ASSERT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.reader.DataTag(), kTagMdcl);
  ASSERT_EQ(loaded.reader.RecordCount(), 1);
  EXPECT_EQ(loaded.reader.Record(0).source(), kSourceLin2);
}

TEST(CaptureChunks, ChunkRunningPastTheEndInvalidatesTheFile) {
  auto good = CaptureFileBuilder().Data(kTagMonc, ThreeFrames());
  // A later chunk claims one byte more than the file holds.
  auto file =
      CaptureFileBuilder(good).ChunkWithLength(MakeTag('X', 'Y', 'Z', 'W'), 11, Bytes(10)).Build();
  EXPECT_FALSE(IsCapture(file));
  Loaded loaded(file);
  EXPECT_FALSE(loaded.ok);
  EXPECT_EQ(loaded.reader.RecordCount(), 0);
  // The data chunk itself running past the end.
  auto cut = good.Build();
  cut.pop_back();
  EXPECT_FALSE(IsCapture(cut));
  EXPECT_FALSE(Loaded(cut).ok);
  // A length near 2^32 must not wrap the bounds check.
  auto huge = CaptureFileBuilder().ChunkWithLength(kTagMonc, 0xFFFFFFF8u, Bytes(32)).Build();
  EXPECT_FALSE(IsCapture(huge));
  EXPECT_FALSE(Loaded(huge).ok);
}

TEST(CaptureChunks, OneToSevenTrailingBytesAreIgnored) {
  for (size_t extra = 1; extra <= 7; ++extra) {
    auto file = CaptureFileBuilder().Data(kTagMonc, ThreeFrames()).Raw(Bytes(extra, 0xFF)).Build();
    EXPECT_TRUE(IsCapture(file)) << extra;
    Loaded loaded(file);
    EXPECT_TRUE(loaded.ok) << extra;
    EXPECT_EQ(loaded.reader.RecordCount(), 3) << extra;
  }
  // Eight trailing bytes are a chunk header, here one that claims too much.
  auto file = CaptureFileBuilder().Data(kTagMonc, ThreeFrames()).Raw(Bytes(8, 0xFF)).Build();
  EXPECT_FALSE(IsCapture(file));
}

TEST(CaptureChunks, UnknownChunksAreSkipped) {
  Loaded loaded(CaptureFileBuilder()
                    .Chunk(MakeTag('N', 'O', 'T', 'E'), Bytes(13))
                    .Data(kTagMonc, ThreeFrames())
                    .Chunk(MakeTag('M', 'O', 'N', 'D'), Bytes(5))
                    .Build());
  ASSERT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.reader.RecordCount(), 3);
  EXPECT_EQ(loaded.reader.Record(2).data()[2], 6);
}

TEST(CaptureChunks, OnlyUnknownChunksIsNotACapture) {
  auto file = CaptureFileBuilder()
                  .Chunk(kTagDinf, Bytes(8))
                  .Chunk(MakeTag('M', 'O', 'N', 'X'), Bytes(32))
                  .Build();
  EXPECT_FALSE(IsCapture(file));
  EXPECT_FALSE(Loaded(file).ok);
}

TEST(CaptureSettingsChunk, MissingDinfGivesDefaults) {
  Loaded loaded(CaptureFileBuilder().Data(kTagMdcl, ThreeFrames()).Build());
  ASSERT_TRUE(loaded.ok);
  CaptureSettings defaults;
  const CaptureSettings& s = loaded.reader.Settings();
  EXPECT_EQ(0, std::memcmp(s.bytes, defaults.bytes, kSettingsSize));
  EXPECT_EQ(s.protocol(0), 0);
  EXPECT_EQ(s.protocol(1), 0);
  EXPECT_FALSE(s.lin(1).hasLengthTable());
  EXPECT_EQ(LoadLE32(s.bytes + 0), 788u);
  EXPECT_EQ(LoadLE32(s.bytes + 100), 0u);  // LIN group size stays zero
}

TEST(CaptureSettingsChunk, DinfBeforeOrAfterDataGivesTheSameSettings) {
  build::SettingsPlan plan;
  plan.channel[1].lin = true;
  plan.channel[1].linBitRate = 96000;
  auto dinf = build::KnownSizeDinf(plan);
  Loaded before(CaptureFileBuilder().Dinf(dinf).Data(kTagMdcl, ThreeFrames()).Build());
  Loaded after(CaptureFileBuilder().Data(kTagMdcl, ThreeFrames()).Dinf(dinf).Build());
  ASSERT_TRUE(before.ok);
  ASSERT_TRUE(after.ok);
  EXPECT_EQ(
      0, std::memcmp(before.reader.Settings().bytes, after.reader.Settings().bytes, kSettingsSize));
  EXPECT_EQ(after.reader.Settings().protocol(1), 2);
  EXPECT_EQ(after.reader.Settings().lin(1).bitRate(), 96000);
}

TEST(CaptureSettingsChunk, ReloadStartsFromDefaults) {
  build::SettingsPlan plan;
  plan.channel[0].lin = true;
  CaptureReader reader;
  auto withDinf =
      CaptureFileBuilder().Dinf(build::KnownSizeDinf(plan)).Data(kTagMdcl, ThreeFrames()).Build();
  ASSERT_TRUE(reader.LoadCopy(withDinf.data(), withDinf.size()));
  EXPECT_EQ(reader.Settings().protocol(0), 2);
  auto without = CaptureFileBuilder().Data(kTagMdcl, ThreeFrames()).Build();
  ASSERT_TRUE(reader.LoadCopy(without.data(), without.size()));
  EXPECT_EQ(reader.Settings().protocol(0), 0);
}

TEST(CaptureRecordWalk, SeekClampsToTheRecords) {
  Loaded loaded(CaptureFileBuilder().Data(kTagMonc, ThreeFrames()).Build());
  CaptureReader& r = loaded.reader;
  EXPECT_EQ(r.CurrentIndex(), 0);
  r.SeekRecord(3);
  EXPECT_EQ(r.CurrentIndex(), 2);
  r.SeekRecord(1000000);
  EXPECT_EQ(r.CurrentIndex(), 2);
  r.SeekRecord(-5);
  EXPECT_EQ(r.CurrentIndex(), 0);
  r.SeekRecord(1);
  EXPECT_EQ(r.CurrentIndex(), 1);

  Loaded empty(CaptureFileBuilder().Chunk(kTagMonc, {}).Build());
  empty.reader.SeekRecord(7);
  EXPECT_EQ(empty.reader.CurrentIndex(), 0);
}

TEST(CaptureRecordWalk, NextRecordVisitsEveryRecordOnceInFileOrder) {
  Loaded loaded(CaptureFileBuilder().Data(kTagMonc, ThreeFrames()).Build());
  std::vector<uint32_t> ids;
  int32_t cursor = loaded.reader.CurrentIndex();
  do {
    ids.push_back(CanIdentifier(loaded.reader.Record(cursor)));
  } while (loaded.reader.NextRecord(cursor));
  EXPECT_EQ(ids, (std::vector<uint32_t>{0x100, 0x200, 0x300}));

  Loaded one(CaptureFileBuilder().Data(kTagMonc, {build::CanData(1, 1, false, {})}).Build());
  int32_t c = 0;
  EXPECT_FALSE(one.reader.NextRecord(c));
}

TEST(CaptureRecordWalk, StopWalkEndsTheWalkAfterTheRecordInHand) {
  Loaded loaded(CaptureFileBuilder().Data(kTagMonc, ThreeFrames()).Build());
  int32_t cursor = 0;
  ASSERT_TRUE(loaded.reader.NextRecord(cursor));
  loaded.reader.StopWalk();
  EXPECT_FALSE(loaded.reader.NextRecord(cursor));
  EXPECT_EQ(loaded.reader.RecordCount(), 0);
}

TEST(CaptureRecordWalk, RecordsAreReadInPlaceAtAnyAlignment) {
  // A 3-byte chunk before the data puts every record at an odd address.
  auto records = ThreeFrames();
  Loaded loaded(CaptureFileBuilder()
                    .Chunk(MakeTag('P', 'A', 'D', '3'), Bytes(3))
                    .Data(kTagMonc, records)
                    .Build());
  ASSERT_TRUE(loaded.ok);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(loaded.reader.FirstRecord()) % 2, 1u);
  EXPECT_EQ(CanIdentifier(loaded.reader.Record(1)), 0x200u);
  EXPECT_EQ(loaded.reader.Record(1).count(), 2);
}

class CaptureFiles : public ::testing::Test {
 protected:
  std::string Path(const char* name) { return ::testing::TempDir() + "ksvw_reader_" + name; }
  void TearDown() override {
    ReleaseCaptureImage(0);
    ReleaseCaptureImage(2);
  }
};

TEST_F(CaptureFiles, ReadersKeepSeparateImages) {
  std::string a = Path("a.DT"), b = Path("b.DT");
  ASSERT_TRUE(build::WriteFile(a, CaptureFileBuilder().Data(kTagMonc, ThreeFrames()).Build()));
  ASSERT_TRUE(build::WriteFile(b, build::GenerateCapture(100, kTagMdcl, 3)));
  EXPECT_TRUE(IsCaptureFile(a.c_str()));
  ASSERT_TRUE(LoadCaptureFile(a.c_str(), 0));
  ASSERT_TRUE(LoadCaptureFile(b.c_str(), 2));
  EXPECT_EQ(ViewerRecordCount(), 3);
  EXPECT_EQ(viewerReader.RecordCount(), 3);
  EXPECT_EQ(conversionReader.RecordCount(), 100);
  ReleaseCaptureImage(2);
  EXPECT_EQ(viewerReader.RecordCount(), 3);  // releasing one reader leaves the other alone
  EXPECT_EQ(CanIdentifier(viewerReader.Record(2)), 0x300u);
  ReleaseCaptureImage(0);
  EXPECT_EQ(ViewerRecordCount(), 0);
  std::remove(a.c_str());
  std::remove(b.c_str());
}

TEST_F(CaptureFiles, MissingOrInvalidFilesFail) {
  std::string missing = Path("missing.DT");
  std::remove(missing.c_str());
  EXPECT_FALSE(IsCaptureFile(missing.c_str()));
  EXPECT_FALSE(LoadCaptureFile(missing.c_str(), 0));
  EXPECT_FALSE(LoadCaptureFile(missing.c_str(), 7));  // unknown selector
  std::string text = Path("text.DT");
  ASSERT_TRUE(build::WriteFile(text, {'h', 'e', 'l', 'l', 'o'}));
  EXPECT_FALSE(IsCaptureFile(text.c_str()));
  EXPECT_FALSE(LoadCaptureFile(text.c_str(), 1));
  EXPECT_EQ(ViewerRecordCount(), 0);
  std::remove(text.c_str());
}

}  // namespace
}  // namespace ksvw

namespace ksvw {
namespace {

TEST(CaptureBuilderSettings, KnownSizeBodyParsesWholeIntoTheSameImage) {
  build::SettingsPlan plan;
  plan.channel[0].preset = 0;
  plan.channel[0].baseFrequency = 160000000;
  plan.channel[0].pts = 5;
  plan.channel[1].lin = true;
  plan.channel[1].linTable = true;
  plan.channel[1].linTableLengths[9] = 4;
  auto body = build::KnownSizeDinf(plan);
  ASSERT_EQ(body.size(), static_cast<size_t>(kSettingsSize));
  CaptureSettings parsed;
  EXPECT_TRUE(ParseCaptureSettings(parsed, body.data(), body.size()));
  EXPECT_EQ(0, std::memcmp(parsed.bytes, body.data(), body.size()));
  EXPECT_EQ(parsed.lin(1).tableLength(9), 4);
}

}  // namespace
}  // namespace ksvw
