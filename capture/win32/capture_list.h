// The main window's capture list: an owner-data report list view over
// viewerReader whose cells are formatted on demand, one record per row.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ksvw {

// Creates the list as child control 1 of `parent`, with its 19 columns.
HWND CreateCaptureList(HWND parent);

// The main window's WM_NOTIFY: the list's cell requests and selection
// changes; the toolbar's tooltip requests are handed to the command table.
LRESULT HandleCaptureListNotify(const NMHDR* header);

// After every load of viewerReader: all items deleted, the item count set
// to the record count (without invalidating all items), no row selected.
// Returns the record count; the caller sets listHasData and the status.
int32_t ReloadCaptureList();

// Column 0 deleted and inserted again, titled for the current deltaTimeMode.
void RetitleTimeColumn();

// Selects and shows `row` alone, with the keyboard focus in the list.
void SelectCaptureRow(int32_t row);

// The selected row (-1: none).
int32_t SelectedCaptureRow();

// The average character width of `window`'s font (`fallback` when it
// cannot be measured): column widths follow the font the control has.
int AverageCharWidth(HWND window, int fallback);

}  // namespace ksvw
