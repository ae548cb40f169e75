// libFuzzer target over everything that reads a capture file's bytes: the
// chunk walk and load, the settings parser, every list cell of every record,
// the row composers, whole text and CSV conversions, the candump, ASC and
// pcapng exports, and the same bytes read as a stream. ASan and UBSan make
// any read outside the image, overflow of a cell or row buffer, or undefined
// arithmetic a crash; the checks below add what they cannot see (a cell
// longer than its capacity, a text whose length is not the one returned, a
// record walk that misses records, a conversion that does not finish, a
// stream that reads otherwise than the image).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "capture/capture_reader.h"
#include "capture/capture_settings.h"
#include "convert/capture_export.h"
#include "convert/list_cells.h"
#include "convert/text_converter.h"

namespace {

using namespace ksvw;

[[noreturn]] void Fail(const char* what, long detail) {
  std::fprintf(stderr, "capture_fuzz: %s (%ld)\n", what, detail);
  std::abort();
}

// The conversions write here: a file of this process in the temporary
// directory, so that each output goes through its temporary and rename.
const std::string& OutputPath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("ksvw_capture_fuzz_" + std::to_string(getpid())))
          .string();
  return path;
}

struct RemoveOutputAtExit {
  ~RemoveOutputAtExit() { std::remove(OutputPath().c_str()); }
} removeOutputAtExit;

void CheckSettingsParse(const uint8_t* data, size_t size) {
  CaptureSettings settings;
  ParseCaptureSettings(settings, data, size);
  char text[16];
  for (int channel = 0; channel < 2; ++channel) {
    int32_t rate = ComputeCanBitRate(settings.can(channel));
    FormatRate(rate, text);
    if (std::strlen(text) >= sizeof text) Fail("FormatRate overflow", rate);
    FormatTenths(settings.lin(channel).bitRate(), text);
    CanPresetLabel(settings.can(channel).preset());
    for (int id = 0; id < 64; ++id) settings.lin(channel).tableLength(id);
  }
}

void CheckWalk(const CaptureReader& reader) {
  const int32_t count = reader.RecordCount();
  if (count < 0 || static_cast<size_t>(count) * kRecordSize > reader.ImageSize())
    Fail("record count beyond the image", count);
  if (count == 0) return;
  // Records lie inside the image: touching every byte lets ASan check it.
  unsigned sum = 0;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&reader.Record(i));
    for (int b = 0; b < kRecordSize; ++b) sum += raw[b];
  }
  (void)sum;
  int32_t cursor = 0;
  int32_t visited = 1;
  while (reader.NextRecord(cursor)) {
    if (++visited > count) Fail("record walk does not end", count);
  }
  if (visited != count) Fail("record walk missed records", visited);
}

// The same bytes as a stream read three records at a time: the reader must
// never read outside the file, and must give the load, the settings and
// the records of the image, forward and backward.
class StreamedBytes : public CaptureSource {
 public:
  StreamedBytes(const uint8_t* data, size_t size) : CaptureSource(nullptr, size), data_(data) {
    windowRecords_ = 3;
  }
  bool ReadAt(uint64_t offset, void* out, size_t n) override {
    if (offset > size_ || n > size_ - offset) Fail("stream read outside the file", offset);
    if (n != 0) std::memcpy(out, data_ + offset, n);
    return true;
  }

 private:
  const uint8_t* data_;
};

void CheckStreamed(const CaptureReader& image, bool loaded, const uint8_t* data, size_t size) {
  CaptureReader streamed;
  if (streamed.Load(std::make_unique<StreamedBytes>(data, size)) != loaded)
    Fail("a stream loads otherwise than the image", loaded);
  const int32_t count = image.RecordCount();
  if (streamed.RecordCount() != count || streamed.DataTag() != image.DataTag() ||
      std::memcmp(streamed.Settings().bytes, image.Settings().bytes, kSettingsSize) != 0)
    Fail("a stream reads other settings or counts", count);
  for (int32_t i = 0; i < 2 * count; ++i) {
    const int32_t row = i < count ? i : 2 * count - 1 - i;  // up, then down again
    if (std::memcmp(&streamed.Record(row), &image.Record(row), kRecordSize) != 0)
      Fail("a stream reads another record", row);
  }
}

