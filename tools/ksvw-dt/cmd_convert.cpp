// ksvw-dt convert [--csv] [--delta] [--channel both|1|2] [--raw-hex] [-o OUT] FILE...
//
// Converts each capture into a text or CSV file beside it, exactly as the
// program's batch conversion does; Ctrl-C acts as its Stop button.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "convert/text_converter.h"
#include "tools/ksvw-dt/commands.h"
#include "tools/ksvw-dt/file_batch.h"

namespace ksvw::dt {

namespace {

constexpr const char kConvertUsage[] =
    "usage: ksvw-dt convert [--csv] [--delta] [--channel both|1|2] [--raw-hex] [-o OUT] FILE...\n"
    "\n"
    "Converts DT capture files to text, or with --csv to CSV. Each output goes\n"
    "beside its source with the extension replaced by .txt or .csv, or to OUT\n"
    "when -o is given (one FILE only); an existing one is replaced once the new\n"
    "one is whole. Lines end in CR LF.\n"
    "\n"
    "options:\n"
    "  --csv             CSV output (.csv) instead of text (.txt)\n"
    "  --delta           text output: time column shows the difference to the\n"
    "                    previous record in the file\n"
    "  --channel CH      both (default), 1 or 2: rows of that channel only;\n"
    "                    overrun and lost-data markers are always kept\n"
    "  --raw-hex         LIN bytes received in error show their value instead of\n"
    "                    ##, and identifiers show the protected identifier\n"
    "  -o OUT            output path for a single FILE\n"
    "  -h, --help        this text\n"
    "\n"
    "The banner of a text file carries the local date and time of the conversion;\n"
    "when SOURCE_DATE_EPOCH is set (seconds since 1970), that instant is used\n"
    "instead, shown in UTC, so the output is the same on any machine.\n"
    "A progress bar is drawn on standard error when it is a terminal.\n"
    "Ctrl-C ends the current file after the row in hand (the file stays\n"
    "well-formed and closed) and starts no further file.\n"
    "\n"
    "Exit status: 0 all converted; 1 an input is not a capture file (the others\n"
    "are still converted); 2 usage error, or two FILEs with one output; 3 an output\n"
    "could not be created or written (the file it would replace is kept as it was)\n"
    "or would overwrite its source; 130 stopped by Ctrl-C.\n";

}  // namespace

int RunConvert(int argc, char** argv) {
  ConversionOptions options;
  auto own = [&options](int, char** args, int& i) {
    const char* arg = args[i];
    if (std::strcmp(arg, "--csv") == 0) {
      options.csv = 1;
    } else if (std::strcmp(arg, "--delta") == 0) {
      options.deltaTime = 1;
    } else if (std::strcmp(arg, "--raw-hex") == 0) {
      options.rawHex = 1;
    } else {
      return 0;
    }
    return 1;
  };
  BatchArguments batch;
  if (int exitCode = ParseBatchArguments(argc, argv, kConvertUsage, own, batch); exitCode >= 0)
    return exitCode;
  options.channelSelection = batch.channelSelection;
  ConversionClock clock;
  if (!SourceDateClock(clock)) return kExitUsage;

  static TextConverter converter(conversionReader, viewerReader);
  converter.SetOptions(options);
  converter.SetClock(clock);
  // A conversion replaces its own .txt or .csv, as the program's does.
  BatchOutputs outputs{batch.outputOverride, {options.csv != 0 ? ".csv" : ".txt"}, false};
  return RunFileBatch(
      batch.files, outputs,
      [](const char*, const std::string& output, size_t, bool, ProgressSink* progress) {
        converter.SetOutputPath(output);
        ConvertResult result = converter.Convert(progress, TextConverter::kNoPageLimit);
        return BatchOutcome{result, converter.OutputError()};
      });
}

}  // namespace ksvw::dt
