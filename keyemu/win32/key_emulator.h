// The key emulator: a tool window with the analyzer's front panel, its 36
// keys and a live copy of its LCD, opened by the main window's command
// 2000 (F8). Everything here runs on the GUI thread; the link's event
// handlers only post WM_APP_KEYEMU_NOTIFY to the panel window.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ksvw {

class CKSRemote4q;

// Registers the key, LCD, frame and panel classes in that order and stops
// at the first failure. A class already registered stays usable.
int32_t RegisterKeyEmulatorClasses();
// 1 when the link's key emulator existed and was brought to the front, 0
// when a new one opened, negative when it could not (nothing stays open).
int32_t OpenKeyEmulator(CKSRemote4q* link);
// Destroys the link's key emulator window, if there is one.
void CloseKeyEmulator(CKSRemote4q* link);

// Message loop: translates accelerator table 148 for messages of the key
// emulator's frame and the windows inside it. True when the message was
// translated (and so is not to be dispatched).
bool TranslateKeyEmulatorAccelerator(MSG* message);

// Called when the last reference to a key emulator goes, also after a
// failed open (keyEmulatorOpen cleared, command states derived again);
// defined by the application.
void KeyEmulatorGone(CKSRemote4q* link);

}  // namespace ksvw
