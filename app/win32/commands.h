// The one table of the main window's commands: it makes the toolbar, gives
// the tooltips, dispatches WM_COMMAND from menu, toolbar and accelerators,
// and says when each command is usable.
#pragma once

#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <cstddef>

namespace ksvw {

using CommandHandler = void (*)(HWND window);
// Whether a command is usable now, from the program's state (app_state.h).
using CommandUsable = bool (*)();

struct Command {
  UINT id = 0;                       // 0: a toolbar separator
  int image = -1;                    // toolbar image; -1: separator or not on the toolbar
  int tooltip = 0;                   // language-library string of the tooltip
  BYTE state = 0;                    // toolbar state at creation
  bool onToolbar = false;            // false: menu and accelerators only
  CommandHandler handler = nullptr;  // null: a command without an action yet
  CommandUsable usable = nullptr;    // null: always as created
};

// The table, toolbar entries first in their order.
const Command* CommandTable(size_t* count);

// The toolbar's buttons and separators in order (`count` of them).
const TBBUTTON* ToolbarButtons(int* count);

// Every command's toolbar button and menu item from the program's state
// (app_state.h): called wherever that state changes. A command is disabled
// by setting its button to TBSTATE_INDETERMINATE and greying its menu item.
void UpdateCommandStates();

// WM_COMMAND: true when `id` is a command of the table (its handler, if
// any, has run when the command is usable).
bool DispatchCommand(HWND window, UINT id);

// TTN_NEEDTEXTA from the toolbar: the tooltip's string in the language
// library. Result 0.
LRESULT AnswerToolbarTooltip(NMTTDISPINFOA* info);

}  // namespace ksvw
