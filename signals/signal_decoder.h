// Physical values of the signals in a frame.
//
// The decoder works on a Frame (bus, channel, identifier, up to eight data
// bytes). Capture records become frames in one place, FrameOfRecord, by the
// record rules of capture_record.h: CAN data frames do; remote frames, LIN
// records and markers do not (a LIN description would add its frames
// there, and its messages to a Database with Bus::Lin).
//
// physical = raw * factor + offset in double, the multiplication rounded
// before the addition (this unit is built without contraction into a fused
// multiply-add), as DBC tools compute it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_record.h"
#include "signals/signal_database.h"

namespace ksvw::signals {

struct Frame {
  Bus bus = Bus::Can;
  uint8_t channel = 1;  // 1 or 2
  uint32_t id = 0;
  bool extended = false;
  uint8_t size = 0;  // data bytes, 0..8
  uint8_t data[8] = {};
};

// The frame a capture record carries; false when it carries none that a
// database describes.
bool FrameOfRecord(const CaptureRecord& record, Frame& frame);

struct SignalValue {
  uint16_t signal = 0;  // index in Message::signals
  uint64_t raw = 0;     // the signal's bits; sign-extended for a signed signal
  double value = 0;     // physical value
};

// Decodes the signals of `message` that are present in `data` (`size`
// bytes, at most 8 used) into `out` (room for message.signals.size()), in
// the database's order; returns how many. A multiplexed signal is present
// while its switch is and holds a value in its ranges. A present signal
// whose bits lie beyond `size` is not decoded and is counted in
// `beyondFrame`.
int DecodeMessage(const Message& message, const uint8_t* data, int size, SignalValue* out,
                  int& beyondFrame);

// The raw value as a signed integer (a signed signal's sign-extended bits,
// an unsigned one's value while it fits).
inline int64_t SignedRaw(const SignalValue& v) {
  return static_cast<int64_t>(v.raw);
}
// The value-table text of a decoded value, or null (never for floats, nor
// for unsigned values above the largest signed one).
const ValueLabel* LabelOf(const Signal& signal, const SignalValue& value);

// What a decoder made of one record.
enum class FrameOutcome {
  Decoded,        // the message is known; `values` holds its present signals
  NotInDatabase,  // a frame whose identifier the channel's database lacks
  NotDecoded,     // no frame (remote, LIN, marker) or no database for the channel
};

struct FrameSignals {
  Frame frame;
  const Message* message = nullptr;
  std::vector<SignalValue> values;  // reused from frame to frame
  int count = 0;
  int beyondFrame = 0;
};

// A database per channel (CH1 and CH2 are often different buses).
class SignalDecoder {
 public:
  void SetDatabase(int channel, const Database* database);
  const Database* DatabaseOf(int channel) const;
  FrameOutcome Decode(const CaptureRecord& record, FrameSignals& out) const;

 private:
  const Database* databases_[2] = {};
};

}  // namespace ksvw::signals
