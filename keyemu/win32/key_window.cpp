// One key of the panel: a 39 x 25 child window drawn from the key sheet.
// A plain key is pressed while the left button is held on it (it keeps the
// mouse capture); SHIFT toggles with each click. Reports are posted to the
// panel, which sends the codes.
#include "keyemu/win32/objects.h"
#include "remote/ksvwrmt.h"

namespace ksvw::keyemu {

namespace {

constexpr DWORD kKeyStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
// The raster operation "destination OR pattern" (DPo).
constexpr DWORD kDestinationOrPattern = 0x00FA0089;

UINT ReportMessage(KeyReport report) {
  switch (report) {
    case KeyReport::Pressed: return WM_APP_KEY_PRESSED;
    case KeyReport::Released: return WM_APP_KEY_RELEASED;
    case KeyReport::Latched: return WM_APP_KEY_LATCHED;
    default: return WM_APP_KEY_UNLATCHED;
  }
}

KeyEmuKey* KeyOf(HWND window) {
  return ObjectOf<KeyEmuKey>(window);
}

LRESULT OnNcCreate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (KeyEmuKey* key = AttachObject<KeyEmuKey>(window, lParam)) key->window = window;
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT OnCreate(HWND window) {
  if (KeyEmuKey* key = KeyOf(window)) key->state.ClearPressed();
  return 0;
}

// A disabled key (the link is down) is drawn washed out: every other pixel
// of its picture white, in a checkerboard from its top-left corner.
void WashOut(HDC dc, const RECT& client) {
  static const WORD kChecker[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};
  HBITMAP pattern = CreateBitmap(8, 8, 1, 1, kChecker);
  HBRUSH brush = pattern ? CreatePatternBrush(pattern) : nullptr;
  if (brush) {
    // A monochrome pattern draws its 1 bits in the background colour.
    COLORREF text = SetTextColor(dc, RGB(0, 0, 0));
    COLORREF back = SetBkColor(dc, RGB(255, 255, 255));
    HGDIOBJ old = SelectObject(dc, brush);
    PatBlt(dc, 0, 0, client.right, client.bottom, kDestinationOrPattern);
    SelectObject(dc, old);
    SetBkColor(dc, back);
    SetTextColor(dc, text);
    DeleteObject(brush);
  }
  if (pattern) DeleteObject(pattern);
}

LRESULT OnPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  KeyEmuKey* key = KeyOf(window);
  HBITMAP sheet = key && key->owner && key->owner->art ? key->owner->art->Bitmap(1) : nullptr;
  int32_t x = 0, y = 0;
  if (dc && sheet && KeySpriteCorner(key->id, key->state.Pressed(), key->state.Latched(), &x, &y)) {
    HDC memory = CreateCompatibleDC(dc);
    if (memory) {
      HGDIOBJ old = SelectObject(memory, sheet);
      RECT client;
      GetClientRect(window, &client);
      BitBlt(dc, 0, 0, client.right, client.bottom, memory, x, y, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
      if (!IsWindowEnabled(window)) WashOut(dc, client);
    }
  }
  EndPaint(window, &paint);
  return 0;
}

LRESULT OnButtonDown(HWND window) {
  KeyEmuKey* key = KeyOf(window);
  if (!key || !IsWindowEnabled(window)) return 0;
  if (!key->state.Latching()) SetCapture(window);
  KeyReports reports;
  key->state.Click(reports);
  key->Report(reports);
  return 0;
}

LRESULT OnButtonUp(HWND window) {
  if (GetCapture() == window) ReleaseCapture();
  return 0;
}

LRESULT OnCaptureChanged(HWND window) {
  if (KeyEmuKey* key = KeyOf(window)) {
    KeyReports reports;
    key->state.MouseUp(reports);
    key->Report(reports);
  }
  return 0;
}

LRESULT OnKeySet(HWND window, WPARAM down) {
  KeyEmuKey* key = KeyOf(window);
  if (!key || !IsWindowEnabled(window)) return 0;
  KeyReports reports;
  key->state.KeySet(down != 0, reports);
  key->Report(reports);
  return 0;
}

LRESULT OnNcDestroy(HWND window) {
  if (KeyEmuKey* key = KeyOf(window)) key->window = nullptr;
  DetachObject<KeyEmuKey>(window);
  return 0;
}

}  // namespace

HWND KeyEmuKey::CreateKeyWindow(HWND parent, int x, int y) {
  if (window) return nullptr;
  return CreateWindowExA(0, kKeyClass, "", kKeyStyle, x, y, kKeyWidth, kKeyHeight, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), this);
}

void KeyEmuKey::Report(const KeyReports& reports) {
  if (reports.count == 0) return;
  if (window) InvalidateRect(window, nullptr, FALSE);
  HWND panel = owner ? owner->panel : nullptr;
  if (!panel) return;
  for (int i = 0; i < reports.count; ++i)
    PostMessageA(panel, ReportMessage(reports.items[i]), static_cast<WPARAM>(id),
                 static_cast<LPARAM>(code));
}

// Disabling releases whatever the key holds: the mouse capture (which
// releases a plain key), a latch, and a press from the PC keyboard whose
// key-up a disabled key would never see. Either way the key is drawn
// again, enabled or washed out.
void KeyEmuKey::SetEnabled(bool enable) {
  if (window && !enable && GetCapture() == window) ReleaseCapture();
  if (window) {
    EnableWindow(window, enable ? TRUE : FALSE);
    InvalidateRect(window, nullptr, FALSE);
  }
  if (enable) return;
  KeyReports reports;
  state.Disable(reports);
  Report(reports);
}

void KeyEmuKey::ForceUnlatch() {
  KeyReports reports;
  state.ForceUnlatch(reports);
  Report(reports);
}

LRESULT CALLBACK KeyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE: return OnNcCreate(window, message, wParam, lParam);
    case WM_CREATE: return OnCreate(window);
    case WM_PAINT: return OnPaint(window);
    case WM_LBUTTONDOWN: return OnButtonDown(window);
    case WM_LBUTTONUP: return OnButtonUp(window);
    case WM_CAPTURECHANGED: return OnCaptureChanged(window);
    case WM_APP_KEY_SET: return OnKeySet(window, wParam);
    case WM_DESTROY: return OnButtonUp(window);
    case WM_NCDESTROY: return OnNcDestroy(window);
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace ksvw::keyemu
