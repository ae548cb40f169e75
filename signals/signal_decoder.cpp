// Built with -ffp-contract=off (CMakeLists.txt): raw * factor + offset must
// round the product before the sum on every compiler and target.
#include "signals/signal_decoder.h"

#include <cstring>

#include "signals/dbc_parser.h"

namespace ksvw::signals {

namespace {

struct Words {
  uint64_t little;  // the eight data bytes read little-endian: DBC bit i is word bit i
  uint64_t big;     // read big-endian: Motorola linear bit p is word bit 63 - p
};

Words ReadWords(const uint8_t* data, int size) {
  uint8_t bytes[8] = {};
  std::memcpy(bytes, data, static_cast<size_t>(size < 8 ? size : 8));
  uint64_t little = 0;
  for (int i = 7; i >= 0; --i) little = little << 8 | bytes[i];
  return Words{little, __builtin_bswap64(little)};
}

uint64_t RawBits(const Signal& s, const Words& w) {
  return ((s.order == ByteOrder::Intel ? w.little : w.big) >> s.shift) & s.mask;
}

bool InRanges(const Signal& s, uint64_t switchRaw) {
  for (const auto& [low, high] : s.switchRanges) {
    if (switchRaw >= low && switchRaw <= high) return true;
  }
  return false;
}

void Evaluate(const Signal& s, uint64_t bits, SignalValue& out) {
  double raw = 0;
  switch (s.type) {
    case ValueType::Unsigned:
      out.raw = bits;
      raw = static_cast<double>(bits);
      break;
    case ValueType::Signed: {
      const uint64_t sign = uint64_t{1} << (s.length - 1);
      out.raw = (bits ^ sign) - sign;  // sign extension of a length-bit value
      raw = static_cast<double>(static_cast<int64_t>(out.raw));
      break;
    }
    case ValueType::Float32: {
      const auto b32 = static_cast<uint32_t>(bits);
      float f;
      std::memcpy(&f, &b32, sizeof f);
      out.raw = bits;
      raw = f;
      break;
    }
    case ValueType::Float64:
      out.raw = bits;
      std::memcpy(&raw, &bits, sizeof raw);
      break;
  }
  const double scaled = raw * s.factor;
  out.value = scaled + s.offset;
}

}  // namespace

bool FrameOfRecord(const CaptureRecord& record, Frame& frame) {
  if (ClassOf(record) != RecordClass::Can || CanRemote(record)) return false;
  frame.bus = Bus::Can;
  frame.channel = record.source() == kSourceCan2 ? 2 : 1;
  frame.id = CanIdentifier(record);
  frame.extended = CanExtended(record);
  frame.size = static_cast<uint8_t>(CanShownDataCount(record));
  std::memset(frame.data, 0, sizeof frame.data);
  std::memcpy(frame.data, record.data(), frame.size);
  return true;
}

int DecodeMessage(const Message& message, const uint8_t* data, int size, SignalValue* out,
                  int& beyondFrame) {
  const Words words = ReadWords(data, size);
  // A message built by hand beyond the reader's limits decodes nothing.
  const size_t n = message.signals.size();
  if (n > kDbcMaxSignalsPerMessage) return 0;
  // Presence, switches first; a plain message has every signal present.
  bool present[kDbcMaxSignalsPerMessage];
  if (message.multiplexed) {
    std::memset(present, 0, n);
    for (uint16_t i : message.presenceOrder) {
      const Signal& s = message.signals[i];
      if (s.switchIndex == kNoSignal) {
        present[i] = true;
        continue;
      }
      const Signal& sw = message.signals[s.switchIndex];
      present[i] =
          present[s.switchIndex] && sw.bytesNeeded <= size && InRanges(s, RawBits(sw, words));
    }
  }
  int count = 0;
  for (size_t i = 0; i < n; ++i) {
    if (message.multiplexed && !present[i]) continue;
    const Signal& s = message.signals[i];
    if (s.bytesNeeded > size) {
      ++beyondFrame;
      continue;
    }
    SignalValue& v = out[count++];
    v.signal = static_cast<uint16_t>(i);
    Evaluate(s, RawBits(s, words), v);
  }
  return count;
}

const ValueLabel* LabelOf(const Signal& signal, const SignalValue& value) {
  if (signal.labels.empty()) return nullptr;
  if (signal.type == ValueType::Signed) return FindLabel(signal, SignedRaw(value));
  if (signal.type == ValueType::Unsigned && SignedRaw(value) >= 0)
    return FindLabel(signal, SignedRaw(value));
  return nullptr;
}

void SignalDecoder::SetDatabase(int channel, const Database* database) {
  if (channel == 1 || channel == 2) databases_[channel - 1] = database;
}

const Database* SignalDecoder::DatabaseOf(int channel) const {
  return channel == 1 || channel == 2 ? databases_[channel - 1] : nullptr;
}

FrameOutcome SignalDecoder::Decode(const CaptureRecord& record, FrameSignals& out) const {
  out.message = nullptr;
  out.count = 0;
  out.beyondFrame = 0;
  if (!FrameOfRecord(record, out.frame)) return FrameOutcome::NotDecoded;
  const Database* db = DatabaseOf(out.frame.channel);
  if (db == nullptr) return FrameOutcome::NotDecoded;
  out.message = db->Find(out.frame.bus, out.frame.id, out.frame.extended);
  if (out.message == nullptr) return FrameOutcome::NotInDatabase;
  if (out.values.size() < out.message->signals.size())
    out.values.resize(out.message->signals.size());
  out.count = DecodeMessage(*out.message, out.frame.data, out.frame.size, out.values.data(),
                            out.beyondFrame);
  return FrameOutcome::Decoded;
}

}  // namespace ksvw::signals
