#include "keyemu/key_state.h"

namespace ksvw::keyemu {

void KeyState::Press(KeyReports& out) {
  if (pressed_) return;
  pressed_ = true;
  out.Add(KeyReport::Pressed);
}

void KeyState::ReleaseKey(KeyReports& out) {
  if (!pressed_) return;
  pressed_ = false;
  out.Add(KeyReport::Released);
}

void KeyState::Latch(KeyReports& out) {
  if (!Latching() || latched_) return;
  latched_ = true;
  out.Add(KeyReport::Latched);
}

void KeyState::Unlatch(KeyReports& out) {
  if (!Latching() || !latched_) return;
  latched_ = false;
  out.Add(KeyReport::Unlatched);
}

// A key the PC keyboard still holds stays pressed.
void KeyState::ForceUnlatch(KeyReports& out) {
  if (!Latching() || !latched_) return;
  latched_ = false;
  out.Add(KeyReport::Unlatched);
  if (!keyboard_) ReleaseKey(out);
}

void KeyState::Disable(KeyReports& out) {
  mouse_ = keyboard_ = false;
  ForceUnlatch(out);
  ReleaseKey(out);
}

void KeyState::Click(KeyReports& out) {
  if (!Latching()) {
    mouse_ = true;
    Press(out);
  } else if (latched_) {
    Unlatch(out);
    if (!keyboard_) ReleaseKey(out);
  } else {
    Press(out);
    Latch(out);
  }
}

void KeyState::MouseUp(KeyReports& out) {
  mouse_ = false;
  if (!keyboard_ && !latched_) ReleaseKey(out);
}

void KeyState::KeySet(bool down, KeyReports& out) {
  Unlatch(out);
  keyboard_ = down;
  if (down) {
    Press(out);
  } else if (!mouse_) {
    ReleaseKey(out);
  }
}

}  // namespace ksvw::keyemu
