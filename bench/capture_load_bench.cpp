// Loading a full capture file (12 MiB data chunk, 393,216 records) from the
// page cache: read whole into one block, chunk walk, settings parse.
//
//   ksvw_bench --benchmark_filter='Load'
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

void BM_LoadFullCaptureFile(benchmark::State& state) {
  const std::string& path = FullCapturePath();
  CaptureReader reader;
  size_t bytes = 0;
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> image;
    size_t size = 0;
    if (!ReadWholeFile(path.c_str(), image, size) || !reader.Load(std::move(image), size)) {
      state.SkipWithError("cannot load the capture");
      break;
    }
    bytes = size;
    benchmark::DoNotOptimize(reader.RecordCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["records"] = reader.RecordCount();
}
BENCHMARK(BM_LoadFullCaptureFile)->Unit(benchmark::kMillisecond);

// The check a user's open runs first: the whole file read and walked again.
void BM_IsCaptureFileFull(benchmark::State& state) {
  const std::string& path = FullCapturePath();
  for (auto _ : state) benchmark::DoNotOptimize(IsCaptureFile(path.c_str()));
}
BENCHMARK(BM_IsCaptureFileFull)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ksvw
