// Entry point: single instance, process preparation (common controls, the
// remote library, the language library), the main window and the message
// loop.
#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include "app/safe_format.h"
#include "app/win32/app_state.h"
#include "app/win32/main_window.h"
#include "common/files.h"
#include "common/resource_ids.h"
#include "keyemu/win32/key_emulator.h"
#include "remote/ksvwrmt.h"
#include "remote/win32/capture_files.h"
#include "settings/win32/settings_store.h"

namespace ksvw {

namespace {

constexpr int kWindowWidth = 745;
constexpr int kWindowHeight = 500;
constexpr WORD kFallbackLanguage = 1033;

// The running instance, restored and in front, with whatever dialog it has
// open. True when there was one.
bool HandOverToRunningInstance() {
  HWND running = FindWindowA(kMainWindowClass, nullptr);
  if (!running) return false;
  if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
  SetForegroundWindow(GetLastActivePopup(running));
  return true;
}

void StartupErrorBox(const char* text) {
  // No language library yet: the caption comes out empty.
  char caption[256];
  LoadLanguageString(IDS_CAPTION, caption, sizeof caption);
  MessageBoxA(nullptr, text, caption, MB_ICONERROR);
}

int32_t LoadLanguageLibrary() {
  char name[260];
  SafeFormat(name, sizeof name, "ksvw4q%04d.dll", static_cast<int>(languageId & 0xFFFF));
  languageLibrary = LoadLibraryA(name);
  if (!languageLibrary) {
    languageId = kFallbackLanguage;
    SafeFormat(name, sizeof name, "ksvw4q%04d.dll", static_cast<int>(languageId & 0xFFFF));
    languageLibrary = LoadLibraryA(name);
  }
  if (!languageLibrary) return ResultFromSystemError(GetLastError());
  return 0;
}

int32_t InitializeApplication() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_COOL_CLASSES;
  if (!InitCommonControlsEx(&controls)) {
    StartupErrorBox("Error - InitCommonControlsEx");
    return 0;
  }
  if (KSInitializeRemote() < 0) {
    StartupErrorBox("Error - KSInitializeRemote");
    return 0;
  }
  int32_t result = LoadLanguageLibrary();
  if (result < 0) return result;
  return 1;
}

// Where SETTING.ini and DATAFILE.TMP live: the executable's folder.
void FindExecutableFolder() {
  if (!ModuleFolder(nullptr, executableFolder, sizeof executableFolder)) executableFolder[0] = '\0';
  if (!JoinPath(executableFolder, kTemporaryFileName, temporaryFilePath, sizeof temporaryFilePath))
    temporaryFilePath[0] = '\0';
  if (!JoinPath(executableFolder, kDownloadFileName, downloadFilePath, sizeof downloadFilePath))
    downloadFilePath[0] = '\0';
}

// The main window's accelerators are for the main window and its children
// only: in the key emulator, Ctrl+S must not open the DT save dialog nor
// Shift+F6 disconnect.
bool IsMainWindowMessage(HWND window) {
  return window && (window == mainWindow || IsChild(mainWindow, window));
}

int RunMessageLoop() {
  MSG message;
  BOOL got;
  while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0) {
    // -1: the loop cannot go on, and there is no quit message to read.
    if (got == -1) return -1;
    if (TranslateKeyEmulatorAccelerator(&message)) continue;
    if (IsMainWindowMessage(message.hwnd) &&
        TranslateAcceleratorA(mainWindow, mainAccelerators, &message))
      continue;
    if (IsDialogMessageA(mainWindow, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int Main(HINSTANCE instance) {
  if (HandOverToRunningInstance()) return 0;
  applicationInstance = instance;
  languageId = GetUserDefaultLCID();
  FindExecutableFolder();
  InitializeApplication();

  WNDCLASSA windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = kMainWindowClass;
  if (!RegisterClassA(&windowClass)) return 0;

  RECT desktop;
  GetWindowRect(GetDesktopWindow(), &desktop);
  HWND window =
      CreateWindowExA(0, kMainWindowClass, "ksvw4q", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                      (desktop.right - kWindowWidth) / 2, (desktop.bottom - kWindowHeight) / 2,
                      kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (!window) return -1;
  mainWindow = window;
  mainAccelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDA_MAIN));

  int exitCode = RunMessageLoop();
  if (languageLibrary) FreeLibrary(languageLibrary);
  languageLibrary = nullptr;
  return exitCode;
}

}  // namespace ksvw

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return ksvw::Main(instance);
}
