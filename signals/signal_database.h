// A signal database: the messages a bus carries and the signals packed in
// their data, as a DBC file describes them (dbc_parser.h reads one).
//
// The database is read once and then only looked up, from the GUI thread
// (the signals pane) or a command-line walk. Every signal carries its bit
// layout precomputed for the decoder (signal_decoder.h): where its bits lie
// in the first eight data bytes and how many bytes a frame must have for
// them, so decoding a frame is a few shifts per signal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ksvw::signals {

// Bus of a message. Only CAN databases exist today; a LIN description
// would fill the same model with Bus::Lin messages keyed by frame identifier.
enum class Bus : uint8_t { Can, Lin };

enum class ByteOrder : uint8_t { Intel, Motorola };  // "@1" little-endian, "@0" big-endian
enum class ValueType : uint8_t { Unsigned, Signed, Float32, Float64 };

// The frame identifier a message answers to: bit 31 marks a 29-bit
// identifier, as in the DBC file itself.
inline constexpr uint32_t kExtendedIdFlag = 0x80000000u;
inline constexpr uint32_t MessageKey(uint32_t id, bool extended) {
  return extended ? (id | kExtendedIdFlag) : id;
}

struct ValueLabel {
  int64_t value;  // raw value
  std::string text;
};

// "No signal" in the signal index fields below.
inline constexpr uint16_t kNoSignal = 0xFFFF;

struct Signal {
  std::string name;
  uint16_t startBit = 0;  // as DBC files count it: the lowest bit (Intel) or the highest (Motorola)
  uint16_t length = 1;    // bits, 1..64
  ByteOrder order = ByteOrder::Intel;
  ValueType type = ValueType::Unsigned;
  double factor = 1;
  double offset = 0;
  double minimum = 0;
  double maximum = 0;
  std::string unit;
  std::string comment;
  std::vector<ValueLabel> labels;  // sorted by value, no value twice

  // Multiplexing: a multiplexed signal is present only while its switch
  // signal's raw value lies in one of its ranges (one value for "mN"; the
  // ranges of an SG_MUL_VAL_ line).
  bool isSwitch = false;             // "M", or the "M" of "mNM"
  uint16_t switchIndex = kNoSignal;  // the switch this signal depends on
  std::vector<std::pair<uint64_t, uint64_t>> switchRanges;
  int64_t muxValue = -1;  // the N of "mN", -1 for a plain signal

  // Layout for the decoder, set when the database is finalised: the raw
  // value is (word >> shift) & mask, where word is the first eight data
  // bytes read little-endian (Intel) or big-endian (Motorola).
  uint8_t shift = 0;
  uint64_t mask = 0;
  uint8_t bytesNeeded = 0;  // data bytes the frame must hold; above 8 never decodes
};

struct Message {
  Bus bus = Bus::Can;
  uint32_t id = 0;  // 11 or 29 bits
  bool extended = false;
  // False for the pseudo-message that some editors write to hold signals
  // that belong to no frame (an identifier with bits 29 or 30 set): it is
  // kept so its references resolve, but no frame ever matches it.
  bool isFrame = true;
  std::string name;
  uint8_t length = 0;  // data bytes
  std::string sender;
  std::string comment;
  int32_t cycleTimeMs = -1;  // GenMsgCycleTime, -1 when the database has none
  std::vector<Signal> signals;
  // The order in which presence is decided: every switch before the signals
  // that depend on it (set when the database is finalised).
  std::vector<uint16_t> presenceOrder;
  bool multiplexed = false;
};

struct ValueTable {
  std::string name;
  std::vector<ValueLabel> labels;
};

class Database {
 public:
  std::string version;
  std::vector<std::string> nodes;
  std::vector<Message> messages;  // in the file's order
  std::vector<ValueTable> valueTables;

  // The message of a frame, or null.
  const Message* Find(Bus bus, uint32_t id, bool extended) const;

  // Builds the lookup index and each signal's decoder layout. The parser
  // calls it once the file is read; a database built by hand must call it
  // before use.
  void Finalise();

  size_t SignalCount() const;

 private:
  // Frames by MessageKey; a pseudo-message by its DBC identifier, whose
  // bits 29 or 30 no frame's key has.
  struct Entry {
    Bus bus;
    uint32_t key;
    uint32_t index;
    bool operator<(const Entry& other) const {
      return bus != other.bus ? bus < other.bus : key < other.key;
    }
  };
  int Lookup(Bus bus, uint32_t key) const;
  std::vector<Entry> index_;
};

// Bits of a signal in DBC numbering (bit i is bit i % 8 of byte i / 8):
// where its highest and lowest value bits lie. A Motorola signal runs from
// its start bit downwards through a byte and on to bit 7 of the next byte.
// The "sawtooth" position of DBC bit i in big-endian order is what makes
// that run contiguous.
inline int MotorolaLinear(int dbcBit) {
  return (dbcBit / 8) * 8 + (7 - dbcBit % 8);
}
// Data bytes a signal needs: one past the byte holding its last bit.
int SignalBytesNeeded(uint16_t startBit, uint16_t length, ByteOrder order);

// The label of a raw value, or null.
const ValueLabel* FindLabel(const Signal& signal, int64_t raw);

}  // namespace ksvw::signals
