#include "app/win32/main_window.h"

#include <commctrl.h>

#include <new>

#include "app/safe_format.h"
#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"
#include "app/win32/commands.h"
#include "capture/capture_reader.h"
#include "capture/win32/capture_list.h"
#include "common/resource_ids.h"
#include "keyemu/win32/key_emulator.h"
#include "remote/win32/capture_files.h"
#include "remote/win32/ks_remote4q.h"
#include "settings/win32/settings_store.h"
#include "signals/win32/signal_view.h"

namespace ksvw {

namespace {

constexpr int kToolbarHeight = 27;
constexpr int kStatusBarId = 1;

// Set once the close sequence has run: the link and the remote library are
// gone, and a second WM_CLOSE or WM_DESTROY must not tear them down again.
bool closeDone = false;

void ErrorBox(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_ICONERROR);
}

void WarningWithString(HWND window, UINT textId, const char* caption) {
  char text[512];
  LoadLanguageString(textId, text, sizeof text);
  MessageBoxA(window, text, caption, MB_ICONWARNING);
}

void WarningWithCode(HWND window, UINT formatId, int32_t code, const char* caption) {
  char format[512], text[600];
  LoadLanguageString(formatId, format, sizeof format);
  FormatWithCode(text, sizeof text, format, code);
  MessageBoxA(window, text, caption, MB_ICONWARNING);
}

// The link's phase, the commands that follow it and the link status text.
void EnterPhase(LinkPhase phase) {
  linkPhase = phase;
  UpdateCommandStates();
  switch (phase) {
    case LinkPhase::NotConnected: SetStatusString(2, IDS_NOT_CONNECTED); break;
    case LinkPhase::Connecting: SetStatusString(2, IDS_CONNECTING); break;
    case LinkPhase::Connected: SetStatusString(2, IDS_CONNECTED); break;
    case LinkPhase::Disconnecting: SetStatusString(2, IDS_DISCONNECTING); break;
  }
}

// --- Creation -------------------------------------------------------------

LRESULT OnCreate(HWND window) {
  mainWindow = window;
  HMENU menu = languageLibrary ? LoadMenuA(languageLibrary, MAKEINTRESOURCEA(IDM_MAIN)) : nullptr;
  SetMenu(window, menu ? menu : CreateMenu());

  InitCommonControls();
  int count = 0;
  const TBBUTTON* buttons = ToolbarButtons(&count);
  // As many images declared as there are buttons (the bitmap holds one fewer).
  mainToolbar = CreateToolbarEx(window, WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS, 0, count,
                                applicationInstance, IDB_TOOLBAR, buttons, count, 0, 0, 16, 15,
                                sizeof(TBBUTTON));
  if (!mainToolbar) {
    ErrorBox("Error - ToolBarCreate", "KSVW4QX Toolbar");
    return 0;
  }
  SetWindowLongPtrA(mainToolbar, GWL_STYLE,
                    GetWindowLongPtrA(mainToolbar, GWL_STYLE) | TBSTYLE_FLAT);

  mainStatusBar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_BOTTOM, "",
                                      window, kStatusBarId);
  if (!mainStatusBar) {
    ErrorBox("Error - CreateStatusBar", "KSVW4QX Statusbar");
    return 0;
  }
  int edges[3] = {150, 400, -1};
  SendMessageA(mainStatusBar, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));

  captureList = CreateCaptureList(window);
  CreateSignalPane(window);
  listHasData = false;

  remoteLink = new (std::nothrow) CKSRemote4q(window, KSCreateRemote);
  if (!remoteLink) {
    ErrorBox("Error - new CKSRemote4q", "KSVW4QX");
    return 0;
  }
  remoteLink->SetStatusBar(mainStatusBar);
  if (remoteLink->Initialize(&currentConnectionSettings) < 0) {
    ErrorBox("Error - CKSRemote4q::Initialize", "KSVW4QX");
    return 0;
  }

  linkPhase = LinkPhase::NotConnected;
  UpdateCommandStates();

  deltaTimeMode = false;
  CheckMenuItem(GetMenu(window), IDC_DELTA_TIME, MF_BYCOMMAND | MF_UNCHECKED);
  keyEmulatorOpen = false;

  char title[256];
  LoadLanguageString(IDS_TITLE, title, sizeof title);
  SetWindowTextA(window, title);

  LoadStartupSettings(executableFolder);
  LoadSignalDatabasesAtStart(window);
  SetStatusString(2, IDS_NOT_CONNECTED);
  remoteLink->Initialize(&currentConnectionSettings);
  return 1;
}

