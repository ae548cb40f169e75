// The record walk of decode and plot: the exports' walk (export_walk.h),
// whose output file and stop they share, with its tally folded into theirs.
#pragma once

#include "convert/export_walk.h"
#include "signals/signal_export.h"

namespace ksvw::signals {

template <class Writer>
ConvertResult WalkSignals(const CaptureReader& reader, uint8_t channelSelection,
                          const std::string& path, ProgressSink* progress, DecodeTally& tally,
                          Writer& writer) {
  ExportOptions options;
  options.channelSelection = channelSelection;
  ExportTally walked;
  const ConvertResult result =
      exporting::RunExport(reader, options, path, progress, walked, writer);
  tally.notDecoded += walked.leftOutDamaged;  // records whose source names no channel
  tally.outputError = walked.outputError;
  return result;
}

}  // namespace ksvw::signals
