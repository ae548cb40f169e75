// Command 2000 (F8): the key emulator, and what the main window does when
// it goes away.
#include "app/resource_ids.h"
#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"
#include "app/win32/commands.h"
#include "keyemu/win32/key_emulator.h"
#include "remote/win32/ks_remote4q.h"

namespace ksvw {

// The flag is set only when the key emulator really opened: a failed open
// must not leave downloads disabled until the program restarts.
void KeyEmulatorCommand(HWND) {
  if (!remoteLink) return;
  DisableCommand(IDC_DOWNLOAD);
  RegisterKeyEmulatorClasses();
  if (OpenKeyEmulator(remoteLink) >= 0) keyEmulatorOpen = 1;
}

// The download command follows the link again, unless the analyzer is
// measuring (its status flags keep the command then).
void KeyEmulatorGone(CKSRemote4q* link) {
  keyEmulatorOpen = 0;
  if (!link) return;
  RemoteDevice* device = nullptr;
  if (link->AcquireDevice(&device) >= 0 && device) {
    const bool measuring = (device->GetStatusFlags() & kStatusMeasuring) != 0;
    device->Release();
    if (measuring) return;
  }
  if (link->LinkState() == 1) {
    EnableCommand(IDC_DOWNLOAD);
  } else {
    DisableCommand(IDC_DOWNLOAD);
  }
}

}  // namespace ksvw
