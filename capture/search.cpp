#include "capture/search.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "common/byte_order.h"

namespace ksvw {

namespace {

// ---- Field texts ----

// Length of a field text; a buffer without its NUL counts as full.
size_t FieldLength(const char (&field)[kFieldTextCapacity]) {
  size_t n = 0;
  while (n < kFieldTextCapacity && field[n] != '\0') ++n;
  return n;
}

bool IsUpperHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A one-character bit field: "*", "0" or "1".
bool IsBitText(const char (&field)[kFieldTextCapacity]) {
  return FieldLength(field) == 1 && (field[0] == '*' || field[0] == '0' || field[0] == '1');
}

// A non-empty data byte field: two upper-case hex digits, "*" or "* ", or
// W0, W1, W2.
bool IsDataByteText(const char (&field)[kFieldTextCapacity]) {
  size_t n = FieldLength(field);
  if (n == 1) return field[0] == '*';
  if (n != 2) return false;
  if (IsUpperHex(field[0]) && IsUpperHex(field[1])) return true;
  if (field[0] == '*') return field[1] == ' ';
  return field[0] == 'W' && field[1] >= '0' && field[1] <= '2';
}

// Minutes and seconds take a tens digit 0..5; hundredths take any digit.
bool IsTimeText(const char (&field)[kFieldTextCapacity], bool sixtyBased) {
  if (FieldLength(field) != 2) return false;
  char tens = field[0];
  char units = field[1];
  bool tensOk = tens == '*' || (sixtyBased ? (tens >= '0' && tens <= '5') : IsDigit(tens));
  bool unitsOk = units == '*' || IsDigit(units);
  return tensOk && unitsOk;
}

// Copies a field into a stored text, cut to the stored text's room.
template <size_t N>
void CopyStored(char (&dst)[N], const char (&field)[kFieldTextCapacity]) {
  size_t n = FieldLength(field);
  if (n > N - 1) n = N - 1;
  std::memcpy(dst, field, n);
  dst[n] = '\0';
}

template <size_t N>
void CopyShown(char (&dst)[kFieldTextCapacity], const char (&stored)[N]) {
  size_t n = 0;
  while (n < N && n < kFieldTextCapacity - 1 && stored[n] != '\0') ++n;
  std::memcpy(dst, stored, n);
  dst[n] = '\0';
}

void SetChar(char (&field)[kFieldTextCapacity], char c) {
  field[0] = c;
  field[1] = '\0';
}

// ---- Reading ----

void ReadErrorPage(const SearchPageTexts& texts, SearchCondition& c) {
  static constexpr uint16_t kBoxMasks[kErrorBoxCount] = {1u << 11, 1u << 12, 1u << 13, 1u << 14,
                                                         0x07FF};
  c.errorBoxes = 0;
  c.errorStatusMask = 0;
  for (int i = 0; i < kErrorBoxCount; ++i) {
    if (!texts.errorBoxes[i]) continue;
    c.errorBoxes = static_cast<uint8_t>(c.errorBoxes | (1u << i));
    c.errorStatusMask = static_cast<uint16_t>(c.errorStatusMask | kBoxMasks[i]);
  }
}

void ReadDataPage(const SearchPageTexts& texts, SearchCondition& c) {
  c.channel = texts.channel;
  c.frameKind = texts.frameKind;

  c.identifierValue = 0;
  c.identifierMask = 0;
  for (int k = 0; k < kIdentifierBits; ++k) {
    // An empty field (never shown by the pages) reads as a fixed 0 bit.
    char ch = FieldLength(texts.identifier[k]) > 0 ? texts.identifier[k][0] : ' ';
    uint32_t bit = 1u << (kIdentifierBits - 1 - k);
    c.identifierPattern[k] = ch;
    if (ch == '1') c.identifierValue |= bit;
    if (ch != '*') c.identifierMask |= bit;
  }
  c.identifierPattern[kIdentifierBits] = '\0';

  for (int p = 0; p < kPatternCount; ++p) {
    BitPattern& pattern = c.patterns[p];
    pattern.value = 0;
    pattern.mask = 0;
    for (int i = 0; i < kPatternBits; ++i) {
      const char(&field)[kFieldTextCapacity] = texts.patterns[p][i];
      char ch = FieldLength(field) > 0 ? field[0] : ' ';
      uint8_t bit = static_cast<uint8_t>(0x80u >> i);
      pattern.text[i] = ch;
      if (ch == '1') pattern.value = static_cast<uint8_t>(pattern.value | bit);
      if (ch != '*') pattern.mask = static_cast<uint8_t>(pattern.mask | bit);
    }
    pattern.text[kPatternBits] = '\0';
  }

  c.dataConditionMask = 0xFF;
  for (int i = 0; i < kDataByteFields; ++i) {
    const char(&field)[kFieldTextCapacity] = texts.dataBytes[i];
    DataByteCondition& d = c.dataBytes[i];
    CopyStored(d.text, field);
    d.exact = false;
    d.value = 0;
    size_t n = FieldLength(field);
    if (n == 0 || field[0] == '*') {
      c.dataConditionMask = static_cast<uint8_t>(c.dataConditionMask & ~(0x80u >> i));
    } else if (n == 2 && field[0] == 'W' && field[1] >= '0' && field[1] <= '2') {
      d.value = static_cast<uint8_t>(field[1] - '0' + 1);
    } else {
      // Hexadecimal value of the leading digits (two after validation).
      unsigned v = 0;
      for (size_t j = 0; j < n && j < 2 && HexValue(field[j]) >= 0; ++j) {
        v = v * 16 + static_cast<unsigned>(HexValue(field[j]));
      }
      d.exact = true;
      d.value = static_cast<uint8_t>(v);
    }
  }
}

void ReadTimePage(const SearchPageTexts& texts, SearchCondition& c) {
  c.timeValue = 0;
  c.timeMask = 0;
  for (int f = 0; f < kTimeFields; ++f) {
    const char(&field)[kFieldTextCapacity] = texts.time[f];
    CopyStored(c.timeTexts[f], field);
    size_t n = FieldLength(field);
    char tens = n > 0 ? field[0] : '0';
    char units = n > 1 ? field[1] : '0';
    unsigned value = (IsDigit(tens) ? static_cast<unsigned>(tens - '0') * 10 : 0) +
                     (IsDigit(units) ? static_cast<unsigned>(units - '0') : 0);
    unsigned mask = 0xFF;
    if (tens == '*') mask &= 0x0F;
    if (units == '*') mask &= 0xF0;
    int shift = 8 * (3 - f);  // minutes byte 3, seconds byte 2, hundredths byte 1
    c.timeValue |= (value & 0xFF) << shift;
    c.timeMask |= mask << shift;
  }
}

void ReadExtPage(const SearchPageTexts& texts, SearchCondition& c) {
  int level = 0;
  size_t n = FieldLength(texts.extIn);
  for (size_t j = 0; j < n && IsDigit(texts.extIn[j]) && level < 1000; ++j) {
    level = level * 10 + (texts.extIn[j] - '0');
  }
  c.extLevel = level;
}

// ---- Per-record tests ----
//
// Each kind's condition is digested once per search into a few masks and
// values; the tests below are small inline functors so that every scan loop
// is made for its kind alone and a record costs a handful of integer
// operations.

struct NeverTest {
  bool operator()(const CaptureRecord&) const { return false; }
};

// Trigger mark: one bit of one byte, by data tag.
struct TriggerTest {
  int offset;  // 1 = lineFlags ("MDCL"), 2 = status low byte ("MONC")
  bool operator()(const CaptureRecord& r) const { return (r.raw[offset] & 0x80) != 0; }
};

// Sources 1 and 2 are CAN; every other source but the markers is LIN, as
// the record decoder reads them (ClassOf), source 0 included.
inline uint32_t IsCanSource(uint8_t s) {
  return static_cast<uint32_t>(s) - kSourceCan1 <= kSourceCan2 - kSourceCan1;
}

// Error: a LIN record whose status shares a bit with the mask of the checked
// boxes. Overrun and lost-data markers stand for gaps, not frames: their
// bytes other than the time stamp mean nothing, so they never match.
struct ErrorTest {
  uint16_t mask;
  bool operator()(const CaptureRecord& r) const {
    uint8_t s = r.source();
    return (IsCanSource(s) ^ 1) & (s != kSourceOverrun) & (s != kSourceLostData) &
           ((r.status() & mask) != 0);
  }
};

// Time: the leading fields whose mask is 0xFF must be equal; the first field
// with a units wildcard must lie within value .. value + 9; the first field
// with any other mask ends the comparison. Folded into one masked compare and
// one range test (a span that every byte passes when there is no range).
struct TimeTest {
  uint32_t equalMask;
  uint32_t equalValue;
  int rangeShift;
  uint32_t rangeLow;
  uint32_t rangeSpan;
  bool operator()(const CaptureRecord& r) const {
    uint32_t ts = r.timeStamp();
    uint32_t field = (ts >> rangeShift) & 0xFF;
    return (ts & equalMask) == equalValue && field - rangeLow <= rangeSpan;
  }
};

TimeTest MakeTimeTest(const SearchCondition& c) {
  TimeTest t{0, 0, 0, 0, 0xFFFFFFFFu};
  for (int shift = 24; shift >= 8; shift -= 8) {
    uint32_t mask = (c.timeMask >> shift) & 0xFF;
    uint32_t value = (c.timeValue >> shift) & 0xFF;
    if (mask == 0xFF) {
      t.equalMask |= 0xFFu << shift;
      t.equalValue |= value << shift;
      continue;
    }
    if (mask == 0xF0) {
      t.rangeShift = shift;
      t.rangeLow = value;
      t.rangeSpan = 9;
    }
    break;
  }
  return t;
}

struct ExtInputTest {
  int level;
  bool operator()(const CaptureRecord& r) const { return ExternalInput(r) == level; }
};

inline constexpr uint64_t kLowBytes[kMaxDataBytes + 1] = {
    0x0000000000000000ull, 0x00000000000000FFull, 0x000000000000FFFFull,
    0x0000000000FFFFFFull, 0x00000000FFFFFFFFull, 0x000000FFFFFFFFFFull,
    0x0000FFFFFFFFFFFFull, 0x00FFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull};

uint64_t LoadLE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Data: channel, frame kind, identifier, then the eight data byte conditions
// as one 64-bit masked compare (byte i of the word is data[i]). Captures mix
// CAN and LIN records and both channels at random, so no step may become a
// branch: every step contributes its mismatching bits to one word that is
// tested once at the end. The choices that stay fixed for a whole scan
// (REMOTE, and whether any data byte has a condition) are template
// parameters, and the rules on the source byte and on the count and kind
// bytes are looked up rather than computed.
//
// Source table (per search), by `source`: bit 0 = the other channel's
// source, bit 1 = CAN (source 1 or 2; every other source takes the LIN rules,
// as for the error search).
inline constexpr uint8_t kSourceOtherChannel = 1;
inline constexpr uint8_t kSourceIsCan = 2;

// Frame table (fixed), by the 16-bit word of `count` (low byte) and `kind`
// (high byte), for a DATA search:
//   bit 0: a CAN record is rejected by its frame kind;
//   bit 1: a LIN record is rejected by its frame kind;
//   bit 2: a CAN record is rejected before its data bytes (remote frame or
//          negative count);
//   bit 3: a LIN record is rejected before its data bytes (negative count);
//   bits 4..7: the LIN data count (LinDataCount, at most 8).
const uint8_t* DataFrameTable() {
  static const struct Table {
    uint8_t entries[65536];
    Table() {
      for (uint32_t key = 0; key < 65536; ++key) {
        CaptureRecord r{};
        r.raw[10] = static_cast<uint8_t>(key);
        r.raw[11] = static_cast<uint8_t>(key >> 8);
        int count = r.count();
        uint8_t kind = r.kind();
        bool canKindOk = kind == 0x80 || kind == 8 || count >= 0;
        bool linKindOk = kind != 2 && count >= -1;
        uint32_t e = (canKindOk ? 0u : 1u) | (linKindOk ? 0u : 2u) |
                     (count < 0 || (kind & 0x40) != 0 ? 4u : 0u) | (count < 0 ? 8u : 0u) |
                     static_cast<uint32_t>(LinDataCount(r)) << 4;
        entries[key] = static_cast<uint8_t>(e);
      }
    }
  } table;
  return table.entries;
}

struct DataDigest {
  uint8_t sources[256];
  const uint8_t* frames;  // DataFrameTable()
  uint32_t idMask;
  uint32_t idValue;  // already masked
  uint64_t dataMask;
  uint64_t dataValue;  // already masked
};

template <bool kRemote, bool kCompareData>
struct DataTest {
  DataDigest d;

