// The state of one panel key and the reports its changes give the panel.
// Portable, so that the rules (a held key reports one press, SHIFT latches
// on a click, a release unlatches) are tested without windows; the Windows
// key posts the reports as WM_APP_KEY_* messages in the order given.
#pragma once

#include <cstdint>

namespace ksvw::keyemu {

enum class KeyReport : uint8_t { Pressed, Released, Latched, Unlatched };

// At most four reports come from one input (a latching key's click).
struct KeyReports {
  KeyReport items[4];
  int count = 0;
  void Add(KeyReport r) { items[count++] = r; }
};

class KeyState {
 public:
  explicit KeyState(uint32_t flags = 0) : flags_(flags) {}

  bool Latching() const { return (flags_ & 0x2) != 0; }
  bool Pressed() const { return pressed_; }
  bool Latched() const { return latched_; }
  // Bit 0 pressed, bit 7 latched.
  uint32_t StateBits() const { return (pressed_ ? 1u : 0u) | (latched_ ? 0x80u : 0u); }

  // Each appends its reports to `out`; an empty addition means no change
  // (and no repaint).
  void Press(KeyReports& out);
  void ReleaseKey(KeyReports& out);
  void Latch(KeyReports& out);
  void Unlatch(KeyReports& out);
  void ForceUnlatch(KeyReports& out);

  // A key is held by the mouse (a plain key's capture), by the PC keyboard,
  // or by its latch, and is pressed while anything holds it: held by the
  // mouse and the keyboard at once it reports one press, and one release
  // when both have let go.
  //
  // Left button down on an enabled key: a plain key is held (the caller
  // captures the mouse); a latching key toggles.
  void Click(KeyReports& out);
  // The plain key's mouse capture went (button up, or taken away).
  void MouseUp(KeyReports& out);
  // PC keyboard through the panel: down holds, up lets go; neither
  // latches, and a key already down reports nothing (auto-repeat).
  void KeySet(bool down, KeyReports& out);
  // The key is disabled (link lost): a latched key unlatches, and a key
  // still held (also from the PC keyboard, whose key-up will not come
  // through a disabled key) is released.
  void Disable(KeyReports& out);
  // Called on every WM_CREATE of the key's window.
  void ClearPressed() { pressed_ = mouse_ = keyboard_ = false; }

 private:
  uint32_t flags_;
  bool pressed_ = false;
  bool latched_ = false;
  bool mouse_ = false;
  bool keyboard_ = false;
};

// The value the panel sends for a reported press: SHIFT held adds 0x80,
// every press carries 0x8000 (SHIFT's own -1 stays 0xFFFFFFFF).
inline uint32_t KeyPressValue(int32_t code, bool shiftPressed) {
  uint32_t value = static_cast<uint32_t>(code);
  if (shiftPressed) value |= 0x80;
  return value | 0x8000;
}

}  // namespace ksvw::keyemu
