// BLF export, the binary log of Vector's tools (python-can's BLFReader,
// Wireshark): a 144-byte file header ("LOGG") with the statistics, then log
// containers of up to 128 KiB of objects each, zlib-compressed.
//
// Every object ("LOBJ") has a header with its type, size and time stamp in
// 10 us units from the header's start time (the export's start, as the ASC
// header's date shows it). Channels count from 1 on each bus, as in ASC.
//   CAN frame            CAN_MESSAGE2 (86): raw DLC field, remote flag, 8 bytes
//   LIN frame            LIN_MESSAGE (11)
//   LIN checksum error   LIN_CRC_ERROR (12), otherwise as a frame
//   no slave response    LIN_SND_ERROR (15)
//   other LIN errors     LIN_RCV_ERROR (14)
// LIN records without identifier, markers and trigger marks (before their
// frame) are APP_TEXT (65) objects with the text an ASC comment has. LIN
// errors are classed as in every format (LinErrorFlags).
#include <cstring>
#include <memory>

#include "common/byte_order.h"
#include "convert/capture_export.h"
#include "convert/export_walk.h"
#include "convert/fixed_deflate.h"

namespace ksvw {

namespace {

using namespace exporting;

constexpr uint32_t kCanMessage2 = 86;
constexpr uint32_t kLinMessage = 11;
constexpr uint32_t kLinCrcError = 12;
constexpr uint32_t kLinReceiveError = 14;
constexpr uint32_t kLinSendError = 15;
constexpr uint32_t kAppText = 65;
constexpr uint32_t kLogContainer = 10;

constexpr size_t kFileHeaderSize = 144;
constexpr size_t kObjectHeaderSize = 32;  // the base header and the version 1 header
constexpr size_t kContainerHeadSize = 32;
constexpr size_t kContainerSize = 128 * 1024;  // uncompressed bytes of one container
constexpr size_t kSmallObject = 64;
constexpr uint64_t kUnitsPerTick = 20;  // 10 us units
constexpr uint32_t kTenMicroseconds = 1;
constexpr uint16_t kZlib = 2;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and
// back (H. Hinnant's algorithms): the header's last-object time is its start
// time moved on, field by field, whatever time zone the fields are in.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}
void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y = yoe + era * 400 + (m <= 2);
}

// SYSTEMTIME (year, month, day of week, day, hour, minute, second,
// millisecond; 16 bits each) of `start` plus `ms` milliseconds.
void StoreSystemTime(uint8_t* p, const std::tm& start, uint64_t ms) {
  const int64_t seconds =
      DaysFromCivil(start.tm_year + 1900LL, start.tm_mon + 1LL, start.tm_mday) * 86400 +
      start.tm_hour * 3600LL + start.tm_min * 60LL + start.tm_sec + static_cast<int64_t>(ms / 1000);
  const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const int64_t second = seconds - days * 86400;
  int64_t y, m, d;
  CivilFromDays(days, y, m, d);
  const int64_t weekday = (days % 7 + 11) % 7;  // 1970-01-01 was a Thursday (4)
  const auto millisecond = static_cast<int64_t>(ms % 1000);
  for (const int64_t field :
       {y, m, weekday, d, second / 3600, second / 60 % 60, second % 60, millisecond}) {
    StoreLE16(p, static_cast<uint16_t>(field));
    p += 2;
  }
}

class BlfWriter {
 public:
  BlfWriter(const ExportOptions& options, uint32_t dataTag)
      : start_(options.start.shown),
        dataTag_(dataTag),
        container_(new uint8_t[kContainerSize + kSmallObject]),
        compressed_(new uint8_t[kContainerHeadSize + FixedDeflater::MaxSize(kContainerSize)]) {
    deflater_.Start(compressed_.get() + kContainerHeadSize);
  }

  // The head is written again with its statistics at the end.
  void Begin(OutputWriter& out) {
    uint8_t head[kFileHeaderSize] = {};
    out.WriteBytes(head, sizeof head);
  }

  void End(OutputWriter& out) {
    EndContainer(out);
    uint8_t head[kFileHeaderSize] = {};
    std::memcpy(head, "LOGG", 4);
    StoreLE32(head + 4, kFileHeaderSize);
    // application 0 (unknown) 0.0.0; the objects' API version 2.6.8.1
    head[12] = 2;
    head[13] = 6;
    head[14] = 8;
    head[15] = 1;
    StoreLE64(head + 16, fileSize_);
    StoreLE64(head + 24, uncompressedSize_);
    StoreLE32(head + 32, static_cast<uint32_t>(objects_));
    StoreSystemTime(head + 40, start_, 0);
    StoreSystemTime(head + 56, start_, lastTicks_ / 5);
    // A pipe or device keeps the head without statistics: readers walk the objects.
    out.RewriteStart(head, sizeof head);
  }

  void Put(OutputWriter& out, const CaptureRecord& r, uint64_t ticks) {
    lastTicks_ = ticks;
    if (IsMarker(r)) {
      char text[200];
      PutText(out, ticks, text, MarkerText(text, r));
      return;
    }
    if (TriggerMark(r, dataTag_)) PutText(out, ticks, "trigger", nullptr);
    if (ClassOf(r) == RecordClass::Can) {
      PutCan(out, r, ticks);
    } else if (!LinIsFrame(r)) {
      char text[200];
      PutText(out, ticks, text, LinRecordText(text, r));
    } else {
      PutLin(out, r, ticks);
    }
  }