// --- Layout and painting --------------------------------------------------

LRESULT OnSize(int width, int height) {
  int statusHeight = -1;
  RECT r;
  if (mainStatusBar && GetWindowRect(mainStatusBar, &r)) statusHeight = r.bottom - r.top;
  // With a signal database the signals pane takes the bottom of the list's place.
  const int listHeight = CaptureListHeight(height, statusHeight);
  const int paneHeight = SignalPaneShown() ? signals::SignalPaneHeight(listHeight) : 0;
  if (captureList)
    MoveWindow(captureList, 0, kToolbarHeight, width, listHeight - paneHeight, FALSE);
  LayoutSignalPane(0, kToolbarHeight + listHeight - paneHeight, width, paneHeight);
  return 1;
}

LRESULT OnPaint(HWND window, WPARAM wParam, LPARAM lParam) {
  // The bars dock themselves again on every paint.
  if (mainStatusBar) SendMessageA(mainStatusBar, WM_SIZE, wParam, lParam);
  if (mainToolbar) SendMessageA(mainToolbar, WM_SIZE, wParam, lParam);
  if (captureList) SendMessageA(captureList, WM_SIZE, wParam, lParam);
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);
  EndPaint(window, &paint);
  return 1;
}

LRESULT OnActivate(WPARAM wParam) {
  WORD how = LOWORD(wParam);
  if (how != WA_ACTIVE && how != WA_CLICKACTIVE) return 0;
  if (captureList) SetFocus(captureList);
  return 1;
}

LRESULT OnNotify(const NMHDR* header) {
  if (header && IsSignalPaneControl(header->hwndFrom)) return HandleSignalPaneNotify(header);
  return HandleCaptureListNotify(header);
}

LRESULT OnCommand(HWND window, WPARAM wParam) {
  return DispatchCommand(window, LOWORD(wParam)) ? 1 : 0;
}

// --- Closing --------------------------------------------------------------

LRESULT OnClose(HWND window) {
  if (closeDone) return 0;
  if (remoteLink && remoteLink->LinkState() == 1) {
    char text[512], caption[256];
    LoadLanguageString(IDS_CLOSE_WHILE_CONNECTED, text, sizeof text);
    LoadLanguageString(IDS_TITLE, caption, sizeof caption);
    if (MessageBoxA(window, text, caption, MB_YESNO | MB_ICONQUESTION) != IDYES) return 0;
    remoteLink->Disconnect();
  }
  // The key emulator goes before the link it posts to and sends through.
  CloseKeyEmulator(remoteLink);
  keyEmulatorOpen = false;
  listHasData = false;
  ReleaseCaptureImage(kReaderOpenedFile);
  delete remoteLink;
  remoteLink = nullptr;
  KSUninitializeRemote();
  closeDone = true;
  PostQuitMessage(0);
  return 0;
}

LRESULT OnNcDestroy() {
  delete remoteLink;
  remoteLink = nullptr;
  return 0;
}

// --- Messages from the link -----------------------------------------------

void ConnectFailed(HWND window, int32_t code) {
  UINT text = 0;
  switch (code) {
    case kErrHostNotFound: text = IDS_HOST_NOT_FOUND; break;
    case kErrTimeout: text = IDS_NO_ANSWER; break;
    case kErrAnalyzerBusy: text = IDS_ANALYZER_BUSY; break;
    case kErrVersionMismatch: text = IDS_VERSION_MISMATCH; break;
    case kErrNoOptionBoard: text = IDS_NO_OPTION_BOARD; break;
    default: break;
  }
  if (text)
    WarningWithString(window, text, kProductCaption);
  else
    WarningWithCode(window, IDS_CONNECT_FAILED_CODE, code, kProductCaption);
  EnterPhase(LinkPhase::NotConnected);
}

void Connected() {
  CountedRef<RemoteDevice> device;
  if (remoteLink->AcquireDevice(device.Put()) >= 0 && device)
    analyzerMeasuring = (device->GetStatusFlags() & kStatusMeasuring) != 0;
  EnterPhase(LinkPhase::Connected);
}

// The request and the device arrive with a reference of their own, which
// goes when the handling ends.
LRESULT OnRequestDone(HWND window, LPARAM lParam) {
  auto request = CountedRef<RemoteRequest>::Adopt(reinterpret_cast<RemoteRequest*>(lParam));
  if (!request) return 0;
  if (remoteLink) {
    if (request->requestType == kRequestConnect) {
      if (request->result >= 0)
        Connected();
      else
        ConnectFailed(window, request->result);
    } else if (request->requestType == kRequestDisconnect) {
      EnterPhase(LinkPhase::NotConnected);
    }
  }
  return 0;
}

