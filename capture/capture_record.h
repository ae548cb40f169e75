// The 32-byte frame record of a DT capture and the rules that decode it.
//
// Records are used in place inside the file image; CaptureRecord is a byte
// view (alignment 1) with accessors, so a record at any offset is valid.
// Every decoder here is a plain inline function: the list view asks for one
// cell at a time and the converter and search walk millions of records, so
// nothing allocates and nothing reads outside the record's 32 bytes.
#pragma once

#include <cstdint>

#include "capture/capture_settings.h"
#include "common/byte_order.h"

namespace ksvw {

inline constexpr int kRecordSize = 32;

// Record sources (byte 0).
inline constexpr uint8_t kSourceCan1 = 1;
inline constexpr uint8_t kSourceCan2 = 2;
inline constexpr uint8_t kSourceLin1 = 3;
inline constexpr uint8_t kSourceLin2 = 4;
inline constexpr uint8_t kSourceOverrun = 0x40;
inline constexpr uint8_t kSourceLostData = 0x41;

// At most this many data bytes are shown for a CAN frame and for a LIN frame;
// the record holds 9 bytes of data (LIN: 8 data bytes and the checksum).
inline constexpr int kMaxDataBytes = 8;
inline constexpr int kRecordDataBytes = 9;

struct CaptureRecord {
  uint8_t raw[kRecordSize];

