// The record walk that every export shares: channel selection, the time
// since the capture's first record, progress and stop, and the output file.
//
// DT time stamps are minutes, seconds, hundredths and fifths of a
// millisecond that wrap every hour. An export needs one growing time, so the
// walk unwraps them: each record is taken to follow the record before it in
// the file by less than an hour (the difference modulo one hour, the rule the
// converter's time difference uses), and the steps are summed from the first
// record on. Times are counted in ticks of a fifth of a millisecond, the
// record's own resolution, so no export rounds.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "capture/capture_reader.h"
#include "capture/capture_record.h"
#include "convert/capture_export.h"
#include "convert/digits.h"
#include "convert/output_writer.h"
#include "convert/text_converter.h"

namespace ksvw::exporting {

inline constexpr uint32_t kTicksPerSecond = 5000;  // one tick: 200 microseconds
inline constexpr uint32_t kTicksPerHour = 3600 * kTicksPerSecond;

// Ticks since the top of the hour. Damaged fields (minutes above 59 and so
// on) only give a larger value, which the modulo below folds back.
inline uint32_t TicksInHour(uint32_t timeStamp) {
  TimeParts t = SplitTime(timeStamp);
  uint32_t hundredths =
      (static_cast<uint32_t>(t.minutes) * 60 + static_cast<uint32_t>(t.seconds)) * 100 +
      static_cast<uint32_t>(t.hundredths);
  return hundredths * 50 + (timeStamp & 0xFF);
}

class TimeUnwrapper {
 public:
  // Ticks from the first record given to this record.
  uint64_t Next(uint32_t timeStamp) {
    uint32_t now = TicksInHour(timeStamp);
    if (started_) {
      int64_t step = (static_cast<int64_t>(now) - previous_) % kTicksPerHour;
      if (step < 0) step += kTicksPerHour;
      elapsed_ += static_cast<uint64_t>(step);
    }
    started_ = true;
    previous_ = now;
    return elapsed_;
  }

