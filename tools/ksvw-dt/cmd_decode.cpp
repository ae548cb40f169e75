// ksvw-dt decode --dbc DB.dbc [--dbc2 DB2.dbc] [--channel both|1|2]
//                [--signals PATTERN] [--choices] [-o OUT.csv] FILE...
//
// Writes the physical values of each capture's signals as CSV, one row per
// signal per frame, beside the capture as FILE.signals.csv.
#include <cstdio>
#include <cstring>
#include <string>

#include "capture/capture_reader.h"
#include "signals/signal_export.h"
#include "tools/ksvw-dt/commands.h"
#include "tools/ksvw-dt/file_batch.h"
#include "tools/ksvw-dt/signal_databases.h"

namespace ksvw::dt {

namespace {

constexpr const char kDecodeUsage[] =
    "usage: ksvw-dt decode --dbc DB.dbc [--dbc2 DB2.dbc] [--channel both|1|2]\n"
    "                      [--signals PATTERN] [--choices] [-o OUT.csv] FILE...\n"
    "\n"
    "Decodes the CAN frames of DT capture files with a DBC signal database and\n"
    "writes one CSV row per signal per frame, in capture order:\n"
    "  time_s,channel,id,message,signal,value,unit[,label]\n"
    "time_s counts seconds from the capture's first record; id is hex; value is\n"
    "raw * factor + offset, in the shortest text that reads back to the same\n"
    "number. Each output goes beside its source as FILE.signals.csv, or to OUT\n"
    "when -o is given (one FILE only; '-' is standard output).\n"
    "\n"
    "options:\n"
    "  --dbc DB.dbc      the database of both channels (required)\n"
    "  --dbc2 DB2.dbc    the database of channel 2, when it is another bus\n"
    "  --channel CH      both (default), 1 or 2: frames of that channel only\n"
    "  --signals P[,P]   only signals whose name or MESSAGE.SIGNAL matches a\n"
    "                    pattern ('*' any text, '?' any character)\n"
    "  --choices         add the label column: the value-table text of the value\n"
    "  -o OUT            output path for a single FILE; '-' for standard output\n"
    "  -h, --help        this text\n"
    "\n"
    "Frames whose identifier the database lacks, signals whose bits lie beyond\n"
    "the frame's data, remote frames and LIN records are not decoded; they are\n"
    "counted on standard error. A progress bar is drawn on standard error when\n"
    "it is a terminal. Ctrl-C ends the current file after the frame in hand (the\n"
    "file stays well-formed and closed) and starts no further file.\n"
    "\n"
    "Exit status: 0 all decoded; 1 an input is not a capture file (the others are\n"
    "still decoded); 2 usage error; 3 an output could not be created or written\n"
    "(a partly written output is removed); 4 a database could not be read;\n"
    "130 stopped by Ctrl-C.\n";

void ReportTally(const char* source, const signals::DecodeTally& t) {
  if (t.notInDatabase == 0 && t.beyondFrame == 0 && t.notDecoded == 0) return;
  std::fprintf(stderr,
               "ksvw-dt: '%s': %lld value(s) from %lld frame(s); not decoded: %lld frame(s) "
               "not in the database, %lld signal(s) beyond their frame's data, %lld remote "
               "frame(s), LIN record(s) and marker(s)\n",
               source, static_cast<long long>(t.values), static_cast<long long>(t.frames),
               static_cast<long long>(t.notInDatabase), static_cast<long long>(t.beyondFrame),
               static_cast<long long>(t.notDecoded));
}

}  // namespace

int RunDecode(int argc, char** argv) {
  DatabaseOptions databases;
  signals::DecodeOptions options;
  const char* patterns = nullptr;
  auto own = [&](int count, char** args, int& i) {
    if (std::strcmp(args[i], "--choices") == 0) {
      options.labels = true;
      return 1;
    }
    if (std::strcmp(args[i], "--signals") == 0 && i + 1 < count) {
      patterns = args[++i];
      return 1;
    }
    return databases.Take(count, args, i);
  };
  BatchArguments batch;
  if (int exitCode = ParseBatchArguments(argc, argv, kDecodeUsage, own, batch); exitCode >= 0)
    return exitCode;
  if (databases.dbc == nullptr) {
    std::fprintf(stderr, "ksvw-dt: --dbc is required\n\n%s", kDecodeUsage);
    return kExitUsage;
  }
  LoadedDatabases loaded;
  if (!loaded.Load(databases)) return kExitDatabase;
  options.channelSelection = batch.channelSelection;
  if (patterns != nullptr) {
    options.selection = signals::SignalSelection(patterns);
    for (const std::string& p : options.selection.Patterns()) {
      if (!loaded.Matches(p, "--signals")) return kExitUsage;
    }
  }
  // Like convert, decode replaces its own FILE.signals.csv.
  BatchOutputs outputs{batch.outputOverride, {".signals.csv"}, false};
  return RunFileBatch(batch.files, outputs,
                      [&options, &loaded](const char* source, const std::string& output, size_t,
                                          bool, ProgressSink* progress) {
                        signals::DecodeTally tally;
                        ConvertResult result = signals::DecodeCaptureToCsv(
                            conversionReader, loaded.Decoder(), options, output, progress, tally);
                        if (result == ConvertResult::Done || result == ConvertResult::Stopped)
                          ReportTally(source, tally);
                        return BatchOutcome{result, tally.outputError};
                      });
}

}  // namespace ksvw::dt
