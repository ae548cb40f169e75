// The shell's folder picker, shared by the connection settings dialog and
// the conversion dialog.
#pragma once

#include <windows.h>

namespace ksvw {

// Runs the folder picker owned by `owner`, opening on the folder in `path`
// (a buffer of MAX_PATH characters). Returns 1 when the user chose a
// file-system folder, whose full path is then in `path`; 0 when the user
// cancelled, the picker could not run or the choice has no file-system path
// (`path` is then unchanged).
int BrowseForFolder(HWND owner, char* path);

}  // namespace ksvw
