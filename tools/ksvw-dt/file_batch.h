// What convert and export share: each writes one output file per capture of
// its command line, beside the capture unless -o names it, with a progress
// bar on a terminal, and Ctrl-C ending the file in hand well-formed.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "convert/text_converter.h"

namespace ksvw::dt {

// What both commands take from their command line besides their own options.
struct BatchArguments {
  std::vector<const char*> files;
  const char* outputOverride = nullptr;  // -o OUT, for one FILE only
  uint8_t channelSelection = 0;          // --channel both|1|2
};

// A command's own options: 1 when `argv[i]` was one of them (i moved past
// any value it took), 0 when it is not, -1 after saying on standard error
// what is wrong with it.
using OwnOption = std::function<int(int argc, char** argv, int& i)>;

// Reads FILE..., -o, --channel, --help and "--", handing every other option
// to `own`. Returns -1 to go on, or the exit code to end with: 0 after
// --help (the usage printed), 2 after a usage error (said on standard error).
int ParseBatchArguments(int argc, char** argv, const char* usage, const OwnOption& own,
                        BatchArguments& out);

// Reads "both", "1" or "2" into the converter's channel selection (0, 1, 2);
// says what is wrong on standard error and returns false otherwise.
bool ParseChannelOption(const char* value, uint8_t& channelSelection);

// The clock of text banners: local time, or the instant of
// SOURCE_DATE_EPOCH shown in UTC when it is set, so an output is the same on
// any machine. False (said on standard error) when it is set but no number.
bool SourceDateClock(ConversionClock& clock);

// The instant exports are dated with, by the same rule, in seconds since
// 1970 and as shown (UTC or local time). False as SourceDateClock.
bool OutputDate(int64_t& seconds, std::tm& shown);

// What writing one capture came to: the converter's result and, when the
// output could not be created or written, the errno value saying why.
struct BatchOutcome {
  ConvertResult result = ConvertResult::Done;
  int error = 0;
};

// Writes one capture, already loaded into the conversion reader, to `output`,
// its output number `part` (the index of its extension in BatchOutputs).
// With `keepExisting` a file already at `output` must stay as it is.
using BatchWriter =
    std::function<BatchOutcome(const char* source, const std::string& output, size_t part,
                               bool keepExisting, ProgressSink* progress)>;

// Where a batch writes: beside each source, one output per extension in
// place of the source's own, or to `outputOverride` (with several
// extensions, each replaces OUT's). With `keepExisting` an output beside
// its source never replaces a file (-o always may).
struct BatchOutputs {
  const char* outputOverride = nullptr;
  std::vector<std::string> extensions;
  bool keepExisting = false;
};

// Loads each file into the conversion reader and hands it to `write`. Two
// files with one output, or an output that is one of the files, are refused
// before anything is written. Returns the exit code: 130 after Ctrl-C, 3
// after an output error, 2 for a refused batch, 1 when an input was no
// capture (the others are still written), else 0.
int RunFileBatch(const std::vector<const char*>& files, const BatchOutputs& outputs,
                 const BatchWriter& write);

}  // namespace ksvw::dt
