// The search's matching rules read the plain way, one record at a time with
// the record decoder (capture/capture_record.h) that the list, the converter
// and the exports use, and a check that the fast matcher of capture/search.cpp
// gives the same answer on every record: MatchRecord row by row, and the
// scans (first row downward, last row upward, both counts) from a selected
// row. The search fuzz target runs it on fuzzed inputs, the unit tests on
// seeded random ones.
//
// Input layout (kConditionBytes, then whole 32-byte records):
//   [0]      bit 0 "MDCL" data (else "MONC"), bit 1 CH2, bit 2 REMOTE, bit 3
//            external-input level 1
//   [1..2]   selected row, LE16 modulo (records + 2), minus 1
//   [3..4]   error status mask
//   [5..12]  identifier value and mask (29 bits)
//   [13]     data-condition mask; [14] exact flags (bit i: data byte i)
//   [15..22] data byte values (exact value, or pattern number 0..3)
//   [23..28] bit patterns W0..W2: value, mask
//   [29..31] time value: minutes, seconds, hundredths
//   [32]     time mask, two bits per field from minutes: 0xFF, 0xF0, 0x0F, 0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "capture/capture_record.h"
#include "capture/search.h"
#include "common/byte_order.h"
#include "testsupport/capture_builder.h"

namespace ksvw::searchcheck {

inline constexpr size_t kConditionBytes = 33;

inline bool ReferenceDataMatch(const CaptureRecord& r, const SearchCondition& c) {
  const RecordClass cls = ClassOf(r);
  if (cls != RecordClass::Can && cls != RecordClass::Lin) return false;  // markers are no frames
  const bool can = cls == RecordClass::Can;
  const bool remote = c.frameKind == 1;
  if (ChannelDigit(r) == (c.channel == 1 ? '1' : '2')) return false;
  if (can) {
    bool kindOk = remote ? CanRemote(r) : r.kind() == 0x80 || r.kind() == 8 || r.count() >= 0;
    if (!kindOk) return false;
  } else if (remote || LinHeaderShape(r) == LinHeader::None ||
             LinBodyShape(r) == LinBody::Illegal) {
    return false;
  }
  const uint32_t word = can ? r.identifier() : uint32_t{LinProtectedId(r)} << 21;
  if ((word & c.identifierMask) != (c.identifierValue & c.identifierMask)) return false;
  if (remote || c.dataConditionMask == 0) return true;
  if (r.count() < 0 || (can && CanRemote(r))) return false;
  const int compared = can ? kMaxDataBytes : LinDataCount(r);
  for (int i = 0; i < compared; ++i) {
    if ((c.dataConditionMask & (0x80 >> i)) == 0) continue;
    const DataByteCondition& d = c.dataBytes[i];
    const uint8_t byte = r.data()[i];
    if (d.exact) {
      if (byte != d.value) return false;
    } else if (d.value >= 1 && d.value <= kPatternCount) {
      const BitPattern& p = c.patterns[d.value - 1];
      if ((byte & p.mask) != (p.value & p.mask)) return false;
    }
  }
  return true;
}

inline bool ReferenceTimeMatch(uint32_t timeStamp, const SearchCondition& c) {
  const TimeParts t = SplitTime(timeStamp);
  const int fields[3] = {t.minutes, t.seconds, t.hundredths};
  for (int f = 0; f < 3; ++f) {
    const int shift = 24 - 8 * f;
    const int mask = static_cast<int>((c.timeMask >> shift) & 0xFF);
    const int value = static_cast<int>((c.timeValue >> shift) & 0xFF);
    if (mask == 0xF0) return fields[f] >= value && fields[f] <= value + 9;
    if (mask != 0xFF) return true;
    if (fields[f] != value) return false;
  }
  return true;
}

inline bool ReferenceMatch(const CaptureRecord& r, uint32_t dataTag, const SearchCondition& c,
                           int kind) {
  switch (kind) {
    case kSearchTrigger: return TriggerMark(r, dataTag);
    case kSearchError: return ClassOf(r) == RecordClass::Lin && (r.status() & c.errorStatusMask);
    case kSearchData: return ReferenceDataMatch(r, c);
    case kSearchTime: return ReferenceTimeMatch(r.timeStamp(), c);
    case kSearchExtInput: return dataTag == kTagMdcl && ExternalInput(r) == c.extLevel;
    default: return false;
  }
}

inline SearchCondition ConditionFromBytes(const uint8_t* b) {
  SearchCondition c{};
  c.channel = (b[0] >> 1) & 1;
  c.frameKind = (b[0] >> 2) & 1;
  c.extLevel = (b[0] >> 3) & 1;
  c.errorStatusMask = LoadLE16(b + 3);
  c.identifierValue = LoadLE32(b + 5) & 0x1FFFFFFF;
  c.identifierMask = LoadLE32(b + 9) & 0x1FFFFFFF;
  c.dataConditionMask = b[13];
  for (int i = 0; i < kDataByteFields; ++i) {
    c.dataBytes[i].exact = (b[14] >> i) & 1;
    c.dataBytes[i].value = c.dataBytes[i].exact ? b[15 + i] : b[15 + i] & 3;
  }
  for (int p = 0; p < kPatternCount; ++p) {
    c.patterns[p].value = b[23 + 2 * p];
    c.patterns[p].mask = b[24 + 2 * p];
  }
  static constexpr uint32_t kTimeMasks[4] = {0xFF, 0xF0, 0x0F, 0x00};
  for (int f = 0; f < 3; ++f) {
    const int shift = 24 - 8 * f;
    c.timeValue |= uint32_t{b[29 + f]} << shift;
    c.timeMask |= kTimeMasks[(b[32] >> (2 * f)) & 3] << shift;
  }
  return c;
}

// Empty when the matcher agrees with the reference on every record and
// scan of the input; otherwise the first disagreement.
inline std::string CheckSearchInput(const uint8_t* data, size_t size) {
  if (size < kConditionBytes) return {};
  const size_t recordBytes = (size - kConditionBytes) / kRecordSize * kRecordSize;
  const uint32_t tag = (data[0] & 1) ? kTagMdcl : kTagMonc;
  const std::vector<uint8_t> body(data + kConditionBytes, data + kConditionBytes + recordBytes);
  CaptureReader reader;
  const std::vector<uint8_t> file = build::CaptureFileBuilder().Chunk(tag, body).Build();
  if (!reader.LoadCopy(file.data(), file.size())) return "capture not loaded";
  const int32_t n = reader.RecordCount();
  const int32_t selected = static_cast<int32_t>(LoadLE16(data + 1) % (n + 2)) - 1;
  SearchCondition c = ConditionFromBytes(data);
  for (int kind = -1; kind <= kSearchKinds; ++kind) {
    int32_t first = -1, last = -1;
    uint64_t below = 0, above = 0;
    for (int32_t row = 0; row < n; ++row) {
      const bool want = ReferenceMatch(reader.Record(row), tag, c, kind);
      if (MatchRecord(reader, c, row, kind) != (want ? row : -1)) {
        return "kind " + std::to_string(kind) + " row " + std::to_string(row) +
               ": matcher and reference differ (reference " + (want ? "matches)" : "rejects)");
      }
      if (want && row > selected) {
        if (first < 0) first = row;
        ++below;
      }
      if (want && selected >= 0 && row < selected) {
        last = row;
        ++above;
      }
    }
    c.kind = kind;
    c.mode = kSearchSelectFirst;
    const int32_t down = FindForward(reader, c, selected).row;
    const int32_t up = FindBackward(reader, c, selected).row;
    c.mode = kSearchCount;
    const uint64_t downCount = FindForward(reader, c, selected).count;
    const uint64_t upCount = FindBackward(reader, c, selected).count;
    if (down != first || up != last || downCount != below || upCount != above) {
      return "kind " + std::to_string(kind) + " from row " + std::to_string(selected) +
             ": scans differ (down " + std::to_string(down) + "/" + std::to_string(first) +
             ", up " + std::to_string(up) + "/" + std::to_string(last) + ", counts " +
             std::to_string(downCount) + "/" + std::to_string(below) + " and " +
             std::to_string(upCount) + "/" + std::to_string(above) + ")";
    }
  }
  return {};
}

}  // namespace ksvw::searchcheck
