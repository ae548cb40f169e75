#include "tools/ksvw-dt/file_batch.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <system_error>

#include "capture/capture_reader.h"
#include "common/output_file.h"
#include "tools/ksvw-dt/commands.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace ksvw::dt {

namespace {

constexpr int kExitInterrupted = 130;

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnBatchInterrupt(int) {
  interrupted = 1;
  // One relaxed atomic store ends the walk of the file in hand: safe in a
  // signal handler. A second Ctrl-C ends the process at once.
  conversionReader.StopWalk();
  std::signal(SIGINT, SIG_DFL);
}

bool StderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

bool IsPathSeparator(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

// The source path with its extension replaced (or, without one, added).
std::string ReplaceExtension(const std::string& source, const std::string& extension) {
  size_t dot = source.rfind('.');
  size_t name = source.size();
  while (name > 0 && !IsPathSeparator(source[name - 1])) --name;
  if (dot == std::string::npos || dot < name || dot == name) return source + extension;
  return source.substr(0, dot) + extension;
}

// Where output `part` of `source` goes: beside it, or -o's path.
std::string OutputOf(const char* source, const BatchOutputs& outputs, size_t part) {
  const std::string& extension = outputs.extensions[part];
  if (outputs.outputOverride == nullptr) return ReplaceExtension(source, extension);
  if (outputs.extensions.size() == 1) return outputs.outputOverride;
  return ReplaceExtension(outputs.outputOverride, extension);
}

// A path as one spelling of its file, for telling two names of a batch
// apart: absolute, without "." and "..", and on Windows in one case.
std::string PathKey(const std::string& path) {
  std::error_code error;
  std::string key = std::filesystem::absolute(path, error).lexically_normal().string();
  if (error) key = path;
#if defined(_WIN32)
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#endif
  return key;
}

// Refuses, before anything is written, a batch where two files would have
// one output or an output would overwrite a file of the batch (an earlier
// output would be replaced, or an input destroyed before it is read).
bool OutputsAreDistinct(const std::vector<const char*>& files, const BatchOutputs& outputs) {
  std::map<std::string, const char*> inputs;
  for (const char* source : files) inputs.emplace(PathKey(source), source);
  std::map<std::string, const char*> taken;
  for (size_t k = 0; k < files.size() * outputs.extensions.size(); ++k) {
    const char* source = files[k / outputs.extensions.size()];
    const std::string output = OutputOf(source, outputs, k % outputs.extensions.size());
    const std::string key = PathKey(output);
    auto [other, added] = taken.emplace(key, source);
    if (!added && PathKey(other->second) != PathKey(source)) {
      std::fprintf(stderr,
                   "ksvw-dt: '%s' and '%s' would both be written to '%s'; nothing written\n",
                   other->second, source, output.c_str());
      return false;
    }
    auto input = inputs.find(key);
    if (input != inputs.end() && PathKey(input->second) != PathKey(source)) {
      std::fprintf(stderr, "ksvw-dt: the output of '%s' would overwrite '%s'; nothing written\n",
                   source, input->second);
      return false;
    }
  }
  return true;
}

// A one-line bar on standard error, redrawn at every whole percent.
class TerminalBar : public ProgressSink {
 public:
  explicit TerminalBar(std::string name) : name_(std::move(name)) {}
  void SetRange(int32_t max) override {
    max_ = max > 0 ? max : 1;
    done_ = 0;
    next_ = 0;
    Draw();
  }
  void Step() override {
    if (++done_ >= next_) Draw();
  }
  void Finish() {
    if (width_ > 0) std::fprintf(stderr, "\r%*s\r", width_, "");
  }

 private:
  void Draw() {
    int percent = static_cast<int>(static_cast<int64_t>(done_) * 100 / max_);
    if (percent > 100) percent = 100;
    char bar[41];
    for (int i = 0; i < 40; ++i) bar[i] = i < percent * 40 / 100 ? '#' : '.';
    bar[40] = '\0';
    int n = std::fprintf(stderr, "\r[%s] %3d%% %s", bar, percent, name_.c_str());
    if (n > width_) width_ = n;
    std::fflush(stderr);
    next_ = static_cast<int32_t>((static_cast<int64_t>(percent) + 1) * max_ / 100);
  }

  std::string name_;
  int32_t max_ = 1;
  int32_t done_ = 0;
  int32_t next_ = 0;
  int width_ = 0;
};

}  // namespace

bool ParseChannelOption(const char* value, uint8_t& channelSelection) {
  if (std::strcmp(value, "both") == 0) {
    channelSelection = 0;
  } else if (std::strcmp(value, "1") == 0) {
    channelSelection = 1;
  } else if (std::strcmp(value, "2") == 0) {
    channelSelection = 2;
  } else {
    std::fprintf(stderr, "ksvw-dt: --channel must be both, 1 or 2, not '%s'\n", value);
    return false;
  }
  return true;
}

int ParseBatchArguments(int argc, char** argv, const char* usage, const OwnOption& own,
                        BatchArguments& out) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      out.files.push_back(arg);
    } else if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(usage, stdout);
      return kExitOk;
    } else if (std::strcmp(arg, "--channel") == 0 && i + 1 < argc) {
      if (!ParseChannelOption(argv[++i], out.channelSelection)) return kExitUsage;
    } else if (std::strcmp(arg, "-o") == 0 && i + 1 < argc) {
      out.outputOverride = argv[++i];
    } else if (int taken = own(argc, argv, i); taken != 1) {
      if (taken == 0) {
        std::fprintf(stderr, "ksvw-dt: unknown or incomplete option '%s'\n\n%s", arg, usage);
      }
      return kExitUsage;
    }
  }
  if (out.files.empty()) {
    std::fprintf(stderr, "ksvw-dt: no capture file given\n\n%s", usage);
    return kExitUsage;
  }
  if (out.outputOverride != nullptr && out.files.size() > 1) {
    std::fputs("ksvw-dt: -o needs exactly one FILE\n", stderr);
    return kExitUsage;
  }
  return -1;
}

