// Exports of a loaded capture into the files of the tools CAN engineers
// already use: candump logs (can-utils, python-can), Vector ASC traces,
// pcapng (Wireshark, tshark, libpcap) and BLF (python-can, Wireshark). The
// text converter's options and results carry over: the same channel
// selection, progress sink and outcomes.
//
// Every format is written over one record walk (export_walk.h) with the
// record decoder of capture_record.h; only the composition of the output
// differs. kExportFormats names them all, once: the command line takes its
// choices and its usage from there. README.md ("ksvw-dt export") writes the
// mapping down.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

#include "capture/capture_reader.h"
#include "convert/text_converter.h"

namespace ksvw {

struct ExportOptions;
struct ExportTally;

using ExportWriter = ConvertResult (*)(const CaptureReader& reader, const ExportOptions& options,
                                       const std::string& path, ProgressSink* progress,
                                       ExportTally& tally);

// One format as the command line offers it.
struct ExportFormat {
  const char* name;        // --format NAME
  const char* extension;   // of the file written beside the capture: ".log"
  const char* help;        // usage lines (LF between them): what it holds, who reads it
  const char* option;      // the one option only this format takes, or null
  const char* optionHelp;  // its usage lines
  void (*takeOption)(ExportOptions& options);  // what the option sets
  ExportWriter write;
};

// Every format, in the order the usage lists them.
extern const std::span<const ExportFormat> kExportFormats;

// The format called `name`, or null.
const ExportFormat* FindExportFormat(std::string_view name);

// The instant an export places the capture's first record at.
struct ExportStart {
  int64_t seconds = 0;  // since 1970-01-01 00:00 UTC
  std::tm shown{};      // the same instant as the dated headers (ASC, BLF) show it
};

// Which buses a pcapng file holds: libpcap reads one link type per file.
enum class ExportLinks { Both, CanOnly, LinOnly };

struct ExportOptions {
  const ExportFormat* format = nullptr;
  uint8_t channelSelection = 0;  // as ConversionOptions: 0 both, 1 or 2 only
  ExportLinks links = ExportLinks::Both;
  bool splitLinks = false;    // pcapng: one file of each link type (the caller sets links)
  bool len8Dlc = false;       // candump: a DLC field of 9 to 15 as "_" and its hex digit
  ExportStart start;          // candump and pcapng times are this plus the record's
  bool keepExisting = false;  // a file already at the path is kept: CannotCreate (EEXIST)
};

// What an export's format had no place for.
struct ExportTally {
  int64_t leftOutLin = 0;      // LIN records the format cannot hold
  int64_t leftOutMarkers = 0;  // overrun and lost-data markers the format cannot hold
  int64_t leftOutDamaged = 0;  // records whose damaged source byte names no channel
  int outputError = 0;         // errno value when the output could not be created or written
};

// Writes the capture loaded in `reader` to `path` in options.format. A stop
// (reader.StopWalk(), from any thread or a signal handler) ends the walk
// after the record in hand and still closes a well-formed file. `progress`
// may be null.
ConvertResult ExportCapture(const CaptureReader& reader, const ExportOptions& options,
                            const std::string& path, ProgressSink* progress, ExportTally& tally);

// One unit per format (candump_export.cpp, asc_export.cpp, pcapng_export.cpp,
// blf_export.cpp).
ConvertResult ExportCandump(const CaptureReader& reader, const ExportOptions& options,
                            const std::string& path, ProgressSink* progress, ExportTally& tally);
ConvertResult ExportAsc(const CaptureReader& reader, const ExportOptions& options,
                        const std::string& path, ProgressSink* progress, ExportTally& tally);
ConvertResult ExportPcapng(const CaptureReader& reader, const ExportOptions& options,
                           const std::string& path, ProgressSink* progress, ExportTally& tally);
ConvertResult ExportBlf(const CaptureReader& reader, const ExportOptions& options,
                        const std::string& path, ProgressSink* progress, ExportTally& tally);

}  // namespace ksvw
