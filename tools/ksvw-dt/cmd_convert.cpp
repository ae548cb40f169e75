// ksvw-dt convert [--csv] [--delta] [--channel both|1|2] [--raw-hex] [-o OUT] FILE...
//
// Converts each capture into a text or CSV file beside it, exactly as the
// program's batch conversion does; Ctrl-C acts as its Stop button.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "capture/capture_reader.h"
#include "convert/text_converter.h"
#include "tools/ksvw-dt/commands.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace ksvw::dt {

namespace {

constexpr int kExitInterrupted = 130;

constexpr const char kConvertUsage[] =
    "usage: ksvw-dt convert [--csv] [--delta] [--channel both|1|2] [--raw-hex] [-o OUT] FILE...\n"
    "\n"
    "Converts DT capture files to text, or with --csv to CSV. Each output goes\n"
    "beside its source with the extension replaced by .txt or .csv, or to OUT\n"
    "when -o is given (one FILE only). Lines end in CR LF.\n"
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
    "are still converted); 2 usage error; 3 an output could not be created or\n"
    "written (a partly written output is removed); 130 stopped by Ctrl-C.\n";

// The converter that the interrupt handler stops, and whether it did.
TextConverter* interruptTarget = nullptr;
volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) {
  interrupted = 1;
  // One relaxed atomic store: safe in a signal handler.
  if (interruptTarget != nullptr) interruptTarget->RequestStop();
  // A second Ctrl-C ends the process at once.
  std::signal(SIGINT, SIG_DFL);
}

bool StderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

// A one-line bar on standard error, redrawn at every whole percent.
class TerminalProgress : public ProgressSink {
 public:
  explicit TerminalProgress(std::string name) : name_(std::move(name)) {}
  void SetRange(int32_t max) override {
    max_ = max > 0 ? max : 1;
    done_ = 0;
    nextRedraw_ = 0;
    Draw();
  }
  void Step() override {
    if (++done_ >= nextRedraw_) Draw();
  }
  void Finish() {
    if (drawn_) std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
  }

 private:
  void Draw() {
    int percent = static_cast<int>(static_cast<int64_t>(done_) * 100 / max_);
    if (percent > 100) percent = 100;
    char bar[41];
    int filled = percent * 40 / 100;
    for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
    bar[40] = '\0';
    int n = std::fprintf(stderr, "\r[%s] %3d%% %s", bar, percent, name_.c_str());
    if (n > 0 && static_cast<size_t>(n) > width_) width_ = static_cast<size_t>(n);
    std::fflush(stderr);
    drawn_ = true;
    nextRedraw_ = static_cast<int32_t>((static_cast<int64_t>(percent) + 1) * max_ / 100);
  }

  std::string name_;
  int32_t max_ = 1;
  int32_t done_ = 0;
  int32_t nextRedraw_ = 0;
  size_t width_ = 0;
  bool drawn_ = false;
};

bool IsSeparator(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

// The source path with its extension replaced (or, without one, added).
std::string OutputPathFor(const std::string& source, const char* extension) {
  size_t dot = source.rfind('.');
  size_t name = source.size();
  while (name > 0 && !IsSeparator(source[name - 1])) --name;
  if (dot == std::string::npos || dot < name || dot == name) return source + extension;
  return source.substr(0, dot) + extension;
}

// The banner clock: SOURCE_DATE_EPOCH in UTC when set, else local time.
// False when SOURCE_DATE_EPOCH is set but not a number of seconds.
bool MakeClock(ConversionClock& clock) {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch == nullptr) {
    clock = LocalTimeNow;
    return true;
  }
  char* end = nullptr;
  long long seconds = std::strtoll(epoch, &end, 10);
  if (end == epoch || *end != '\0' || seconds < 0) return false;
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
#if defined(_WIN32)
  if (gmtime_s(&utc, &t) != 0) return false;
#else
  if (gmtime_r(&t, &utc) == nullptr) return false;
#endif
  clock = [utc] { return utc; };
  return true;
}

// The same file under two names (the output would destroy its source).
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::exists(b, error) && std::filesystem::equivalent(a, b, error);
}

}  // namespace

