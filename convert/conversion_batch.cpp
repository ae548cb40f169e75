#include "convert/conversion_batch.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace ksvw {

namespace {

int64_t SteadyMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

int32_t StoredChoice(int32_t value, int32_t count) {
  return value >= 0 && value < count ? value : 0;
}

bool ConversionSectionText(const char* folder, int32_t channelIndex, int32_t hexIndex, char* out,
                           size_t capacity) {
  if (out == nullptr || capacity == 0) return false;
  const bool withPath = folder != nullptr && folder[0] != '\0';
  int n = std::snprintf(out, capacity, "%s%s%sCH=%d\nHEX=%d\n", withPath ? "PATH=" : "",
                        withPath ? folder : "", withPath ? "\n" : "",
                        StoredChoice(channelIndex, kChannelChoices),
                        StoredChoice(hexIndex, kHexChoices));
  if (n < 0 || static_cast<size_t>(n) >= capacity) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool BatchFilePaths(const char* folder, const char* name, bool csv, char* source, char* output,
                    size_t capacity) {
  if (capacity == 0) return false;
  source[0] = output[0] = '\0';
  const size_t folderLength = std::strlen(folder);
  const size_t nameLength = std::strlen(name);
  const bool separator = folderLength > 0 && !IsSeparator(folder[folderLength - 1]);
  const size_t sourceLength = folderLength + (separator ? 1 : 0) + nameLength;
  const char* dot = std::strrchr(name, '.');
  const size_t stem = dot != nullptr && dot != name ? static_cast<size_t>(dot - name) : nameLength;
  const size_t outputLength = sourceLength - nameLength + stem + 4;
  if (sourceLength >= capacity || outputLength >= capacity) return false;
  std::snprintf(source, capacity, "%s%s%s", folder, separator ? "\\" : "", name);
  std::memcpy(output, source, sourceLength - nameLength + stem);
  std::memcpy(output + sourceLength - nameLength + stem, csv ? ".csv" : ".txt", 5);
  return true;
}

ThrottledProgress::ThrottledProgress(int64_t intervalMs, Clock clock)
    : intervalMs_(intervalMs), clock_(clock ? std::move(clock) : Clock(SteadyMilliseconds)) {}

void ThrottledProgress::SetRange(int32_t max) {
  position_ = 0;
  ShowRange(max);
  shownAt_ = clock_();
}

void ThrottledProgress::Look() {
  const int64_t now = clock_();
  if (now - shownAt_ < intervalMs_) return;
  shownAt_ = now;
  ShowPosition(position_);
}

}  // namespace ksvw
