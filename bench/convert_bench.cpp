// Text and CSV conversion of generated captures written to a real file in
// the temporary directory, and list cells formatted per second.
//
//   ksvw_bench --benchmark_filter='Convert|ListCells'
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "convert/list_cells.h"
#include "convert/text_converter.h"
#include "testsupport/capture_builder.h"

namespace ksvw {
namespace {

constexpr uint32_t kFullCaptureRecords = 393216;  // a 12 MiB data chunk

// One loaded capture per (tag, record count), kept for the whole run.
CaptureReader& Capture(uint32_t tag, uint32_t records) {
  static std::map<std::pair<uint32_t, uint32_t>, std::unique_ptr<CaptureReader>> cache;
  auto& slot = cache[{tag, records}];
  if (!slot) {
    slot = std::make_unique<CaptureReader>();
    std::vector<uint8_t> file = build::GenerateCapture(records, tag, 1);
    slot->LoadCopy(file.data(), file.size());
  }
  return *slot;
}

std::string OutputPath() {
  std::error_code error;
  std::filesystem::path dir = std::filesystem::temp_directory_path(error);
  if (error) dir = ".";
  return (dir / "ksvw_convert_bench.out").string();
}

// Arguments: tag (0 "MONC", 1 "MDCL"), csv (0/1), record count.
void BM_Convert(benchmark::State& state) {
  const uint32_t tag = state.range(0) != 0 ? kTagMdcl : kTagMonc;
  const uint32_t records = static_cast<uint32_t>(state.range(2));
  CaptureReader& reader = Capture(tag, records);
  CaptureReader list;
  TextConverter converter(reader, list);
  ConversionOptions options;
  options.csv = static_cast<int32_t>(state.range(1));
  converter.SetOptions(options);
  const std::string path = OutputPath();
  converter.SetOutputPath(path);
  uint64_t bytes = 0;
  for (auto _ : state) {
    ConvertResult result = converter.Convert(nullptr, TextConverter::kNoPageLimit);
    if (result != ConvertResult::Done) {
      state.SkipWithError("conversion failed");
      break;
    }
  }
  std::error_code error;
  bytes = std::filesystem::file_size(path, error);
  std::remove(path.c_str());
  state.SetLabel(std::string(tag == kTagMdcl ? "MDCL " : "MONC ") +
                 (options.csv != 0 ? "csv" : "text"));
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(records) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) * state.iterations() / 1e6,
                                              benchmark::Counter::kIsRate);
  state.counters["out_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Convert)
    ->ArgNames({"mdcl", "csv", "records"})
    ->ArgsProduct({{0, 1}, {0, 1}, {kFullCaptureRecords, 1000000}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Every cell of every row, as the list view would ask for a screenful at a
// time: all 19 columns over the whole capture.
void BM_ListCells(benchmark::State& state) {
  const bool delta = state.range(0) != 0;
  CaptureReader& reader = Capture(kTagMdcl, kFullCaptureRecords);
  const int32_t rows = reader.RecordCount();
  char cell[kListCellCapacity];
  uint64_t chars = 0;
  for (auto _ : state) {
    for (int32_t row = 0; row < rows; ++row) {
      for (int k = 0; k < kListColumnCount; ++k) {
        chars += FormatListCell(reader, row, k, delta, cell);
      }
    }
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(chars);
  state.counters["cells/s"] =
      benchmark::Counter(static_cast<double>(rows) * kListColumnCount * state.iterations(),
                         benchmark::Counter::kIsRate);
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows) * state.iterations(),
                                                benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ListCells)->ArgNames({"delta"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ksvw
