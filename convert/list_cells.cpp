#include "convert/list_cells.h"

#include <cstring>

#include "convert/digits.h"

namespace ksvw {

namespace {

struct ColumnInfo {
  const char* title;
  int width;
};
constexpr ColumnInfo kColumns[kListColumnCount] = {
    {"Time", 60}, {"CH", 50}, {"SB", 30}, {"SF", 30},     {"ID", 60},  {"TYPE", 60}, {"DL", 30},
    {"D0", 30},   {"D1", 30}, {"D2", 30}, {"D3", 30},     {"D4", 30},  {"D5", 30},   {"D6", 30},
    {"D7", 30},   {"C", 30},  {"ST", 30}, {"EXT IN", 50}, {"TRG", 50},
};

bool IsDataColumn(int column) {
  return column >= kColumnData0 && column <= kColumnData7;
}

// The widest texts of each column; see ListColumnSamples.
constexpr const char* kTimeSamples[] = {"dd:dd:ddd", "+dd:dd:ddd", " --:--:---", nullptr};
constexpr const char* kChannelSamples[] = {"d", "OVERRUN", "LOSTDATA", nullptr};
constexpr const char* kByteSamples[] = {"hh", "(hh)", nullptr};
constexpr const char* kIdSamples[] = {"hhhhhhhh", "(hh) [ hh ]", nullptr};
constexpr const char* kTypeSamples[] = {"DATA", "REMOTE", "FRAME", "ILLEGAL", nullptr};
constexpr const char* kLengthSamples[] = {"dd", nullptr};
constexpr const char* kStatusSamples[] = {"G", "R", "B", "S", "P", "C", "L", "O", "E", nullptr};
constexpr const char* kInputSamples[] = {"0", "1", nullptr};
constexpr const char* kTriggerSamples[] = {"T", nullptr};

// "%02X", or "(%02X)" for a byte received in error.
char* LinByte(char* p, uint8_t value, bool error) {
  if (!error) return digits::Hex2(p, value);
  *p++ = '(';
  p = digits::Hex2(p, value);
  *p++ = ')';
  return p;
}

size_t TimeCell(const CaptureReader& reader, int32_t row, bool deltaTimeMode, char* out) {
  // Damaged time stamps can give fields of up to four characters each in a
  // difference; compose apart and cut to the cell's capacity.
  char text[32];
  char* p = text;
  uint32_t ts = reader.Record(row).timeStamp();
  TimeParts t;
  if (deltaTimeMode) {
    if (row == 0) {
      std::memcpy(out, " --:--:---", 11);
      return 10;
    }
    t = TimeDifference(ts, reader.Record(row - 1).timeStamp());
    *p++ = '+';
  } else {
    t = SplitTime(ts);
  }
  p = digits::Dec02(p, t.minutes);
  *p++ = ':';
  p = digits::Dec02(p, t.seconds);
  *p++ = ':';
  p = digits::Dec02(p, t.hundredths);
  p = digits::Dec(p, t.millis);
  size_t n = static_cast<size_t>(p - text);
  if (n > kListCellCapacity - 1) n = kListCellCapacity - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
  return n;
}

size_t CanCell(const CaptureRecord& r, int column, char* out) {
  char* p = out;
  switch (column) {
    case kColumnId:
      p = CanExtended(r) ? digits::Hex8(p, CanIdentifier(r)) : digits::Hex3(p, CanIdentifier(r));
      break;
    case kColumnType: p = CanRemote(r) ? digits::Text(p, "REMOTE") : digits::Text(p, "DATA"); break;
    case kColumnDataLength: p = digits::Dec2Space(p, CanDlc(r)); break;
    case kColumnStatus: *p++ = 'G'; break;
    default:
      if (IsDataColumn(column) && column - kColumnData0 < CanShownDataCount(r)) {
        p = digits::Hex2(p, r.data()[column - kColumnData0]);
      }
      break;
  }
  return static_cast<size_t>(p - out);
}

size_t LinCell(const CaptureRecord& r, const CaptureSettings& settings, int column, char* out) {
  char* p = out;
  const LinHeader header = LinHeaderShape(r);
  switch (column) {
    case kColumnSb:
      if (header != LinHeader::None) p = digits::Hex2(p, LinSb(r));
      break;
    case kColumnSf:
      if (header != LinHeader::None && header != LinHeader::Sb)
        p = LinByte(p, LinSf(r), LinSfError(r));
      break;
    case kColumnId:
      if (header == LinHeader::Full) {
        p = LinByte(p, LinFrameId(r), LinIdError(r));
        p = digits::Text(p, " [ ");
        p = digits::Hex2(p, LinProtectedId(r));
        p = digits::Text(p, " ]");
      }
      break;
    case kColumnType: {
      const char* type = FrameTypeText(r);
      size_t n = std::strlen(type);
      std::memcpy(p, type, n);
      p += n;
      break;
    }
    case kColumnDataLength: {
      int length = LinTableLength(r, settings);
      if (length >= 0) p = digits::Dec2Space(p, length);
      break;
    }
    case kColumnChecksum: {
      int j = LinChecksumIndex(r);
      if (j >= 0) p = LinByte(p, r.data()[j], LinByteError(r, j));
      break;
    }
    case kColumnStatus: {
      char letter = StatusLetter(r);
      if (letter != 0) *p++ = letter;
      break;
    }
    default:
      if (IsDataColumn(column)) {
        int i = column - kColumnData0;
        if (i < LinDataCount(r)) p = LinByte(p, r.data()[i], LinByteError(r, i));
      }
      break;
  }
  return static_cast<size_t>(p - out);
}

}  // namespace

const char* ListColumnTitle(int column, bool deltaTimeMode) {
  if (column < 0 || column >= kListColumnCount) return nullptr;
  if (column == kColumnTime && deltaTimeMode) return "deltaT";
  return kColumns[column].title;
}

int ListColumnWidth(int column) {
  if (column < 0 || column >= kListColumnCount) return 0;
  return kColumns[column].width;
}

const char* const* ListColumnSamples(int column) {
  switch (column) {
    case kColumnTime: return kTimeSamples;
    case kColumnChannel: return kChannelSamples;
    case kColumnId: return kIdSamples;
    case kColumnType: return kTypeSamples;
    case kColumnDataLength: return kLengthSamples;
    case kColumnStatus: return kStatusSamples;
    case kColumnExternalInput: return kInputSamples;
    case kColumnTrigger: return kTriggerSamples;
    default: return column >= kColumnSb && column < kListColumnCount ? kByteSamples : nullptr;
  }
}

size_t FormatListCell(const CaptureReader& reader, int32_t row, int column, bool deltaTimeMode,
                      char* out) {
  out[0] = '\0';
  if (row < 0 || row >= reader.RecordCount() || column < 0 || column >= kListColumnCount) return 0;
  if (column == kColumnTime) return TimeCell(reader, row, deltaTimeMode, out);

  const CaptureRecord& r = reader.Record(row);
  size_t n = 0;
  switch (ClassOf(r)) {
    case RecordClass::Overrun:
      if (column == kColumnChannel) n = static_cast<size_t>(digits::Text(out, "OVERRUN") - out);
      out[n] = '\0';
      return n;
    case RecordClass::LostData:
      if (column == kColumnChannel) n = static_cast<size_t>(digits::Text(out, "LOSTDATA") - out);
      out[n] = '\0';
      return n;
    default: break;
  }

  const uint32_t tag = reader.DataTag();
  if (column == kColumnChannel) {
    out[0] = ChannelDigit(r);
    n = 1;
  } else if (column == kColumnExternalInput) {
    if (tag == kTagMdcl) {
      out[0] = static_cast<char>('0' + ExternalInput(r));
      n = 1;
    }
  } else if (column == kColumnTrigger) {
    if (TriggerMark(r, tag)) {
      out[0] = 'T';
      n = 1;
    }
  } else if (ClassOf(r) == RecordClass::Can) {
    n = CanCell(r, column, out);
  } else {
    n = LinCell(r, reader.Settings(), column, out);
  }
  out[n] = '\0';
  return n;
}

}  // namespace ksvw
