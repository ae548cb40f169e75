// ksvw-dt export --format candump|asc|pcapng [--channel both|1|2] [--force] [-o OUT] FILE...
//
// Writes each capture as a candump log, a Vector ASC trace or a pcapng file
// beside it, for can-utils, python-can, ASC readers and Wireshark. Ctrl-C
// stops as in convert: the file in hand is closed well-formed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "convert/capture_export.h"
#include "tools/ksvw-dt/commands.h"
#include "tools/ksvw-dt/file_batch.h"

namespace ksvw::dt {

namespace {

constexpr const char kExportUsage[] =
    "usage: ksvw-dt export --format candump|asc|pcapng [--channel both|1|2] [--force]\n"
    "                      [-o OUT] FILE...\n"
    "\n"
    "Exports DT capture files for other bus tools. Each output goes beside its\n"
    "source with the extension replaced, or to OUT when -o is given (one FILE only).\n"
    "An output beside its source never replaces an existing file (it may be the\n"
    "log the capture was made from) unless --force is given; -o OUT replaces OUT.\n"
    "  candump  .log     can-utils candump log (canplayer, log2asc, python-can);\n"
    "                    CAN frames only: LIN records and markers are left out\n"
    "                    and counted on standard error\n"
    "  asc      .asc     Vector ASC trace; LIN frames as L1/L2 lines; markers,\n"
    "                    triggers and LIN records that are no frame as comments\n"
    "  pcapng   .pcapng  Wireshark capture, interfaces can1/can2 (SocketCAN) and\n"
    "                    lin1/lin2 (LIN); markers and triggers as packet comments\n"
    "Times are seconds from the capture's first record. The ASC date is the time\n"
    "of the export, or SOURCE_DATE_EPOCH (seconds since 1970, UTC) when set.\n"
    "\n"
    "options:\n"
    "  --format F        candump, asc or pcapng (required)\n"
    "  --channel CH      both (default), 1 or 2: frames of that channel only\n"
    "  --force           replace existing outputs beside their sources\n"
    "  -o OUT            output path for a single FILE\n"
    "  -h, --help        this text\n"
    "\n"
    "A progress bar is drawn on standard error when it is a terminal. Ctrl-C\n"
    "ends the current file after the record in hand (the file stays well-formed\n"
    "and closed) and starts no further file.\n"
    "\n"
    "Exit status: 0 all exported; 1 an input is not a capture file (the others\n"
    "are still exported); 2 usage error, or two FILEs with one output; 3 an output\n"
    "exists (without --force), could not be created or written (the file it would\n"
    "replace is kept as it was) or would overwrite its source; 130 stopped by Ctrl-C.\n";

bool ParseFormat(const char* text, ExportFormat& format) {
  if (std::strcmp(text, "candump") == 0)
    format = ExportFormat::Candump;
  else if (std::strcmp(text, "asc") == 0)
    format = ExportFormat::Asc;
  else if (std::strcmp(text, "pcapng") == 0)
    format = ExportFormat::Pcapng;
  else
    return false;
  return true;
}

void ReportLeftOut(const char* source, const ExportTally& tally) {
  if (tally.leftOutLin != 0 || tally.leftOutMarkers != 0) {
    std::fprintf(stderr,
                 "ksvw-dt: '%s': %lld LIN record(s) and %lld overrun/lost-data marker(s) "
                 "left out (the format has no place for them)\n",
                 source, static_cast<long long>(tally.leftOutLin),
                 static_cast<long long>(tally.leftOutMarkers));
  }
  if (tally.leftOutDamaged != 0) {
    std::fprintf(stderr,
                 "ksvw-dt: '%s': %lld record(s) left out: their source byte names no channel\n",
                 source, static_cast<long long>(tally.leftOutDamaged));
  }
}

}  // namespace

int RunExport(int argc, char** argv) {
  ExportOptions options;
  bool haveFormat = false;
  bool force = false;
  auto own = [&](int count, char** args, int& i) {
    if (std::strcmp(args[i], "--force") == 0) {
      force = true;
      return 1;
    }
    if (std::strcmp(args[i], "--format") != 0 || i + 1 >= count) return 0;
    if (!ParseFormat(args[++i], options.format)) {
      std::fprintf(stderr, "ksvw-dt: --format must be candump, asc or pcapng, not '%s'\n", args[i]);
      return -1;
    }
    haveFormat = true;
    return 1;
  };
  BatchArguments batch;
  if (int exitCode = ParseBatchArguments(argc, argv, kExportUsage, own, batch); exitCode >= 0)
    return exitCode;
  if (!haveFormat) {
    std::fprintf(stderr, "ksvw-dt: --format is required\n\n%s", kExportUsage);
    return kExitUsage;
  }
  options.channelSelection = batch.channelSelection;
  ConversionClock clock;
  if (!SourceDateClock(clock)) return kExitUsage;
  options.date = clock();

  BatchOutputs outputs{batch.outputOverride, ExportExtension(options.format), !force};
  return RunFileBatch(batch.files, outputs,
                      [&options](const char* source, const std::string& output, bool keepExisting,
                                 ProgressSink* progress) {
                        ExportOptions fileOptions = options;
                        fileOptions.keepExisting = keepExisting;
                        ExportTally tally;
                        ConvertResult result =
                            ExportCapture(conversionReader, fileOptions, output, progress, tally);
                        if (result == ConvertResult::Done || result == ConvertResult::Stopped) {
                          ReportLeftOut(source, tally);
                        }
                        return BatchOutcome{result, tally.outputError};
                      });
}

}  // namespace ksvw::dt
