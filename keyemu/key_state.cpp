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

void KeyState::ForceUnlatch(KeyReports& out) {
  if (!Latching() || !latched_) return;
  latched_ = false;
  out.Add(KeyReport::Unlatched);
  if (pressed_) {
    pressed_ = false;
    out.Add(KeyReport::Released);
  }
}

void KeyState::Disable(KeyReports& out) {
  ForceUnlatch(out);
  ReleaseKey(out);
}

void KeyState::Click(KeyReports& out) {
  if (!Latching()) {
    Press(out);
  } else if (pressed_) {
    Unlatch(out);
    ReleaseKey(out);
  } else {
    Press(out);
    Latch(out);
  }
}

void KeyState::KeySet(bool down, KeyReports& out) {
  Unlatch(out);
  if (down) {
    Press(out);
  } else {
    ReleaseKey(out);
  }
}

}  // namespace ksvw::keyemu
