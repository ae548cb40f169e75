#include "app/win32/commands.h"

#include "app/resource_ids.h"
#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"

namespace ksvw {

namespace {

constexpr BYTE kEnabled = TBSTATE_ENABLED;
constexpr BYTE kIndeterminate = TBSTATE_INDETERMINATE;

// The conversion and key emulator commands have their ids, menu items and
// buttons, but no action yet.
const Command kCommands[] = {
    {IDC_OPEN, 4, IDS_TIP_OPEN, kEnabled, true, OpenCaptureCommand},
    {IDC_SAVE, 12, IDS_TIP_SAVE, kIndeterminate, true, SaveCaptureCommand},
    {0, -1, -1, 0, true, nullptr},
    {IDC_CONNECT, 0, IDS_TIP_CONNECT, kEnabled, true, ConnectCommand},
    {IDC_DISCONNECT, 1, IDS_TIP_DISCONNECT, kIndeterminate, true, DisconnectCommand},
    {IDC_DOWNLOAD, 2, IDS_TIP_DOWNLOAD, kIndeterminate, true, DownloadCommand},
    {IDC_CONNECTION_SETTINGS, 8, IDS_TIP_SETTINGS, kEnabled, true, ConnectionSettingsCommand},
    {0, -1, -1, 0, true, nullptr},
    {IDC_SEARCH, 5, IDS_TIP_SEARCH, kEnabled, true, SearchCommand},
    {IDC_SEARCH_UP, 6, IDS_TIP_SEARCH_UP, kEnabled, true, FindPreviousCommand},
    {IDC_SEARCH_DOWN, 7, IDS_TIP_SEARCH_DOWN, kEnabled, true, FindNextCommand},
    {0, -1, -1, 0, true, nullptr},
    {IDC_CONVERT, 10, IDS_TIP_CONVERT, kEnabled, true, nullptr},
    {IDC_KEY_EMULATOR, 11, IDS_TIP_KEY_EMULATOR, kEnabled, true, nullptr},
    // Menu and accelerators only.
    {IDC_CANCEL_TRANSFER, -1, 0, 0, false, CancelTransferCommand},
    {IDC_EXIT, -1, 0, 0, false, ExitCommand},
    {IDC_ABOUT, -1, 0, 0, false, AboutCommand},
    {IDC_DELTA_TIME, -1, 0, 0, false, ToggleTimeColumnCommand},
};

const Command* Find(UINT id) {
  if (id == 0) return nullptr;
  for (const Command& c : kCommands)
    if (c.id == id) return &c;
  return nullptr;
}

void SetButtonState(UINT id, BYTE state) {
  if (mainToolbar) SendMessageA(mainToolbar, TB_SETSTATE, id, MAKELPARAM(state, 0));
}

void SetMenuState(UINT id, UINT flags) {
  HMENU menu = mainWindow ? GetMenu(mainWindow) : nullptr;
  if (menu) EnableMenuItem(menu, id, MF_BYCOMMAND | flags);
}

}  // namespace

const Command* CommandTable(size_t* count) {
  if (count) *count = sizeof kCommands / sizeof kCommands[0];
  return kCommands;
}

size_t ToolbarButtons(TBBUTTON* buttons, size_t capacity) {
  size_t n = 0;
  for (const Command& c : kCommands) {
    if (!c.onToolbar || n >= capacity) continue;
    TBBUTTON b{};
    b.iBitmap = c.image;
    b.idCommand = static_cast<int>(c.id);
    b.fsState = c.id ? c.state : 0;
    b.fsStyle = c.id ? BTNS_BUTTON : BTNS_SEP;
    b.iString = -1;
    buttons[n++] = b;
  }
  return n;
}

bool DispatchCommand(HWND window, UINT id) {
  const Command* c = Find(id);
  if (!c) return false;
  if (c->handler) c->handler(window);
  return true;
}

LRESULT AnswerToolbarTooltip(NMTTDISPINFOA* info) {
  const Command* c = Find(static_cast<UINT>(info->hdr.idFrom));
  if (c && c->onToolbar && c->tooltip > 0 && languageLibrary) {
    info->hinst = languageLibrary;
    info->lpszText = MAKEINTRESOURCEA(c->tooltip);
  }
  return 0;
}

void EnableCommand(UINT id) {
  SetButtonState(id, TBSTATE_ENABLED);
  SetMenuState(id, MF_ENABLED);
}

void DisableCommand(UINT id) {
  SetButtonState(id, TBSTATE_INDETERMINATE);
  SetMenuState(id, MF_GRAYED | MF_DISABLED);
}

void EnableToolbarButton(UINT id) {
  SetButtonState(id, TBSTATE_ENABLED);
}
void DisableToolbarButton(UINT id) {
  SetButtonState(id, TBSTATE_INDETERMINATE);
}

}  // namespace ksvw
