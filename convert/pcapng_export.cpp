// pcapng export for Wireshark, tshark and libpcap readers: one section, one
// interface per bus and channel that occurs ("can0", "can1" with link type
// 227, SocketCAN; "lin0", "lin1" with link type 212, LIN), each with time
// stamps in microseconds since 1970 (the export's start plus the record's
// time) and its bit rate when the capture's settings give one. libpcap
// reads one link type per file: ExportLinks::CanOnly and LinOnly write the
// files of --split-links.
//
// CAN frames are SocketCAN frames: the identifier in network byte order with
// the extended (0x80000000) and remote (0x40000000) flags, the length, the
// raw DLC field of 9 to 15 in byte 7, and 8 data bytes. LIN frames carry the
// LIN header: format revision 1, length, checksum type (where the checksum
// tells), protected identifier, checksum and error flags, then the data. A
// trigger mark is a comment of its packet; a marker or a LIN record without
// identifier becomes a comment of the next packet written, with its time
// and what the ASC comment says (one at the end of the file has no packet
// to go with and is counted as left out).
#include <cstring>

#include "capture/channel_summary.h"
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
constexpr uint16_t kOptionSpeed = 8;
constexpr uint16_t kOptionTimestampResolution = 9;
constexpr uint8_t kTimestampResolution = 6;  // 10^-6 s, which Wireshark shows as microseconds
constexpr uint64_t kUnitsPerTick = 200;
constexpr uint64_t kUnitsPerSecond = 1000000;

// LIN sum with carry (each carry out of the byte added back in), as both
// checksum models sum.
unsigned LinSum(unsigned sum, uint8_t byte) {
  sum += byte;
  return sum >= 256 ? sum - 255 : sum;
}

// The checksum model as the checksum byte tells it: 1 classic (the data
// alone), 2 enhanced (the protected identifier too); 0 when it tells
// neither or both, or the frame has no good checksum.
uint8_t ChecksumModel(const CaptureRecord& r) {
  if (LinFrameChecksumIndex(r) < 0 || (LinErrorFlags(r) & kLinChecksumError) != 0) return 0;
  unsigned sum = 0;
  for (int i = 0; i < LinDataCount(r); ++i) sum = LinSum(sum, r.data()[i]);
  const auto classic = static_cast<uint8_t>(~sum);
  const auto enhanced = static_cast<uint8_t>(~LinSum(sum, LinProtectedId(r)));
  const uint8_t checksum = LinFrameChecksum(r);
  if (classic == enhanced) return 0;
  return checksum == classic ? 1 : checksum == enhanced ? 2 : 0;
}

inline size_t Padded(size_t n) {
  return (n + 3) & ~size_t{3};
}

class PcapngWriter {
 public:
  PcapngWriter(ExportTally& tally, const ExportOptions& options, const CaptureReader& reader)
      : settings_(reader.Settings()),
        dataTag_(reader.DataTag()),
        links_(options.links),
        startUnits_(static_cast<uint64_t>(options.start.seconds) * kUnitsPerSecond),
        tally_(tally) {}

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

  void End(OutputWriter& out) {
    // A file without packets still names an interface: libpcap refuses one without.
    if (nextInterface_ == 0) Interface(out, links_ == ExportLinks::LinOnly ? 1 : 0, 1);
    tally_.leftOutMarkers += pendingMarkers_;
    tally_.leftOutLin += pendingLin_;
  }

