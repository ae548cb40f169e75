// Exports of a loaded capture into the files of the tools CAN engineers
// already use: candump logs (can-utils, python-can), Vector ASC traces and
// pcapng (Wireshark, tshark). The text converter's options and results
// carry over: the same channel selection, progress sink and outcomes.
//
// Every format is written over one record walk (export_walk.h) with the
// record decoder of capture_record.h; only the composition of the output
// differs. README.md ("ksvw-dt export") writes the mapping down.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "capture/capture_reader.h"
#include "convert/text_converter.h"

namespace ksvw {

enum class ExportFormat { Candump, Asc, Pcapng };

struct ExportOptions {
  ExportFormat format = ExportFormat::Candump;
  uint8_t channelSelection = 0;  // as ConversionOptions: 0 both, 1 or 2 only
  std::tm date{};                // the ASC header's date: when the export was made
  bool keepExisting = false;     // a file already at the path is kept: CannotCreate (EEXIST)
};

// What an export wrote, and what its format had no place for.
struct ExportTally {
  int64_t canFrames = 0;
  int64_t linFrames = 0;
  int64_t comments = 0;        // triggers, markers and LIN records that are no frame
  int64_t leftOutLin = 0;      // LIN records the format cannot hold
  int64_t leftOutMarkers = 0;  // overrun and lost-data markers the format cannot hold
  int64_t leftOutDamaged = 0;  // records whose damaged source byte names no channel
  int outputError = 0;         // errno value when the output could not be created or written
};

// ".log", ".asc" or ".pcapng".
const char* ExportExtension(ExportFormat format);

// Writes the capture loaded in `reader` to `path`. A stop (reader.StopWalk(),
// from any thread or a signal handler) ends the walk after the record in
// hand and still closes a well-formed file. `progress` may be null.
ConvertResult ExportCapture(const CaptureReader& reader, const ExportOptions& options,
                            const std::string& path, ProgressSink* progress, ExportTally& tally);

// One unit per format (candump_export.cpp, asc_export.cpp, pcapng_export.cpp).
ConvertResult ExportCandump(const CaptureReader& reader, const ExportOptions& options,
                            const std::string& path, ProgressSink* progress, ExportTally& tally);
ConvertResult ExportAsc(const CaptureReader& reader, const ExportOptions& options,
                        const std::string& path, ProgressSink* progress, ExportTally& tally);
ConvertResult ExportPcapng(const CaptureReader& reader, const ExportOptions& options,
                           const std::string& path, ProgressSink* progress, ExportTally& tally);

}  // namespace ksvw
