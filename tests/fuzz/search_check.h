// The search's rules read plainly over the record decoder that the list and
// the converter use, and a check that the fast matcher (capture/search.cpp)
// agrees on every record and in every scan from a selected row; run by the
// search fuzz target and, seeded, by the unit tests.
// Input: kConditionBytes, then whole 32-byte records.
//   [0] bit 0 "MDCL" (else "MONC"), bit 1 CH2, bit 2 REMOTE, bit 3 ext. level 1
//   [1..2] selected row (LE16 modulo records + 2, minus 1); [3..4] error mask
//   [5..12] identifier value and mask; [13] data-condition mask; [14] exact
//   flags; [15..22] data byte values (exact, or pattern 0..3); [23..28] W0..W2
//   value and mask; [29..31] time value; [32] time mask, two bits a field
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "capture/search.h"
#include "common/byte_order.h"
#include "testsupport/capture_builder.h"

namespace ksvw::searchcheck {

inline constexpr size_t kConditionBytes = 33;

inline bool ReferenceDataMatch(const CaptureRecord& r, const SearchCondition& c) {
  const RecordClass cls = ClassOf(r);
  if (cls != RecordClass::Can && cls != RecordClass::Lin) return false;  // markers are no frames
  const bool can = cls == RecordClass::Can, remote = c.frameKind == 1;
  if (ChannelDigit(r) == (c.channel == 1 ? '1' : '2')) return false;
  const bool kindOk =
      can ? (remote ? CanRemote(r) : r.kind() == 0x80 || r.kind() == 8 || r.count() >= 0)
          : !remote && LinHeaderShape(r) != LinHeader::None && LinBodyShape(r) != LinBody::Illegal;
  if (!kindOk) return false;
  const uint32_t word = can ? r.identifier() : uint32_t{LinProtectedId(r)} << 21;
  if ((word & c.identifierMask) != (c.identifierValue & c.identifierMask)) return false;
  if (remote || c.dataConditionMask == 0) return true;
  if (r.count() < 0 || (can && CanRemote(r))) return false;
  for (int i = 0; i < (can ? kMaxDataBytes : LinDataCount(r)); ++i) {
    if ((c.dataConditionMask & (0x80 >> i)) == 0) continue;
    const DataByteCondition& d = c.dataBytes[i];
    const uint8_t byte = r.data()[i];
    if (d.exact && byte != d.value) return false;
    if (!d.exact && d.value >= 1 && d.value <= kPatternCount) {
      const BitPattern& p = c.patterns[d.value - 1];
      if ((byte & p.mask) != (p.value & p.mask)) return false;
    }
  }
  return true;
}

inline bool ReferenceTimeMatch(uint32_t timeStamp, const SearchCondition& c) {
  const TimeParts t = SplitTime(timeStamp);
  const int fields[3] = {t.minutes, t.seconds, t.hundredths};
  for (int f = 0, shift = 24; f < 3; ++f, shift -= 8) {
    const int mask = (c.timeMask >> shift) & 0xFF, value = (c.timeValue >> shift) & 0xFF;
    if (mask == 0xF0) return fields[f] >= value && fields[f] <= value + 9;
    if (mask != 0xFF) return true;
    if (fields[f] != value) return false;
  }
  return true;
}

inline bool ReferenceMatch(const CaptureRecord& r, uint32_t tag, const SearchCondition& c,
                           int kind) {
  switch (kind) {
    case kSearchTrigger: return TriggerMark(r, tag);
    case kSearchError: return ClassOf(r) == RecordClass::Lin && (r.status() & c.errorStatusMask);
    case kSearchData: return ReferenceDataMatch(r, c);
    case kSearchTime: return ReferenceTimeMatch(r.timeStamp(), c);
    case kSearchExtInput: return tag == kTagMdcl && ExternalInput(r) == c.extLevel;
    default: return false;
  }
}

inline SearchCondition ConditionFromBytes(const uint8_t* b) {
  static constexpr uint32_t kTimeMasks[4] = {0xFF, 0xF0, 0x0F, 0x00};
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
  for (int p = 0; p < kPatternCount; ++p) c.patterns[p] = {{}, b[23 + 2 * p], b[24 + 2 * p]};
  for (int f = 0, shift = 24; f < 3; ++f, shift -= 8) {
    c.timeValue |= uint32_t{b[29 + f]} << shift;
    c.timeMask |= kTimeMasks[(b[32] >> (2 * f)) & 3] << shift;
  }
  return c;
}

// Empty when the matcher agrees with the reference everywhere; otherwise
// where it did not.
inline std::string CheckSearchInput(const uint8_t* data, size_t size) {
  if (size < kConditionBytes) return {};
  const size_t recordBytes = (size - kConditionBytes) / kRecordSize * kRecordSize;
  const uint32_t tag = (data[0] & 1) ? kTagMdcl : kTagMonc;
  const std::vector<uint8_t> body(data + kConditionBytes, data + kConditionBytes + recordBytes);
  const std::vector<uint8_t> file = build::CaptureFileBuilder().Chunk(tag, body).Build();
  CaptureReader reader;
  if (!reader.LoadCopy(file.data(), file.size())) return "capture not loaded";
  const int32_t n = reader.RecordCount();
  const int32_t selected = static_cast<int32_t>(LoadLE16(data + 1) % (n + 2)) - 1;
  SearchCondition c = ConditionFromBytes(data);
  for (int kind = -1; kind <= kSearchKinds; ++kind) {
    int32_t first = -1, last = -1;
    uint64_t below = 0, above = 0;
    for (int32_t row = 0; row < n; ++row) {
      const bool want = ReferenceMatch(reader.Record(row), tag, c, kind);
      if (MatchRecord(reader, c, row, kind) != (want ? row : -1))
        return "kind " + std::to_string(kind) + ", row " + std::to_string(row);
      if (want && row > selected && below++ == 0) first = row;
      if (want && row < selected) {
        last = row;
        ++above;
      }
    }
    c.kind = kind;
    c.mode = kSearchSelectFirst;
    const bool rows = FindForward(reader, c, selected).row == first &&
                      FindBackward(reader, c, selected).row == last;
    c.mode = kSearchCount;
    if (!rows || FindForward(reader, c, selected).count != below ||
        FindBackward(reader, c, selected).count != above)
      return "kind " + std::to_string(kind) + ", scans from row " + std::to_string(selected);
  }
  return {};
}

}  // namespace ksvw::searchcheck
