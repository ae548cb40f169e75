// pcapng export for Wireshark and tshark: one section, one interface per
// bus and channel that occurs ("can1", "can2" with link type 227, SocketCAN;
// "lin1", "lin2" with link type 212, LIN), each with a time stamp resolution
// of 10^-4 s, which holds the record's fifths of a millisecond exactly.
//
// CAN frames are SocketCAN frames: the identifier in network byte order with
// the extended (0x80000000) and remote (0x40000000) flags, the length, the
// raw DLC field of 9 to 15 in byte 7, and 8 data bytes. LIN frames carry the
// LIN header: format revision 1, length, protected identifier, checksum and
// error flags, then the data. A trigger mark is a comment of its packet; a
// marker or a LIN record that is no frame becomes a comment of the next
// packet written (one at the end of the file has no packet to go with and
// is counted as left out).
#include <cstring>

#include "common/byte_order.h"
#include "convert/capture_export.h"
#include "convert/export_walk.h"

namespace ksvw {

namespace {

using namespace exporting;

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint16_t kLinkSocketCan = 227;
constexpr uint16_t kLinkLin = 212;
constexpr uint16_t kOptionComment = 1;
constexpr uint16_t kOptionInterfaceName = 2;
constexpr uint16_t kOptionTimestampResolution = 9;
constexpr uint8_t kTimestampResolution = 4;  // 10^-4 s: two units per tick
constexpr uint64_t kUnitsPerTick = 2;

// LIN error flags of link type 212.
constexpr uint8_t kLinNoSlaveResponse = 0x01;
constexpr uint8_t kLinFramingError = 0x02;
constexpr uint8_t kLinParityError = 0x04;
constexpr uint8_t kLinChecksumError = 0x08;
constexpr uint8_t kLinOverflowError = 0x20;

// The record's status as LIN error flags: the status letter's error, and a
// parity error when the identifier byte was received in error.
uint8_t LinErrors(const CaptureRecord& r) {
  uint8_t flags = LinIdError(r) ? kLinParityError : 0;
  switch (StatusLetter(r)) {
    case 'R':
    case 'L': return flags | kLinNoSlaveResponse;
    case 'P': return flags | kLinParityError;
    case 'C': return flags | kLinChecksumError;
    case 'O': return flags | kLinOverflowError;
    case 'B':
    case 'S':
    case 'E': return flags | kLinFramingError;
    default: return flags;
  }
}

inline size_t Padded(size_t n) {
  return (n + 3) & ~size_t{3};
}

class PcapngWriter {
 public:
  PcapngWriter(ExportTally& tally, uint32_t dataTag) : dataTag_(dataTag), tally_(tally) {}

  void Begin(OutputWriter& out) {
    uint8_t block[28] = {};
    StoreLE32(block, kSectionHeader);
    StoreLE32(block + 4, sizeof block);
    StoreLE32(block + 8, 0x1A2B3C4D);  // byte-order magic
    StoreLE16(block + 12, 1);          // version 1.0
    std::memset(block + 16, 0xFF, 8);  // section length not given
    StoreLE32(block + 24, sizeof block);
    out.WriteBytes(block, sizeof block);
  }

  void End(OutputWriter&) {
    tally_.leftOutMarkers += pendingMarkers_;
    tally_.leftOutLin += pendingLin_;
  }

  void Put(OutputWriter& out, const CaptureRecord& r, uint64_t ticks) {
    switch (ClassOf(r)) {
      case RecordClass::Overrun:
      case RecordClass::LostData:
        if (AddPending(r.source() == kSourceOverrun
                           ? "overrun before this frame: records were lost"
                           : "lost data before this frame: records were lost"))
          ++pendingMarkers_;
        else
          ++tally_.leftOutMarkers;
        return;
      case RecordClass::Can: PutCan(out, r, ticks); return;
      case RecordClass::Lin:
        if (LinIsFrame(r)) {
          PutLin(out, r, ticks);
        } else if (AddPending("a LIN record without identifier before this frame")) {
          ++pendingLin_;
        } else {
          ++tally_.leftOutLin;
        }
        return;
    }
  }

 private:
  void PutCan(OutputWriter& out, const CaptureRecord& r, uint64_t ticks) {
    uint8_t frame[16] = {};
    uint32_t id = CanIdentifier(r);
    if (CanExtended(r)) id |= 0x80000000u;
    if (CanRemote(r)) id |= 0x40000000u;
    frame[0] = static_cast<uint8_t>(id >> 24);
    frame[1] = static_cast<uint8_t>(id >> 16);
    frame[2] = static_cast<uint8_t>(id >> 8);
    frame[3] = static_cast<uint8_t>(id);
    const int dlc = CanDlc(r);
    const int length =
        CanRemote(r) ? (dlc > kMaxDataBytes ? kMaxDataBytes : dlc) : CanShownDataCount(r);
    frame[4] = static_cast<uint8_t>(length);
    if (length == kMaxDataBytes && dlc > kMaxDataBytes) frame[7] = static_cast<uint8_t>(dlc);
    std::memcpy(frame + 8, r.data(), static_cast<size_t>(CanShownDataCount(r)));
    PutPacket(out, Interface(out, 0, r), ticks, frame, sizeof frame, r);
    ++tally_.canFrames;
  }

