// Builders of capture records, settings images and whole DT files, for tests,
// benchmarks, the fuzz corpus and the analyzer simulator.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "capture/capture_record.h"
#include "capture/capture_settings.h"

namespace ksvw::build {

// Time stamp from minutes, seconds, hundredths and fifths of a millisecond.
uint32_t TimeStamp(int minutes, int seconds, int hundredths, int fifths);

// Generic record from its fields; unset fields are zero.
struct RecordFields {
  uint8_t source = 1;
  uint8_t lineFlags = 0;
  uint16_t status = 0;
  uint32_t timeStamp = 0;
  int8_t count = 0;
  uint8_t kind = 0;
  uint32_t identifier = 0;
  std::vector<uint8_t> data;  // at most 9 bytes
};
CaptureRecord Record(const RecordFields& f);

// CAN data frame: channel 1 or 2, standard (11-bit) or extended (29-bit)
// identifier, count = data.size(), DLC = data.size() unless given.
CaptureRecord CanData(int channel, uint32_t id, bool extended, std::initializer_list<uint8_t> data,
                      uint32_t timeStamp = 0, int dlc = -1);
// CAN remote frame with the given DLC field and count 0.
CaptureRecord CanRemoteFrame(int channel, uint32_t id, bool extended, int dlc,
                             uint32_t timeStamp = 0);
// LIN record: channel 1 or 2, header bytes, kind, count, data bytes (the
// checksum is simply the byte after the data), status.
CaptureRecord Lin(int channel, uint8_t sb, uint8_t sf, uint8_t protectedId, uint8_t kind,
                  int8_t count, std::initializer_list<uint8_t> data, uint16_t status = 0,
                  uint32_t timeStamp = 0);
// Overrun (0x40) or lost-data (0x41) marker.
CaptureRecord Marker(uint8_t source, uint32_t timeStamp);

// Sets byte bits on a built record.
CaptureRecord WithLineFlags(CaptureRecord r, uint8_t lineFlags);
CaptureRecord WithStatus(CaptureRecord r, uint16_t status);

// Settings image fields for a well-formed known-size "DINF" body.
struct ChannelPlan {
  bool lin = false;           // protocol byte 2
  uint8_t preset = 7;         // CAN: 0 = custom timing, 1..8
  int32_t baseFrequency = 0;  // CAN custom timing, tenths of Hz
  int8_t pts = 0, pbs1 = 0, pbs2 = 0, sjw = 0;
  int32_t linBitRate = 192000;  // tenths of bit/s
  bool linTable = false;
  uint8_t linTableLengths[64] = {};
};
struct SettingsPlan {
  ChannelPlan channel[2];
  uint8_t layoutCode = 32;
  uint8_t modeCode = 0;
  uint8_t boardCode = 9;
};
// The 788-byte settings image (LIN group and channel sizes set), which is
// also the "DINF" body written at the known sizes.
CaptureSettings MakeSettings(const SettingsPlan& plan);
std::vector<uint8_t> KnownSizeDinf(const SettingsPlan& plan);

// Whole files: magic, then the chunks in the order added.
class CaptureFileBuilder {
 public:
  CaptureFileBuilder& Magic(const std::string& sixteenBytes);  // replaces the default magic
  CaptureFileBuilder& Chunk(uint32_t tag, const std::vector<uint8_t>& body);
  // Chunk header claiming `length` bytes followed by `body` (which may be shorter).
  CaptureFileBuilder& ChunkWithLength(uint32_t tag, uint32_t length,
                                      const std::vector<uint8_t>& body);
  CaptureFileBuilder& Data(uint32_t tag, const std::vector<CaptureRecord>& records);
  CaptureFileBuilder& Dinf(const std::vector<uint8_t>& body) { return Chunk(kTagDinf, body); }
  CaptureFileBuilder& Raw(const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> Build() const;

 private:
  std::string magic_ = std::string(kCaptureMagic, kMagicSize);
  std::vector<uint8_t> chunks_;
};

// Believable traffic. "MONC": CAN data and remote frames (standard and
// extended) on both channels. "MDCL": CAN on channel 1 and LIN frames of
// every shape, with errors, on channel 2. Both with
// overrun and lost-data markers, trigger marks and external-input changes.
// Time advances by a few hundred microseconds per record, wrapping the hour.
std::vector<CaptureRecord> GenerateTraffic(uint32_t count, uint32_t dataTag, uint64_t seed);
// A complete DT file: DINF (CH1 CAN 500k preset, CH2 LIN 19200 for "MDCL",
// custom-timing CAN for "MONC") then the data chunk.
std::vector<uint8_t> GenerateCapture(uint32_t count, uint32_t dataTag, uint64_t seed);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

}  // namespace ksvw::build
