// Command 2000 (F8): the key emulator, and what the main window does when
// it goes away.
#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"
#include "app/win32/commands.h"
#include "keyemu/win32/key_emulator.h"

namespace ksvw {

// The flag is set only when the key emulator really opened: a failed open
// must not leave downloads disabled until the program restarts.
void KeyEmulatorCommand(HWND) {
  if (!remoteLink) return;
  RegisterKeyEmulatorClasses();
  if (OpenKeyEmulator(remoteLink) >= 0) keyEmulatorOpen = true;
  UpdateCommandStates();
}

// The download command follows the link and the analyzer's status again.
void KeyEmulatorGone(CKSRemote4q*) {
  keyEmulatorOpen = false;
  UpdateCommandStates();
}

}  // namespace ksvw
