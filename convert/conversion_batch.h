// The portable rules of the batch conversion dialog: the CVT section it
// keeps in SETTING.ini, the source and output paths of one file of a
// batch, and a progress sink that shows a conversion at a bounded rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "convert/text_converter.h"

namespace ksvw {

// Index ranges of the dialog's two lists: channels "CH1&CH2", "CH1", "CH2"
// and raw hex "OFF", "ON".
inline constexpr int32_t kChannelChoices = 3;
inline constexpr int32_t kHexChoices = 2;

// A stored CH or HEX value as a list index: anything outside 0 .. count - 1
// (a hand-edited file) is 0.
int32_t StoredChoice(int32_t value, int32_t count);

// The whole CVT section: "PATH=" folder, "CH=" and "HEX=" each on a line of
// its own. A whole-section write replaces every key, so each write carries
// all three; an empty folder is left out rather than stored as "PATH=".
// False when the text does not fit.
bool ConversionSectionText(const char* folder, int32_t channelIndex, int32_t hexIndex, char* out,
                           size_t capacity);

// One file of a batch: `source` := folder and name joined, `output` := the
// source with its extension replaced by ".csv" or ".txt" (a name without
// one gets it appended). False, with both left empty, when either path
// would not fit `capacity` characters with its NUL.
bool BatchFilePaths(const char* folder, const char* name, bool csv, char* source, char* output,
                    size_t capacity);

// A ProgressSink for a window that must not be flooded: the converter
// steps once per row (millions per file), this passes the position on at
// most once per interval. The clock is read once every kStepsPerLook
// steps only, so a step costs an increment and a test.
class ThrottledProgress : public ProgressSink {
 public:
  static constexpr int32_t kStepsPerLook = 1024;
  using Clock = std::function<int64_t()>;  // milliseconds, never decreasing

  explicit ThrottledProgress(int64_t intervalMs = 50, Clock clock = {});

  void SetRange(int32_t max) override;
  void Step() override {
    if (++position_ % kStepsPerLook == 0) Look();
  }
  int32_t Position() const { return position_; }

 protected:
  virtual void ShowRange(int32_t max) = 0;
  virtual void ShowPosition(int32_t position) = 0;

 private:
  void Look();

  int64_t intervalMs_;
  Clock clock_;
  int64_t shownAt_ = 0;
  int32_t position_ = 0;
};

}  // namespace ksvw
