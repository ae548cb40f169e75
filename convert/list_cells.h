// Cell texts of the capture list: 19 columns per record, produced on demand
// from the record in place (the list keeps no copy of the data).
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/capture_reader.h"

namespace ksvw {

// The columns, in their order.
enum ListColumn : int {
  kColumnTime,  // "Time", or "deltaT" in delta mode
  kColumnChannel,
  kColumnSb,
  kColumnSf,
  kColumnId,
  kColumnType,
  kColumnDataLength,
  kColumnData0,  // D0 .. D7 follow one another
  kColumnData7 = kColumnData0 + 7,
  kColumnChecksum,
  kColumnStatus,
  kColumnExternalInput,
  kColumnTrigger,
};
inline constexpr int kListColumnCount = kColumnTrigger + 1;
// Every cell text fits in this many bytes with its NUL.
inline constexpr size_t kListCellCapacity = 16;

// Title of column 0..18; column 0 is "Time", or "deltaT" in delta mode.
// nullptr for a column out of range.
const char* ListColumnTitle(int column, bool deltaTimeMode);
// Width in pixels of column 0..18 at the reference dialog font (8 points at
// 96 DPI, an average character 5 pixels wide); 0 for a column out of range.
int ListColumnWidth(int column);
inline constexpr int kListReferenceCharWidth = 5;

// The widest texts column 0..18 shows for undamaged records (null-ended
// list; null for a column out of range), so that the list can size its
// columns for the font it really has. 'h' stands for any hex digit and 'd'
// for any decimal digit.
const char* const* ListColumnSamples(int column);

// Text of the cell at record `row`, `column` of `reader` into `out` (at
// least kListCellCapacity bytes), NUL-terminated. Returns the length; 0 is
// an empty cell, also for a row or column out of range. In delta mode the
// time column shows the difference to the record just above in file order.
size_t FormatListCell(const CaptureReader& reader, int32_t row, int column, bool deltaTimeMode,
                      char* out);

}  // namespace ksvw
