// ksvw-dt plot --dbc DB.dbc [--dbc2 DB2.dbc] [--channel both|1|2]
//              --signal NAME[,NAME...] [-o OUT.svg] FILE...
//
// Draws chosen signals of each capture over time as an SVG picture beside
// the capture (FILE.svg).
#include <cstdio>
#include <cstring>
#include <string>

#include "capture/capture_reader.h"
#include "signals/signal_plot.h"
#include "tools/ksvw-dt/commands.h"
#include "tools/ksvw-dt/file_batch.h"
#include "tools/ksvw-dt/signal_databases.h"

namespace ksvw::dt {

namespace {

constexpr const char kPlotUsage[] =
    "usage: ksvw-dt plot --dbc DB.dbc [--dbc2 DB2.dbc] [--channel both|1|2]\n"
    "                    --signal NAME[,NAME...] [-o OUT.svg] FILE...\n"
    "\n"
    "Draws signals of DT capture files over time, decoded with a DBC database, as\n"
    "an SVG picture: one panel per unit, time in seconds from the capture's first\n"
    "record, value-table labels on the value axis where a signal has them, and a\n"
    "legend. Each picture goes beside its source as FILE.svg, or to OUT when -o\n"
    "is given (one FILE only; '-' is standard output). rsvg-convert (librsvg2-bin)\n"
    "turns it into a PNG.\n"
    "\n"
    "options:\n"
    "  --dbc DB.dbc      the database of both channels (required)\n"
    "  --dbc2 DB2.dbc    the database of channel 2, when it is another bus\n"
    "  --channel CH      both (default), 1 or 2: frames of that channel only\n"
    "  --signal N[,N]    the signals to draw (required): names or MESSAGE.SIGNAL,\n"
    "                    '*' and '?' as in file names; at most 32 lines\n"
    "  -o OUT            output path for a single FILE; '-' for standard output\n"
    "  -h, --help        this text\n"
    "\n"
    "Progress bar, Ctrl-C and exit status as in 'ksvw-dt decode'.\n";

}  // namespace

int RunPlot(int argc, char** argv) {
  DatabaseOptions databases;
  const char* names = nullptr;
  auto own = [&](int count, char** args, int& i) {
    if (std::strcmp(args[i], "--signal") == 0 && i + 1 < count) {
      names = args[++i];
      return 1;
    }
    return databases.Take(count, args, i);
  };
  BatchArguments batch;
  if (int exitCode = ParseBatchArguments(argc, argv, kPlotUsage, own, batch); exitCode >= 0)
    return exitCode;
  if (databases.dbc == nullptr || names == nullptr) {
    std::fprintf(stderr, "ksvw-dt: --dbc and --signal are required\n\n%s", kPlotUsage);
    return kExitUsage;
  }
  LoadedDatabases loaded;
  if (!loaded.Load(databases)) return kExitDatabase;
  signals::PlotOptions options;
  options.channelSelection = batch.channelSelection;
  options.selection = signals::SignalSelection(names);
  if (options.selection.Empty()) {
    std::fputs("ksvw-dt: --signal names no signal\n", stderr);
    return kExitUsage;
  }
  for (const std::string& p : options.selection.Patterns()) {
    if (!loaded.Matches(p, "--signal")) return kExitUsage;
  }
  BatchOutputs outputs{batch.outputOverride, {".svg"}, false};
  return RunFileBatch(batch.files, outputs,
                      [&options, &loaded](const char* source, const std::string& output, size_t,
                                          bool, ProgressSink* progress) {
                        signals::DecodeTally tally;
                        options.title = source;
                        ConvertResult result = signals::PlotCaptureToSvg(
                            conversionReader, loaded.Decoder(), options, output, progress, tally);
                        return BatchOutcome{result, tally.outputError};
                      });
}

}  // namespace ksvw::dt