  bool operator()(const CaptureRecord& r) const {
    uint32_t source = d.sources[r.source()];
    uint32_t can = (source >> 1) & 1;
    uint32_t lin = can ^ 1;
    uint32_t canMask = 0u - can;
    uint32_t id = r.identifier();

    uint32_t bad = source & kSourceOtherChannel;
    uint32_t frame = 0;
    if constexpr (kRemote) {
      bad |= lin | (can & ((r.kind() >> 6) ^ 1));  // REMOTE: CAN with kind bit 6 only
    } else {
      frame = d.frames[LoadLE16(r.raw + 10)];
      bad |= (frame >> lin) & 1;
    }

    // LIN: the protected identifier in bits 21..28.
    uint32_t word = (id & canMask) | ((((id >> 8) & 0xFF) << 21) & ~canMask);
    bad |= (word & d.idMask) ^ d.idValue;
    if constexpr (!kCompareData) {
      return bad == 0;
    } else {
      // CAN compares all eight positions; LIN only its data count.
      bad |= (frame >> (2 + lin)) & 1;
      uint64_t lanes = kLowBytes[frame >> 4] | (uint64_t{0} - can);
      uint64_t dataBad = (LoadLE64(r.data()) ^ d.dataValue) & d.dataMask & lanes;
      return (bad | dataBad) == 0;
    }
  }
};

DataDigest MakeDataDigest(const SearchCondition& c) {
  DataDigest t{};
  // CH1 rejects sources 2 and 4, CH2 rejects 1 and 3.
  uint8_t otherA = c.channel == 1 ? kSourceCan1 : kSourceCan2;
  uint8_t otherB = c.channel == 1 ? kSourceLin1 : kSourceLin2;
  // Markers are gaps, not frames: rejected like the other channel.
  for (int s = 0; s < 256; ++s) {
    bool rejected = s == otherA || s == otherB || s == kSourceOverrun || s == kSourceLostData;
    t.sources[s] = static_cast<uint8_t>((rejected ? kSourceOtherChannel : 0) |
                                        (IsCanSource(static_cast<uint8_t>(s)) ? kSourceIsCan : 0));
  }
  t.frames = c.frameKind == 1 ? nullptr : DataFrameTable();
  t.idMask = c.identifierMask & 0x1FFFFFFF;
  t.idValue = c.identifierValue & t.idMask;
  for (int i = 0; i < kDataByteFields; ++i) {
    if ((c.dataConditionMask & (0x80u >> i)) == 0) continue;
    const DataByteCondition& d = c.dataBytes[i];
    uint64_t mask = 0;
    uint64_t value = 0;
    if (d.exact) {
      mask = 0xFF;
      value = d.value;
    } else if (d.value >= 1 && d.value <= kPatternCount) {
      const BitPattern& p = c.patterns[d.value - 1];
      mask = p.mask;
      value = p.value & p.mask;
    }
    t.dataMask |= mask << (8 * i);
    t.dataValue |= value << (8 * i);
  }
  return t;
}

// ---- Scans ----

// The scans go through the records a span at a time: one span holds all of
// a capture in memory, a streamed one comes in windows.
template <class Test>
uint64_t CountRows(const CaptureReader& reader, int32_t begin, int32_t end, const Test& test) {
  uint64_t count = 0;
  for (int32_t i = begin; i < end;) {
    const RecordSpan span = reader.Span(i, false);
    const int32_t stop = std::min(end, span.first + span.count);
    for (; i < stop; ++i) count += test(span.rows[i - span.first]) ? 1 : 0;
  }
  return count;
}

template <class Test>
int32_t FirstRow(const CaptureReader& reader, int32_t begin, int32_t end, const Test& test) {
  for (int32_t i = begin; i < end;) {
    const RecordSpan span = reader.Span(i, false);
    const int32_t stop = std::min(end, span.first + span.count);
    for (; i < stop; ++i) {
      if (test(span.rows[i - span.first])) return i;
    }
  }
  return -1;
}

template <class Test>
int32_t LastRow(const CaptureReader& reader, int32_t begin, int32_t end, const Test& test) {
  for (int32_t i = end - 1; i >= begin;) {
    const RecordSpan span = reader.Span(i, true);
    const int32_t stop = std::max(begin, span.first);
    for (; i >= stop; --i) {
      if (test(span.rows[i - span.first])) return i;
    }
  }
  return -1;
}

// Rows begin .. end - 1, searched downward or upward.
struct ScanRange {
  int32_t begin;
  int32_t end;
  bool upward;
};

template <class Test>
SearchResult Scan(const CaptureReader& reader, ScanRange range, int mode, const Test& test) {
  SearchResult result{-1, 0, 0};
  if (range.begin < range.end) {
    if (mode == kSearchCount) {
      // The count does not depend on the direction.
      result.count = CountRows(reader, range.begin, range.end, test);
    } else {
      result.row = range.upward ? LastRow(reader, range.begin, range.end, test)
                                : FirstRow(reader, range.begin, range.end, test);
    }
  }
  if (mode == kSearchCount || result.row < 0) {
    result.messageId = SearchResultStringId(mode, result.count);
  }
  return result;
}

// Calls `fn` with the digested test of the kind.
template <class Fn>
auto WithTest(const CaptureReader& reader, const SearchCondition& c, int kind, Fn&& fn) {
  uint32_t tag = reader.DataTag();
  switch (kind) {
    case kSearchTrigger:
      if (tag == kTagMdcl) return fn(TriggerTest{1});
      if (tag == kTagMonc) return fn(TriggerTest{2});
      return fn(NeverTest{});
    case kSearchError: return fn(ErrorTest{c.errorStatusMask});
    case kSearchData: {
      DataDigest digest = MakeDataDigest(c);
      if (c.frameKind == 1) return fn(DataTest<true, false>{digest});
      if (c.dataConditionMask == 0) return fn(DataTest<false, false>{digest});
      return fn(DataTest<false, true>{digest});
    }
    case kSearchTime: return fn(MakeTimeTest(c));
    case kSearchExtInput:
      if (tag == kTagMdcl) return fn(ExtInputTest{c.extLevel});
      return fn(NeverTest{});
    default: return fn(NeverTest{});
  }
}

SearchResult Search(const CaptureReader& reader, const SearchCondition& c, ScanRange range) {
  return WithTest(reader, c, c.kind, [&](const auto& test) {
    if constexpr (std::is_same_v<std::decay_t<decltype(test)>, NeverTest>) {
      return Scan(reader, ScanRange{0, 0, range.upward}, c.mode, test);
    } else {
      return Scan(reader, range, c.mode, test);
    }
  });
}

}  // namespace

// ---- Page texts ----

void SetFieldText(char (&field)[kFieldTextCapacity], const char* text) {
  size_t n = 0;
  if (text != nullptr) {
    while (n < kFieldTextCapacity - 1 && text[n] != '\0') ++n;
    std::memcpy(field, text, n);
  }
  field[n] = '\0';
}

SearchPageTexts InitialPageTexts() {
  SearchPageTexts t{};
  for (auto& field : t.identifier) SetChar(field, '*');
  for (auto& row : t.patterns) {
    for (auto& field : row) SetChar(field, '*');
  }
  for (auto& field : t.time) SetFieldText(field, "00");
  SetFieldText(t.extIn, "0");
  return t;
}

SearchPageTexts PageTextsFromCondition(const SearchCondition& c) {
  SearchPageTexts t{};
  for (int i = 0; i < kErrorBoxCount; ++i) t.errorBoxes[i] = (c.errorBoxes >> i) & 1;
  t.channel = c.channel;
  t.frameKind = c.frameKind;
  for (int k = 0; k < kIdentifierBits; ++k) SetChar(t.identifier[k], c.identifierPattern[k]);
  for (int i = 0; i < kDataByteFields; ++i) CopyShown(t.dataBytes[i], c.dataBytes[i].text);
  for (int p = 0; p < kPatternCount; ++p) {
    for (int i = 0; i < kPatternBits; ++i) SetChar(t.patterns[p][i], c.patterns[p].text[i]);
  }
  for (int f = 0; f < kTimeFields; ++f) CopyShown(t.time[f], c.timeTexts[f]);
  t.extIn[0] = c.extLevel == 1 ? '1' : '0';
  t.extIn[1] = '\0';
  return t;
}

char* FieldText(SearchPageTexts& texts, int controlId) {
  return const_cast<char*>(FieldText(static_cast<const SearchPageTexts&>(texts), controlId));
}

const char* FieldText(const SearchPageTexts& texts, int controlId) {
  for (int k = 0; k < kIdentifierBits; ++k) {
    if (kIdentifierControls[k] == controlId) return texts.identifier[k];
  }
  if (controlId >= kDataByteControls[0] && controlId <= kDataByteControls[kDataByteFields - 1]) {
    return texts.dataBytes[controlId - kDataByteControls[0]];
  }
  for (int p = 0; p < kPatternCount; ++p) {
    if (controlId >= kPatternControls[p][0] && controlId <= kPatternControls[p][kPatternBits - 1]) {
      return texts.patterns[p][controlId - kPatternControls[p][0]];
    }
  }
  for (int f = 0; f < kTimeFields; ++f) {
    if (kTimeControls[f] == controlId) return texts.time[f];
  }
  if (controlId == kExtInCombo) return texts.extIn;
  return nullptr;
}

// ---- Validation and reading ----

SearchInputError ValidateSearchPage(const SearchPageTexts& texts, int kind) {
  if (kind == kSearchData) {
    for (int k = 0; k < kIdentifierBits; ++k) {
      if (!IsBitText(texts.identifier[k])) return {kStringBitError, kIdentifierControls[k]};
    }
    // Byte by byte: the data byte field, then that bit of each pattern row.
    bool afterEmpty = false;
    for (int i = 0; i < kDataByteFields; ++i) {
      bool empty = FieldLength(texts.dataBytes[i]) == 0;
      if (!empty && (afterEmpty || !IsDataByteText(texts.dataBytes[i]))) {
        return {kStringDataByteError, kDataByteControls[i]};
      }
      if (empty) afterEmpty = true;
      for (int p = 0; p < kPatternCount; ++p) {
        if (!IsBitText(texts.patterns[p][i])) return {kStringBitError, kPatternControls[p][i]};
      }
    }
  } else if (kind == kSearchTime) {
    for (int f = 0; f < kTimeFields; ++f) {
      if (!IsTimeText(texts.time[f], f < 2)) return {kStringTimeError, kTimeControls[f]};
    }
  }
  return {0, 0};
}

void ReadSearchPages(const SearchPageTexts& texts, SearchCondition& condition) {
  ReadErrorPage(texts, condition);
  ReadDataPage(texts, condition);
  ReadTimePage(texts, condition);
  ReadExtPage(texts, condition);
}

SearchPageTexts OpenSearchPages(SearchCondition& condition) {
  SearchPageTexts texts =
      condition.restore ? PageTextsFromCondition(condition) : InitialPageTexts();
  ReadSearchPages(texts, condition);
  condition.restore = true;
  return texts;
}

SearchInputError StoreSearch(const SearchPageTexts& texts, int activeKind, int mode,
                             SearchDirection direction, SearchCondition& condition) {
  SearchInputError error = ValidateSearchPage(texts, activeKind);
  if (!error.ok()) return error;
  ReadSearchPages(texts, condition);
  condition.kind = activeKind;
  condition.mode = mode;
  condition.direction = direction;
  condition.set = true;
  return error;
}

// ---- Matching and scanning ----

int32_t MatchRecord(const CaptureReader& reader, const SearchCondition& condition, int32_t row,
                    int kind) {
  if (row < 0 || row >= reader.RecordCount()) return -1;
  const CaptureRecord& record = reader.Record(row);
  bool match = WithTest(reader, condition, kind, [&](const auto& test) { return test(record); });
  return match ? row : -1;
}

SearchResult FindForward(const CaptureReader& reader, const SearchCondition& condition,
                         int32_t selectedRow) {
  int32_t n = reader.RecordCount();
  int32_t begin = selectedRow < 0 ? 0 : (selectedRow >= n ? n : selectedRow + 1);
  return Search(reader, condition, ScanRange{begin, n, false});
}

SearchResult FindBackward(const CaptureReader& reader, const SearchCondition& condition,
                          int32_t selectedRow) {
  int32_t n = reader.RecordCount();
  // Rows 0 .. selectedRow - 1; a selection beyond the records (not possible
  // in the list) searches them all.
  int32_t end = selectedRow < 0 ? 0 : (selectedRow > n ? n : selectedRow);
  return Search(reader, condition, ScanRange{0, end, true});
}

SearchResult FindInDirection(const CaptureReader& reader, const SearchCondition& condition,
                             int32_t selectedRow) {
  return condition.direction == SearchDirection::Up ? FindBackward(reader, condition, selectedRow)
                                                    : FindForward(reader, condition, selectedRow);
}

}  // namespace ksvw