void CheckListCells(const CaptureReader& reader, TextConverter& converter) {
  const int32_t count = reader.RecordCount();
  // One heap buffer of exactly the promised capacity: a longer write is an
  // ASan report, not a silent overwrite of a neighbour.
  auto cell = std::make_unique<char[]>(kListCellCapacity);
  auto shortCell = std::make_unique<char[]>(5);
  // Rows one past each end too: they must come back empty.
  for (int32_t row = -1; row <= count; ++row) {
    for (int column = -1; column <= kListColumnCount; ++column) {
      for (bool delta : {false, true}) {
        size_t n = FormatListCell(reader, row, column, delta, cell.get());
        // The text may end before n: a channel digit of a damaged source
        // byte can wrap to a NUL character, shown as an empty cell.
        if (n >= kListCellCapacity || std::strlen(cell.get()) != n)
          Fail("list cell length", static_cast<long>(n));
        bool outside = row < 0 || row >= count || column < 0 || column >= kListColumnCount;
        if (outside && n != 0) Fail("cell outside the list is not empty", row);
        n = converter.FormatListRow(row, column, delta, shortCell.get(), 5);
        if (n >= 5 || std::strlen(shortCell.get()) != n)
          Fail("cut list row length", static_cast<long>(n));
      }
    }
  }
}

void CheckRowComposers(const CaptureReader& reader, const ConversionOptions& options) {
  constexpr size_t kRowSize = 140;
  auto row = std::make_unique<char[]>(kRowSize);
  const int32_t count = reader.RecordCount();
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t previous = i > 0 ? reader.Record(i - 1).timeStamp() : 0;
    const uint32_t* previousTime = i > 0 ? &previous : nullptr;
    size_t n = ComposeTextRow(reader.Record(i), reader.DataTag(), reader.Settings(), options,
                              previousTime, row.get());
    if (n > kRowSize) Fail("text row too long", static_cast<long>(n));
    n = ComposeCsvRow(reader.Record(i), reader.DataTag(), reader.Settings(), options, previousTime,
                      row.get());
    if (n > kRowSize) Fail("CSV row too long", static_cast<long>(n));
  }
}

void Convert(TextConverter& converter, ConversionOptions options, bool csv, int32_t pageLimit) {
  options.csv = csv ? 1 : 0;
  converter.SetOptions(options);
  ConvertResult result = converter.Convert(nullptr, pageLimit);
  if (result == ConvertResult::CannotCreate || result == ConvertResult::WriteFailed)
    Fail("conversion could not write its output", static_cast<long>(result));
  if (pageLimit == TextConverter::kNoPageLimit && result != ConvertResult::Done)
    Fail("conversion without a page limit did not finish", static_cast<long>(result));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckSettingsParse(data, size);
  IsCaptureImage(data, size);

  CaptureReader reader;
  const bool loaded = reader.LoadCopy(data, size);
  CheckStreamed(reader, loaded, data, size);
  if (!loaded) return 0;
  CheckWalk(reader);

  TextConverter converter(reader, reader);
  converter.SetOutputPath(OutputPath());
  converter.SetClock([] {
    return std::tm{
        .tm_sec = 7, .tm_min = 5, .tm_hour = 13, .tm_mday = 9, .tm_mon = 2, .tm_year = 124};
  });
  CheckListCells(reader, converter);

  // The last byte picks the conversion options, so the fuzzer explores them
  // along with the records.
  const uint8_t knob = size > 0 ? data[size - 1] : 0;
  ConversionOptions options;
  options.channelSelection = static_cast<uint8_t>(knob % 3);
  options.rawHex = (knob >> 2) & 1;
  options.deltaTime = (knob >> 3) & 1;
  CheckRowComposers(reader, options);
  Convert(converter, options, false, TextConverter::kNoPageLimit);
  Convert(converter, options, true, TextConverter::kNoPageLimit);
  for (const ExportFormat& format : kExportFormats) {
    ExportOptions exportOptions;
    exportOptions.format = &format;
    exportOptions.channelSelection = options.channelSelection;
    ExportTally tally;
    ConvertResult result = ExportCapture(reader, exportOptions, OutputPath(), nullptr, tally);
    if (result != ConvertResult::Done) Fail("export did not finish", static_cast<long>(result));
  }
  // A page limit ends the text early (the batch never sets one; the
  // converter's own stop path must still close a well-formed file). Last,
  // because a stop may end the reader's walk for good.
  if ((knob >> 4) & 1) Convert(converter, options, false, 1);
  return 0;
}
