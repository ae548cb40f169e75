// Ctrl+Tab and Ctrl+Shift+Tab in the tabbed dialogs (connection settings,
// search): the next or previous page, as in every property sheet. The
// dialogs are modal and run in DialogBox's own loop, which no accelerator
// table reaches; IsDialogMessage offers each message to the thread's
// WH_MSGFILTER hook first (MSGF_DIALOGBOX, on Windows and Wine alike), so
// the keys are taken there, only for the dialog that asked.
#pragma once

#include <windows.h>

namespace ksvw {

// From the dialog's WM_INITDIALOG to its WM_DESTROY (one at a time: the
// dialogs are modal). A switch selects the tab and sends the dialog the
// TCN_SELCHANGE a click would, so it shows the page as for a click.
void StartTabKeys(HWND dialog, HWND tabs);
void StopTabKeys();

}  // namespace ksvw
