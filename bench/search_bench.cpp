// Count-mode scans of each kind of search over a full 12 MiB capture
// (393,216 records of "MDCL" traffic), downward from no selection, so every
// record is tested once.
#include <benchmark/benchmark.h>

#include <vector>

#include "capture/search.h"
#include "testsupport/capture_builder.h"

namespace ksvw {
namespace {

constexpr uint32_t kFullCaptureRecords = 393216;

const CaptureReader& FullCapture() {
  static CaptureReader* reader = [] {
    auto* r = new CaptureReader;
    std::vector<uint8_t> file = build::GenerateCapture(kFullCaptureRecords, kTagMdcl, 1);
    r->LoadCopy(file.data(), file.size());
    return r;
  }();
  return *reader;
}

SearchCondition CountCondition(int kind) {
  SearchPageTexts t = InitialPageTexts();
  switch (kind) {
    case kSearchError:
      for (bool& box : t.errorBoxes) box = true;
      break;
    case kSearchData:
      // Identifier bit 28 free, data bytes D0 exact, D1 any, D2 by pattern.
      SetFieldText(t.dataBytes[0], "12");
      SetFieldText(t.dataBytes[1], "*");
      SetFieldText(t.dataBytes[2], "W0");
      SetFieldText(t.patterns[0][0], "1");
      break;
    case kSearchTime:
      SetFieldText(t.time[0], "12");
      SetFieldText(t.time[1], "3*");
      SetFieldText(t.time[2], "**");
      break;
    case kSearchExtInput: SetFieldText(t.extIn, "1"); break;
    default: break;
  }
  SearchCondition c{};
  StoreSearch(t, kind, kSearchCount, SearchDirection::Down, c);
  return c;
}

void BM_SearchCount(benchmark::State& state) {
  const CaptureReader& reader = FullCapture();
  SearchCondition c = CountCondition(static_cast<int>(state.range(0)));
  uint64_t found = 0;
  for (auto _ : state) {
    SearchResult r = FindForward(reader, c, -1);
    benchmark::DoNotOptimize(r);
    found = r.count;
  }
  state.counters["matches"] = static_cast<double>(found);
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(reader.RecordCount()) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SearchCount)->ArgName("kind")->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);

// The data search with no data byte condition (ends after the identifier).
void BM_SearchCountDataIdentifierOnly(benchmark::State& state) {
  const CaptureReader& reader = FullCapture();
  SearchPageTexts t = InitialPageTexts();
  SetFieldText(t.identifier[0], "0");
  SearchCondition c{};
  StoreSearch(t, kSearchData, kSearchCount, SearchDirection::Down, c);
  for (auto _ : state) benchmark::DoNotOptimize(FindForward(reader, c, -1));
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(reader.RecordCount()) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SearchCountDataIdentifierOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ksvw
