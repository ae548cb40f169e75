// Every export format of a generated capture of 1 M records, written to a
// real file in the temporary directory.
//
//   ksvw_bench --benchmark_filter=Export
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "convert/capture_export.h"
#include "testsupport/capture_builder.h"

namespace ksvw {
namespace {

constexpr uint32_t kRecords = 1000000;

// Arguments: format (its place in kExportFormats), board (0 "MONC": all CAN;
// 1 "MDCL": CAN on CH1, LIN on CH2).
void BM_Export(benchmark::State& state) {
  const ExportFormat& format = kExportFormats[static_cast<size_t>(state.range(0))];
  const uint32_t tag = state.range(1) != 0 ? kTagMdcl : kTagMonc;
  static std::unique_ptr<CaptureReader> readers[2];
  std::unique_ptr<CaptureReader>& reader = readers[state.range(1) != 0 ? 1 : 0];
  if (!reader) {
    reader = std::make_unique<CaptureReader>();
    std::vector<uint8_t> file = build::GenerateCapture(kRecords, tag, 1);
    reader->LoadCopy(file.data(), file.size());
  }
  std::error_code error;
  std::filesystem::path dir = std::filesystem::temp_directory_path(error);
  const std::string path =
      ((error ? std::filesystem::path(".") : dir) / "ksvw_export_bench.out").string();
  ExportOptions options;
  options.format = &format;
  for (auto _ : state) {
    ExportTally tally;
    if (ExportCapture(*reader, options, path, nullptr, tally) != ConvertResult::Done) {
      state.SkipWithError("export failed");
      break;
    }
  }
  const double bytes = static_cast<double>(std::filesystem::file_size(path, error));
  std::remove(path.c_str());
  state.SetLabel(std::string(format.name) + (tag == kTagMdcl ? " MDCL" : " MONC"));
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(kRecords) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["MB/s"] =
      benchmark::Counter(bytes * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Export)
    ->ArgNames({"format", "mdcl"})
    ->ArgsProduct({benchmark::CreateDenseRange(0, static_cast<int>(kExportFormats.size()) - 1, 1),
                   {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace ksvw
