#include "capture/win32/capture_list.h"

#include <commctrl.h>

#include <cstring>

#include "app/win32/app_state.h"
#include "app/win32/commands.h"
#include "capture/capture_reader.h"
#include "convert/list_cells.h"
#include "convert/text_converter.h"
#include "signals/win32/signal_view.h"

namespace ksvw {

namespace {

constexpr int kListControlId = 1;
constexpr int kInsertWidth = 100;
// Room the list view keeps beside a cell's text (what LVSCW_AUTOSIZE adds);
// a text with less room is cut and ends in "...".
constexpr int kCellPadding = 12;

int32_t selectedRow = -1;
// The columns' widths for the list's own font, measured at creation.
int columnWidths[kListColumnCount] = {};

int TextWidth(HWND list, const char* text) {
  return static_cast<int>(
      SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text)));
}

// The digit of `digits` that is widest in the list's font.
char WidestOf(HWND list, const char* digits) {
  char widest = digits[0];
  int most = -1;
  for (const char* d = digits; *d; ++d) {
    char one[2] = {*d, '\0'};
    int w = TextWidth(list, one);
    if (w > most) {
      most = w;
      widest = *d;
    }
  }
  return widest;
}

// The table's widths hold for the reference dialog font. Wine and
// large-font systems give the list a wider font, which would cut "00:00:000"
// and eight-digit identifiers: scale the widths by the font's average
// character width (which already grows with the DPI), and make each column
// at least as wide as its widest text in that font.
void MeasureColumns(HWND list) {
  const int average = AverageCharWidth(list, kListReferenceCharWidth);
  const char hex = WidestOf(list, "0123456789ABCDEF");
  const char decimal = WidestOf(list, "0123456789");
  for (int column = 0; column < kListColumnCount; ++column) {
    int width = MulDiv(ListColumnWidth(column), average, kListReferenceCharWidth);
    for (const char* const* sample = ListColumnSamples(column); *sample; ++sample) {
      char text[kListCellCapacity] = {};
      for (size_t i = 0; (*sample)[i] && i + 1 < sizeof text; ++i) {
        char c = (*sample)[i];
        text[i] = c == 'h' ? hex : (c == 'd' ? decimal : c);
      }
      int needed = TextWidth(list, text) + kCellPadding;
      if (needed > width) width = needed;
    }
    columnWidths[column] = width;
  }
}

void InsertColumn(HWND list, int column, const char* title) {
  LVCOLUMNA c{};
  c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  c.fmt = LVCFMT_LEFT;
  c.cx = kInsertWidth;
  c.pszText = const_cast<char*>(title);
  c.iSubItem = column;
  SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&c));
  SendMessageA(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column),
               MAKELPARAM(columnWidths[column], 0));
}

LRESULT OnGetDispInfo(NMLVDISPINFOA* info) {
  LVITEMA& item = info->item;
  if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
    item.pszText[0] = '\0';
    if (listHasData) {
      char cell[kListCellCapacity];
      size_t n =
          Converter().FormatListRow(item.iItem, item.iSubItem, deltaTimeMode, cell, sizeof cell);
      size_t room = static_cast<size_t>(item.cchTextMax) - 1;
      if (n > room) n = room;
      std::memcpy(item.pszText, cell, n);
      item.pszText[n] = '\0';
    }
  }
  if (item.iSubItem == 0 && (item.mask & LVIF_IMAGE)) item.iImage = 0;
  return 0;
}

LRESULT OnItemChanged(const NMLISTVIEW* change) {
  HWND list = change->hdr.hwndFrom;
  // The first selected row is found by walking the items from the top
  // (Wine walks them one by one); the usual cases need no walk: nothing
  // selected, or the one row that has just been selected.
  LRESULT count = SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0);
  if (count == 0)
    selectedRow = -1;
  else if (count == 1 && change->iItem >= 0 && (change->uNewState & LVIS_SELECTED))
    selectedRow = change->iItem;
  else
    selectedRow = static_cast<int32_t>(
        SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
  if (selectedRow >= 0)
    SetStatusPosition(static_cast<uint32_t>(selectedRow),
                      static_cast<uint32_t>(ViewerRecordCount() - 1));
  ShowSignalsOfRow(selectedRow);
  return 0;
}

}  // namespace

