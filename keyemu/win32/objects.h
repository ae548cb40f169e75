// The key emulator's counted objects and what their windows share: the
// KeyEmulator (held by the link while its panel exists), its frame, art,
// keys and LCD. Each window keeps a reference to its object from
// WM_NCCREATE to WM_NCDESTROY; the KeyEmulator holds its parts in
// CountedRef fields, so each release also clears its field.
#pragma once

#include <windows.h>

#include <cstdint>
#include <new>
#include <utility>

#include "common/counted_ref.h"
#include "keyemu/key_state.h"
#include "keyemu/key_tables.h"
#include "keyemu/lcd_display.h"

namespace ksvw {

class CKSRemote4q;
class KeyEmulator;

namespace keyemu {

inline constexpr char kFrameClass[] = "KESTRIN_ksvw4q_WindowClass_KeyEmuFrame";
inline constexpr char kPanelClass[] = "KESTRIN_ksvw4q_WindowClass_KeyEmuWindow";
inline constexpr char kKeyClass[] = "KESTRIN_ksvw4q_WindowClass_KeyEmuKey";
inline constexpr char kLcdClass[] = "KESTRIN_ksvw4q_WindowClass_KeyEmuLcd";

inline constexpr int kRebarId = 101;
inline constexpr int kToolbarId = 102;
inline constexpr int kPanelId = 201;
inline constexpr int kLcdId = 30000;

// Messages of the panel (from keys) and of a key (from the panel).
inline constexpr UINT WM_APP_KEY_SET = WM_APP + 0;
inline constexpr UINT WM_APP_KEY_PRESSED = WM_APP + 2;
inline constexpr UINT WM_APP_KEY_RELEASED = WM_APP + 3;
inline constexpr UINT WM_APP_KEY_LATCHED = WM_APP + 5;
inline constexpr UINT WM_APP_KEY_UNLATCHED = WM_APP + 6;

// Interlocked reference count; the object goes with its last release.
class Counted {
 public:
  ULONG AddRef() { return static_cast<ULONG>(InterlockedIncrement(&count_)); }
  ULONG Release() {
    LONG n = InterlockedDecrement(&count_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;

 protected:
  Counted() = default;
  virtual ~Counted() = default;

 private:
  LONG count_ = 0;
};

// A new counted object with its first reference; empty when memory runs out.
template <class T, class... Args>
CountedRef<T> MakeCounted(Args&&... args) {
  return CountedRef<T>::Share(new (std::nothrow) T(std::forward<Args>(args)...));
}

class KeyEmuFrame : public Counted {
 public:
  explicit KeyEmuFrame(KeyEmulator* owner) : owner(owner) {}
  KeyEmulator* owner;  // not counted
  HWND window = nullptr;
  HWND toolbar = nullptr;
  HWND rebar = nullptr;
};

// The panel background (bitmap 1) and the key sheet (bitmap 2).
class KeyEmuArt : public Counted {
 public:
  ~KeyEmuArt() override { Unload(); }
  // Loads bitmaps 111 and 112; false (both unloaded) when either fails.
  // `reloaded` tells whether anything changed.
  bool Load(HINSTANCE instance, bool* reloaded);
  // Deletes both bitmaps; safe to repeat.
  void Unload();
  HBITMAP Bitmap(int which) const { return bitmaps_[which]; }
  // The width and height of bitmap `which` (0 when none).
  SIZE Size(int which) const;

 private:
  bool LoadOne(HINSTANCE instance, int which, int id, bool* reloaded);
  struct InfoBlock {
    BITMAPV4HEADER header;
    RGBQUAD colours[256];
  };
  int ids_[2] = {-1, -1};
  HBITMAP bitmaps_[2] = {};
  InfoBlock info_[2] = {};
};

class KeyEmuKey : public Counted {
 public:
  KeyEmuKey(KeyEmulator* owner, int32_t id, uint32_t flags, int32_t code)
      : owner(owner), id(id), code(code), state(flags) {}
  HWND CreateKeyWindow(HWND parent, int x, int y);
  void SetEnabled(bool enable);
  void ForceUnlatch();
  bool Pressed() const { return state.Pressed(); }

  KeyEmulator* owner;  // not counted
  int32_t id;
  int32_t code;
  HWND window = nullptr;
  KeyState state;
  // Repaints and posts the reports to the panel.
  void Report(const KeyReports& reports);
};

class KeyEmuLcd : public Counted {
 public:
  KeyEmuLcd(KeyEmulator* owner, int id);
  HWND CreateLcdWindow(HWND parent, int x, int y);
  void SetImage(const uint8_t* screen);
  void SetActive(bool active);
  void Paint(HDC dc, const RECT& client) const;
  const LcdDisplay& Display() const { return display_; }

  KeyEmulator* owner;  // not counted
  int id;
  HWND window = nullptr;
  bool active = false;

 private:
  struct DisplayInfo {
    BITMAPV4HEADER header;
    RGBQUAD colours[4];
  };
  DisplayInfo info_{};
  LcdDisplay display_;
};

}  // namespace keyemu

class KeyEmulator : public keyemu::Counted {
 public:
  explicit KeyEmulator(CKSRemote4q* link) : link(link) {}
  ~KeyEmulator() override;

  void ApplyLinkState();
  void RefreshLcd();
  void SendKeyCode(uint32_t value);
  void ReleaseLatchedKeys();
  void ShowMainWindow();
  // Saves the LCD image in a new file; `path` (MAX_PATH characters) gets
  // its name, or on failure the name tried ("" when none was).
  int32_t SaveScreenImage(char* path);
  int32_t CopyScreenImage();
  // The frame object, created once.
  int32_t CreateFrameObject();
  HWND FrameWindow() const { return frame ? frame->window : nullptr; }
  HWND Toolbar() const { return frame ? frame->toolbar : nullptr; }

  CKSRemote4q* link;  // not counted: the link outlives its key emulator
  HWND panel = nullptr;
  CountedRef<keyemu::KeyEmuArt> art;
  HWND tooltip = nullptr;
  CountedRef<keyemu::KeyEmuFrame> frame;
  CountedRef<keyemu::KeyEmuLcd> lcd;
  CountedRef<keyemu::KeyEmuKey> keys[keyemu::kKeyCount];
  uint8_t screen[kScreenBytes] = {};
  int32_t imageMode = 0;
};

namespace keyemu {

// --- Window helpers -----------------------------------------------------------

// WM_NCCREATE: stores the object from the creation parameter in the
// window, takes a reference and records the window.
template <class T>
T* AttachObject(HWND window, LPARAM lParam) {
  auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
  T* object = static_cast<T*>(create->lpCreateParams);
  if (!object) return nullptr;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
  object->AddRef();
  return object;
}
template <class T>
T* ObjectOf(HWND window) {
  return reinterpret_cast<T*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}
// WM_NCDESTROY: clears the window's user data and gives the reference back.
template <class T>
void DetachObject(HWND window) {
  T* object = ObjectOf<T>(window);
  SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  if (object) object->Release();
}

HINSTANCE ModuleInstance();
// An HRESULT from GetLastError (E_FAIL when it says nothing).
int32_t LastErrorResult();

LRESULT CALLBACK FrameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK PanelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK KeyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LcdWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace keyemu
}  // namespace ksvw
