#include "signals/signal_pane.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "signals/value_text.h"

namespace ksvw::signals {

namespace {

size_t CopyCut(const char* text, char* out, size_t capacity) {
  if (capacity == 0) return 0;
  size_t n = std::strlen(text);
  if (n >= capacity) n = capacity - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
  return n;
}

bool ValidChannel(int channel) {
  return channel == 1 || channel == 2;
}

}  // namespace

SignalPane::SignalPane() = default;

bool SignalPane::Load(int channel, const std::string& path, DbcError& error) {
  if (!ValidChannel(channel)) return false;
  Database db;
  const bool ok = path.empty() || LoadDbcFile(path, db, error);
  Set(channel, std::move(db), ok ? path : std::string());
  // A file that failed leaves the channel without a database but keeps its
  // path: the dialog shows it, so the user may mend it.
  paths_[channel - 1] = path;
  return ok;
}

void SignalPane::Set(int channel, Database&& database, const std::string& path) {
  if (!ValidChannel(channel)) return;
  databases_[channel - 1] = std::move(database);
  paths_[channel - 1] = path;
  loaded_[channel - 1] = !path.empty();
  decoder_.SetDatabase(channel, loaded_[channel - 1] ? &databases_[channel - 1] : nullptr);
  Show(nullptr);
}

const std::string& SignalPane::Path(int channel) const {
  return paths_[ValidChannel(channel) ? channel - 1 : 0];
}

bool SignalPane::Active() const {
  return loaded_[0] || loaded_[1];
}

void SignalPane::Show(const CaptureRecord* record) {
  frame_.message = nullptr;
  frame_.count = 0;
  if (record == nullptr) {
    state_ = PaneState::NoRecord;
    return;
  }
  switch (decoder_.Decode(*record, frame_)) {
    case FrameOutcome::Decoded: state_ = PaneState::Decoded; break;
    case FrameOutcome::NotInDatabase: state_ = PaneState::NotInDatabase; break;
    case FrameOutcome::NotDecoded:
      // A frame of a channel without a database, or no frame at all.
      state_ = FrameOfRecord(*record, frame_.frame) ? PaneState::NoDatabase : PaneState::NotDecoded;
      break;
  }
}

std::string SignalPane::Heading() const {
  if (state_ == PaneState::NoRecord || state_ == PaneState::NotDecoded) return "";
  char text[64];
  std::snprintf(text, sizeof text, "CH%d  %" PRIX32, frame_.frame.channel, frame_.frame.id);
  std::string heading = text;
  if (frame_.message != nullptr) heading.append("  ").append(frame_.message->name);
  return heading;
}

size_t SignalPane::Cell(int row, int column, char* out, size_t capacity) const {
  if (capacity == 0) return 0;
  out[0] = '\0';
  if (row < 0 || row >= Rows()) return 0;
  const SignalValue& v = frame_.values[static_cast<size_t>(row)];
  const Signal& s = frame_.message->signals[v.signal];
  char number[kValueTextCapacity];
  switch (column) {
    case kPaneName: return CopyCut(s.name.c_str(), out, capacity);
    case kPaneValue: FormatValue(number, v.value); return CopyCut(number, out, capacity);
    case kPaneUnit: return CopyCut(s.unit.c_str(), out, capacity);
    case kPaneLabel: {
      const ValueLabel* label = LabelOf(s, v);
      return CopyCut(label ? label->text.c_str() : "", out, capacity);
    }
    case kPaneRaw:
      // Integers as the database counts them; an IEEE value's bits in hex.
      if (s.type == ValueType::Signed) {
        std::snprintf(number, sizeof number, "%" PRId64, SignedRaw(v));
      } else if (s.type == ValueType::Unsigned) {
        std::snprintf(number, sizeof number, "%" PRIu64, v.raw);
      } else {
        std::snprintf(number, sizeof number, "0x%0*" PRIX64, s.length / 4, v.raw);
      }
      return CopyCut(number, out, capacity);
    default: return 0;
  }
}

int SignalPaneHeight(int available) {
  constexpr int kPane = 110;      // a heading and four rows
  constexpr int kListKeeps = 60;  // the list's header and two rows
  int height = available / 3;
  if (height < kPane) height = std::min(kPane, available - kListKeeps);
  return height > 0 ? height : 0;
}

}  // namespace ksvw::signals