  uint8_t source() const { return raw[0]; }
  uint8_t lineFlags() const { return raw[1]; }
  uint16_t status() const { return LoadLE16(raw + 2); }
  uint32_t timeStamp() const { return LoadLE32(raw + 4); }
  int8_t count() const { return static_cast<int8_t>(raw[10]); }
  uint8_t kind() const { return raw[11]; }
  uint32_t identifier() const { return LoadLE32(raw + 12); }
  const uint8_t* data() const { return raw + 16; }  // kRecordDataBytes bytes
};
static_assert(sizeof(CaptureRecord) == kRecordSize && alignof(CaptureRecord) == 1);

// Four-character chunk tags as stored (reading order), compared as u32.
inline constexpr uint32_t MakeTag(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}
inline constexpr uint32_t kTagMonc = MakeTag('M', 'O', 'N', 'C');
inline constexpr uint32_t kTagMdcl = MakeTag('M', 'D', 'C', 'L');
inline constexpr uint32_t kTagDinf = MakeTag('D', 'I', 'N', 'F');

// Board label for the status bar, by data tag.
inline const char* BoardLabel(uint32_t dataTag) {
  if (dataTag == kTagMonc) return "XP-RT4Q";
  if (dataTag == kTagMdcl) return "XP-RT4QX";
  return "XP-????";
}

enum class RecordClass { Can, Lin, Overrun, LostData };

inline RecordClass ClassOf(const CaptureRecord& r) {
  switch (r.source()) {
    case kSourceOverrun: return RecordClass::Overrun;
    case kSourceLostData: return RecordClass::LostData;
    case kSourceCan1:
    case kSourceCan2: return RecordClass::Can;
    default: return RecordClass::Lin;  // 0 is not expected; shown as LIN like any other value
  }
}
inline bool IsMarker(const CaptureRecord& r) {
  return r.source() == kSourceOverrun || r.source() == kSourceLostData;
}

// Channel digit as shown: source for CAN, source - 2 for LIN. The rows of
// the CAN-only board read every record as CAN (`asCan`). A damaged source
// whose digit is no printable character shows as '?': a NUL or a control
// byte would cut the list cell short and corrupt a converted file.
inline char ChannelDigit(const CaptureRecord& r, bool asCan = false) {
  uint8_t s = r.source();
  bool can = asCan || ClassOf(r) == RecordClass::Can;
  auto c = static_cast<uint8_t>('0' + (can ? s : s - 2));
  return c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
}

// The channel, 1 or 2, of a CAN or LIN record as the list and the converter
// show it (its ChannelDigit; every record of the CAN-only board reads as
// CAN). 0 for a marker, and for a damaged source byte that names no channel.
inline int ShownChannel(const CaptureRecord& r, uint32_t dataTag) {
  if (IsMarker(r)) return 0;
  const char digit = ChannelDigit(r, dataTag == kTagMonc);
  return digit == '1' ? 1 : digit == '2' ? 2 : 0;
}

// ---- CAN fields ----
inline bool CanExtended(const CaptureRecord& r) {
  return (r.kind() & 0x80) != 0;
}
inline bool CanRemote(const CaptureRecord& r) {
  return (r.kind() & 0x40) != 0;
}
inline int CanDlc(const CaptureRecord& r) {
  return r.kind() & 0x0F;
}
// The identifier to print: 29 bits when extended, bits 18..28 when standard.
inline uint32_t CanIdentifier(const CaptureRecord& r) {
  return CanExtended(r) ? (r.identifier() & 0x1FFFFFFF) : ((r.identifier() >> 18) & 0x7FF);
}
// Data bytes shown: count, limited to 0..8 (a damaged count never reads
// past the record), none for a remote frame.
inline int CanShownDataCount(const CaptureRecord& r) {
  if (CanRemote(r)) return 0;
  int n = r.count();
  if (n < 0) return 0;
  return n > kMaxDataBytes ? kMaxDataBytes : n;
}

// ---- LIN fields ----
// `kind` 0 is a whole frame whose `count` includes its checksum; `kind` 2 a
// response without header bytes; any other kind a response whose `count`
// is its data alone, without a type.
inline constexpr uint8_t kLinKindFrame = 0;
inline constexpr uint8_t kLinKindNoHeader = 2;
// Negative counts: the record holds only part of a frame, and no data.
inline constexpr int kLinCountHeaderOnly = -1;  // SB, SF and identifier, no response
inline constexpr int kLinCountSbSf = -2;        // SB and SF, no identifier
inline constexpr int kLinCountSbOnly = -3;      // SB alone

// Which of the SB, SF and identifier cells a LIN record fills.
enum class LinHeader {
  None,     // kind 2: no header bytes
  Sb,       // count -3
  SbSf,     // count -2
  Full,     // count -1 or more: SB, SF and identifier
  Damaged,  // count below -3: no such shape; the rows print all three, the
            // list (which shows the identifier from count -1 on) SB and SF
};
// What follows the header: a header without response (count -1), an
// incomplete frame (count below -1) or a response (count 0 or more).
enum class LinBody { HeaderOnly, Illegal, Response };

inline uint8_t LinSb(const CaptureRecord& r) {
  return static_cast<uint8_t>(r.identifier() >> 24);
}
inline uint8_t LinSf(const CaptureRecord& r) {
  return static_cast<uint8_t>(r.identifier() >> 16);
}
inline uint8_t LinProtectedId(const CaptureRecord& r) {
  return static_cast<uint8_t>(r.identifier() >> 8);
}
inline uint8_t LinFrameId(const CaptureRecord& r) {
  return LinProtectedId(r) & 0x3F;
}
inline LinHeader LinHeaderShape(const CaptureRecord& r) {
  if (r.kind() == kLinKindNoHeader) return LinHeader::None;
  int c = r.count();
  if (c == kLinCountSbOnly) return LinHeader::Sb;
  if (c == kLinCountSbSf) return LinHeader::SbSf;
  return c >= kLinCountHeaderOnly ? LinHeader::Full : LinHeader::Damaged;
}
inline LinBody LinBodyShape(const CaptureRecord& r) {
  int c = r.count();
  if (c == kLinCountHeaderOnly) return LinBody::HeaderOnly;
  return c < 0 ? LinBody::Illegal : LinBody::Response;
}
inline bool LinSfError(const CaptureRecord& r) {
  return (r.status() & 0x0001) != 0;
}
inline bool LinIdError(const CaptureRecord& r) {
  return (r.status() & 0x0002) != 0;
}
// Error flag of data byte i (the checksum is byte n). Bits above 15 read as no error.
inline bool LinByteError(const CaptureRecord& r, int i) {
  int bit = i + 2;
  return bit >= 2 && bit < 16 && ((r.status() >> bit) & 1) != 0;
}
inline int LinErrorCode(const CaptureRecord& r) {
  return (r.status() >> 11) & 0x1F;
}

// Number of LIN data bytes (checksum excluded): none when count is negative;
// count - 1 when kind is 0, else count. Limited to 8 so that the checksum
// (data[n]) always lies inside the record.
inline int LinDataCount(const CaptureRecord& r) {
  int c = r.count();
  if (c < 0) return 0;
  int n = r.kind() == kLinKindFrame ? c - 1 : c;
  if (n < 0) return 0;
  return n > kMaxDataBytes ? kMaxDataBytes : n;
}

// Position of the checksum byte in data[] as the list shows it: j = count - 1
// when kind is 0, else count; -1 when there is none (no header, negative
// count, or j < 0). Limited to data[8].
inline int LinChecksumIndex(const CaptureRecord& r) {
  if (r.kind() == kLinKindNoHeader) return -1;
  int c = r.count();
  if (c < 0) return -1;
  int j = r.kind() == kLinKindFrame ? c - 1 : c;
  if (j < 0) return -1;
  return j > kMaxDataBytes ? kMaxDataBytes : j;
}
// The checksum as the converted rows show it: only a whole frame (kind 0)
// with at least one byte has one; -1 otherwise.
inline int LinFrameChecksumIndex(const CaptureRecord& r) {
  return r.kind() == kLinKindFrame ? LinChecksumIndex(r) : -1;
}

// LIN data length from the channel's length table (slot source - 3 of the
// LIN group), or -1 when the channel has no table.
inline int LinTableLength(const CaptureRecord& r, const CaptureSettings& settings) {
  LinChannelSettings lin = settings.lin(r.source() - kSourceLin1);
  return lin.hasLengthTable() ? lin.tableLength(LinFrameId(r)) : -1;
}

// Frame type text: CAN "REMOTE"/"DATA"; LIN "FRAME", "ILLEGAL" or "" (none).
inline const char* FrameTypeText(const CaptureRecord& r) {
  if (ClassOf(r) == RecordClass::Can) return CanRemote(r) ? "REMOTE" : "DATA";
  switch (LinBodyShape(r)) {
    case LinBody::HeaderOnly: return "FRAME";
    case LinBody::Illegal: return "ILLEGAL";
    case LinBody::Response: break;
  }
  return r.kind() == kLinKindFrame ? "FRAME" : "";
}

// Status letter (0 when there is none). CAN records are always 'G'.
inline char StatusLetter(const CaptureRecord& r) {
  if (ClassOf(r) == RecordClass::Can) return 'G';
  uint16_t st = r.status();
  uint8_t kind = r.kind();
  if (kind == kLinKindNoHeader || (kind != kLinKindFrame && st == 0)) return 0;
  int code = LinErrorCode(r);
  if (r.count() < 0 && (st == 0 || code == 16)) return r.count() == kLinCountHeaderOnly ? 'R' : 0;
  if (st == 0) return 'G';
  switch (code) {
    case 1: return 'B';
    case 2: return 'S';
    case 4: return 'P';
    case 8: return 'C';
    case 16: return 'L';
    case 31: return 'O';
    default: return 'E';
  }
}

inline bool TriggerMark(const CaptureRecord& r, uint32_t dataTag) {
  if (dataTag == kTagMdcl) return (r.lineFlags() & 0x80) != 0;
  if (dataTag == kTagMonc) return (r.status() & 0x80) != 0;
  return false;
}
// External input level; meaningful only for "MDCL" data.
inline int ExternalInput(const CaptureRecord& r) {
  return (r.lineFlags() >> 4) & 1;
}

// ---- Time stamps ----
struct TimeParts {
  int minutes;
  int seconds;
  int hundredths;
  int millis;  // millisecond digit 0..9
};

inline TimeParts SplitTime(uint32_t ts) {
  return TimeParts{static_cast<int>(ts >> 24), static_cast<int>((ts >> 16) & 0xFF),
                   static_cast<int>((ts >> 8) & 0xFF), static_cast<int>(ts & 0xFF) / 5};
}

// Current minus previous, digit by digit with borrows; modulo one hour.
inline TimeParts TimeDifference(uint32_t cur, uint32_t prev) {
  auto byte = [](uint32_t v, int i) { return static_cast<int16_t>((v >> (8 * i)) & 0xFF); };
  int16_t ms = static_cast<int16_t>(byte(cur, 0) / 5 - byte(prev, 0) / 5);
  int16_t hs = static_cast<int16_t>(byte(cur, 1) - byte(prev, 1));
  int16_t sec = static_cast<int16_t>(byte(cur, 2) - byte(prev, 2));
  int16_t min = static_cast<int16_t>(byte(cur, 3) - byte(prev, 3));
  if (ms < 0) ms += 10, hs -= 1;
  if (hs < 0) hs += 100, sec -= 1;
  if (sec < 0) sec += 60, min -= 1;
  if (min < 0) min += 60;
  return TimeParts{min, sec, hs, ms};
}

}  // namespace ksvw
