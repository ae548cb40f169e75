// The key emulator's top-level frame: a rebar with the toolbar (save,
// copy, three image modes, main window) above the panel window.
#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>
#include <shlwapi.h>

#include "app/safe_format.h"
#include "app/win32/app_state.h"
#include "common/resource_ids.h"
#include "keyemu/win32/key_emulator.h"
#include "keyemu/win32/objects.h"
#include "remote/win32/ks_remote4q.h"

namespace ksvw::keyemu {

namespace {

constexpr DWORD kRebarStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN |
                              RBS_VARHEIGHT | RBS_BANDBORDERS | CCS_NODIVIDER;
constexpr DWORD kToolbarStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | TBSTYLE_FLAT |
                                TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NORESIZE;
constexpr DWORD kPanelStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
constexpr int kToolbarImages = 64;

struct ButtonRow {
  int image;
  int command;
  BYTE state;
  BYTE style;
  int text;  // index of the strings 19101.. added to the toolbar
};
const ButtonRow kButtons[] = {
    {14, IDC_SAVE_SCREEN, 0, BTNS_BUTTON, 0},
    {16, IDC_COPY_SCREEN, 0, BTNS_BUTTON, 1},
    {0, 0, 0, BTNS_SEP, -1},
    {8, IDC_IMAGE_MODE_0, TBSTATE_ENABLED, BTNS_CHECKGROUP, 2},
    {9, IDC_IMAGE_MODE_1, TBSTATE_ENABLED, BTNS_CHECKGROUP, 3},
    {10, IDC_IMAGE_MODE_2, TBSTATE_ENABLED, BTNS_CHECKGROUP, 4},
    {0, 0, 0, BTNS_SEP, -1},
    {18, IDC_SHOW_MAIN_WINDOW, TBSTATE_ENABLED, BTNS_BUTTON, 5},
};

HACCEL frameAccelerators = nullptr;

KeyEmuFrame* FrameOf(HWND window) {
  return ObjectOf<KeyEmuFrame>(window);
}

void ShowCaption(HWND window) {
  char caption[256];
  LoadLanguageString(IDS_KEYEMU_CAPTION, caption, sizeof caption);
  SetWindowTextA(window, caption);
}

// Each text from a zero-filled buffer: TB_ADDSTRING reads a list of
// strings that ends with an empty one.
void AddToolbarStrings(HWND toolbar) {
  for (int i = 0; i < IDS_KEYEMU_TOOLBAR_COUNT; ++i) {
    char text[257] = {};
    LoadLanguageString(IDS_KEYEMU_TOOLBAR_FIRST + i, text, 256);
    SendMessageA(toolbar, TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>(text));
  }
}

HWND CreateToolbar(HWND rebar) {
  HWND toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, "", kToolbarStyle, 0, 0, 0, 0, rebar,
                                 reinterpret_cast<HMENU>(kToolbarId), ModuleInstance(), nullptr);
  if (!toolbar) return nullptr;
  SendMessageA(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageA(toolbar, TB_SETINDENT, 2, 0);
  AddToolbarStrings(toolbar);
  TBADDBITMAP bitmap{ModuleInstance(), IDB_KEYEMU_TOOLBAR};
  SendMessageA(toolbar, TB_ADDBITMAP, kToolbarImages, reinterpret_cast<LPARAM>(&bitmap));
  SendMessageA(toolbar, TB_SETMAXTEXTROWS, 0, 0);
  TBBUTTON buttons[sizeof kButtons / sizeof kButtons[0]] = {};
  int n = 0;
  for (const ButtonRow& row : kButtons) {
    TBBUTTON& b = buttons[n++];
    b.iBitmap = row.image;
    b.idCommand = row.command;
    b.fsState = row.state;
    b.fsStyle = row.style;
    b.iString = row.text;
  }
  SendMessageA(toolbar, TB_ADDBUTTONSA, n, reinterpret_cast<LPARAM>(buttons));
  SendMessageA(toolbar, TB_AUTOSIZE, 0, 0);
  return toolbar;
}

void AddToolbarBand(HWND rebar, HWND toolbar) {
  SIZE max{};
  SendMessageA(toolbar, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&max));
  DWORD buttonSize = static_cast<DWORD>(SendMessageA(toolbar, TB_GETBUTTONSIZE, 0, 0));
  REBARBANDINFOA band{};
  band.cbSize = REBARBANDINFOA_V6_SIZE;
  band.fMask = RBBIM_STYLE | RBBIM_TEXT | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE;
  band.fStyle = RBBS_BREAK | RBBS_CHILDEDGE | RBBS_NOGRIPPER;
  char empty[1] = "";
  band.lpText = empty;
  band.hwndChild = toolbar;
  band.cxMinChild = static_cast<UINT>(max.cx);
  band.cx = static_cast<UINT>(max.cx);
  band.cyMinChild = HIWORD(buttonSize);
  SendMessageA(rebar, RB_INSERTBANDA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));
}

