// The main window: frame with toolbar, capture list and status bar; its
// window procedure creates the children and the link, dispatches the
// commands and reacts to the link's messages.
#pragma once

#include <windows.h>

namespace ksvw {

inline constexpr char kMainWindowClass[] = "ksvw4";

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Layout rule: the list's height for a client height and the status bar's
// window height (-1: the status bar's rectangle could not be read).
int CaptureListHeight(int clientHeight, int statusBarHeight);

}  // namespace ksvw
