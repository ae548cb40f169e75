// The key emulator's panel: the front-panel picture with its 36 keys and
// the LCD. It turns key reports into key codes for the analyzer, the PC
// keyboard into key presses, and the link's notifications into the link
// state and LCD refreshes.
#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>

#include <new>

#include "app/win32/app_state.h"
#include "keyemu/win32/key_emulator.h"
#include "keyemu/win32/objects.h"
#include "remote/win32/ks_remote4q.h"

namespace ksvw::keyemu {

namespace {

// The six models whose status-bar text the link knows.
bool SupportedModel(int32_t model) {
  return ModelText(model) != nullptr;
}

KeyEmulator* EmulatorOf(HWND window) {
  return ObjectOf<KeyEmulator>(window);
}

// Model check and art. Failing here fails the panel and so the frame.
int32_t LoadArt(HWND window, KeyEmulator* ke) {
  if (!ke->art) {
    ke->art = MakeCounted<KeyEmuArt>();
    if (!ke->art) return kErrOutOfMemory;
  }
  if (!SupportedModel(ke->link->ReadIdentity(nullptr))) return kErrFail;
  bool reloaded = false;
  if (!ke->art->Load(ModuleInstance(), &reloaded)) return kErrFail;
  if (reloaded) {
    InvalidateRect(window, nullptr, FALSE);
    for (const auto& key : ke->keys)
      if (key && key->window) InvalidateRect(key->window, nullptr, FALSE);
  }
  return 0;
}

void AddTooltip(KeyEmulator* ke, HWND keyWindow, int32_t id) {
  if (!ke->tooltip || !keyWindow) return;
  char text[256];
  LoadLanguageString(static_cast<UINT>(id), text, sizeof text);
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = ke->panel;
  tool.uId = reinterpret_cast<UINT_PTR>(keyWindow);
  tool.lpszText = text;
  SendMessageA(ke->tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void CreateKeys(HWND window, KeyEmulator* ke) {
  for (int slot = 0; slot < kKeyCount; ++slot) {
    const KeyLayoutRow& row = KeyLayoutTable[slot];
    CountedRef<KeyEmuKey>& key = ke->keys[slot];
    key = MakeCounted<KeyEmuKey>(ke, row.id, row.flags, row.code);
    if (key) AddTooltip(ke, key->CreateKeyWindow(window, row.x, row.y), row.id);
  }
}

void CreateLcd(HWND window, KeyEmulator* ke) {
  ke->lcd = MakeCounted<KeyEmuLcd>(ke, kLcdId);
  if (ke->lcd) ke->lcd->CreateLcdWindow(window, kLcdWindowX, kLcdWindowY);
}

LRESULT OnNcCreate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (KeyEmulator* ke = AttachObject<KeyEmulator>(window, lParam)) {
    ke->panel = window;
    ke->link->SetKeyEmulator(ke, window);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT OnCreate(HWND window) {
  KeyEmulator* ke = EmulatorOf(window);
  if (!ke || LoadArt(window, ke) < 0) return -1;
  SIZE size = ke->art->Size(0);
  SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ke->tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window,
                                nullptr, ModuleInstance(), nullptr);
  CreateKeys(window, ke);
  CreateLcd(window, ke);
  ke->ApplyLinkState();
  ke->RefreshLcd();
  return 0;
}

// Monitoring stops first; the link forgets the key emulator before its
// reference goes, so no library thread posts to a dead panel.
LRESULT OnDestroy(HWND window) {
  KeyEmulator* ke = EmulatorOf(window);
  if (!ke) return 0;
  ke->link->UpdateMonitorInterval(kMonitorStop);
  if (ke->art) ke->art->Unload();
  ke->tooltip = nullptr;
  if (ke->link->CurrentKeyEmulator() == ke) {
    ke->link->SetKeyEmulator(nullptr, nullptr);
    ke->Release();  // the link's
  }
  return 0;
}

LRESULT OnNcDestroy(HWND window) {
  if (KeyEmulator* ke = EmulatorOf(window)) {
    for (auto& key : ke->keys) key.Reset();
    ke->lcd.Reset();
    ke->art.Reset();
    ke->panel = nullptr;
  }
  DetachObject<KeyEmulator>(window);
  return 0;
}

LRESULT OnPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  KeyEmulator* ke = EmulatorOf(window);
  HBITMAP background = ke && ke->art ? ke->art->Bitmap(0) : nullptr;
  if (dc && background) {
    HDC memory = CreateCompatibleDC(dc);
    if (memory) {
      HGDIOBJ old = SelectObject(memory, background);
      RECT client;
      GetClientRect(window, &client);
      BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
    }
  }
  EndPaint(window, &paint);
  return 0;
}

KeyEmuKey* KeyById(KeyEmulator* ke, int32_t id) {
  for (const auto& key : ke->keys)
    if (key && key->id == id) return key.get();
  return nullptr;
}

bool VirtualKeyDown(int32_t virtualKey) {
  return GetKeyState(virtualKey) < 0;
}

// Ctrl and Alt combinations are the frame's (Ctrl+C copies): they never
// press the analyzer's keys. A key-up lets go only when no other PC key of
// the same panel key is down (both Shift keys arrive as VK_SHIFT; their
// own states tell them apart).
LRESULT OnKey(HWND window, WPARAM virtualKey, bool down) {
  KeyEmulator* ke = EmulatorOf(window);
  if (!ke) return 0;
  if (down && (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0)) return 0;
  const int32_t id = KeyIdForVirtualKey(static_cast<int32_t>(virtualKey));
  if (!down && KeyboardStillHolds(id, VirtualKeyDown)) return 0;
  KeyEmuKey* key = KeyById(ke, id);
  if (key && key->window) SendMessageA(key->window, WM_APP_KEY_SET, down ? 1 : 0, 0);
  return 0;
}

LRESULT OnKillFocus(HWND window) {
  KeyEmulator* ke = EmulatorOf(window);
  if (!ke) return 0;
  for (const KeyLayoutRow& row : KeyLayoutTable) {
    KeyEmuKey* key = KeyById(ke, row.id);
    if (key && key->window) SendMessageA(key->window, WM_APP_KEY_SET, 0, 0);
  }
  return 0;
}

LRESULT OnKeyPressed(HWND window, LPARAM code) {
  KeyEmulator* ke = EmulatorOf(window);
  if (!ke) return 0;
  const bool shift = ke->keys[0] && ke->keys[0]->Pressed();
  ke->SendKeyCode(KeyPressValue(static_cast<int32_t>(code), shift));
  return 0;
}

LRESULT OnKeyReleased(HWND window) {
  if (KeyEmulator* ke = EmulatorOf(window)) ke->ReleaseLatchedKeys();
  return 0;
}

LRESULT OnNotify(HWND window, WPARAM what) {
  KeyEmulator* ke = EmulatorOf(window);
  if (!ke) return 0;
  if (what == kNotifyLinkState) ke->ApplyLinkState();
  if (what == kNotifyScreen) ke->RefreshLcd();
  return 0;
}

void RelayToTooltip(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  KeyEmulator* ke = EmulatorOf(window);
  if (!ke || !ke->tooltip) return;
  MSG relayed{window, message, wParam, lParam, static_cast<DWORD>(GetMessageTime()), {}};
  DWORD position = GetMessagePos();
  relayed.pt = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
  SendMessageA(ke->tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
}

LRESULT OnMouse(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  RelayToTooltip(window, message, wParam, lParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK PanelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE: return OnNcCreate(window, message, wParam, lParam);
    case WM_CREATE: return OnCreate(window);
    case WM_DESTROY: return OnDestroy(window);
    case WM_NCDESTROY: return OnNcDestroy(window);
    case WM_PAINT: return OnPaint(window);
    case WM_KEYDOWN: return OnKey(window, wParam, true);
    case WM_KEYUP: return OnKey(window, wParam, false);
    case WM_KILLFOCUS: return OnKillFocus(window);
    case WM_APP_KEYEMU_NOTIFY: return OnNotify(window, wParam);
    case WM_APP_KEY_PRESSED: return OnKeyPressed(window, lParam);
    case WM_APP_KEY_RELEASED: return OnKeyReleased(window);
    case WM_APP_KEY_LATCHED: return 0;
    case WM_APP_KEY_UNLATCHED: return 0;
    case WM_MOUSEMOVE: return OnMouse(window, message, wParam, lParam);
    case WM_LBUTTONDOWN: return OnMouse(window, message, wParam, lParam);
    case WM_LBUTTONUP: return OnMouse(window, message, wParam, lParam);
    case WM_RBUTTONDOWN: return OnMouse(window, message, wParam, lParam);
    case WM_RBUTTONUP: return OnMouse(window, message, wParam, lParam);
    case WM_MBUTTONDOWN: return OnMouse(window, message, wParam, lParam);
    case WM_MBUTTONUP: return OnMouse(window, message, wParam, lParam);
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace ksvw::keyemu
