// The measurement settings of a capture ("DINF" chunk) as a fixed 788-byte
// image, the parser that fills it from a stored body whose blocks may be
// shorter or longer than the known sizes, and the rate helpers the banner uses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"

namespace ksvw {

inline constexpr int kSettingsSize = 788;
inline constexpr int kCanChannelSize = 32;
inline constexpr int kLinChannelSize = 288;

// Offsets in the settings image.
namespace settings_offset {
inline constexpr int kLayoutCode = 10;
inline constexpr int kModeCode = 16;
inline constexpr int kBoardCode = 17;
inline constexpr int kCanChannel0 = 36;
inline constexpr int kLinChannel0 = 108;
inline constexpr int kProtocol0 = 704;
}  // namespace settings_offset

// View of one CAN channel entry (32 bytes) inside the settings image.
struct CanChannelSettings {
  const uint8_t* p;
  uint8_t preset() const { return p[4]; }  // 0 = custom timing, 1..8 presets
  int32_t baseFrequency() const { return static_cast<int32_t>(LoadLE32(p + 8)); }  // tenths of Hz
  int8_t pts() const { return static_cast<int8_t>(p[12]); }
  int8_t pbs1() const { return static_cast<int8_t>(p[13]); }
  int8_t pbs2() const { return static_cast<int8_t>(p[14]); }
  int8_t sjw() const { return static_cast<int8_t>(p[15]); }
};

// View of one LIN channel entry (288 bytes) inside the settings image.
struct LinChannelSettings {
  const uint8_t* p;
  int32_t bitRate() const { return static_cast<int32_t>(LoadLE32(p + 4)); }  // tenths of bit/s
  bool hasLengthTable() const { return p[8] == 1; }
  // Data length of frame identifier id (0..63) from the table, low 4 bits.
  int tableLength(int id) const { return LoadLE32(p + 28 + 4 * (id & 0x3F)) & 0x0F; }
};

struct CaptureSettings {
  uint8_t bytes[kSettingsSize];

  CaptureSettings() { Reset(); }
  // Every byte zero except the size fields of the known layout (LIN group
  // and LIN channel sizes stay zero).
  void Reset();

  uint8_t layoutCode() const { return bytes[settings_offset::kLayoutCode]; }
  uint8_t modeCode() const { return bytes[settings_offset::kModeCode]; }
  uint8_t boardCode() const { return bytes[settings_offset::kBoardCode]; }
  // channel is 0 or 1.
  CanChannelSettings can(int channel) const {
    return {bytes + settings_offset::kCanChannel0 + kCanChannelSize * (channel & 1)};
  }
  LinChannelSettings lin(int channel) const {
    return {bytes + settings_offset::kLinChannel0 + kLinChannelSize * (channel & 1)};
  }
  // Protocol byte of channel 0 or 1: 2 = LIN, anything else CAN.
  uint8_t protocol(int channel) const { return bytes[settings_offset::kProtocol0 + (channel & 1)]; }
};

// Reads a "DINF" body of `size` bytes into `settings` (already reset by the
// caller). Returns false when a block is malformed; whatever was copied
// before that stays. Never reads outside [body, body + size).
bool ParseCaptureSettings(CaptureSettings& settings, const uint8_t* body, size_t size);

// Labels of the CAN rate presets 1..8; nullptr for 0 and unknown presets.
const char* CanPresetLabel(int preset);

// base frequency / (PTS + PBS1 + PBS2 + 1), in tenths, truncating. A damaged
// channel whose divisor is zero or negative is never divided by: returns -1,
// which the banner shows as "------" like a rate above 10,000,000.
int32_t ComputeCanBitRate(const CanChannelSettings& channel);

// Write the text into `out` (at least 16 bytes) and return `out`.
char* FormatRate(int32_t tenths, char* out);
char* FormatTenths(int32_t tenths, char* out);

}  // namespace ksvw
