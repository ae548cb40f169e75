// Pieces a ksvw-dt command that writes files beside its inputs needs: the
// output path, the same-file guard, the clock of SOURCE_DATE_EPOCH and a
// progress bar on a terminal. (convert has its own copies; export uses these.)
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "convert/text_converter.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace ksvw::dt {

inline bool StderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

inline bool IsPathSeparator(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

// The source path with its extension replaced (or, without one, added).
inline std::string ReplaceExtension(const std::string& source, const char* extension) {
  size_t dot = source.rfind('.');
  size_t name = source.size();
  while (name > 0 && !IsPathSeparator(source[name - 1])) --name;
  if (dot == std::string::npos || dot < name || dot == name) return source + extension;
  return source.substr(0, dot) + extension;
}

// The same file under two names (the output would destroy its source).
inline bool IsSameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::exists(b, error) && std::filesystem::equivalent(a, b, error);
}

// Now, or the instant of SOURCE_DATE_EPOCH (in UTC) when it is set, so that
// an output is the same on any machine. False when it is set but no number.
inline bool ExportClock(std::tm& out) {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch == nullptr) {
    out = LocalTimeNow();
    return true;
  }
  char* end = nullptr;
  long long seconds = std::strtoll(epoch, &end, 10);
  if (end == epoch || *end != '\0' || seconds < 0) return false;
  std::time_t t = static_cast<std::time_t>(seconds);
#if defined(_WIN32)
  return gmtime_s(&out, &t) == 0;
#else
  return gmtime_r(&t, &out) != nullptr;
#endif
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

}  // namespace ksvw::dt
