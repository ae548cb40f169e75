// The LCD: the analyzer's 240 x 64 screen doubled into a 482 x 130 4-bit
// bitmap with its drop shadow (keyemu/lcd_display.h), painted in one
// transfer; the plain background colour while the link is down.
#include "keyemu/win32/objects.h"
#include "remote/ksvwrmt.h"

namespace ksvw::keyemu {

namespace {

constexpr DWORD kLcdStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;

KeyEmuLcd* LcdOf(HWND window) {
  return ObjectOf<KeyEmuLcd>(window);
}

LRESULT OnNcCreate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (KeyEmuLcd* lcd = AttachObject<KeyEmuLcd>(window, lParam)) lcd->window = window;
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT OnPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  KeyEmuLcd* lcd = LcdOf(window);
  if (dc && lcd) {
    RECT client;
    GetClientRect(window, &client);
    lcd->Paint(dc, client);
  }
  EndPaint(window, &paint);
  return 0;
}

LRESULT OnNcDestroy(HWND window) {
  if (KeyEmuLcd* lcd = LcdOf(window)) lcd->window = nullptr;
  DetachObject<KeyEmuLcd>(window);
  return 0;
}

}  // namespace

KeyEmuLcd::KeyEmuLcd(KeyEmulator* owner, int id) : owner(owner), id(id) {
  info_.header.bV4Size = sizeof(BITMAPV4HEADER);
  info_.header.bV4Width = kDisplayWidth;
  info_.header.bV4Height = -kDisplayHeight;  // top row first
  info_.header.bV4Planes = 1;
  info_.header.bV4BitCount = 4;
  info_.header.bV4V4Compression = BI_RGB;
  info_.header.bV4ClrUsed = 4;
  for (int i = 0; i < 4; ++i)
    info_.colours[i] = {kLcdPalette[i].blue, kLcdPalette[i].green, kLcdPalette[i].red, 0};
}

HWND KeyEmuLcd::CreateLcdWindow(HWND parent, int x, int y) {
  if (window) return nullptr;
  return CreateWindowExA(0, kLcdClass, "", kLcdStyle, x, y, kDisplayWidth, kDisplayHeight, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), this);
}

void KeyEmuLcd::SetImage(const uint8_t* screen) {
  display_.SetImage(screen);
  if (window) InvalidateRect(window, nullptr, FALSE);
}

void KeyEmuLcd::SetActive(bool value) {
  if (active == value) return;
  active = value;
  if (window) InvalidateRect(window, nullptr, FALSE);
}

// The DC brush is the display's background: nothing to create or leak on
// each paint.
void KeyEmuLcd::Paint(HDC dc, const RECT& client) const {
  if (active) {
    SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(client.right), static_cast<DWORD>(client.bottom),
                      0, 0, 0, kDisplayHeight, display_.Pixels(),
                      reinterpret_cast<const BITMAPINFO*>(&info_), DIB_RGB_COLORS);
    return;
  }
  const Rgb& b = kLcdPalette[kLcdBackground];
  COLORREF old = SetDCBrushColor(dc, RGB(b.red, b.green, b.blue));
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  SetDCBrushColor(dc, old);
}

LRESULT CALLBACK LcdWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE: return OnNcCreate(window, message, wParam, lParam);
    case WM_CREATE: return 0;
    case WM_DESTROY: return 0;
    case WM_PAINT: return OnPaint(window);
    case WM_NCDESTROY: return OnNcDestroy(window);
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace ksvw::keyemu