// Only while the link exists: after the close sequence the library is
// uninitialised, so a device reference still in the queue is left alone.
LRESULT OnLinkClosed(LPARAM lParam) {
  if (!remoteLink) return 0;
  auto device = CountedRef<RemoteDevice>::Adopt(reinterpret_cast<RemoteDevice*>(lParam));
  if (device) device->Close();
  return 0;
}

LRESULT OnLinkLost(HWND window) {
  char caption[256];
  LoadLanguageString(IDS_CAPTION, caption, sizeof caption);
  WarningWithString(window, IDS_LINK_LOST, caption);
  EnterPhase(LinkPhase::NotConnected);
  return 0;
}

LRESULT OnStatusFlags(WPARAM flags) {
  analyzerMeasuring = (flags & kStatusMeasuring) != 0;
  UpdateCommandStates();
  return 0;
}

}  // namespace

int CaptureListHeight(int clientHeight, int statusBarHeight) {
  if (statusBarHeight < 0) return clientHeight - 46;
  return clientHeight - (statusBarHeight + kToolbarHeight);
}

// --- Commands of the link -------------------------------------------------

void ConnectCommand(HWND window) {
  EnterPhase(LinkPhase::Connecting);
  int32_t result = remoteLink ? remoteLink->Connect() : kErrPointer;
  if (result < 0) {
    // Failed at once: no result will follow, so nothing is connecting.
    char caption[256];
    LoadLanguageString(IDS_CAPTION, caption, sizeof caption);
    WarningWithCode(window, IDS_CONNECT_ERROR_CODE, result, caption);
    EnterPhase(LinkPhase::NotConnected);
  }
}

void DisconnectCommand(HWND) {
  EnterPhase(LinkPhase::Disconnecting);
  int32_t result = remoteLink ? remoteLink->Disconnect() : kErrPointer;
  if (result < 0) {
    // No request went out: the link stays as it is.
    bool connected = remoteLink && remoteLink->LinkState() == 1;
    EnterPhase(connected ? LinkPhase::Connected : LinkPhase::NotConnected);
    return;
  }
  SetStatusText(0, "");
}

void ExitCommand(HWND window) {
  PostMessageA(window, WM_DESTROY, 0, 0);
}

void ToggleTimeColumnCommand(HWND window) {
  HMENU menu = GetMenu(window);
  DWORD before = CheckMenuItem(menu, IDC_DELTA_TIME, MF_BYCOMMAND | MF_UNCHECKED);
  // Without the menu item the flag alone says which way to go.
  bool wasUnchecked =
      before == static_cast<DWORD>(-1) ? !deltaTimeMode : (before & MF_CHECKED) == 0;
  if (wasUnchecked) CheckMenuItem(menu, IDC_DELTA_TIME, MF_BYCOMMAND | MF_CHECKED);
  deltaTimeMode = wasUnchecked;
  RetitleTimeColumn();
  InvalidateRect(window, nullptr, FALSE);
}

// --- The window procedure -------------------------------------------------

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_SIZE: return OnSize(LOWORD(lParam), HIWORD(lParam));
    case WM_PAINT: return OnPaint(window, wParam, lParam);
    case WM_ACTIVATE: return OnActivate(wParam);
    case WM_NOTIFY: return OnNotify(reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND: return OnCommand(window, wParam);
    case WM_CLOSE: return OnClose(window);
    case WM_DESTROY: return OnClose(window);
    case WM_NCDESTROY: return OnNcDestroy();
    case WM_APP_REQUEST_DONE: return OnRequestDone(window, lParam);
    case WM_APP_LINK_STATE: return 0;
    case WM_APP_LINK_CLOSED: return OnLinkClosed(lParam);
    case WM_APP_DOWNLOAD_DONE: return OnDownloadDone(window, static_cast<int32_t>(wParam));
    case WM_APP_DOWNLOAD_STEP: return OnDownloadStep(wParam);
    case WM_APP_DOWNLOAD_PROGRESS: return OnDownloadProgress(wParam, lParam);
    case WM_APP_LINK_LOST: return OnLinkLost(window);
    case WM_APP_STATUS_FLAGS: return OnStatusFlags(wParam);
    case WM_APP_SIGNALS_REPORT: return ReportSignalDatabaseFailures(window);
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace ksvw
