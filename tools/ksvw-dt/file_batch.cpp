#include "tools/ksvw-dt/file_batch.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "capture/capture_reader.h"
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
std::string ReplaceExtension(const std::string& source, const char* extension) {
  size_t dot = source.rfind('.');
  size_t name = source.size();
  while (name > 0 && !IsPathSeparator(source[name - 1])) --name;
  if (dot == std::string::npos || dot < name || dot == name) return source + extension;
  return source.substr(0, dot) + extension;
}

// The same file under two names (the output would destroy its source).
bool IsSameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::exists(b, error) && std::filesystem::equivalent(a, b, error);
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

bool SourceDateClock(ConversionClock& clock) {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch == nullptr) {
    clock = LocalTimeNow;
    return true;
  }
  char* end = nullptr;
  long long seconds = std::strtoll(epoch, &end, 10);
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  bool valid = end != epoch && *end == '\0' && seconds >= 0;
#if defined(_WIN32)
  valid = valid && gmtime_s(&utc, &t) == 0;
#else
  valid = valid && gmtime_r(&t, &utc) != nullptr;
#endif
  if (!valid) {
    std::fputs("ksvw-dt: SOURCE_DATE_EPOCH must be a number of seconds\n", stderr);
    return false;
  }
  clock = [utc] { return utc; };
  return true;
}

int RunFileBatch(const std::vector<const char*>& files, const char* outputOverride,
                 const char* extension, const BatchWriter& write) {
  const bool showProgress = StderrIsTerminal();
  interrupted = 0;
  void (*previousHandler)(int) = std::signal(SIGINT, OnBatchInterrupt);
  bool notCapture = false;
  bool outputError = false;
  for (const char* source : files) {
    if (interrupted) break;
    std::string output = outputOverride != nullptr ? std::string(outputOverride)
                                                   : ReplaceExtension(source, extension);
    if (LoadCapture(source, kReaderConversion) == nullptr) {
      notCapture = true;
      continue;
    }
    if (IsSameFile(source, output)) {
      ReleaseCaptureImage(kReaderConversion);
      std::fprintf(stderr, "ksvw-dt: '%s': the output would overwrite its source\n", source);
      outputError = true;
      continue;
    }
    // A stop that arrived while the file loaded: write nothing more.
    if (interrupted) break;
    TerminalBar bar(source);
    ConvertResult result = write(source, output, showProgress ? &bar : nullptr);
    if (showProgress) bar.Finish();
    ReleaseCaptureImage(kReaderConversion);
    switch (result) {
      case ConvertResult::Done:
      case ConvertResult::Stopped: break;
      case ConvertResult::CannotCreate:
        std::fprintf(stderr, "ksvw-dt: cannot create '%s'\n", output.c_str());
        outputError = true;
        break;
      case ConvertResult::WriteFailed:
      case ConvertResult::DiskFull:
        std::fprintf(stderr, "ksvw-dt: writing '%s' failed%s; no incomplete file is left\n",
                     output.c_str(), result == ConvertResult::DiskFull ? " (disk full)" : "");
        outputError = true;
        break;
    }
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
