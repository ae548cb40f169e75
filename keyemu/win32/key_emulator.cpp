// The KeyEmulator object: opening and closing, the link state, the LCD
// refresh and the key codes sent to the analyzer.
#include "keyemu/win32/key_emulator.h"

#include <commctrl.h>

#include <cstring>
#include <new>

#include "app/win32/app_state.h"
#include "common/resource_ids.h"
#include "keyemu/win32/objects.h"
#include "remote/win32/ks_remote4q.h"

namespace ksvw {

using namespace keyemu;

namespace {

constexpr DWORD kFrameStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;

int32_t RegisterOne(const char* name, WNDPROC proc, HICON large, HICON small) {
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = proc;
  c.hInstance = ModuleInstance();
  c.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  c.hIcon = large;
  c.hIconSm = small;
  c.lpszClassName = name;
  if (RegisterClassExA(&c)) return 0;
  if (GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return 0;
  return LastErrorResult();
}

void BringForward(HWND frame) {
  if (!frame) return;
  if (IsIconic(frame)) ShowWindow(frame, SW_RESTORE);
  SetForegroundWindow(frame);
}

}  // namespace

namespace keyemu {

HINSTANCE ModuleInstance() {
  return GetModuleHandleA(nullptr);
}

int32_t LastErrorResult() {
  DWORD e = GetLastError();
  return e ? ResultFromSystemError(e) : kErrFail;
}

}  // namespace keyemu

// --- Lifetime ---------------------------------------------------------------

KeyEmulator::~KeyEmulator() {
  for (auto& key : keys) key.Reset();
  lcd.Reset();
  art.Reset();
  KeyEmulatorGone(link);
  frame.Reset();
}

int32_t KeyEmulator::CreateFrameObject() {
  if (frame) return 0;
  frame = MakeCounted<KeyEmuFrame>(this);
  return frame ? 0 : kErrOutOfMemory;
}

// Shared icons: the main window calls this before every opening, and a
// class registered already must not cost a pair of icons each time.
int32_t RegisterKeyEmulatorClasses() {
  HINSTANCE instance = ModuleInstance();
  HICON large = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDI_KEY_EMULATOR), IMAGE_ICON, 32, 32, LR_SHARED));
  HICON small = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDI_KEY_EMULATOR), IMAGE_ICON, 16, 16, LR_SHARED));
  int32_t result = RegisterOne(kKeyClass, KeyWindowProc, nullptr, nullptr);
  if (result >= 0) result = RegisterOne(kLcdClass, LcdWindowProc, nullptr, nullptr);
  if (result >= 0) result = RegisterOne(kFrameClass, FrameWindowProc, large, small);
  if (result >= 0) result = RegisterOne(kPanelClass, PanelWindowProc, nullptr, nullptr);
  return result;
}

// The open holds a reference of its own while it works: a panel whose
// creation fails releases the link's reference (and clears the link's
// field) in its WM_DESTROY, before CreateWindowEx has even returned here.
int32_t OpenKeyEmulator(CKSRemote4q* link) {
  if (!link) return kErrPointer;
  if (KeyEmulator* open = link->CurrentKeyEmulator()) {
    BringForward(open->FrameWindow());
    return 1;
  }
  CountedRef<KeyEmulator> emulator = MakeCounted<KeyEmulator>(link);  // ours
  if (!emulator) return kErrOutOfMemory;
  emulator->AddRef();  // the link's
  link->SetKeyEmulator(emulator.get(), nullptr);
  int32_t result = emulator->CreateFrameObject();
  if (result >= 0) {
    HWND frame = CreateWindowExA(WS_EX_TOOLWINDOW, kFrameClass, "", kFrameStyle, 0, 0, 640, 480,
                                 nullptr, nullptr, ModuleInstance(), emulator->frame.get());
    if (frame) {
      ShowWindow(frame, SW_SHOWNORMAL);
    } else {
      result = kErrFail;
    }
  }
  if (result < 0) {
    emulator->frame.Reset();
    if (link->CurrentKeyEmulator() == emulator.get()) {
      link->SetKeyEmulator(nullptr, nullptr);
      emulator->Release();  // the link's
    }
  }
  return result;
}

void CloseKeyEmulator(CKSRemote4q* link) {
  // Held while the windows go: the panel's destruction lets the link's go.
  auto emulator = CountedRef<KeyEmulator>::Share(link ? link->CurrentKeyEmulator() : nullptr);
  if (!emulator) return;
  if (HWND frame = emulator->FrameWindow()) {
    DestroyWindow(frame);
  } else if (emulator->panel) {
    DestroyWindow(emulator->panel);
  }
}

// --- Operations ---------------------------------------------------------------

void KeyEmulator::ApplyLinkState() {
  const bool connected = link->LinkState() == 1;
  if (!connected) link->UpdateMonitorInterval(kMonitorStop);
  if (HWND toolbar = Toolbar()) {
    SendMessageA(toolbar, TB_ENABLEBUTTON, IDC_SAVE_SCREEN, MAKELPARAM(connected, 0));
    SendMessageA(toolbar, TB_ENABLEBUTTON, IDC_COPY_SCREEN, MAKELPARAM(connected, 0));
  }
  for (const auto& key : keys)
    if (key) key->SetEnabled(connected);
  if (lcd) lcd->SetActive(connected);
  if (connected) link->UpdateMonitorInterval(kMonitorStart);
}

// Screens that did not change are not drawn again: the analyzer reports
// its screen every monitoring interval, and a repaint costs a full
// transfer of the display bitmap.
void KeyEmulator::RefreshLcd() {
  uint8_t fresh[kScreenBytes];
  {
    CountedRef<RemoteDevice> device;
    if (link->AcquireDevice(device.Put()) < 0 || !device) return;
    std::memcpy(fresh, screen, sizeof fresh);
    device->CopyScreen(fresh, kScreenBytes);
  }
  if (std::memcmp(fresh, screen, sizeof fresh) == 0) return;
  std::memcpy(screen, fresh, sizeof fresh);
  if (lcd) lcd->SetImage(screen);
}

void KeyEmulator::SendKeyCode(uint32_t value) {
  CountedRef<RemoteDevice> device;
  if (link->AcquireDevice(device.Put()) < 0 || !device) return;
  CountedRef<RemoteRequest> request;
  if (device->CreateRequest(request.Put()) < 0 || !request) return;
  request->requestType = kRequestKeyPress;
  request->dataCode = static_cast<int32_t>(value);
  device->Submit(request.get());
}

void KeyEmulator::ReleaseLatchedKeys() {
  for (const auto& key : keys)
    if (key) key->ForceUnlatch();
}

void KeyEmulator::ShowMainWindow() {
  HWND owner = link->OwnerWindow();
  if (!owner) return;
  SetForegroundWindow(owner);
  if (IsIconic(owner)) ShowWindow(owner, SW_RESTORE);
  if (captureList) SetFocus(captureList);
}

}  // namespace ksvw
