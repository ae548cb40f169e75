#include "app/win32/commands.h"

#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"
#include "common/resource_ids.h"
#include "remote/win32/ks_remote4q.h"

namespace ksvw {

namespace {

constexpr BYTE kEnabled = TBSTATE_ENABLED;
constexpr BYTE kIndeterminate = TBSTATE_INDETERMINATE;

// When each command is usable. Nothing that touches the link or the files
// is usable while a download runs.
bool Idle() {
  return !(remoteLink && remoteLink->DownloadRunning());
}
bool CanOpen() {
  return Idle() && linkPhase != LinkPhase::Connecting;
}
bool CanSave() {
  return Idle() && listHasData && workingCopyShown;
}
bool CanConnect() {  // also the connection settings
  return Idle() && linkPhase == LinkPhase::NotConnected;
}
bool CanDisconnect() {
  return Idle() && linkPhase == LinkPhase::Connected;
}
bool CanDownload() {
  return CanDisconnect() && !analyzerMeasuring && !keyEmulatorOpen;
}
bool HasRecords() {
  return listHasData;
}
bool CanSearchAgain() {
  return HasRecords() && searchConditionSet;
}

constexpr Command kSeparator{.tooltip = -1, .onToolbar = true};

// Toolbar entries first, in their order; then the menu's and accelerators'.
// A command takes two lines (clang-format would give each field a line of
// its own).
// clang-format off
const Command kCommands[] = {
    {.id = IDC_OPEN, .image = 4, .tooltip = IDS_TIP_OPEN, .state = kEnabled,
     .onToolbar = true, .handler = OpenCaptureCommand, .usable = CanOpen},
    {.id = IDC_SAVE, .image = 12, .tooltip = IDS_TIP_SAVE, .state = kIndeterminate,
     .onToolbar = true, .handler = SaveCaptureCommand, .usable = CanSave},
    kSeparator,
    {.id = IDC_CONNECT, .image = 0, .tooltip = IDS_TIP_CONNECT, .state = kEnabled,
     .onToolbar = true, .handler = ConnectCommand, .usable = CanConnect},
    {.id = IDC_DISCONNECT, .image = 1, .tooltip = IDS_TIP_DISCONNECT, .state = kIndeterminate,
     .onToolbar = true, .handler = DisconnectCommand, .usable = CanDisconnect},
    {.id = IDC_DOWNLOAD, .image = 2, .tooltip = IDS_TIP_DOWNLOAD, .state = kIndeterminate,
     .onToolbar = true, .handler = DownloadCommand, .usable = CanDownload},
    {.id = IDC_CONNECTION_SETTINGS, .image = 8, .tooltip = IDS_TIP_SETTINGS, .state = kEnabled,
     .onToolbar = true, .handler = ConnectionSettingsCommand, .usable = CanConnect},
    kSeparator,
    {.id = IDC_SEARCH, .image = 5, .tooltip = IDS_TIP_SEARCH, .state = kEnabled,
     .onToolbar = true, .handler = SearchCommand, .usable = HasRecords},
    {.id = IDC_SEARCH_UP, .image = 6, .tooltip = IDS_TIP_SEARCH_UP, .state = kEnabled,
     .onToolbar = true, .handler = FindPreviousCommand, .usable = CanSearchAgain},
    {.id = IDC_SEARCH_DOWN, .image = 7, .tooltip = IDS_TIP_SEARCH_DOWN, .state = kEnabled,
     .onToolbar = true, .handler = FindNextCommand, .usable = CanSearchAgain},
    kSeparator,
    {.id = IDC_CONVERT, .image = 10, .tooltip = IDS_TIP_CONVERT, .state = kEnabled,
     .onToolbar = true, .handler = ConvertCommand},
    {.id = IDC_KEY_EMULATOR, .image = 11, .tooltip = IDS_TIP_KEY_EMULATOR, .state = kEnabled,
     .onToolbar = true, .handler = KeyEmulatorCommand, .usable = Idle},
    {.id = IDC_CANCEL_TRANSFER, .handler = CancelTransferCommand},
    {.id = IDC_EXIT, .handler = ExitCommand},
    {.id = IDC_ABOUT, .handler = AboutCommand},
    {.id = IDC_DELTA_TIME, .handler = ToggleTimeColumnCommand},
    {.id = IDC_SIGNAL_DATABASE, .handler = SignalDatabaseCommand},
};
// clang-format on

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
