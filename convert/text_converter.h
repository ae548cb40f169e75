// Conversion of a loaded capture into a text file (framed banner, column
// header, one fixed-column line per record) or a CSV file (header and one
// comma-separated line per record), and the list view's cell text.
//
// "MONC" data (CAN-only board) has the short layouts; any other data tag
// (the CAN/LIN board's "MDCL") has the long ones with the LIN columns,
// external input and trigger.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "capture/capture_reader.h"
#include "convert/output_writer.h"

namespace ksvw {

struct ConversionOptions {
  uint8_t channelSelection = 0;  // 0 = both channels, 1 = channel 1 only, 2 = channel 2 only
  uint8_t rawHex = 0;            // 1: LIN bytes in error show their value, IDs the protected ID
  int32_t csv = 0;               // 0 = text (".txt"), 1 = CSV (".csv")
  int32_t deltaTime = 0;  // text only: time column shows the difference to the previous record
};

// Where a conversion reports its progress: SetRange once with the record
// count, then Step once per written row. The Windows dialog drives its
// per-file progress bar with it; the command line draws a bar on a terminal.
struct ProgressSink {
  virtual ~ProgressSink() = default;
  virtual void SetRange(int32_t max) = 0;
  virtual void Step() = 0;
};

enum class ConvertResult {
  Done,          // the whole file was written and closed
  Stopped,       // ended early by RequestStop or the page limit; shorter but well-formed and closed
  CannotCreate,  // the output could not be created; nothing was written
  WriteFailed,   // a write failed; a file already at the output path is as it was
  ReadFailed,    // the capture could not be read to its end (its reader's ReadError);
                 // as with WriteFailed, no output took the place of anything
};

// The banner's date and time of the conversion. The default is the local time now.
using ConversionClock = std::function<std::tm()>;
std::tm LocalTimeNow();
std::tm LocalTime(std::time_t t);

class ReportBase {
 public:
  virtual ~ReportBase();
};

class TextReport : public ReportBase {
 public:
  ~TextReport() override;
  // Writes a line end. True when the output must stop: it failed, or
  // pageLimit pages of 66 lines are complete.
  virtual bool EndLine();
  virtual ConvertResult Convert(ProgressSink* progress, int32_t pageLimit) = 0;

 protected:
  // EndLine without the virtual call, for the record walk.
  bool LineEndStops() {
    output_.WriteChar('\n');
    return output_.outputFailed != 0 || output_.pageCount >= pageLimit_;
  }

  OutputWriter output_;
  int32_t pageLimit_ = 0;
};

class TextConverter : public TextReport {
 public:
  // `conversion` is the reader Convert walks; `list` is the one whose records
  // FormatListRow shows. The program passes conversionReader and viewerReader.
  TextConverter(CaptureReader& conversion, CaptureReader& list);
  ~TextConverter() override;

  // Writes the output for the file loaded in the conversion reader to the
  // path last set, with the options last copied in. `progress` may be null.
  ConvertResult Convert(ProgressSink* progress, int32_t pageLimit) override;

  // The list view's cell text for record `row` of the list reader and
  // `column` 0..18 (see list_cells.h); NUL-terminated, cut to capacity - 1.
  // Returns the length (0 = empty cell). Touches no conversion state, so it
  // may run while a conversion is in progress on another thread.
  virtual size_t FormatListRow(int32_t row, int column, bool deltaTimeMode, char* out,
                               size_t capacity) const;

  // Ends a conversion in progress after the record in hand (from any thread,
  // or a signal handler: one relaxed atomic store). Returns 1.
  virtual int RequestStop();

  void SetOptions(const ConversionOptions& options) { options_ = options; }
  const ConversionOptions& Options() const { return options_; }
  void SetOutputPath(const std::string& path) { outputPath_ = path; }
  const std::string& OutputPath() const { return outputPath_; }
  void SetClock(ConversionClock clock) { clock_ = std::move(clock); }
  // Why the last Convert could not create or write its output (an errno value).
  int OutputError() const { return output_.Error(); }

  // The batch converts with a limit no file reaches.
  static constexpr int32_t kNoPageLimit = 999999999;

 private:
  void WriteBanner(uint32_t dataTag);
  template <class Composer>
  bool WalkRecords(const Composer& compose, ProgressSink* progress);

  CaptureReader& reader_;
  CaptureReader& listReader_;
  ConversionOptions options_;
  std::string outputPath_;
  ConversionClock clock_;
  char row_[140] = {};
};

// Row composers, exposed for tests and benchmarks. Each writes one row
// (without its line end) into `row` (140 characters) and returns its length.
// `previousTime` is null for the first record of a file.
size_t ComposeTextRow(const CaptureRecord& record, uint32_t dataTag,
                      const CaptureSettings& settings, const ConversionOptions& options,
                      const uint32_t* previousTime, char* row);
size_t ComposeCsvRow(const CaptureRecord& record, uint32_t dataTag, const CaptureSettings& settings,
                     const ConversionOptions& options, const uint32_t* previousTime, char* row);

}  // namespace ksvw
