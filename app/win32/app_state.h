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
extern bool keyEmulatorOpen;
extern bool listHasData;
extern bool deltaTimeMode;  // the first list column shows "deltaT"

// Where the link stands, as far as the commands are concerned. Whether a
// download runs is the link's to say (CKSRemote4q::DownloadRunning).
enum class LinkPhase { NotConnected, Connecting, Connected, Disconnecting };
extern LinkPhase linkPhase;
extern bool analyzerMeasuring;   // status flag 0x100: the analyzer cannot hand over its capture
extern bool workingCopyShown;    // DATAFILE.TMP holds what the list shows (so Save may copy it)
extern bool searchConditionSet;  // the search dialog left a condition for 1009 and 1010

// The open and save dialogs' shared name buffers.
extern char chosenFilePath[260];
extern char chosenFileTitle[64];
// The executable's folder, the working file "DATAFILE.TMP" in it, and the
// file a download is written to until it has ended ("DATAFILE.NEW").
extern char executableFolder[MAX_PATH];
extern char temporaryFilePath[MAX_PATH];
extern char downloadFilePath[MAX_PATH];

// The product name, the caption of the program's own message boxes.
inline constexpr char kProductCaption[] = "KS-VW4QX";

// The program's one converter; its FormatListRow gives the list's cells.
TextConverter& Converter();

// String `id` of the language library into `buffer`; an empty text when
// there is no library or no such string. Returns the length.
size_t LoadLanguageString(UINT id, char* buffer, size_t capacity);

// Why an operation failed, for a message box: the system's words for a
// result that carries a Windows error (0x8007xxxx), otherwise
// "error 0xXXXXXXXX".
void ResultText(int32_t result, char* buffer, size_t capacity);

// Status bar part 0..2 := text (null: empty).
void SetStatusText(int part, const char* text);
// Status bar part := string `id` of the language library.
void SetStatusString(int part, UINT id);
// Status bar part 1 := "%u / %u" with a row and the last row index.
void SetStatusPosition(uint32_t row, uint32_t lastRow);

}  // namespace ksvw