int AverageCharWidth(HWND window, int fallback) {
  int average = fallback;
  if (HDC dc = GetDC(window)) {
    HGDIOBJ old = nullptr;
    if (auto font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)))
      old = SelectObject(dc, font);
    TEXTMETRICA metrics{};
    if (GetTextMetricsA(dc, &metrics) && metrics.tmAveCharWidth > 0)
      average = metrics.tmAveCharWidth;
    if (old) SelectObject(dc, old);
    ReleaseDC(window, dc);
  }
  return average;
}

HWND CreateCaptureList(HWND parent) {
  HWND list = CreateWindowExA(
      0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA, 0, 0, 0, 0, parent,
      reinterpret_cast<HMENU>(static_cast<intptr_t>(kListControlId)), applicationInstance, nullptr);
  if (!list) return nullptr;
  LRESULT extended = SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               extended | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT | LVS_EX_UNDERLINECOLD);
  MeasureColumns(list);
  for (int column = 0; column < kListColumnCount; ++column)
    InsertColumn(list, column, ListColumnTitle(column, deltaTimeMode));
  SendMessageA(list, LVM_SETITEMCOUNT, 0, 0);
  selectedRow = -1;
  return list;
}

LRESULT HandleCaptureListNotify(const NMHDR* header) {
  if (!header) return 0;
  switch (header->code) {
    case LVN_GETDISPINFOA:
      return OnGetDispInfo(reinterpret_cast<NMLVDISPINFOA*>(const_cast<NMHDR*>(header)));
    case LVN_ITEMCHANGED: return OnItemChanged(reinterpret_cast<const NMLISTVIEW*>(header));
    case LVN_ODCACHEHINT: return 0;
    // No search by typed text: -1 tells the control that nothing matched
    // (0 would move the selection to the first row).
    case LVN_ODFINDITEMA: return -1;
    case TTN_NEEDTEXTA:
      return AnswerToolbarTooltip(reinterpret_cast<NMTTDISPINFOA*>(const_cast<NMHDR*>(header)));
    default: return 0;
  }
}

int32_t ReloadCaptureList() {
  int32_t count = ViewerRecordCount();
  if (!captureList) return count;
  SendMessageA(captureList, LVM_DELETEALLITEMS, 0, 0);
  SendMessageA(captureList, LVM_SETITEMCOUNT, static_cast<WPARAM>(count > 0 ? count : 0),
               LVSICF_NOINVALIDATEALL);
  selectedRow = -1;
  ShowSignalsOfRow(-1);
  return count;
}

void RetitleTimeColumn() {
  if (!captureList) return;
  SendMessageA(captureList, LVM_DELETECOLUMN, kColumnTime, 0);
  InsertColumn(captureList, kColumnTime, ListColumnTitle(kColumnTime, deltaTimeMode));
}

void SelectCaptureRow(int32_t row) {
  if (!captureList) return;
  // Clearing the states with index -1 makes the list view visit every item
  // of the owner-data list (Wine does, one by one: a third of a second for
  // 400,000 rows). A single selected row is cleared alone; the focus moves
  // by itself, since only one row can have it.
  LVITEMA state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = 0;
  LRESULT selected = SendMessageA(captureList, LVM_GETSELECTEDCOUNT, 0, 0);
  if (selected > 0) {
    WPARAM which = selected == 1 && selectedRow >= 0 ? static_cast<WPARAM>(selectedRow)
                                                     : static_cast<WPARAM>(-1);
    SendMessageA(captureList, LVM_SETITEMSTATE, which, reinterpret_cast<LPARAM>(&state));
  }
  SendMessageA(captureList, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
  SetFocus(captureList);
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(captureList, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&state));
}

int32_t SelectedCaptureRow() {
  return selectedRow;
}

}  // namespace ksvw