int RunConvert(int argc, char** argv) {
  ConversionOptions options;
  const char* outputOverride = nullptr;
  std::vector<const char*> files;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      files.push_back(arg);
    } else if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kConvertUsage, stdout);
      return kExitOk;
    } else if (std::strcmp(arg, "--csv") == 0) {
      options.csv = 1;
    } else if (std::strcmp(arg, "--delta") == 0) {
      options.deltaTime = 1;
    } else if (std::strcmp(arg, "--raw-hex") == 0) {
      options.rawHex = 1;
    } else if (std::strcmp(arg, "--channel") == 0 && i + 1 < argc) {
      const char* value = argv[++i];
      if (std::strcmp(value, "both") == 0) {
        options.channelSelection = 0;
      } else if (std::strcmp(value, "1") == 0) {
        options.channelSelection = 1;
      } else if (std::strcmp(value, "2") == 0) {
        options.channelSelection = 2;
      } else {
        std::fprintf(stderr, "ksvw-dt: --channel must be both, 1 or 2, not '%s'\n", value);
        return kExitUsage;
      }
    } else if (std::strcmp(arg, "-o") == 0 && i + 1 < argc) {
      outputOverride = argv[++i];
    } else {
      std::fprintf(stderr, "ksvw-dt: unknown or incomplete option '%s'\n\n%s", arg, kConvertUsage);
      return kExitUsage;
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "ksvw-dt: no capture file given\n\n%s", kConvertUsage);
    return kExitUsage;
  }
  if (outputOverride != nullptr && files.size() > 1) {
    std::fputs("ksvw-dt: -o needs exactly one FILE\n", stderr);
    return kExitUsage;
  }
  ConversionClock clock;
  if (!MakeClock(clock)) {
    std::fputs("ksvw-dt: SOURCE_DATE_EPOCH must be a number of seconds\n", stderr);
    return kExitUsage;
  }

  static TextConverter converter(conversionReader, viewerReader);
  converter.SetOptions(options);
  converter.SetClock(clock);
  const bool showProgress = StderrIsTerminal();
  interruptTarget = &converter;
  interrupted = 0;
  void (*previousHandler)(int) = std::signal(SIGINT, OnInterrupt);

  bool notCapture = false;
  bool outputError = false;
  for (const char* source : files) {
    if (interrupted) break;
    std::string output = outputOverride != nullptr
                             ? std::string(outputOverride)
                             : OutputPathFor(source, options.csv != 0 ? ".csv" : ".txt");
    if (LoadCapture(source, kReaderConversion) == nullptr) {
      notCapture = true;
      continue;
    }
    if (SameFile(source, output)) {
      ReleaseCaptureImage(kReaderConversion);
      std::fprintf(stderr, "ksvw-dt: '%s': the output would overwrite its source\n", source);
      outputError = true;
      continue;
    }
    // A stop that arrived while the file loaded: convert nothing more.
    if (interrupted) break;
    converter.SetOutputPath(output);
    TerminalProgress progress(source);
    ConvertResult result =
        converter.Convert(showProgress ? &progress : nullptr, TextConverter::kNoPageLimit);
    if (showProgress) progress.Finish();
    ReleaseCaptureImage(kReaderConversion);
    switch (result) {
      case ConvertResult::Done:
      case ConvertResult::Stopped: break;
      case ConvertResult::CannotCreate:
        std::fprintf(stderr, "ksvw-dt: cannot create '%s'\n", output.c_str());
        outputError = true;
        break;
      case ConvertResult::WriteFailed:
        std::fprintf(stderr, "ksvw-dt: writing '%s' failed; no incomplete file is left\n",
                     output.c_str());
        outputError = true;
        break;
    }
  }

  std::signal(SIGINT, previousHandler == SIG_ERR ? SIG_DFL : previousHandler);
  interruptTarget = nullptr;
  if (interrupted) {
    std::fputs("ksvw-dt: interrupted; the file in hand was closed early\n", stderr);
    return kExitInterrupted;
  }
  if (outputError) return kExitIo;
  if (notCapture) return kExitNotCapture;
  return kExitOk;
}

}  // namespace ksvw::dt
