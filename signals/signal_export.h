// Decoded signals of a whole capture, written over the exports' record walk
// (convert/export_walk.h): the same channel selection, times from the first
// record, progress, stop and output file as ksvw-dt export.
//
//   decode: one CSV row per decoded signal per frame, in capture order,
//           signals in the database's order:
//           time_s,channel,id,message,signal,value,unit[,label]
//   plot:   an SVG drawing of chosen signals over time (signal_plot.cpp)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_reader.h"
#include "convert/text_converter.h"
#include "signals/signal_decoder.h"

namespace ksvw::signals {

// Signals chosen by name: comma-separated glob patterns, each matched
// against the signal's name and against MESSAGE.SIGNAL. Empty chooses all.
class SignalSelection {
 public:
  explicit SignalSelection(std::string_view patterns = {});
  bool Empty() const { return patterns_.empty(); }
  bool Matches(const Message& message, const Signal& signal) const;
  const std::vector<std::string>& Patterns() const { return patterns_; }
  // True when `pattern` matches a signal of `database`.
  static bool MatchesAny(std::string_view pattern, const Database& database);

 private:
  std::vector<std::string> patterns_;
};

// What a walk made of the capture's records.
struct DecodeTally {
  int64_t frames = 0;         // frames whose message the database knows
  int64_t values = 0;         // signal values written
  int64_t notInDatabase = 0;  // frames of identifiers the database lacks
  int64_t beyondFrame = 0;    // signals not decoded: bits beyond the frame's data
  int64_t notDecoded = 0;     // remote frames, LIN records and markers
  int outputError = 0;        // errno value when the output could not be created or written
};

struct DecodeOptions {
  uint8_t channelSelection = 0;  // 0 both, 1 or 2 only
  bool labels = false;           // the label column (value-table text)
  SignalSelection selection;
};

// Writes the CSV of the capture loaded in `reader` to `path` ("-" is
// standard output).
ConvertResult DecodeCaptureToCsv(const CaptureReader& reader, const SignalDecoder& decoder,
                                 const DecodeOptions& options, const std::string& path,
                                 ProgressSink* progress, DecodeTally& tally);

// Counts a walk's record in the tally by what the decoder made of it.
void CountOutcome(FrameOutcome outcome, const FrameSignals& frame, DecodeTally& tally);

}  // namespace ksvw::signals