int Height(HWND window) {
  RECT r{};
  if (!window || !GetWindowRect(window, &r)) return 0;
  return r.bottom - r.top;
}

// The frame fits the panel and the rebar above it exactly.
void ApplyLayout(KeyEmuFrame* frame) {
  HWND panel = frame && frame->owner ? frame->owner->panel : nullptr;
  if (!panel) return;
  RECT outer{}, client{}, panelRect{};
  GetWindowRect(frame->window, &outer);
  GetClientRect(frame->window, &client);
  GetWindowRect(panel, &panelRect);
  const int rebarHeight = Height(frame->rebar);
  const int width = (outer.right - outer.left - client.right) + (panelRect.right - panelRect.left);
  const int height =
      (outer.bottom - outer.top - client.bottom) + (panelRect.bottom - panelRect.top) + rebarHeight;
  SetWindowPos(frame->window, nullptr, 0, 0, width, height,
               SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
  SetWindowPos(panel, nullptr, 0, rebarHeight, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
}

void TrimSystemMenu(HWND window) {
  HMENU menu = GetSystemMenu(window, FALSE);
  if (!menu) return;
  for (UINT item : {SC_RESTORE, SC_MAXIMIZE, SC_MINIMIZE, SC_SIZE})
    DeleteMenu(menu, item, MF_BYCOMMAND);
}

int ModeButton(int32_t mode) {
  return mode == 1 ? IDC_IMAGE_MODE_1 : mode == 2 ? IDC_IMAGE_MODE_2 : IDC_IMAGE_MODE_0;
}

LRESULT OnNcCreate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (KeyEmuFrame* frame = AttachObject<KeyEmuFrame>(window, lParam)) frame->window = window;
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT OnCreate(HWND window) {
  KeyEmuFrame* frame = FrameOf(window);
  if (!frame || !frame->owner) return -1;
  ShowCaption(window);
  frame->rebar =
      CreateWindowExA(WS_EX_TOOLWINDOW, REBARCLASSNAMEA, "", kRebarStyle, 0, 0, 0, 0, window,
                      reinterpret_cast<HMENU>(kRebarId), ModuleInstance(), nullptr);
  if (frame->rebar) {
    REBARINFO info{};
    info.cbSize = sizeof info;
    SendMessageA(frame->rebar, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&info));
    frame->toolbar = CreateToolbar(frame->rebar);
    if (frame->toolbar) AddToolbarBand(frame->rebar, frame->toolbar);
  }
  HWND panel = CreateWindowExA(0, kPanelClass, "", kPanelStyle, 0, 0, 0, 0, window,
                               reinterpret_cast<HMENU>(kPanelId), ModuleInstance(), frame->owner);
  if (!panel) return -1;
  TrimSystemMenu(window);
  if (frame->toolbar)
    SendMessageA(frame->toolbar, TB_SETSTATE, ModeButton(frame->owner->imageMode),
                 MAKELPARAM(TBSTATE_ENABLED | TBSTATE_CHECKED, 0));
  ApplyLayout(frame);
  return 0;
}

// Save and copy only while their buttons are enabled (the accelerators of
// table 148 arrive here too, whatever the buttons show).
bool ButtonEnabled(KeyEmuFrame* frame, int command) {
  return frame->toolbar && SendMessageA(frame->toolbar, TB_ISBUTTONENABLED, command, 0) != 0;
}

// --- What became of a save or a copy -----------------------------------------

constexpr UINT_PTR kCaptionTimer = 1;
constexpr UINT kCaptionShownMs = 4000;

// Success shows in the caption for a few seconds, beside the frame's name:
// a saved file's name first, then its folder (which a narrow frame cuts).
void ShowDone(HWND window, UINT what, const char* path) {
  char caption[128], done[128], text[MAX_PATH + 300];
  LoadLanguageString(IDS_KEYEMU_CAPTION, caption, sizeof caption);
  LoadLanguageString(what, done, sizeof done);
  if (path) {
    const char* name = PathFindFileNameA(path);
    const int folder = static_cast<int>(name - path) - (name > path ? 1 : 0);
    SafeFormat(text, sizeof text, "%s - %s %s %.*s", caption, name, done, folder, path);
  } else {
    SafeFormat(text, sizeof text, "%s - %s", caption, done);
  }
  SetWindowTextA(window, text);
  SetTimer(window, kCaptionTimer, kCaptionShownMs, nullptr);
}

// A failure opens a box: what failed, the file it concerned and why.
void ShowFailed(HWND window, UINT what, const char* path, int32_t result) {
  char caption[128], failed[256], why[256], text[MAX_PATH + 600];
  LoadLanguageString(IDS_KEYEMU_CAPTION, caption, sizeof caption);
  LoadLanguageString(what, failed, sizeof failed);
  ResultText(result, why, sizeof why);
  SafeFormat(text, sizeof text, "%s\n\n%s%s%s", failed, path && path[0] ? path : "",
             path && path[0] ? "\n" : "", why);
  MessageBoxA(window, text, caption, MB_ICONWARNING);
}

void SaveImage(KeyEmuFrame* frame) {
  char path[MAX_PATH];
  int32_t result = frame->owner->SaveScreenImage(path);
  if (result < 0)
    ShowFailed(frame->window, IDS_IMAGE_SAVE_FAILED, path, result);
  else
    ShowDone(frame->window, IDS_IMAGE_SAVED, path);
}

void CopyImage(KeyEmuFrame* frame) {
  int32_t result = frame->owner->CopyScreenImage();
  if (result < 0)
    ShowFailed(frame->window, IDS_IMAGE_COPY_FAILED, nullptr, result);
  else
    ShowDone(frame->window, IDS_IMAGE_COPIED, nullptr);
}

LRESULT OnTimer(HWND window, WPARAM id) {
  if (id != kCaptionTimer) return 0;
  KillTimer(window, kCaptionTimer);
  ShowCaption(window);
  return 0;
}

LRESULT OnCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  KeyEmuFrame* frame = FrameOf(window);
  KeyEmulator* owner = frame ? frame->owner : nullptr;
  if (!owner) return DefWindowProcA(window, message, wParam, lParam);
  switch (LOWORD(wParam)) {
    case IDC_SAVE_SCREEN:
      if (ButtonEnabled(frame, IDC_SAVE_SCREEN)) SaveImage(frame);
      return 0;
    case IDC_COPY_SCREEN:
      if (ButtonEnabled(frame, IDC_COPY_SCREEN)) CopyImage(frame);
      return 0;
    case IDC_IMAGE_MODE_0: owner->imageMode = 0; return 0;
    case IDC_IMAGE_MODE_1: owner->imageMode = 1; return 0;
    case IDC_IMAGE_MODE_2: owner->imageMode = 2; return 0;
    case IDC_SHOW_MAIN_WINDOW: owner->ShowMainWindow(); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

LRESULT OnSize(HWND window, WPARAM wParam, LPARAM lParam) {
  KeyEmuFrame* frame = FrameOf(window);
  if (frame && frame->rebar) SendMessageA(frame->rebar, WM_SIZE, wParam, lParam);
  return 0;
}

LRESULT OnSetFocus(HWND window) {
  KeyEmuFrame* frame = FrameOf(window);
  if (frame && frame->owner && frame->owner->panel) SetFocus(frame->owner->panel);
  return 0;
}

LRESULT OnLayoutChange(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ApplyLayout(FrameOf(window));
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT OnDestroy(HWND window) {
  if (KeyEmuFrame* frame = FrameOf(window)) frame->toolbar = frame->rebar = nullptr;
  return 0;
}

LRESULT OnNcDestroy(HWND window) {
  if (KeyEmuFrame* frame = FrameOf(window)) frame->window = nullptr;
  DetachObject<KeyEmuFrame>(window);
  return 0;
}

}  // namespace

LRESULT CALLBACK FrameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE: return OnNcCreate(window, message, wParam, lParam);
    case WM_CREATE: return OnCreate(window);
    case WM_COMMAND: return OnCommand(window, message, wParam, lParam);
    case WM_SIZE: return OnSize(window, wParam, lParam);
    case WM_TIMER: return OnTimer(window, wParam);
    case WM_SETFOCUS: return OnSetFocus(window);
    case WM_SETTINGCHANGE: return OnLayoutChange(window, message, wParam, lParam);
    case WM_STYLECHANGED: return OnLayoutChange(window, message, wParam, lParam);
    case WM_THEMECHANGED: return OnLayoutChange(window, message, wParam, lParam);
    case WM_DESTROY: return OnDestroy(window);
    case WM_NCDESTROY: return OnNcDestroy(window);
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace ksvw::keyemu

namespace ksvw {

// Table 148 belongs to the frame and every window inside it; the message
// loop asks here first, so Ctrl+C and Ctrl+S in the key emulator copy and
// save its image and never reach the main window's table.
bool TranslateKeyEmulatorAccelerator(MSG* message) {
  KeyEmulator* emulator = remoteLink ? remoteLink->CurrentKeyEmulator() : nullptr;
  HWND frame = emulator ? emulator->FrameWindow() : nullptr;
  if (!frame || !message->hwnd) return false;
  if (message->hwnd != frame && !IsChild(frame, message->hwnd)) return false;
  if (!keyemu::frameAccelerators)
    keyemu::frameAccelerators =
        LoadAcceleratorsA(keyemu::ModuleInstance(), MAKEINTRESOURCEA(IDA_KEY_EMULATOR));
  return keyemu::frameAccelerators &&
         TranslateAcceleratorA(frame, keyemu::frameAccelerators, message) != 0;
}

}  // namespace ksvw
