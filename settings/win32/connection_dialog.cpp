// The connection settings dialog: a tab control over two child pages, the
// connection page (method, serial line, LAN converter) and the folder page
// (EMU/PATH, the folder of saved screen images).
#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/safe_format.h"
#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"
#include "app/win32/dialog_tabs.h"
#include "common/resource_ids.h"
#include "remote/win32/ks_remote4q.h"
#include "settings/win32/folder_picker.h"
#include "settings/win32/settings_store.h"

namespace ksvw {

namespace {

constexpr char kSettingsCaption[] = "KSVW4QX";
constexpr int kSerialPorts = 9;
constexpr const char* kBitRates[] = {"9600", "19200", "38400", "57600", "115200", "230400"};
constexpr int kLanControls[] = {IDT_HOST,        IDT_PORT,        IDT_CONTROL_PORT,
                                IDT_LAN_LABEL_1, IDT_LAN_LABEL_2, IDT_LAN_LABEL_3,
                                IDT_LAN_LABEL_4, IDT_LAN_LABEL_5};
constexpr int kSerialControls[] = {IDT_SERIAL_PORT, IDT_SERIAL_PORT_LABEL};

// One dialog at a time (it is modal): its pages and the folder to restore.
struct ConnectionDialogState {
  HWND tabs = nullptr;
  HWND connectionPage = nullptr;
  HWND folderPage = nullptr;
  char keptFolder[kPathCapacity] = {};
  bool folderChanged = false;  // the folder page wrote EMU/PATH
};
ConnectionDialogState state;

size_t ReadSetting(const char* section, const char* key, char* out, size_t capacity) {
  return PrivateProfileSource(SettingsFilePath).ReadText(section, key, "", out, capacity);
}

void WriteFolder(const char* folder) {
  char text[kSectionTextCapacity];
  if (folder[0] && PathSectionText(folder, false, text, sizeof text))
    WriteSettingsSection(kSectionEmu, text, SettingsFilePath);
}

// --- Combo boxes ------------------------------------------------------------

int AddEntry(HWND page, int id, const char* text) {
  return static_cast<int>(
      SendDlgItemMessageA(page, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}
void AddStringEntry(HWND page, int id, UINT stringId) {
  char text[128];
  LoadLanguageString(stringId, text, sizeof text);
  AddEntry(page, id, text);
}
void Select(HWND page, int id, int index) {
  SendDlgItemMessageA(page, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}
int Selection(HWND page, int id) {
  return static_cast<int>(SendDlgItemMessageA(page, id, CB_GETCURSEL, 0, 0));
}
// The selected entry's text; false (and `out` untouched) when nothing is
// selected or it does not fit.
bool SelectedText(HWND page, int id, char* out, size_t capacity) {
  int index = Selection(page, id);
  if (index < 0) return false;
  LRESULT length = SendDlgItemMessageA(page, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length <= 0 || static_cast<size_t>(length) >= capacity) return false;
  return SendDlgItemMessageA(page, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                             reinterpret_cast<LPARAM>(out)) > 0;
}

// --- Connection page ------------------------------------------------------------

// A stored port beyond COM9, or a bit rate that is none of the six, is
// added to its list rather than shown as another. What the page does not
// understand is shown as the default, and the note under the fields names
// the stored text.
void ShowSerialChoices(HWND page, const ConnectionSettings& record) {
  char speedText[kConnectionKeyCapacity];
  ReadSetting(kSectionSerial, "SPEED", speedText, sizeof speedText);
  const ShownSerial shown = ShowSerialSettings(record.com, speedText, record.speed);
  char name[16];
  for (int i = 1; i <= kSerialPorts; ++i) {
    std::snprintf(name, sizeof name, "COM%d", i);
    AddEntry(page, IDT_SERIAL_PORT, name);
  }
  std::snprintf(name, sizeof name, "COM%d", static_cast<int>(shown.port));
  Select(page, IDT_SERIAL_PORT,
         shown.port > kSerialPorts ? AddEntry(page, IDT_SERIAL_PORT, name) : shown.port - 1);

  char speed[16];
  std::snprintf(speed, sizeof speed, "%d", static_cast<int>(shown.speed));
  int selected = -1;
  for (int i = 0; i < static_cast<int>(std::size(kBitRates)); ++i) {
    AddEntry(page, IDT_BIT_RATE, kBitRates[i]);
    if (std::strcmp(kBitRates[i], speed) == 0) selected = i;
  }
  Select(page, IDT_BIT_RATE, selected >= 0 ? selected : AddEntry(page, IDT_BIT_RATE, speed));

  std::string note;
  if (!shown.portUnderstood) note += std::string(" COM=") + record.com;
  if (!shown.speedUnderstood) note += std::string(" SPEED=") + speedText;
  if (!note.empty()) {
    char words[256];
    LoadLanguageString(IDS_NOT_UNDERSTOOD, words, sizeof words);
    note.insert(0, words);
  }
  SetDlgItemTextA(page, IDT_SETTINGS_NOTE, note.c_str());
}

void ShowConnectionSettings(HWND page, const ConnectionSettings& record) {
  // The edits hold no more than the record's fields.
  SendDlgItemMessageA(page, IDT_HOST, EM_LIMITTEXT, sizeof record.host - 1, 0);
  SendDlgItemMessageA(page, IDT_PORT, EM_LIMITTEXT, sizeof record.port - 1, 0);
  SendDlgItemMessageA(page, IDT_CONTROL_PORT, EM_LIMITTEXT, sizeof record.ctport - 1, 0);
  SetDlgItemTextA(page, IDT_HOST, record.host);
  SetDlgItemTextA(page, IDT_PORT, record.port);
  SetDlgItemTextA(page, IDT_CONTROL_PORT, record.ctport);
  ShowSerialChoices(page, record);
  AddEntry(page, IDT_DATA_BITS, "8");
  Select(page, IDT_DATA_BITS, 0);
  for (UINT id : {IDS_PARITY_NONE, IDS_PARITY_EVEN, IDS_PARITY_ODD})
    AddStringEntry(page, IDT_PARITY, id);
  Select(page, IDT_PARITY, ParityIndexFromCode(record.parity));
  AddStringEntry(page, IDT_FLOW, IDS_FLOW_NONE);
  AddStringEntry(page, IDT_FLOW, IDS_FLOW_HARDWARE);
  Select(page, IDT_FLOW, record.flow == 1 ? 1 : 0);
}

void ShowControls(HWND page, const int* ids, size_t count, bool shown) {
  for (size_t i = 0; i < count; ++i)
    ShowWindow(GetDlgItem(page, ids[i]), shown ? SW_SHOW : SW_HIDE);
}

void ShowMethodFields(HWND page) {
  bool lan = Selection(page, IDT_METHOD) == 1;
  ShowControls(page, kLanControls, std::size(kLanControls), lan);
  ShowControls(page, kSerialControls, std::size(kSerialControls), !lan);
}

INT_PTR OnInitConnectionPage(HWND page) {
  AddStringEntry(page, IDT_METHOD, IDS_METHOD_SERIAL);
  AddStringEntry(page, IDT_METHOD, IDS_METHOD_LAN);
  Select(page, IDT_METHOD, workingConnectionSettings.method == kMethodLan ? 1 : 0);
  ShowConnectionSettings(page, workingConnectionSettings);
  return FALSE;
}

INT_PTR OnConnectionPageCommand(HWND page, WPARAM wParam) {
  if (HIWORD(wParam) == CBN_SELCHANGE) ShowMethodFields(page);
  return FALSE;
}

INT_PTR CALLBACK ConnectionPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return OnInitConnectionPage(page);
    case WM_COMMAND: return OnConnectionPageCommand(page, wParam);
    default: return FALSE;
  }
}

// --- Folder page ----------------------------------------------------------------

INT_PTR OnInitFolderPage(HWND page) {
  char folder[kPathCapacity];
  if (ReadSetting(kSectionEmu, "PATH", folder, sizeof folder) == 0)
    MessageBoxA(nullptr, "Init", kSettingsCaption, MB_ICONERROR);
  SendDlgItemMessageA(page, IDT_FOLDER, WM_SETFONT,
                      reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  SetDlgItemTextA(page, IDT_FOLDER, folder);
  return FALSE;
}

void OnBrowse(HWND page) {
  char folder[MAX_PATH];
  ReadSetting(kSectionEmu, "PATH", folder, sizeof folder);
  if (!BrowseForFolder(GetParent(page), folder)) return;
  SetDlgItemTextA(page, IDT_FOLDER, folder);
  WriteFolder(folder);
  state.folderChanged = true;
}

INT_PTR OnFolderPageCommand(HWND page, WPARAM wParam) {
  if (LOWORD(wParam) != IDT_FOLDER_BROWSE || HIWORD(wParam) != BN_CLICKED) return FALSE;
  OnBrowse(page);
  return TRUE;
}

INT_PTR CALLBACK FolderPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return OnInitFolderPage(page);
    case WM_COMMAND: return OnFolderPageCommand(page, wParam);
    default: return FALSE;
  }
}

// --- The dialog -------------------------------------------------------------------

void FocusPage(HWND page) {
  HWND first = GetNextDlgTabItem(page, nullptr, FALSE);
  SetFocus(first ? first : page);
}

void ShowPage(int index) {
  for (HWND page : {state.connectionPage, state.folderPage})
    if (page) ShowWindow(page, SW_HIDE);
  HWND page = index == 0 ? state.connectionPage : state.folderPage;
  if (!page) return;
  ShowWindow(page, SW_SHOW);
  // Notification code 1: the page sets the visibility of its fields.
  if (index == 0) SendMessageA(page, WM_COMMAND, MAKEWPARAM(0, 1), 0);
  FocusPage(page);
}

void InsertTab(int index, UINT stringId) {
  char text[128];
  LoadLanguageString(stringId, text, sizeof text);
  TCITEMA item{};
  item.mask = TCIF_TEXT;
  item.pszText = text;
  SendMessageA(state.tabs, TCM_INSERTITEMA, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(&item));
}

// Both pages over the tab control's display area.
void PlacePages(HWND dialog) {
  RECT area;
  GetClientRect(state.tabs, &area);
  SendMessageA(state.tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  MapWindowPoints(state.tabs, dialog, reinterpret_cast<POINT*>(&area), 2);
  for (HWND page : {state.connectionPage, state.folderPage})
    if (page)
      SetWindowPos(page, HWND_TOP, area.left, area.top, area.right - area.left,
                   area.bottom - area.top, SWP_NOACTIVATE);
}

INT_PTR OnInitConnectionDialog(HWND dialog) {
  state = ConnectionDialogState{};
  if (ReadSetting(kSectionEmu, "PATH", state.keptFolder, sizeof state.keptFolder) == 0)
    MessageBoxA(nullptr, "Ini", kSettingsCaption, MB_ICONERROR);
  workingConnectionSettings = currentConnectionSettings;
  LoadConnectionSettings(PrivateProfileSource(SettingsFilePath), workingConnectionSettings);

  InitCommonControls();
  state.tabs = GetDlgItem(dialog, IDT_CONNECTION_TABS);
  InsertTab(0, IDS_TAB_CONNECTION);
  InsertTab(1, IDS_TAB_FOLDER);
  state.connectionPage = CreateDialogParamA(languageLibrary, MAKEINTRESOURCEA(IDD_CONNECTION_PAGE),
                                            dialog, ConnectionPageProc, 0);
  state.folderPage = CreateDialogParamA(languageLibrary, MAKEINTRESOURCEA(IDD_FOLDER_PAGE), dialog,
                                        FolderPageProc, 0);
  PlacePages(dialog);
  ShowPage(0);
  StartTabKeys(dialog, state.tabs);
  return FALSE;  // the focus is set
}

// Reads the connection page into `record`, which holds the current values:
// a control that yields nothing keeps its field as it was.
void ReadConnectionPage(HWND page, ConnectionSettings& record) {
  record.method = Selection(page, IDT_METHOD) == 1 ? kMethodLan : kMethodSerial;
  GetDlgItemTextA(page, IDT_HOST, record.host, sizeof record.host);
  GetDlgItemTextA(page, IDT_PORT, record.port, sizeof record.port);
  GetDlgItemTextA(page, IDT_CONTROL_PORT, record.ctport, sizeof record.ctport);
  char text[sizeof record.com];
  if (SelectedText(page, IDT_SERIAL_PORT, text, sizeof text))
    CopyCut(record.com, sizeof record.com, text);
  if (SelectedText(page, IDT_BIT_RATE, text, sizeof text)) record.speed = ParseDecimal(text);
  int parity = Selection(page, IDT_PARITY);
  if (parity >= 0) record.parity = ParityCodeFromIndex(parity);
  int flow = Selection(page, IDT_FLOW);
  if (flow >= 0) record.flow = FlowCodeFromIndex(flow);
}

void StoreConnectionSettings(const ConnectionSettings& record) {
  char text[kSectionTextCapacity], speed[16];
  if (RemoteSectionText(record.method, text, sizeof text))
    WriteSettingsSection(kSectionRemote, text, SettingsFilePath);
  if (Rb40SectionText(record.host, record.port, record.ctport, text, sizeof text))
    WriteSettingsSection(kSectionRb40, text, SettingsFilePath);
  std::snprintf(speed, sizeof speed, "%d", static_cast<int>(record.speed));
  if (SerialSectionText(record.com, speed, ParityIndexFromCode(record.parity),
                        record.flow == 1 ? 1 : 0, text, sizeof text))
    WriteSettingsSection(kSectionSerial, text, SettingsFilePath);
}

void MessageWithString(HWND owner, UINT textId, UINT type) {
  char text[512], caption[128];
  LoadLanguageString(textId, text, sizeof text);
  LoadLanguageString(IDS_SETTINGS_ERROR_CAPTION, caption, sizeof caption);
  MessageBoxA(owner, text, caption, type);
}

// With the LAN method, the host and ports as OK takes them; otherwise a
// message and the focus on the field at fault, on its page (the folder
// page may be showing).
bool LanFieldsAccepted(HWND dialog, HWND page) {
  if (Selection(page, IDT_METHOD) != 1) return true;
  ConnectionSettings fields{};
  GetDlgItemTextA(page, IDT_HOST, fields.host, sizeof fields.host);
  GetDlgItemTextA(page, IDT_PORT, fields.port, sizeof fields.port);
  GetDlgItemTextA(page, IDT_CONTROL_PORT, fields.ctport, sizeof fields.ctport);
  const struct {
    LanFieldsCheck check;
    UINT text;
    int field;
  } faults[] = {{LanFieldsCheck::NoHost, IDS_NO_HOST, IDT_HOST},
                {LanFieldsCheck::BadPort, IDS_BAD_PORT, IDT_PORT},
                {LanFieldsCheck::BadControlPort, IDS_BAD_PORT, IDT_CONTROL_PORT}};
  const LanFieldsCheck check = CheckLanFields(fields.host, fields.port, fields.ctport);
  for (const auto& fault : faults) {
    if (fault.check != check) continue;
    SendMessageA(state.tabs, TCM_SETCURSEL, 0, 0);
    ShowPage(0);
    MessageWithString(dialog, fault.text, MB_ICONERROR);
    SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(page, fault.field)),
                 TRUE);
    return false;
  }
  return true;
}

void OnOk(HWND dialog) {
  HWND page = state.connectionPage;
  if (page && !LanFieldsAccepted(dialog, page)) return;
  if (page) {
    ConnectionSettings record = currentConnectionSettings;
    ReadConnectionPage(page, record);
    StoreConnectionSettings(record);
    CopyConnectionFields(record, currentConnectionSettings);
    // A link left on the old settings would connect with them: say so.
    int32_t result = remoteLink ? remoteLink->Initialize(&currentConnectionSettings) : 0;
    if (result < 0) {
      char format[512], text[600], caption[128];
      LoadLanguageString(IDS_INIT_FAILED, format, sizeof format);
      FormatWithCode(text, sizeof text, format, result);
      LoadLanguageString(IDS_SETTINGS_ERROR_CAPTION, caption, sizeof caption);
      MessageBoxA(dialog, text, caption, MB_ICONWARNING);
    }
  }
  EndDialog(dialog, 0);
}

void OnCancel(HWND dialog) {
  // Only a folder that the folder page changed is put back.
  if (state.folderChanged) WriteFolder(state.keptFolder);
  EndDialog(dialog, 0);
}

INT_PTR OnConnectionDialogCommand(HWND dialog, WORD id) {
  switch (id) {
    case IDOK: OnOk(dialog); return TRUE;
    case IDCANCEL: OnCancel(dialog); return TRUE;
    default: return FALSE;
  }
}

INT_PTR OnConnectionDialogNotify(const NMHDR* header) {
  if (header->idFrom == IDT_CONNECTION_TABS && header->code == TCN_SELCHANGE)
    ShowPage(static_cast<int>(SendMessageA(state.tabs, TCM_GETCURSEL, 0, 0)));
  return FALSE;
}

INT_PTR CALLBACK ConnectionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnInitConnectionDialog(dialog);
    case WM_COMMAND: return OnConnectionDialogCommand(dialog, LOWORD(wParam));
    case WM_NOTIFY: return OnConnectionDialogNotify(reinterpret_cast<const NMHDR*>(lParam));
    default: return FALSE;
  }
}

}  // namespace

void ConnectionSettingsCommand(HWND window) {
  if (!languageLibrary) return;
  DialogBoxParamA(languageLibrary, MAKEINTRESOURCEA(IDD_CONNECTION), window, ConnectionDialogProc,
                  0);
  StopTabKeys();
}

}  // namespace ksvw
