#include "convert/win32/conversion_dialog.h"

#include <commctrl.h>

#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"
#include "common/files.h"
#include "common/resource_ids.h"
#include "convert/conversion_batch.h"
#include "convert/win32/conversion_worker.h"
#include "settings/win32/folder_picker.h"
#include "settings/win32/settings_store.h"

namespace ksvw {

namespace {

constexpr int32_t kMaxBatch = 4096;
constexpr size_t kPath = 260;
// Closing waits this long for the worker to see its stop; a worker still
// running then is waited for again before the next batch starts.
constexpr DWORD kWorkerEndMs = 5000;

// The batch (GUI thread only). -1: no batch runs.
int32_t batchPosition = -1;
int32_t batchCount = 0;
int32_t batchItems[kMaxBatch];
// The folder as it was when the batch started: the field stays editable,
// but the list's names belong to this folder.
char batchFolder[kPath];
// The last started worker. Earlier ones were in their last send when the
// next one started and end by themselves; their handles are closed.
HANDLE workerThread = nullptr;
bool closing = false;

// Disabled while a batch runs (the check boxes stay usable, but a running
// batch has taken their states already).
constexpr int kBatchLocked[] = {
    IDT_CVT_BROWSE,     IDOK,          IDT_CVT_FILES_LABEL, IDT_CVT_CHANNELS,
    IDT_CVT_RAW_HEX,    IDT_CVT_FILES, IDT_CVT_REFRESH,     IDT_CVT_SELECT_ALL,
    IDT_CVT_SELECT_NONE};

LRESULT Item(HWND dialog, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}

void Enable(HWND dialog, int id, bool enable) {
  EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

bool Checked(HWND dialog, int id) {
  return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void FolderText(HWND dialog, char (&folder)[kPath]) {
  folder[0] = '\0';
  GetDlgItemTextA(dialog, IDT_CVT_FOLDER, folder, static_cast<int>(kPath));
}

PrivateProfileSource Profile() {
  return PrivateProfileSource(SettingsFilePath);
}

// The whole CVT section with `folder` (when empty: the stored one) and the
// two lists' selections.
void WriteConversionSection(HWND dialog, const char* folder) {
  char stored[kPath];
  if (folder[0] == '\0') {
    Profile().ReadText(kSectionCvt, "PATH", "", stored, sizeof stored);
    folder = stored;
  }
  char text[kSectionTextCapacity];
  const int32_t channel = static_cast<int32_t>(Item(dialog, IDT_CVT_CHANNELS, CB_GETCURSEL));
  const int32_t hex = static_cast<int32_t>(Item(dialog, IDT_CVT_RAW_HEX, CB_GETCURSEL));
  if (ConversionSectionText(folder, channel, hex, text, sizeof text))
    WriteSettingsSection(kSectionCvt, text, SettingsFilePath);
}

void UpdateConvertButton(HWND dialog) {
  Enable(dialog, IDOK, Item(dialog, IDT_CVT_FILES, LB_GETSELCOUNT) > 0);
}

void FillFileList(HWND dialog) {
  Item(dialog, IDT_CVT_FILES, LB_RESETCONTENT);
  char folder[kPath], pattern[kPath];
  FolderText(dialog, folder);
  if (!JoinPath(folder, "*.DT", pattern, sizeof pattern)) return;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      Item(dialog, IDT_CVT_FILES, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(found.cFileName));
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

void RefillAndUpdate(HWND dialog) {
  FillFileList(dialog);
  UpdateConvertButton(dialog);
}

void FillChoices(HWND dialog, int id, const char* const* texts, int32_t count, int32_t chosen) {
  for (int32_t i = 0; i < count; ++i)
    Item(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(texts[i]));
  Item(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(chosen));
}

void LockForBatch(HWND dialog, bool locked) {
  for (int id : kBatchLocked) Enable(dialog, id, !locked);
  Enable(dialog, IDCANCEL, locked);
}

// A file that cannot be started counts as done: posted, so that a batch of
// such files never recurses.
void SkipFile(HWND dialog) {
  PostMessageA(dialog, WM_COMMAND, IDC_CVT_FILE_DONE, 0);
}

void StartWorker(HWND dialog, int32_t index) {
  char name[kPath] = {};
  const LRESULT length = Item(dialog, IDT_CVT_FILES, LB_GETTEXTLEN, static_cast<WPARAM>(index));
  if (length >= 0 && length < static_cast<LRESULT>(kPath))
    Item(dialog, IDT_CVT_FILES, LB_GETTEXT, static_cast<WPARAM>(index),
         reinterpret_cast<LPARAM>(name));
  conversionJob.dialog = dialog;
  if (name[0] == '\0' || !BatchFilePaths(batchFolder, name, conversionJob.csv != 0,
                                         conversionJob.source, conversionJob.output, kPath)) {
    ShowNotConvertedBox(dialog, name);
    SkipFile(dialog);
    return;
  }
  HANDLE thread = StartConversionWorker();
  if (thread == nullptr) {
    SkipFile(dialog);
    return;
  }
  // The previous worker is inside its last send (the file-done command
  // being handled now): waiting for it here would deadlock, and it ends
  // by itself, having released the reader before it sent.
  if (workerThread != nullptr) CloseHandle(workerThread);
  workerThread = thread;
}

// True when no worker of an earlier batch (or an earlier opening of the
// dialog) still runs, after waiting a little for it.
bool PreviousWorkerEnded(HWND dialog) {
  if (workerThread == nullptr) return true;
  if (!WaitForWorkerPumping(dialog, workerThread, kWorkerEndMs)) return false;
  CloseHandle(workerThread);
  workerThread = nullptr;
  return true;
}

// The bar first, the controls last: once they are usable again, the batch
// has ended in every respect.
void EndBatch(HWND dialog) {
  Item(dialog, IDT_CVT_FILE_BAR, PBM_STEPIT);
  batchPosition = -1;
  Item(dialog, IDT_CVT_FILE_BAR, PBM_SETPOS, 0);
  LockForBatch(dialog, false);
  UpdateConvertButton(dialog);
}

// --- Commands -----------------------------------------------------------------

void OnConvert(HWND dialog, WORD) {
  // Enter reaches the default button even while a batch has it disabled.
  if (batchPosition != -1 || closing) return;
  if (!PreviousWorkerEnded(dialog)) return;
  const LRESULT count =
      Item(dialog, IDT_CVT_FILES, LB_GETSELITEMS, kMaxBatch, reinterpret_cast<LPARAM>(batchItems));
  if (count <= 0) return;
  LockForBatch(dialog, true);
  conversionJob.channelIndex = static_cast<int32_t>(Item(dialog, IDT_CVT_CHANNELS, CB_GETCURSEL));
  conversionJob.hexIndex = static_cast<int32_t>(Item(dialog, IDT_CVT_RAW_HEX, CB_GETCURSEL));
  conversionJob.csv = Checked(dialog, IDT_CVT_CSV) ? 1 : 0;
  conversionJob.delta = Checked(dialog, IDT_CVT_DELTA) ? 1 : 0;
  FolderText(dialog, batchFolder);
  WriteConversionSection(dialog, batchFolder);
  batchCount = static_cast<int32_t>(count);
  batchPosition = 0;
  Item(dialog, IDT_CVT_FILE_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, batchCount));
  Item(dialog, IDT_CVT_FILE_BAR, PBM_SETSTEP, 1);
  Item(dialog, IDT_CVT_FILE_BAR, PBM_SETPOS, 0);
  ClearConversionStop();
  StartWorker(dialog, batchItems[0]);
}

void OnStop(HWND dialog, WORD) {
  Enable(dialog, IDCANCEL, false);
  if (batchPosition == -1) return;
  RequestConversionStop();
  batchPosition = batchCount;
  // Keep the keyboard in the dialog: the focused Stop button is disabled.
  SetFocus(GetDlgItem(dialog, IDT_CVT_CSV));
}

void OnFileDone(HWND dialog, WORD) {
  if (batchPosition == -1) return;
  if (++batchPosition < batchCount) {
    Item(dialog, IDT_CVT_FILE_BAR, PBM_STEPIT);
    StartWorker(dialog, batchItems[batchPosition]);
  } else {
    EndBatch(dialog);
  }
}

void OnSelectAll(HWND dialog, WORD) {
  Item(dialog, IDT_CVT_FILES, LB_SETSEL, TRUE, -1);
  UpdateConvertButton(dialog);
}

void OnSelectNone(HWND dialog, WORD) {
  Item(dialog, IDT_CVT_FILES, LB_SETSEL, FALSE, -1);
  UpdateConvertButton(dialog);
}

void OnFileList(HWND dialog, WORD code) {
  if (code == LBN_SELCHANGE) UpdateConvertButton(dialog);
}

void OnCsv(HWND dialog, WORD) {
  Enable(dialog, IDT_CVT_DELTA, !Checked(dialog, IDT_CVT_CSV));
}

void OnRefresh(HWND dialog, WORD) {
  RefillAndUpdate(dialog);
}

// The picker starts at the stored folder; a choice is stored at once. In
// any case the list is read again.
void OnBrowse(HWND dialog, WORD) {
  char folder[MAX_PATH];
  Profile().ReadText(kSectionCvt, "PATH", "", folder, sizeof folder);
  if (BrowseForFolder(dialog, folder) == 1) {
    SetDlgItemTextA(dialog, IDT_CVT_FOLDER, folder);
    WriteConversionSection(dialog, folder);
  }
  RefillAndUpdate(dialog);
}

struct DialogCommand {
  int id;
  void (*handler)(HWND dialog, WORD code);
};

constexpr DialogCommand kDialogCommands[] = {
    {IDOK, OnConvert},
    {IDCANCEL, OnStop},
    {IDC_CVT_FILE_DONE, OnFileDone},
    {IDT_CVT_SELECT_ALL, OnSelectAll},
    {IDT_CVT_SELECT_NONE, OnSelectNone},
    {IDT_CVT_FILES, OnFileList},
    {IDT_CVT_CSV, OnCsv},
    {IDT_CVT_REFRESH, OnRefresh},
    {IDT_CVT_BROWSE, OnBrowse},
};

// --- Messages -----------------------------------------------------------------

INT_PTR OnInitDialog(HWND dialog) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  // Opens idle, whatever an earlier opening left.
  batchPosition = -1;
  batchCount = 0;
  closing = false;
  const PrivateProfileSource profile = Profile();
  static const char* const kChannels[] = {"CH1&CH2", "CH1", "CH2"};
  static const char* const kHex[] = {"OFF", "ON"};
  FillChoices(dialog, IDT_CVT_CHANNELS, kChannels, kChannelChoices,
              StoredChoice(profile.ReadInt(kSectionCvt, "CH", 0), kChannelChoices));
  FillChoices(dialog, IDT_CVT_RAW_HEX, kHex, kHexChoices,
              StoredChoice(profile.ReadInt(kSectionCvt, "HEX", 0), kHexChoices));
  char folder[kPath];
  profile.ReadText(kSectionCvt, "PATH", executableFolder, folder, sizeof folder);
  Item(dialog, IDT_CVT_FOLDER, EM_LIMITTEXT, kPath - 1);
  SetDlgItemTextA(dialog, IDT_CVT_FOLDER, folder);
  RefillAndUpdate(dialog);
  Enable(dialog, IDCANCEL, false);
  Item(dialog, IDT_CVT_FOLDER, WM_SETFONT,
       reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
  if (deltaTimeMode) CheckDlgButton(dialog, IDT_CVT_DELTA, BST_CHECKED);
  return TRUE;
}

INT_PTR OnCommand(HWND dialog, WPARAM wParam) {
  for (const DialogCommand& c : kDialogCommands) {
    if (c.id == LOWORD(wParam)) {
      c.handler(dialog, HIWORD(wParam));
      return TRUE;
    }
  }
  return FALSE;
}

// The dialog ends only here. A running batch is stopped and its worker
// waited for (dispatching its sends), so that the next opening is idle and
// no two workers ever share the converter.
INT_PTR OnClose(HWND dialog) {
  if (closing) return TRUE;
  closing = true;
  if (batchPosition != -1) {
    RequestConversionStop();
    batchPosition = batchCount;
  }
  if (workerThread != nullptr && WaitForWorkerPumping(dialog, workerThread, kWorkerEndMs)) {
    CloseHandle(workerThread);
    workerThread = nullptr;
  }
  batchPosition = -1;
  char folder[kPath];
  FolderText(dialog, folder);
  WriteConversionSection(dialog, folder);
  EndDialog(dialog, 0);
  return TRUE;
}

}  // namespace

INT_PTR CALLBACK ConversionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog);
    case WM_COMMAND: return OnCommand(dialog, wParam);
    case WM_CLOSE: return OnClose(dialog);
    default: return FALSE;
  }
}

void ConvertCommand(HWND window) {
  if (!languageLibrary) return;
  DialogBoxParamA(languageLibrary, MAKEINTRESOURCEA(IDD_CONVERT), window, ConversionDialogProc, 0);
}

}  // namespace ksvw
