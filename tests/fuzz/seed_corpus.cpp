// Writes the fuzzers' seed corpora:
//   ksvw_fuzz_seed_corpus CAPTURE_DIR PROTOCOL_DIR CANDUMP_DIR SEARCH_DIR
// For the capture fuzzer: the sample captures, small generated ones of both
// option boards, and captures with the edge shapes the reader must survive
// (short and long settings blocks, truncated chunks, unknown and repeated
// chunks, a data chunk with a partial record, bad magic). For the protocol
// fuzzer: traffic recorded from the simulator's analyzer answering a host
// session, as scripts of protocol_script.h (a handshake with monitoring and
// key presses, a whole download, a cancelled section and a close, and an
// analyzer that never answers), each replayed once through the runner. For
// the candump import: a log of every frame shape and its line ends. For the
// search fuzzer: conditions of every kind (search_check.h) over the records
// of the sample captures and generated traffic.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/analyzer.h"
#include "tests/fuzz/protocol_script.h"
#include "tests/fuzz/search_check.h"
#include "testsupport/capture_builder.h"

namespace {

using namespace ksvw;
using namespace ksvw::fuzz;
using build::CaptureFileBuilder;
using Bytes = std::vector<uint8_t>;
using Seeds = std::vector<std::pair<std::filesystem::path, Bytes>>;

bool CaptureSeeds(const std::filesystem::path& dir, Seeds& seeds) {
  // Generated traffic of both boards, a few sizes.
  for (uint32_t count : {0u, 1u, 3u, 12u, 40u}) {
    seeds.push_back({dir / ("monc_" + std::to_string(count)),
                     build::GenerateCapture(count, kTagMonc, 7 + count)});
    seeds.push_back({dir / ("mdcl_" + std::to_string(count)),
                     build::GenerateCapture(count, kTagMdcl, 11 + count)});
  }

  // The checked sample captures; the one with a record of every shape lends
  // its records to the settings and damage below.
  const std::filesystem::path samples = KSVW_TEST_DATA_DIR;
  sim::CaptureMemory edge;
  std::string why;
  if (!edge.Load(build::ReadFile((samples / "edge.DT").string()), why)) {
    std::fprintf(stderr, "ksvw_fuzz_seed_corpus: edge.DT: %s\n", why.c_str());
    return false;
  }
  seeds.push_back({dir / "edge", edge.File()});
  seeds.push_back({dir / "monc40", build::ReadFile((samples / "monc40.DT").string())});
  const uint8_t* data = edge.Bytes(kSectionData);
  const Bytes shapes(data, data + edge.Span(kSectionData).size);
  build::SettingsPlan mdclPlan;
  mdclPlan.channel[1].lin = true;
  mdclPlan.channel[1].linTable = true;
  for (int id = 0; id < 64; ++id)
    mdclPlan.channel[1].linTableLengths[id] = static_cast<uint8_t>(id);
  build::SettingsPlan customPlan;
  customPlan.channel[0].preset = 0;
  customPlan.channel[0].baseFrequency = 80000000;
  customPlan.channel[0].pts = -1;  // a divisor of zero
  customPlan.channel[0].pbs1 = 0;
  customPlan.channel[0].pbs2 = 0;
  const Bytes mdclDinf = build::KnownSizeDinf(mdclPlan);
  const Bytes customDinf = build::KnownSizeDinf(customPlan);

  seeds.push_back(
      {dir / "shapes_mdcl", CaptureFileBuilder().Dinf(mdclDinf).Chunk(kTagMdcl, shapes).Build()});
  seeds.push_back(
      {dir / "shapes_monc", CaptureFileBuilder().Dinf(customDinf).Chunk(kTagMonc, shapes).Build()});
  // Settings blocks cut short and run long.
  seeds.push_back({dir / "dinf_short", CaptureFileBuilder()
                                           .Dinf(Bytes(mdclDinf.begin(), mdclDinf.begin() + 100))
                                           .Chunk(kTagMdcl, shapes)
                                           .Build()});
  Bytes longDinf = mdclDinf;
  longDinf.insert(longDinf.end(), 64, 0x5A);
  seeds.push_back(
      {dir / "dinf_long", CaptureFileBuilder().Dinf(longDinf).Chunk(kTagMdcl, shapes).Build()});
  // Chunk walk: unknown chunk first, two data chunks (the last one counts),
  // settings after the data, no settings at all.
  seeds.push_back({dir / "chunks_many", CaptureFileBuilder()
                                            .Chunk(MakeTag('X', 'Y', 'Z', 'W'), Bytes(10, 1))
                                            .Chunk(kTagMonc, Bytes(data, data + kRecordSize))
                                            .Chunk(kTagMdcl, shapes)
                                            .Dinf(mdclDinf)
                                            .Build()});
  seeds.push_back({dir / "no_settings", CaptureFileBuilder().Chunk(kTagMdcl, shapes).Build()});
  // A data chunk with a partial record; one claiming more than the file holds.
  Bytes partial = shapes;
  partial.resize(partial.size() - 7);
  seeds.push_back({dir / "partial_record", CaptureFileBuilder().Chunk(kTagMdcl, partial).Build()});
  seeds.push_back(
      {dir / "truncated_data",
       CaptureFileBuilder().Dinf(mdclDinf).ChunkWithLength(kTagMdcl, 4096, shapes).Build()});
  seeds.push_back(
      {dir / "truncated_header", CaptureFileBuilder().Raw({'M', 'D', 'C', 'L', 32, 0}).Build()});
  seeds.push_back({dir / "magic_only", CaptureFileBuilder().Build()});
  std::string badMagic(kCaptureMagic, kMagicSize);
  badMagic[14] = 'X';
  seeds.push_back(
      {dir / "bad_magic", CaptureFileBuilder().Magic(badMagic).Chunk(kTagMdcl, shapes).Build()});
  // Bare settings bodies for the settings parser.
  seeds.push_back({dir / "dinf_body_mdcl", mdclDinf});
  seeds.push_back({dir / "dinf_body_custom", customDinf});
  return true;
}

// One host operation of a scenario, then `pumpMs` milliseconds in each of
// which the transport takes all the host's output and the analyzer answers.
struct Step {
  uint8_t op;
  std::vector<uint8_t> operands;
  int pumpMs;
};

Bytes HostScript(const std::vector<Step>& steps) {
  Bytes ops;
  for (const Step& s : steps) {
    ops.push_back(s.op);
    ops.insert(ops.end(), s.operands.begin(), s.operands.end());
    for (int i = 0; i < s.pumpMs; ++i) ops.insert(ops.end(), {kOpDrain, 255, kOpTime, 1, 0});
  }
  return ops;
}

bool ProtocolSeeds(const std::filesystem::path& dir, Seeds& seeds) {
  const sim::CaptureMemory& small = Runner::Memory();
  sim::CaptureMemory larger;  // a data section longer than a millisecond's frames
  std::string why;
  if (!larger.Load(build::GenerateCapture(400, kTagMonc, 6), why)) {
    std::fprintf(stderr, "ksvw_fuzz_seed_corpus: %s\n", why.c_str());
    return false;
  }
  sim::SimFaults silent;
  silent.noAnswer = true;
  struct Seed {
    const char* name;
    const sim::CaptureMemory& memory;
    sim::SimFaults faults;
    std::vector<Step> host;
  } scenarios[] = {
      {"keys",
       small,
       {},
       {{kOpConnect, {}, 5},
        {kOpMonitor, {30}, 40},
        {kOpKey, {0x16}, 10},
        {kOpKey, {0x21}, 10},
        {kOpKey, {0x22}, 10},
        {kOpDisconnect, {}, 10}}},
      {"download",
       small,
       {},
       {{kOpConnect, {}, 5},
        {kOpRead, {0, 0}, 10},
        {kOpRead, {2, 0}, 10},
        {kOpRead, {1, 1}, 20},
        {kOpRead, {3, 0}, 10},
        {kOpDisconnect, {}, 5}}},
      {"cancel_close",
       larger,
       {},
       {{kOpConnect, {}, 5}, {kOpRead, {1, 1}, 1}, {kOpCancel, {0}, 10}, {kOpClose, {}, 0}}},
      {"silent", small, silent, {{kOpConnect, {}, 5}, {kOpTime, {0xB8, 0x0B}, 1}}},  // 3 s on
  };
  for (const Seed& seed : scenarios) {
    sim::SimAnalyzer model(sim::SimIdentity{}, seed.faults, seed.memory);
    Bytes host = HostScript(seed.host), script;
    Runner(&model, &script).Run(host.data(), host.size());
    Runner().Run(script.data(), script.size());  // aborts on a broken invariant
    seeds.push_back({dir / (std::string("recorded_") + seed.name), script});
  }
  return true;
}

void CandumpSeeds(const std::filesystem::path& dir, Seeds& seeds) {
  const std::string log =
      "# comment\n(1700000000.000100) can0 123#1122\r\n(1700000000.000300) can1 1ABCDEF0#R\r"
      "(1700000000.5) can0 456#R5\n(1700000001.000000) can2 000#1122334455667788_C\n"
      "(1700000000.000000) vcan0 12345678#DEADBEEF\n(1700000002.0) can0 123##011\n"
      "(1700000002.1) can0 20000080#0000000000000000\n";
  seeds.push_back({dir / "log", Bytes(log.begin(), log.end())});
}

// The sample captures' records and generated traffic after a few conditions
// (search_check.h): CH1 DATA; MDCL CH2, D0 0x12 and D1 through W0; REMOTE
// and part of the identifier; errors and a units wildcard in the seconds.
bool SearchSeeds(const std::filesystem::path& dir, Seeds& seeds) {
  Bytes records;
  for (const char* name : {"edge.DT", "mdcl_edge.DT"}) {
    CaptureReader reader;
    Bytes file = build::ReadFile((std::filesystem::path(KSVW_TEST_DATA_DIR) / name).string());
    if (!reader.LoadCopy(file.data(), file.size())) return false;
    const auto* first = reinterpret_cast<const uint8_t*>(&reader.Record(0));
    records.insert(records.end(), first, first + reader.RecordCount() * kRecordSize);
  }
  for (const CaptureRecord& r : build::GenerateTraffic(48, kTagMdcl, 5))
    records.insert(records.end(), r.raw, r.raw + kRecordSize);
  const std::vector<std::vector<std::pair<int, uint8_t>>> conditions = {
      {{1, 4}},
      {{0, 3}, {13, 0xE0}, {14, 1}, {15, 0x12}, {16, 1}, {23, 0x80}, {24, 0x80}},
      {{0, 4}, {7, 0x40}, {8, 0x04}, {11, 0xE0}, {12, 0x1F}},
      {{0, 9}, {3, 0xFF}, {4, 0x07}, {30, 0x10}, {32, 0x04}}};
  for (size_t i = 0; i < conditions.size(); ++i) {
    Bytes input(searchcheck::kConditionBytes, 0);
    for (const auto& [offset, value] : conditions[i]) input[offset] = value;
    input.insert(input.end(), records.begin(), records.end());
    seeds.push_back({dir / ("condition_" + std::to_string(i)), input});
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr,
                 "usage: ksvw_fuzz_seed_corpus CAPTURE_DIR PROTOCOL_DIR CANDUMP_DIR SEARCH_DIR\n");
    return 2;
  }
  Seeds seeds;
  if (!CaptureSeeds(argv[1], seeds) || !ProtocolSeeds(argv[2], seeds) ||
      !SearchSeeds(argv[4], seeds))
    return 1;
  CandumpSeeds(argv[3], seeds);
  for (const auto& [path, bytes] : seeds) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (!build::WriteFile(path.string(), bytes)) {
      std::fprintf(stderr, "ksvw_fuzz_seed_corpus: cannot write %s\n", path.string().c_str());
      return 1;
    }
  }
  std::printf("ksvw_fuzz_seed_corpus: %zu seeds in %s, %s, %s and %s\n", seeds.size(), argv[1],
              argv[2], argv[3], argv[4]);
  return 0;
}
