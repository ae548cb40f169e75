// View > Signal Database... (command 40201, template 201): the DBC file of
// each channel. OK reads both files before it changes anything: a file
// that cannot be read is reported with its line and column, the focus goes
// to its field and the dialog stays open. Then the pane takes both, the
// DBC section of SETTING.ini is written, and the main window is laid out
// again (the pane shows while a channel has a database).
#include <windows.h>
// After windows.h, whose types it uses.
#include <commdlg.h>

#include <string>

#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"
#include "capture/win32/capture_list.h"
#include "common/resource_ids.h"
#include "settings/win32/settings_store.h"
#include "signals/win32/signal_view.h"

namespace ksvw {

namespace {

constexpr char kDbcFilter[] = "DBC files (*.dbc)\0*.dbc\0All files (*.*)\0*.*\0";
constexpr int kFields[2] = {IDT_DBC_CH1, IDT_DBC_CH2};

std::string FieldText(HWND dialog, int id) {
  char text[MAX_PATH * 4] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  std::string path = text;
  // Blanks around a pasted path are no part of it.
  const size_t first = path.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return path.substr(first, path.find_last_not_of(" \t") - first + 1);
}

void Warn(HWND dialog, UINT textId, const std::string& detail) {
  char text[512], caption[128];
  LoadLanguageString(textId, text, sizeof text);
  LoadLanguageString(IDS_SIGNALS_CAPTION, caption, sizeof caption);
  MessageBoxA(dialog, (text + detail).c_str(), caption, MB_ICONWARNING);
}

INT_PTR OnInitSignalDatabase(HWND dialog) {
  for (int channel : {1, 2})
    SetDlgItemTextA(dialog, kFields[channel - 1], SignalPaneModel().Path(channel).c_str());
  return TRUE;
}

void Browse(HWND dialog, int field) {
  char path[MAX_PATH] = {};
  const std::string current = FieldText(dialog, field);
  if (current.size() < sizeof path) current.copy(path, current.size());
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dialog;
  ofn.lpstrFilter = kDbcFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = path;
  ofn.nMaxFile = sizeof path;
  char title[256];
  LoadLanguageString(IDS_SIGNALS_OPEN_TITLE, title, sizeof title);
  ofn.lpstrTitle = title[0] ? title : nullptr;
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (GetOpenFileNameA(&ofn)) SetDlgItemTextA(dialog, field, path);
}

void Apply(HWND dialog) {
  signals::Database databases[2];
  std::string paths[2];
  for (int i = 0; i < 2; ++i) {
    paths[i] = FieldText(dialog, kFields[i]);
    signals::DbcError error;
    if (!paths[i].empty() && !signals::LoadDbcFile(paths[i], databases[i], error)) {
      Warn(dialog, IDS_SIGNALS_LOAD_FAILED, "\n\n" + error.Text());
      SetFocus(GetDlgItem(dialog, kFields[i]));
      return;
    }
  }
  for (int i = 0; i < 2; ++i) SignalPaneModel().Set(i + 1, std::move(databases[i]), paths[i]);
  char text[kSectionTextCapacity];
  if (!DbcSectionText(paths[0].c_str(), paths[1].c_str(), text, sizeof text) ||
      !WriteSettingsSection(kSectionDbc, text, SettingsFilePath)) {
    Warn(dialog, IDS_SIGNALS_NOT_SAVED, "");
  }
  EndDialog(dialog, IDOK);
}

INT_PTR OnSignalDatabaseCommand(HWND dialog, WORD id) {
  switch (id) {
    case IDT_DBC_BROWSE_CH1: Browse(dialog, IDT_DBC_CH1); return TRUE;
    case IDT_DBC_BROWSE_CH2: Browse(dialog, IDT_DBC_CH2); return TRUE;
    case IDOK: Apply(dialog); return TRUE;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK SignalDatabaseDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return OnInitSignalDatabase(dialog);
    case WM_COMMAND: return OnSignalDatabaseCommand(dialog, LOWORD(wParam));
    default: return FALSE;
  }
}

}  // namespace

void SignalDatabaseCommand(HWND window) {
  if (!languageLibrary) return;
  if (DialogBoxParamA(languageLibrary, MAKEINTRESOURCEA(IDD_SIGNAL_DATABASE), window,
                      SignalDatabaseDialogProc, 0) != IDOK) {
    return;
  }
  RelayoutMainWindow();
  ShowSignalsOfRow(SelectedCaptureRow());
}

}  // namespace ksvw
