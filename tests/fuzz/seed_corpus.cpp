// Writes the fuzzer's seed corpus: small well-formed captures of both option
// boards, and captures with the edge shapes the reader must survive (short
// and long settings blocks, truncated chunks, unknown and repeated chunks,
// a data chunk with a partial record, bad magic).
//   ksvw_fuzz_seed_corpus DIR
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/capture_builder.h"

namespace {

using ksvw::build::CaptureFileBuilder;
using Bytes = std::vector<uint8_t>;

std::vector<ksvw::CaptureRecord> EveryShape() {
  using namespace ksvw::build;
  const uint32_t t = TimeStamp(59, 59, 99, 199);  // the hour wraps after this one
  return {
      CanData(1, 0x123, false, {1, 2, 3, 4, 5, 6, 7, 8}, t),
      CanData(2, 0x1FFFFFFF, true, {}, TimeStamp(0, 0, 0, 1)),
      CanData(1, 0x7FF, false, {0xAA}, TimeStamp(0, 0, 0, 2), 15),
      CanRemoteFrame(2, 0x55, false, 8, TimeStamp(0, 0, 1, 0)),
      CanRemoteFrame(1, 0x1ABCDEF, true, 0, TimeStamp(0, 1, 0, 0)),
      Lin(1, 0x55, 0x55, 0x3C, 0, 8, {1, 2, 3, 4, 5, 6, 7, 8, 0x99}, 0, TimeStamp(0, 2, 0, 0)),
      Lin(2, 0x00, 0x12, 0xFF, 1, 2, {0xFF, 0xFE, 0x01}, 0xFFFF, TimeStamp(0, 3, 0, 0)),
      Lin(1, 0x55, 0x55, 0x80, 3, -1, {}, 0x0101, TimeStamp(0, 4, 0, 0)),
      WithLineFlags(Marker(ksvw::kSourceOverrun, TimeStamp(0, 5, 0, 0)), 0x90),
      Marker(ksvw::kSourceLostData, TimeStamp(0, 5, 0, 1)),
      WithStatus(CanData(2, 0x10, false, {9}, TimeStamp(1, 0, 0, 0)), 0x80FF),
      Record({.source = 0x7F,
              .lineFlags = 0xFF,
              .status = 0xFFFF,
              .timeStamp = 0xFFFFFFFF,
              .count = 127,
              .kind = 0xFF,
              .identifier = 0xFFFFFFFF,
              .data = {0, 1, 2, 3, 4, 5, 6, 7, 8}}),
  };
}

Bytes RecordBytes(const std::vector<ksvw::CaptureRecord>& records) {
  Bytes bytes;
  for (const ksvw::CaptureRecord& r : records)
    bytes.insert(bytes.end(), r.raw, r.raw + sizeof r.raw);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ksvw_fuzz_seed_corpus DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    std::fprintf(stderr, "ksvw_fuzz_seed_corpus: cannot create %s\n", argv[1]);
    return 1;
  }

  std::vector<std::pair<std::string, Bytes>> seeds;
  // Generated traffic of both boards, a few sizes.
  for (uint32_t count : {0u, 1u, 3u, 12u, 40u}) {
    seeds.push_back({"monc_" + std::to_string(count),
                     ksvw::build::GenerateCapture(count, ksvw::kTagMonc, 7 + count)});
    seeds.push_back({"mdcl_" + std::to_string(count),
                     ksvw::build::GenerateCapture(count, ksvw::kTagMdcl, 11 + count)});
  }

  const auto shapes = EveryShape();
  ksvw::build::SettingsPlan mdclSpec;
  mdclSpec.channel[1].lin = true;
  mdclSpec.channel[1].linTable = true;
  for (int id = 0; id < 64; ++id)
    mdclSpec.channel[1].linTableLengths[id] = static_cast<uint8_t>(id);
  ksvw::build::SettingsPlan customSpec;
  customSpec.channel[0].preset = 0;
  customSpec.channel[0].baseFrequency = 80000000;
  customSpec.channel[0].pts = -1;  // a divisor of zero
  customSpec.channel[0].pbs1 = 0;
  customSpec.channel[0].pbs2 = 0;
  const Bytes mdclDinf = ksvw::build::KnownSizeDinf(mdclSpec);
  const Bytes customDinf = ksvw::build::KnownSizeDinf(customSpec);

  seeds.push_back(
      {"shapes_mdcl", CaptureFileBuilder().Dinf(mdclDinf).Data(ksvw::kTagMdcl, shapes).Build()});
  seeds.push_back(
      {"shapes_monc", CaptureFileBuilder().Dinf(customDinf).Data(ksvw::kTagMonc, shapes).Build()});
  // Settings blocks cut short and run long.
  seeds.push_back({"dinf_short", CaptureFileBuilder()
                                     .Dinf(Bytes(mdclDinf.begin(), mdclDinf.begin() + 100))
                                     .Data(ksvw::kTagMdcl, shapes)
                                     .Build()});
  Bytes longDinf = mdclDinf;
  longDinf.insert(longDinf.end(), 64, 0x5A);
  seeds.push_back(
      {"dinf_long", CaptureFileBuilder().Dinf(longDinf).Data(ksvw::kTagMdcl, shapes).Build()});
  // Chunk walk: unknown chunk first, two data chunks (the last one counts),
  // settings after the data, no settings at all.
  seeds.push_back({"chunks_many", CaptureFileBuilder()
                                      .Chunk(ksvw::MakeTag('X', 'Y', 'Z', 'W'), Bytes(10, 1))
                                      .Data(ksvw::kTagMonc, {shapes[0]})
                                      .Data(ksvw::kTagMdcl, shapes)
                                      .Dinf(mdclDinf)
                                      .Build()});
  seeds.push_back({"no_settings", CaptureFileBuilder().Data(ksvw::kTagMdcl, shapes).Build()});
  // A data chunk with a partial record; one claiming more than the file holds.
  Bytes partial = RecordBytes(shapes);
  partial.resize(partial.size() - 7);
  seeds.push_back({"partial_record", CaptureFileBuilder().Chunk(ksvw::kTagMdcl, partial).Build()});
  seeds.push_back({"truncated_data", CaptureFileBuilder()
                                         .Dinf(mdclDinf)
                                         .ChunkWithLength(ksvw::kTagMdcl, 4096, RecordBytes(shapes))
                                         .Build()});
  seeds.push_back(
      {"truncated_header", CaptureFileBuilder().Raw({'M', 'D', 'C', 'L', 32, 0}).Build()});
  seeds.push_back({"magic_only", CaptureFileBuilder().Build()});
  std::string badMagic(ksvw::kCaptureMagic, ksvw::kMagicSize);
  badMagic[14] = 'X';
  seeds.push_back(
      {"bad_magic", CaptureFileBuilder().Magic(badMagic).Data(ksvw::kTagMdcl, shapes).Build()});
  // Bare settings bodies for the settings parser.
  seeds.push_back({"dinf_body_mdcl", mdclDinf});
  seeds.push_back({"dinf_body_custom", customDinf});

  for (const auto& [name, bytes] : seeds) {
    const std::string path = (dir / name).string();
    if (!ksvw::build::WriteFile(path, bytes)) {
      std::fprintf(stderr, "ksvw_fuzz_seed_corpus: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  std::printf("ksvw_fuzz_seed_corpus: %zu seeds in %s\n", seeds.size(), argv[1]);
  return 0;
}