 private:
  void PutCan(OutputWriter& out, const CaptureRecord& r, uint64_t ticks) {
    uint8_t* body = StartObject(out, kCanMessage2, 24, ticks);
    StoreLE16(body, static_cast<uint16_t>(ChannelNumber(r)));
    body[2] = CanRemote(r) ? 0x80 : 0;
    body[3] = static_cast<uint8_t>(CanDlc(r));
    StoreLE32(body + 4, CanIdentifier(r) | (CanExtended(r) ? 0x80000000u : 0));
    // The shown bytes, the rest zero: eight bytes at once, masked.
    const int shown = CanShownDataCount(r);
    const uint64_t mask = shown == kMaxDataBytes ? ~uint64_t{0} : (uint64_t{1} << 8 * shown) - 1;
    StoreLE64(body + 8, LoadLE64(r.data()) & mask);
    EndObject(24);  // then frame length, bit count and reserved: zero
  }

  void PutLin(OutputWriter& out, const CaptureRecord& r, uint64_t ticks) {
    const uint8_t errors = LinErrorFlags(r);
    const int n = LinDataCount(r);
    size_t size = 24;
    uint32_t type = errors == 0 ? kLinMessage : kLinCrcError;
    if ((errors & kLinNoSlaveResponse) != 0) {
      type = kLinSendError;
      size = 8;
    } else if ((errors & ~kLinChecksumError) != 0) {
      type = kLinReceiveError;
      size = 16;
    }
    uint8_t* body = StartObject(out, type, size, ticks);
    StoreLE16(body, static_cast<uint16_t>(ChannelNumber(r)));
    body[2] = LinFrameId(r);
    body[3] = static_cast<uint8_t>(n);
    if (size == 24) {  // the message and the checksum error: data and checksum
      std::memcpy(body + 4, r.data(), static_cast<size_t>(n));
      StoreLE16(body + 16, LinFrameChecksum(r));
    }
    EndObject(size);
  }

  // An APP_TEXT measurement comment: `text` up to `end`, or a NUL-terminated
  // `text` when `end` is null. Blanks make its size a multiple of four, so
  // that no reader's idea of the padding after an object matters.
  void PutText(OutputWriter& out, uint64_t ticks, const char* text, const char* end) {
    const size_t length = end != nullptr ? static_cast<size_t>(end - text) : std::strlen(text);
    const size_t padded = (length + 3) & ~size_t{3};
    uint8_t* body = StartObject(out, kAppText, 16 + padded, ticks);
    StoreLE32(body + 8, static_cast<uint32_t>(padded));  // source 0: a measurement comment
    std::memcpy(body + 16, text, length);
    std::memset(body + 16 + length, ' ', padded - length);
    EndObject(16 + padded);
  }

  // Room for an object of this body size in the container (a full one is
  // written out first); its headers filled in, the body zeroed.
  uint8_t* StartObject(OutputWriter& out, uint32_t type, size_t bodySize, uint64_t ticks) {
    if (used_ + kObjectHeaderSize + bodySize > kContainerSize) EndContainer(out);
    uint8_t* object = container_.get() + used_;
    const size_t size = kObjectHeaderSize + bodySize;
    // A frame's object is zeroed by one fixed-size store (the container has room past its end).
    std::memset(object, 0, size <= kSmallObject ? kSmallObject : size);
    std::memcpy(object, "LOBJ", 4);
    StoreLE16(object + 4, kObjectHeaderSize);
    StoreLE16(object + 6, 1);  // header version 1
    StoreLE32(object + 8, static_cast<uint32_t>(size));
    StoreLE32(object + 12, type);
    StoreLE32(object + 16, kTenMicroseconds);
    StoreLE64(object + 24, ticks * kUnitsPerTick);
    return object + kObjectHeaderSize;
  }
  // Compresses the object just composed: against the one before when both
  // have one size, where the layouts line up.
  void EndObject(size_t bodySize) {
    const size_t size = kObjectHeaderSize + bodySize;
    deflater_.Code(container_.get() + used_, size, size == previousSize_ ? size : 0);
    previousSize_ = size;
    used_ += size;
    ++objects_;
  }

  void EndContainer(OutputWriter& out) {
    if (used_ == 0) return;
    uint8_t* head = compressed_.get();
    const size_t stream = deflater_.Finish(container_.get(), used_);
    const size_t size = kContainerHeadSize + stream;
    std::memset(head, 0, kContainerHeadSize);
    std::memcpy(head, "LOBJ", 4);
    StoreLE16(head + 4, 16);  // the base header only
    StoreLE16(head + 6, 1);
    StoreLE32(head + 8, static_cast<uint32_t>(size));
    StoreLE32(head + 12, kLogContainer);
    StoreLE16(head + 16, kZlib);
    StoreLE32(head + 24, static_cast<uint32_t>(used_));
    // Readers skip "size % 4" bytes after a container.
    static constexpr uint8_t kZeros[4] = {};
    out.WriteBytes(head, size);
    out.WriteBytes(kZeros, size % 4);
    fileSize_ += size + size % 4;
    uncompressedSize_ += kContainerHeadSize + used_;
    used_ = 0;
    previousSize_ = 0;
    deflater_.Start(compressed_.get() + kContainerHeadSize);
  }

  const std::tm start_;
  const uint32_t dataTag_;
  std::unique_ptr<uint8_t[]> container_;
  std::unique_ptr<uint8_t[]> compressed_;  // the container's head, then its stream
  FixedDeflater deflater_;
  size_t used_ = 0;
  size_t previousSize_ = 0;
  uint64_t lastTicks_ = 0;
  uint64_t objects_ = 0;
  uint64_t fileSize_ = kFileHeaderSize;
  uint64_t uncompressedSize_ = kFileHeaderSize;
};

}  // namespace

ConvertResult ExportBlf(const CaptureReader& reader, const ExportOptions& options,
                        const std::string& path, ProgressSink* progress, ExportTally& tally) {
  BlfWriter writer(options, reader.DataTag());
  return RunExport(reader, options, path, progress, tally, writer);
}

}  // namespace ksvw
