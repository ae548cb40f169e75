// Signal databases: loading a generated DBC file of 1,000 messages, and
// decoding a capture to ksvw-dt decode's CSV (a real file in the temporary
// directory) with Intel and with Motorola signals.
//
//   ksvw_bench --benchmark_filter='Dbc|Decode'
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "signals/dbc_parser.h"
#include "signals/signal_export.h"
#include "testsupport/capture_builder.h"

namespace ksvw::signals {
namespace {

std::string TempPath(const char* name) {
  std::error_code error;
  const std::filesystem::path dir = std::filesystem::temp_directory_path(error);
  return ((error ? std::filesystem::path(".") : dir) / name).string();
}

// `messages` messages of eight 8-bit signals (factor 1 and 0.25 in turn),
// a comment, a cycle time and a value table on every message's first signal.
std::string GeneratedDbc(int messages, bool motorola) {
  std::string text = "VERSION \"bench\"\n\nBU_: Ecu Gateway\n\n";
  for (int m = 0; m < messages; ++m) {
    const std::string id = std::to_string(m < 2048 ? 0x100 + m : 0x80000000u + m);
    text += "BO_ " + id + " Message" + std::to_string(m) + ": 8 Ecu\n";
    for (int s = 0; s < 8; ++s) {
      const int start = motorola ? 8 * s + 7 : 8 * s;
      text += " SG_ Signal" + std::to_string(s) + " : " + std::to_string(start) + "|8@" +
              (motorola ? "0" : "1") + "+ (" + (s % 2 ? "0.25" : "1") +
              ",0) [0|255] \"unit\" Gateway\n";
    }
    text += "\n";
  }
  for (int m = 0; m < messages; ++m) {
    const std::string id = std::to_string(m < 2048 ? 0x100 + m : 0x80000000u + m);
    text += "CM_ BO_ " + id + " \"Message number " + std::to_string(m) + "\";\n";
    text += "BA_ \"GenMsgCycleTime\" BO_ " + id + " 100;\n";
    text += "VAL_ " + id + " Signal0 0 \"Off\" 1 \"On\" 2 \"Error\" ;\n";
  }
  return text;
}

void BM_DbcLoad(benchmark::State& state) {
  const std::string path = TempPath("ksvw_bench.dbc");
  const std::string text = GeneratedDbc(static_cast<int>(state.range(0)), false);
  std::vector<uint8_t> bytes(text.begin(), text.end());
  build::WriteFile(path, bytes);
  for (auto _ : state) {
    Database db;
    DbcError error;
    if (!LoadDbcFile(path, db, error)) {
      state.SkipWithError(error.Text().c_str());
      break;
    }
    benchmark::DoNotOptimize(db.messages.data());
  }
  std::remove(path.c_str());
  state.SetLabel(std::to_string(text.size() / 1024) + " KiB");
}
BENCHMARK(BM_DbcLoad)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// 250,000 frames of 16 messages, 8 signals each: 2 M values per run.
void BM_DecodeCsv(benchmark::State& state) {
  const bool motorola = state.range(0) != 0;
  constexpr uint32_t kFrames = 250000;
  Database db;
  DbcError error;
  if (!ParseDbc(GeneratedDbc(16, motorola), "bench.dbc", db, error)) {
    state.SkipWithError(error.Text().c_str());
    return;
  }
  std::vector<CaptureRecord> records;
  records.reserve(kFrames);
  uint32_t x = 1;
  for (uint32_t i = 0; i < kFrames; ++i) {
    x = x * 1664525 + 1013904223;
    records.push_back(
        build::CanData(1 + (i & 1), 0x100 + (x >> 28), false,
                       {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24), uint8_t(i),
                        uint8_t(i >> 8), uint8_t(i >> 16), 0x5A},
                       build::TimeStamp(0, (i / 5000) % 60, (i / 50) % 100, i % 50)));
  }
  CaptureReader reader;
  const std::vector<uint8_t> file = build::CaptureFileBuilder().Data(kTagMonc, records).Build();
  reader.LoadCopy(file.data(), file.size());
  SignalDecoder decoder;
  decoder.SetDatabase(1, &db);
  decoder.SetDatabase(2, &db);
  const std::string path = TempPath("ksvw_bench_signals.csv");
  DecodeOptions options;
  int64_t values = 0;
  // Processor time too: on a machine shared with other work the wall clock
  // says more about the others than about the decoder.
  const std::clock_t cpuStart = std::clock();
  for (auto _ : state) {
    DecodeTally tally;
    if (DecodeCaptureToCsv(reader, decoder, options, path, nullptr, tally) != ConvertResult::Done) {
      state.SkipWithError("decode failed");
      break;
    }
    values += tally.values;
  }
  const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  std::error_code ignored;
  const double bytes = static_cast<double>(std::filesystem::file_size(path, ignored));
  std::remove(path.c_str());
  state.SetLabel(motorola ? "Motorola" : "Intel");
  state.counters["values/s"] =
      benchmark::Counter(static_cast<double>(values), benchmark::Counter::kIsRate);
  state.counters["cpu values/s"] = static_cast<double>(values) / (cpuSeconds > 0 ? cpuSeconds : 1);
  state.counters["MB/s"] =
      benchmark::Counter(bytes * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeCsv)
    ->ArgName("motorola")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace ksvw::signals