  void Put(OutputWriter& out, const CaptureRecord& r, uint64_t ticks) {
    switch (ClassOf(r)) {
      case RecordClass::Overrun:
      case RecordClass::LostData:
        ++(AddPending(r, ticks) ? pendingMarkers_ : tally_.leftOutMarkers);
        return;
      case RecordClass::Can: PutCan(out, r, ticks); return;
      case RecordClass::Lin:
        if (LinIsFrame(r)) {
          PutLin(out, r, ticks);
        } else {
          ++(AddPending(r, ticks) ? pendingLin_ : tally_.leftOutLin);
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
    PutPacket(out, Interface(out, 0, ChannelNumber(r)), ticks, frame, sizeof frame, r);
  }

  void PutLin(OutputWriter& out, const CaptureRecord& r, uint64_t ticks) {
    uint8_t frame[8 + kMaxDataBytes] = {};
    const int n = LinDataCount(r);
    frame[0] = 1;                                                // message format revision
    frame[4] = static_cast<uint8_t>(n << 4 | ChecksumModel(r));  // message type 0: frame
    frame[5] = LinProtectedId(r);
    frame[6] = LinFrameChecksum(r);
    frame[7] = LinErrorFlags(r);
    std::memcpy(frame + 8, r.data(), static_cast<size_t>(n));
    PutPacket(out, Interface(out, 1, ChannelNumber(r)), ticks, frame, 8 + static_cast<size_t>(n),
              r);
  }

  // The interface of (bus, channel); its description block is written the
  // first time it is used, before its first packet.
  uint32_t Interface(OutputWriter& out, int bus, int channel) {
    int& slot = interfaces_[bus * 2 + channel - 1];
    if (slot >= 0) return static_cast<uint32_t>(slot);
    slot = nextInterface_++;
    const int64_t speed = ChannelBitRate(settings_, bus == 1, channel - 1);
    const uint32_t size = speed > 0 ? 52 : 40;
    uint8_t block[52] = {};
    StoreLE32(block, kInterfaceDescription);
    StoreLE32(block + 4, size);
    StoreLE16(block + 8, bus == 0 ? kLinkSocketCan : kLinkLin);
    StoreLE32(block + 12, 0);  // no snapshot limit
    StoreLE16(block + 16, kOptionInterfaceName);
    StoreLE16(block + 18, 4);
    std::memcpy(block + 20, bus == 0 ? "can" : "lin", 3);
    block[23] = static_cast<uint8_t>('0' + channel - 1);
    StoreLE16(block + 24, kOptionTimestampResolution);
    StoreLE16(block + 26, 1);
    block[28] = kTimestampResolution;
    if (speed > 0) {
      StoreLE16(block + 32, kOptionSpeed);
      StoreLE16(block + 34, 8);
      StoreLE32(block + 36, static_cast<uint32_t>(speed));
    }
    // then the end of options (zero) and the size again
    StoreLE32(block + size - 4, size);
    out.WriteBytes(block, size);
    return static_cast<uint32_t>(slot);
  }

  void PutPacket(OutputWriter& out, uint32_t interfaceId, uint64_t ticks, const uint8_t* data,
                 size_t size, const CaptureRecord& r) {
    if (TriggerMark(r, dataTag_)) AddOption("trigger", 7, sizeof options_);
    const size_t options = optionsUsed_ == 0 ? 0 : optionsUsed_ + 4;
    const size_t total = 28 + Padded(size) + options + 4;
    uint8_t head[28];
    const uint64_t stamp = startUnits_ + ticks * kUnitsPerTick;
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
      optionsUsed_ = 0;
      pendingMarkers_ = 0;
      pendingLin_ = 0;
    }
    uint8_t tail[4];
    StoreLE32(tail, static_cast<uint32_t>(total));
    out.WriteBytes(tail, sizeof tail);
  }

  // A comment on the next packet: the record's time and what it is. False
  // when there is no room (a long run of markers between two frames keeps
  // its first comments only); room for the packet's own trigger comment is
  // always kept.
  bool AddPending(const CaptureRecord& r, uint64_t ticks) {
    char text[200];
    char* p = Seconds(text, ticks);
    *p++ = ' ';
    p = IsMarker(r) ? MarkerText(p, r) : LinRecordText(p, r);
    return AddOption(text, static_cast<size_t>(p - text), sizeof options_ - kTriggerRoom);
  }
  bool AddOption(const char* text, size_t n, size_t limit) {
    if (optionsUsed_ + 4 + Padded(n) > limit) return false;
    StoreLE16(options_ + optionsUsed_, kOptionComment);
    StoreLE16(options_ + optionsUsed_ + 2, static_cast<uint16_t>(n));
    std::memcpy(options_ + optionsUsed_ + 4, text, n);
    std::memset(options_ + optionsUsed_ + 4 + n, 0, Padded(n) - n);
    optionsUsed_ += 4 + Padded(n);
    return true;
  }

  static constexpr size_t kTriggerRoom = 12;
  const CaptureSettings& settings_;
  const uint32_t dataTag_;
  const ExportLinks links_;
  const uint64_t startUnits_;
  ExportTally& tally_;
  int interfaces_[4] = {-1, -1, -1, -1};  // CAN 1, CAN 2, LIN 1, LIN 2
  int nextInterface_ = 0;
  uint8_t options_[4096] = {};
  size_t optionsUsed_ = 0;
  int64_t pendingMarkers_ = 0;
  int64_t pendingLin_ = 0;
};

}  // namespace

ConvertResult ExportPcapng(const CaptureReader& reader, const ExportOptions& options,
                           const std::string& path, ProgressSink* progress, ExportTally& tally) {
  PcapngWriter writer(tally, options, reader);
  return RunExport(reader, options, path, progress, tally, writer);
}

}  // namespace ksvw