 private:
  bool started_ = false;
  uint32_t previous_ = 0;
  uint64_t elapsed_ = 0;
};

// The converter's channel selection (1 keeps channel 1, 2 keeps channel 2)
// and the bus a pcapng file of one link type keeps; markers are always kept.
inline bool SkippedBySelection(const CaptureRecord& r, const ExportOptions& options) {
  if (IsMarker(r)) return false;
  const uint8_t s = r.source();
  const bool can = ClassOf(r) == RecordClass::Can;
  if (options.links == (can ? ExportLinks::LinOnly : ExportLinks::CanOnly)) return true;
  if (options.channelSelection == 1) return s == kSourceCan2 || s == kSourceLin2;
  if (options.channelSelection == 2) return s == kSourceCan1 || s == kSourceLin1;
  return false;
}

// Channel 1 or 2 of a CAN or LIN record (the walk leaves out the records
// whose source names no channel).
inline int ChannelNumber(const CaptureRecord& r) {
  uint8_t s = r.source();
  return s == kSourceCan2 || s == kSourceLin2 ? 2 : 1;
}

// The checksum byte of a whole LIN frame (kind 0 with at least one byte),
// 0 when the record has none.
inline uint8_t LinFrameChecksum(const CaptureRecord& r) {
  const int index = LinFrameChecksumIndex(r);
  return index < 0 ? 0 : r.data()[index];
}
// A LIN record that is a frame: it has a header with the identifier and a
// response or none. Records without a header, or with only the SB or SB and
// SF bytes, are no frame.
inline bool LinIsFrame(const CaptureRecord& r) {
  return LinHeaderShape(r) == LinHeader::Full;
}

// A LIN record's errors as one set of flags, numbered as pcapng's LIN link
// type numbers them, so that every format classes them alike: the status
// letter's error, and a parity error when the identifier byte was received
// in error. P is parity, C checksum, R and L no slave response, O overflow,
// B, S and E framing.
inline constexpr uint8_t kLinNoSlaveResponse = 0x01;
inline constexpr uint8_t kLinFramingError = 0x02;
inline constexpr uint8_t kLinParityError = 0x04;
inline constexpr uint8_t kLinChecksumError = 0x08;
inline constexpr uint8_t kLinOverflowError = 0x20;
inline uint8_t LinErrorFlags(const CaptureRecord& r) {
  const uint8_t flags = LinIdError(r) ? kLinParityError : 0;
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

// What a format without an object of its own for a record says of it (ASC
// and pcapng comments, BLF texts), up to 160 characters without a NUL:
//   "L1 LIN ILLEGAL status E (framing error) SB 55 SF 7E data AA BB"
//   "overrun: records were lost here"
char* LinRecordText(char* p, const CaptureRecord& r);
char* MarkerText(char* p, const CaptureRecord& r);

// Unsigned decimal with at least `width` digits (zeros in front).
inline char* DecimalPadded(char* p, uint64_t v, int width) {
  char tmp[20];
  int n = 0;
  while (v >= 100) {
    std::memcpy(tmp + 18 - n, &digits::kDecimalPairs[2 * (v % 100)], 2);
    v /= 100;
    n += 2;
  }
  if (v >= 10) {
    std::memcpy(tmp + 18 - n, &digits::kDecimalPairs[2 * v], 2);
    n += 2;
  } else {
    tmp[19 - n] = static_cast<char>('0' + v);
    n += 1;
  }
  for (; width > n; --width) *p++ = '0';
  std::memcpy(p, tmp + 20 - n, static_cast<size_t>(n));
  return p + n;
}
// Six digits of microseconds for a tick remainder (below kTicksPerSecond).
inline char* Micros6(char* p, uint32_t ticks) {
  uint32_t us = ticks * 200;
  p = digits::Dec02(p, static_cast<int>(us / 10000));
  p = digits::Dec02(p, static_cast<int>(us / 100 % 100));
  return digits::Dec02(p, static_cast<int>(us % 100));
}

// " 11 22 33": each byte as a space and two hex digits.
inline char* HexBytes(char* p, const uint8_t* bytes, int n) {
  for (int i = 0; i < n; ++i) {
    *p++ = ' ';
    p = digits::Hex2(p, bytes[i]);
  }
  return p;
}

// "SECONDS.MICROS" of a time in ticks, the seconds without padding.
inline char* Seconds(char* p, uint64_t ticks) {
  p = DecimalPadded(p, ticks / kTicksPerSecond, 1);
  *p++ = '.';
  return Micros6(p, static_cast<uint32_t>(ticks % kTicksPerSecond));
}

// Opens `path`, lets `writer` write its head, hands it every selected record
// with its time in ticks, lets it write its tail and closes the file. Records
// are placed as the converter shows them: one whose source names no channel
// is left out and counted. A failed export never takes the place of the file
// at `path` (the output file writes beside it and renames when whole).
template <class Writer>
ConvertResult RunExport(const CaptureReader& reader, const ExportOptions& options,
                        const std::string& path, ProgressSink* progress, ExportTally& tally,
                        Writer& writer) {
  OutputWriter out;
  const auto existing =
      options.keepExisting ? OutputFile::Existing::Keep : OutputFile::Existing::Replace;
  if (out.OpenOutput(path.c_str(), existing) == 0) {
    tally.outputError = out.Error();
    return ConvertResult::CannotCreate;
  }
  writer.Begin(out);
  bool stopped = false;
  if (reader.RecordCount() > 0) {
    if (progress != nullptr) progress->SetRange(reader.RecordCount());
    TimeUnwrapper clock;
    const uint32_t tag = reader.DataTag();
    int32_t cursor = reader.CurrentIndex();
    for (;;) {
      const CaptureRecord& record = reader.Record(cursor);
      // Every record moves the clock, also a skipped one.
      const uint64_t ticks = clock.Next(record.timeStamp());
      if (!IsMarker(record) && ShownChannel(record, tag) == 0) {
        ++tally.leftOutDamaged;
      } else if (!SkippedBySelection(record, options)) {
        writer.Put(out, record, ticks);
        if (out.outputFailed != 0) break;
        if (progress != nullptr) progress->Step();
      }
      if (!reader.NextRecord(cursor)) {
        stopped = reader.RecordCount() == 0;
        break;
      }
    }
  }
  if (reader.ReadError() != 0) {
    // Read only in part, the export would pass for the whole capture.
    out.AbandonOutput();
    return ConvertResult::ReadFailed;
  }
  writer.End(out);
  if (out.CloseOutput() != 0) {
    tally.outputError = out.Error();
    return ConvertResult::WriteFailed;
  }
  return stopped ? ConvertResult::Stopped : ConvertResult::Done;
}

}  // namespace ksvw::exporting
