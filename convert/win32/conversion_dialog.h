// The batch conversion dialog (template 112 of the language library): a
// folder, its DT files, the conversion options and two progress bars. The
// selected files are converted one after the other, each on a worker
// thread of its own (conversion_worker.h), into text or CSV files beside
// them. Command 40010 of the main window runs it modally.
#pragma once

#include <windows.h>

namespace ksvw {

// The dialog procedure of template 112.
INT_PTR CALLBACK ConversionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ksvw