  void PutLin(OutputWriter& out, const CaptureRecord& r, uint64_t ticks) {
    uint8_t frame[8 + kMaxDataBytes] = {};
    const int n = LinDataCount(r);
    frame[0] = 1;                             // message format revision
    frame[4] = static_cast<uint8_t>(n << 4);  // message type 0 (frame), checksum type unknown
    frame[5] = LinProtectedId(r);
    frame[6] = LinFrameChecksum(r);
    frame[7] = LinErrors(r);
    std::memcpy(frame + 8, r.data(), static_cast<size_t>(n));
    PutPacket(out, Interface(out, 1, r), ticks, frame, 8 + static_cast<size_t>(n), r);
    ++tally_.linFrames;
  }

  // The interface of (bus, channel); its description block is written the
  // first time it is used, before its first packet.
  uint32_t Interface(OutputWriter& out, int bus, const CaptureRecord& r) {
    const int channel = ChannelNumber(r);
    int& slot = interfaces_[bus * 2 + channel - 1];
    if (slot >= 0) return static_cast<uint32_t>(slot);
    slot = nextInterface_++;
    uint8_t block[40] = {};
    StoreLE32(block, kInterfaceDescription);
    StoreLE32(block + 4, sizeof block);
    StoreLE16(block + 8, bus == 0 ? kLinkSocketCan : kLinkLin);
    StoreLE32(block + 12, 0);  // no snapshot limit
    StoreLE16(block + 16, kOptionInterfaceName);
    StoreLE16(block + 18, 4);
    std::memcpy(block + 20, bus == 0 ? "can" : "lin", 3);
    block[23] = static_cast<uint8_t>('0' + channel);
    StoreLE16(block + 24, kOptionTimestampResolution);
    StoreLE16(block + 26, 1);
    block[28] = kTimestampResolution;
    // bytes 32..35: end of options (zero)
    StoreLE32(block + 36, sizeof block);
    out.WriteBytes(block, sizeof block);
    return static_cast<uint32_t>(slot);
  }

  void PutPacket(OutputWriter& out, uint32_t interfaceId, uint64_t ticks, const uint8_t* data,
                 size_t size, const CaptureRecord& r) {
    const bool trigger = TriggerMark(r, dataTag_) && AddOption("trigger", sizeof options_);
    const size_t options = optionsUsed_ == 0 ? 0 : optionsUsed_ + 4;
    const size_t total = 28 + Padded(size) + options + 4;
    uint8_t head[28];
    const uint64_t stamp = ticks * kUnitsPerTick;
    StoreLE32(head, kEnhancedPacket);
    StoreLE32(head + 4, static_cast<uint32_t>(total));
    StoreLE32(head + 8, interfaceId);
    StoreLE32(head + 12, static_cast<uint32_t>(stamp >> 32));
    StoreLE32(head + 16, static_cast<uint32_t>(stamp));
    StoreLE32(head + 20, static_cast<uint32_t>(size));
    StoreLE32(head + 24, static_cast<uint32_t>(size));
    out.WriteBytes(head, sizeof head);
    static constexpr uint8_t kZeros[4] = {};
    out.WriteBytes(data, size);
    out.WriteBytes(kZeros, Padded(size) - size);
    if (options != 0) {
      out.WriteBytes(options_, optionsUsed_);
      out.WriteBytes(kZeros, 4);  // end of options
      tally_.comments += pendingMarkers_ + pendingLin_ + (trigger ? 1 : 0);
      optionsUsed_ = 0;
      pendingMarkers_ = 0;
      pendingLin_ = 0;
    }
    uint8_t tail[4];
    StoreLE32(tail, static_cast<uint32_t>(total));
    out.WriteBytes(tail, sizeof tail);
  }

  // A comment option for the next packet; false when there is no room (a
  // long run of markers between two frames keeps its first comments only).
  // Room for the packet's own trigger comment is always kept.
  bool AddPending(const char* text) { return AddOption(text, sizeof options_ - kTriggerRoom); }
  bool AddOption(const char* text, size_t limit) {
    const size_t n = std::strlen(text);
    if (optionsUsed_ + 4 + Padded(n) > limit) return false;
    StoreLE16(options_ + optionsUsed_, kOptionComment);
    StoreLE16(options_ + optionsUsed_ + 2, static_cast<uint16_t>(n));
    std::memcpy(options_ + optionsUsed_ + 4, text, n);
    std::memset(options_ + optionsUsed_ + 4 + n, 0, Padded(n) - n);
    optionsUsed_ += 4 + Padded(n);
    return true;
  }

  static constexpr size_t kTriggerRoom = 12;
  const uint32_t dataTag_;
  ExportTally& tally_;
  int interfaces_[4] = {-1, -1, -1, -1};  // CAN 1, CAN 2, LIN 1, LIN 2
  int nextInterface_ = 0;
  uint8_t options_[1024] = {};
  size_t optionsUsed_ = 0;
  int64_t pendingMarkers_ = 0;
  int64_t pendingLin_ = 0;
};

}  // namespace

ConvertResult ExportPcapng(const CaptureReader& reader, const ExportOptions& options,
                           const std::string& path, ProgressSink* progress, ExportTally& tally) {
  PcapngWriter writer(tally, reader.DataTag());
  return RunExport(reader, options, path, progress, tally, writer);
}

}  // namespace ksvw
