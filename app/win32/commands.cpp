#include "app/win32/commands.h"

#include "app/resource_ids.h"
#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"

namespace ksvw {

namespace {

constexpr BYTE kEnabled = TBSTATE_ENABLED;
constexpr BYTE kIndeterminate = TBSTATE_INDETERMINATE;

// When each command is usable. Nothing that touches the link or the files
// is usable while a download runs.
bool Idle() {
  return !downloadRunning;
}
bool CanOpen() {
  return Idle() && linkPhase != LinkPhase::Connecting;
}
bool CanSave() {
  return Idle() && listHasData != 0 && workingCopyShown;
}
bool CanConnect() {  // also the connection settings
  return Idle() && linkPhase == LinkPhase::NotConnected;
}
bool CanDisconnect() {
  return Idle() && linkPhase == LinkPhase::Connected;
}
bool CanDownload() {
  return CanDisconnect() && !analyzerMeasuring && keyEmulatorOpen == 0;
}
bool HasRecords() {
  return listHasData != 0;
}
bool CanSearchAgain() {
  return HasRecords() && searchConditionSet;
}

const Command kCommands[] = {
    {IDC_OPEN, 4, IDS_TIP_OPEN, kEnabled, true, OpenCaptureCommand, CanOpen},
    {IDC_SAVE, 12, IDS_TIP_SAVE, kIndeterminate, true, SaveCaptureCommand, CanSave},
    {0, -1, -1, 0, true, nullptr, nullptr},
    {IDC_CONNECT, 0, IDS_TIP_CONNECT, kEnabled, true, ConnectCommand, CanConnect},
    {IDC_DISCONNECT, 1, IDS_TIP_DISCONNECT, kIndeterminate, true, DisconnectCommand, CanDisconnect},
    {IDC_DOWNLOAD, 2, IDS_TIP_DOWNLOAD, kIndeterminate, true, DownloadCommand, CanDownload},
    {IDC_CONNECTION_SETTINGS, 8, IDS_TIP_SETTINGS, kEnabled, true, ConnectionSettingsCommand,
     CanConnect},
    {0, -1, -1, 0, true, nullptr, nullptr},
    {IDC_SEARCH, 5, IDS_TIP_SEARCH, kEnabled, true, SearchCommand, HasRecords},
    {IDC_SEARCH_UP, 6, IDS_TIP_SEARCH_UP, kEnabled, true, FindPreviousCommand, CanSearchAgain},
    {IDC_SEARCH_DOWN, 7, IDS_TIP_SEARCH_DOWN, kEnabled, true, FindNextCommand, CanSearchAgain},
    {0, -1, -1, 0, true, nullptr, nullptr},
    {IDC_CONVERT, 10, IDS_TIP_CONVERT, kEnabled, true, ConvertCommand, nullptr},
    {IDC_KEY_EMULATOR, 11, IDS_TIP_KEY_EMULATOR, kEnabled, true, KeyEmulatorCommand, Idle},
    // Menu and accelerators only.
    {IDC_CANCEL_TRANSFER, -1, 0, 0, false, CancelTransferCommand, nullptr},
    {IDC_EXIT, -1, 0, 0, false, ExitCommand, nullptr},
    {IDC_ABOUT, -1, 0, 0, false, AboutCommand, nullptr},
    {IDC_DELTA_TIME, -1, 0, 0, false, ToggleTimeColumnCommand, nullptr},
    {IDC_SIGNAL_DATABASE, -1, 0, 0, false, SignalDatabaseCommand, nullptr},
};

constexpr int kToolbarButtonCount = [] {
  int n = 0;
  for (const Command& c : kCommands) n += c.onToolbar ? 1 : 0;
  return n;
}();

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

void EnableCommand(UINT id) {
  SetButtonState(id, TBSTATE_ENABLED);
  SetMenuState(id, MF_ENABLED);
}

void DisableCommand(UINT id) {
  SetButtonState(id, TBSTATE_INDETERMINATE);
  SetMenuState(id, MF_GRAYED | MF_DISABLED);
}

}  // namespace

const Command* CommandTable(size_t* count) {
  if (count) *count = sizeof kCommands / sizeof kCommands[0];
  return kCommands;
}

const TBBUTTON* ToolbarButtons(int* count) {
  static TBBUTTON buttons[kToolbarButtonCount];
  int n = 0;
  for (const Command& c : kCommands) {
    if (!c.onToolbar) continue;
    TBBUTTON b{};
    b.iBitmap = c.image;
    b.idCommand = static_cast<int>(c.id);
    b.fsState = c.id ? c.state : 0;
    b.fsStyle = c.id ? BTNS_BUTTON : BTNS_SEP;
    b.iString = -1;
    buttons[n++] = b;
  }
  if (count) *count = n;
  return buttons;
}

void UpdateCommandStates() {
  for (const Command& c : kCommands) {
    if (!c.usable) continue;
    if (c.usable())
      EnableCommand(c.id);
    else
      DisableCommand(c.id);
  }
}

// A command that is not usable now does nothing, whichever way it came
// (a key, a posted message, or a menu without its language library).
bool DispatchCommand(HWND window, UINT id) {
  const Command* c = Find(id);
  if (!c) return false;
  if (c->handler && (!c->usable || c->usable())) c->handler(window);
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

}  // namespace ksvw
