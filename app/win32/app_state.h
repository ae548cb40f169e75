// Process-wide state of the program, owned by the GUI thread: module
// handles, the main window and its children, the link, the application
// flags and the file name buffers.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace ksvw {

class CKSRemote4q;
class TextConverter;

// Start-up (WinMain).
extern HINSTANCE applicationInstance;
extern HMODULE languageLibrary;  // null when no language library could be loaded
extern LCID languageId;
extern HACCEL mainAccelerators;

// The main window and its children.
extern HWND mainWindow;
extern HWND mainToolbar;
extern HWND mainStatusBar;
extern HWND captureList;
extern CKSRemote4q* remoteLink;  // the one link object, while it exists

// Application flags.
extern int keyEmulatorOpen;
extern int listHasData;
extern int deltaTimeMode;

// The open and save dialogs' shared name buffers.
extern char chosenFilePath[260];
extern char chosenFileTitle[64];
// The executable's folder and the working file "DATAFILE.TMP" in it.
extern char executableFolder[MAX_PATH];
extern char temporaryFilePath[MAX_PATH];

// The program's one converter; its FormatListRow gives the list's cells.
TextConverter& Converter();

// String `id` of the language library into `buffer`; an empty text when
// there is no library or no such string. Returns the length.
size_t LoadLanguageString(UINT id, char* buffer, size_t capacity);

// Status bar part 0..2 := text (null: empty).
void SetStatusText(int part, const char* text);
// Status bar part := string `id` of the language library.
void SetStatusString(int part, UINT id);
// Status bar part 1 := "%u / %u" with a row and the last row index.
void SetStatusPosition(uint32_t row, uint32_t lastRow);

}  // namespace ksvw
