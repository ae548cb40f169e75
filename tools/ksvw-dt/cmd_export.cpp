// ksvw-dt export --format FORMAT [--channel both|1|2] [--force] [OPTION] [-o OUT] FILE...
//
// Writes each capture beside it in one of the formats of kExportFormats, for
// can-utils, python-can, Vector tools and Wireshark; the formats, their
// options and their usage lines all come from that table. Ctrl-C stops as
// in convert: the file in hand is closed well-formed.
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

constexpr const char kUsageAbout[] =
    "\n"
    "Exports DT capture files for other bus tools. Each output goes beside its\n"
    "source with the extension replaced, or to OUT when -o is given (one FILE only).\n"
    "An output beside its source never replaces an existing file (it may be the\n"
    "log the capture was made from) unless --force is given; -o OUT replaces OUT.\n"
    "\n"
    "formats:\n";

constexpr const char kUsageOptions[] =
    "Times in candump logs and pcapng files are seconds since 1970: the capture's\n"
    "first record is placed at the export's time, or at SOURCE_DATE_EPOCH (seconds\n"
    "since 1970, UTC) when set. ASC and BLF give times from the first record under\n"
    "a header dated so.\n"
    "\n"
    "options:\n"
    "  --format F        one of the formats above (required)\n"
    "  --channel CH      both (default), 1 or 2: frames of that channel only\n"
    "  --force           replace existing outputs beside their sources\n";

constexpr const char kUsageEnd[] =
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

// Usage lines of the table's texts, the first after `lead`, the others
// indented under it.
void AppendLines(std::string& usage, const std::string& lead, const char* text) {
  usage += lead;
  for (const char* c = text; *c != '\0'; ++c) {
    usage += *c;
    if (*c == '\n') usage += std::string(20, ' ');
  }
  usage += '\n';
}

// "candump|asc|...": the names of the formats.
std::string FormatChoices() {
  std::string choices;
  for (const ExportFormat& format : kExportFormats) {
    if (!choices.empty()) choices += '|';
    choices += format.name;
  }
  return choices;
}

std::string ExportUsage() {
  std::string usage = "usage: ksvw-dt export --format " + FormatChoices() +
                      " [--channel both|1|2]\n"
                      "                      [--force] [FORMAT OPTION] [-o OUT] FILE...\n";
  usage += kUsageAbout;
  for (const ExportFormat& format : kExportFormats) {
    char lead[32];
    std::snprintf(lead, sizeof lead, "  %-8s %-9s", format.name, format.extension);
    AppendLines(usage, lead, format.help);
  }
  usage += kUsageOptions;
  for (const ExportFormat& format : kExportFormats) {
    if (format.option == nullptr) continue;
    char lead[32];
    std::snprintf(lead, sizeof lead, "  %-17s ", format.option);
    AppendLines(usage, lead, format.optionHelp);
  }
  return usage + kUsageEnd;
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
  const std::string usage = ExportUsage();
  ExportOptions options;
  bool force = false;
  const char* formatOption = nullptr;  // the format's own option, when given
  auto own = [&](int count, char** args, int& i) {
    if (std::strcmp(args[i], "--force") == 0) {
      force = true;
      return 1;
    }
    for (const ExportFormat& format : kExportFormats) {
      if (format.option != nullptr && std::strcmp(args[i], format.option) == 0) {
        formatOption = format.option;
        return 1;
      }
    }
    if (std::strcmp(args[i], "--format") != 0 || i + 1 >= count) return 0;
    options.format = FindExportFormat(args[++i]);
    if (options.format == nullptr) {
      std::fprintf(stderr, "ksvw-dt: --format must be one of %s, not '%s'\n",
                   FormatChoices().c_str(), args[i]);
      return -1;
    }
    return 1;
  };
  BatchArguments batch;
  if (int exitCode = ParseBatchArguments(argc, argv, usage.c_str(), own, batch); exitCode >= 0)
    return exitCode;
  if (options.format == nullptr) {
    std::fprintf(stderr, "ksvw-dt: --format is required\n\n%s", usage.c_str());
    return kExitUsage;
  }
  if (formatOption != nullptr) {
    if (formatOption != options.format->option) {
      std::fprintf(stderr, "ksvw-dt: %s is not an option of --format %s\n", formatOption,
                   options.format->name);
      return kExitUsage;
    }
    options.format->takeOption(options);
  }
  if (options.splitLinks && batch.outputOverride != nullptr &&
      std::strcmp(batch.outputOverride, "-") == 0) {
    std::fputs("ksvw-dt: --split-links writes two files: standard output cannot take them\n",
               stderr);
    return kExitUsage;
  }
  options.channelSelection = batch.channelSelection;
  if (!OutputDate(options.start.seconds, options.start.shown)) return kExitUsage;

  BatchOutputs outputs{batch.outputOverride, {options.format->extension}, !force};
  if (options.splitLinks) {
    outputs.extensions = {std::string("-can") + options.format->extension,
                          std::string("-lin") + options.format->extension};
  }
  return RunFileBatch(batch.files, outputs,
                      [&options](const char* source, const std::string& output, size_t part,
                                 bool keepExisting, ProgressSink* progress) {
                        ExportOptions fileOptions = options;
                        fileOptions.keepExisting = keepExisting;
                        if (options.splitLinks)
                          fileOptions.links =
                              part == 0 ? ExportLinks::CanOnly : ExportLinks::LinOnly;
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
