// The about dialog (command 40012): string 81 in control 2280.
#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"
#include "common/resource_ids.h"

namespace ksvw {

namespace {

constexpr size_t kAboutTextCapacity = 64;

INT_PTR OnInitAbout(HWND dialog) {
  char text[kAboutTextCapacity];
  LoadLanguageString(IDS_ABOUT_TEXT, text, sizeof text);
  SetDlgItemTextA(dialog, IDT_ABOUT_TEXT, text);
  // Reported as not handled, so the dialog manager sets no initial focus.
  return FALSE;
}

INT_PTR OnAboutCommand(HWND dialog, WORD id) {
  if (id != IDOK && id != IDCANCEL) return FALSE;
  EndDialog(dialog, 0);
  return TRUE;
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return OnInitAbout(dialog);
    case WM_COMMAND: return OnAboutCommand(dialog, LOWORD(wParam));
    default: return FALSE;
  }
}

}  // namespace

void AboutCommand(HWND window) {
  if (!languageLibrary) return;
  DialogBoxParamA(languageLibrary, MAKEINTRESOURCEA(IDD_ABOUT), window, AboutDialogProc, 0);
}

}  // namespace ksvw
