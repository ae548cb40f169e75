// Loading a full capture file (12 MiB data chunk, 393,216 records) from the
// page cache each way a reader can take it: mapped (the program), copied
// whole into a new block (a file on a network or removable disk), streamed
// (the command line); then a walk over every record, as a conversion does.
// And the check a user's open runs first, which reads the chunk headers.
//
//   ksvw_bench --benchmark_filter='Load|IsCapture'
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "capture/capture_reader.h"
#include "common/files.h"
#include "testsupport/capture_builder.h"

namespace ksvw {
namespace {

constexpr uint32_t kFullCaptureRecords = 393216;

const std::string& FullCapturePath() {
  static const std::string path = [] {
    std::error_code error;
    std::filesystem::path dir = std::filesystem::temp_directory_path(error);
    if (error) dir = ".";
    std::string p = (dir / "ksvw_load_bench.DT").string();
    build::WriteFile(p, build::GenerateCapture(kFullCaptureRecords, kTagMdcl, 1));
    return p;
  }();
  return path;
}

// Argument: CaptureAccess (0 map, 1 copy, 2 stream).
void BM_LoadAndWalkFullCapture(benchmark::State& state) {
  const auto access = static_cast<CaptureAccess>(state.range(0));
  const std::string& path = FullCapturePath();
  uint64_t sum = 0;
  for (auto _ : state) {
    if (!LoadCaptureFile(path.c_str(), kReaderConversion, access)) {
      state.SkipWithError("cannot load the capture");
      break;
    }
    int32_t cursor = 0;
    do {
      sum += conversionReader.Record(cursor).timeStamp();
    } while (conversionReader.NextRecord(cursor));
    ReleaseCaptureImage(kReaderConversion);
  }
  benchmark::DoNotOptimize(sum);
  state.SetLabel(access == CaptureAccess::Map    ? "map"
                 : access == CaptureAccess::Copy ? "copy"
                                                 : "stream");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFullCaptureRecords *
                          kRecordSize);
}
BENCHMARK(BM_LoadAndWalkFullCapture)
    ->ArgName("access")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_IsCaptureFileFull(benchmark::State& state) {
  const std::string& path = FullCapturePath();
  for (auto _ : state) benchmark::DoNotOptimize(IsCaptureFile(path.c_str()));
}
BENCHMARK(BM_IsCaptureFileFull)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ksvw
