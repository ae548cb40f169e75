// The actions behind the commands of the main window (app/win32/commands.cpp
// holds the table that names them).
#pragma once

#include <windows.h>

namespace ksvw {

// Link (app/win32/main_window.cpp).
void ConnectCommand(HWND window);
void DisconnectCommand(HWND window);
void ExitCommand(HWND window);
void ToggleTimeColumnCommand(HWND window);

// Capture download, open and save (remote/win32/capture_files.cpp).
void DownloadCommand(HWND window);
void CancelTransferCommand(HWND window);
void OpenCaptureCommand(HWND window);
void SaveCaptureCommand(HWND window);

// Batch conversion dialog (convert/win32/conversion_dialog.cpp).
void ConvertCommand(HWND window);

// Key emulator (app/win32/key_emulator_command.cpp).
void KeyEmulatorCommand(HWND window);

// Search dialog and its repeat commands (capture/win32/search_dialog.cpp).
void SearchCommand(HWND window);
void FindPreviousCommand(HWND window);
void FindNextCommand(HWND window);

// Signal databases of the channels (signals/win32/signal_database_dialog.cpp).
void SignalDatabaseCommand(HWND window);

// Connection settings and about dialogs (settings/win32/).
void ConnectionSettingsCommand(HWND window);
void AboutCommand(HWND window);

}  // namespace ksvw
