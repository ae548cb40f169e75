#include "app/win32/app_state.h"

#include <commctrl.h>

#include "app/safe_format.h"
#include "capture/capture_reader.h"
#include "convert/text_converter.h"

namespace ksvw {

HINSTANCE applicationInstance = nullptr;
HMODULE languageLibrary = nullptr;
LCID languageId = 0;
HACCEL mainAccelerators = nullptr;

HWND mainWindow = nullptr;
HWND mainToolbar = nullptr;
HWND mainStatusBar = nullptr;
HWND captureList = nullptr;
CKSRemote4q* remoteLink = nullptr;

bool keyEmulatorOpen = false;
bool listHasData = false;
bool deltaTimeMode = false;

LinkPhase linkPhase = LinkPhase::NotConnected;
bool analyzerMeasuring = false;
bool workingCopyShown = true;
bool searchConditionSet = false;

char chosenFilePath[260] = {};
char chosenFileTitle[64] = {};
char executableFolder[MAX_PATH] = {};
char temporaryFilePath[MAX_PATH] = {};
char downloadFilePath[MAX_PATH] = {};

TextConverter& Converter() {
  static TextConverter converter(conversionReader, viewerReader);
  return converter;
}

size_t LoadLanguageString(UINT id, char* buffer, size_t capacity) {
  if (!buffer || capacity == 0) return 0;
  buffer[0] = '\0';
  if (!languageLibrary) return 0;
  int n = LoadStringA(languageLibrary, id, buffer, static_cast<int>(capacity));
  if (n < 0) n = 0;
  buffer[static_cast<size_t>(n) < capacity ? n : capacity - 1] = '\0';
  return static_cast<size_t>(n);
}

void ResultText(int32_t result, char* buffer, size_t capacity) {
  if (!buffer || capacity == 0) return;
  buffer[0] = '\0';
  const auto code = static_cast<uint32_t>(result);
  DWORD n = 0;
  if ((code & 0xFFFF0000u) == 0x80070000u)
    n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       code & 0xFFFFu, 0, buffer, static_cast<DWORD>(capacity), nullptr);
  // The system's text ends in a line break.
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' '))
    buffer[--n] = '\0';
  if (n == 0) SafeFormat(buffer, capacity, "error 0x%08X", code);
}

void SetStatusText(int part, const char* text) {
  if (mainStatusBar)
    SendMessageA(mainStatusBar, SB_SETTEXTA, static_cast<WPARAM>(part),
                 reinterpret_cast<LPARAM>(text ? text : ""));
}

void SetStatusString(int part, UINT id) {
  char text[256];
  LoadLanguageString(id, text, sizeof text);
  SetStatusText(part, text);
}

void SetStatusPosition(uint32_t row, uint32_t lastRow) {
  char text[32];
  SafeFormat(text, sizeof text, "%u / %u", row, lastRow);
  SetStatusText(1, text);
}

}  // namespace ksvw