bool OutputDate(int64_t& seconds, std::tm& shown) {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch == nullptr) {
    seconds = static_cast<int64_t>(std::time(nullptr));
    shown = LocalTime(static_cast<std::time_t>(seconds));
    return true;
  }
  // The banner writes the year with four digits: 9999-12-31 23:59:59 UTC
  // is the last instant it can show.
  constexpr long long kLastSecond = 253402300799;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(epoch, &end, 10);
  const std::time_t t = static_cast<std::time_t>(value);
  bool valid = errno == 0 && end != epoch && *end == '\0' && value >= 0 && value <= kLastSecond;
#if defined(_WIN32)
  valid = valid && gmtime_s(&shown, &t) == 0;
#else
  valid = valid && gmtime_r(&t, &shown) != nullptr;
#endif
  if (!valid) {
    std::fputs("ksvw-dt: SOURCE_DATE_EPOCH must be a number of seconds from 0 to 253402300799\n",
               stderr);
    return false;
  }
  seconds = value;
  return true;
}

bool SourceDateClock(ConversionClock& clock) {
  if (std::getenv("SOURCE_DATE_EPOCH") == nullptr) {
    clock = LocalTimeNow;
    return true;
  }
  int64_t seconds = 0;
  std::tm utc{};
  if (!OutputDate(seconds, utc)) return false;
  clock = [utc] { return utc; };
  return true;
}

namespace {

void ReportOutputFailure(const std::string& output, const BatchOutcome& outcome,
                         bool keepExisting) {
  const std::string why = OutputErrorText(outcome.error);
  if (outcome.result == ConvertResult::WriteFailed) {
    std::fprintf(stderr, "ksvw-dt: cannot write '%s': %s (nothing was replaced)\n", output.c_str(),
                 why.c_str());
  } else if (keepExisting && outcome.error == EEXIST) {
    std::fprintf(stderr,
                 "ksvw-dt: '%s' exists and was not replaced; name another output with -o, or "
                 "replace it with --force\n",
                 output.c_str());
  } else {
    std::fprintf(stderr, "ksvw-dt: cannot create '%s': %s\n", output.c_str(), why.c_str());
  }
}

}  // namespace

int RunFileBatch(const std::vector<const char*>& files, const BatchOutputs& outputs,
                 const BatchWriter& write) {
  if (!OutputsAreDistinct(files, outputs)) return kExitUsage;
  const bool showProgress = StderrIsTerminal();
  const bool keepExisting = outputs.keepExisting && outputs.outputOverride == nullptr;
  interrupted = 0;
  void (*previousHandler)(int) = std::signal(SIGINT, OnBatchInterrupt);
  bool notCapture = false;
  bool outputError = false;
  for (const char* source : files) {
    if (interrupted) break;
    std::vector<std::string> outputNames;
    for (size_t part = 0; part < outputs.extensions.size(); ++part) {
      outputNames.push_back(OutputOf(source, outputs, part));
      if (WouldOverwrite(outputNames.back(), source)) {
        std::fprintf(stderr, "ksvw-dt: '%s': the output would overwrite its source\n", source);
        outputError = true;
        outputNames.clear();
        break;
      }
    }
    if (outputNames.empty()) continue;
    if (LoadCapture(source, kReaderConversion) == nullptr) {
      notCapture = true;
      continue;
    }
    for (size_t part = 0; part < outputNames.size(); ++part) {
      // A stop that arrived while the file loaded or the last part was
      // written: write nothing more.
      if (interrupted) break;
      TerminalBar bar(source);
      BatchOutcome outcome =
          write(source, outputNames[part], part, keepExisting, showProgress ? &bar : nullptr);
      if (showProgress) bar.Finish();
      if (outcome.result == ConvertResult::ReadFailed) {
        // The file got shorter, or a read failed, after it was loaded.
        ReportReadError(source, conversionReader.ReadError());
        std::fprintf(stderr, "ksvw-dt: '%s' was not written\n", outputNames[part].c_str());
        notCapture = true;
        break;
      }
      if (outcome.result == ConvertResult::CannotCreate ||
          outcome.result == ConvertResult::WriteFailed) {
        ReportOutputFailure(outputNames[part], outcome, keepExisting);
        outputError = true;
      }
    }
    ReleaseCaptureImage(kReaderConversion);
  }
  std::signal(SIGINT, previousHandler == SIG_ERR ? SIG_DFL : previousHandler);
  if (interrupted) {
    std::fputs("ksvw-dt: interrupted; the file in hand was closed early\n", stderr);
    return kExitInterrupted;
  }
  if (outputError) return kExitIo;
  if (notCapture) return kExitNotCapture;
  return kExitOk;
}

}  // namespace ksvw::dt
