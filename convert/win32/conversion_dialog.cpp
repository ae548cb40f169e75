#include "convert/win32/conversion_dialog.h"

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

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

constexpr size_t kPath = 260;
// Closing waits this long for the worker to see its stop; a worker still
// running then is waited for again before the next batch starts.
constexpr DWORD kWorkerEndMs = 5000;
// An edited folder is listed again once the typing has paused this long
// (not at every key: a half-typed network path can take seconds to look up).
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshDelayMs = 300;
// Posted at the end of a batch that had failures, so that the summary box
// opens after the last worker has ended rather than inside its last send.
constexpr UINT kShowFailures = WM_APP + 1;
constexpr int32_t kListedFailures = 20;

// The batch (GUI thread only). -1: no batch runs.
int32_t batchPosition = -1;
int32_t batchCount = 0;
// The names the list showed selected when Convert was pressed, and the
// folder they were listed from: the list may be read again while the
// batch runs.
std::vector<std::string> batchNames;
char batchFolder[kPath];
int32_t fileInHand = -1;  // the index in batchNames of the last started file
// The folder the list's names were read from.
char listedFolder[kPath];
// The last started worker. Earlier ones were in their last send when the
// next one started and end by themselves; their handles are closed.
HANDLE workerThread = nullptr;
bool closing = false;
bool settingsWarned = false;  // one settings message per opening
// The batch's failures: a line feed and "NAME: REASON" for each of the
// first kListedFailures, and how many there were.
std::string failureLines;
int32_t failureCount = 0;

// Disabled while a batch runs (the check boxes stay usable, but a running
// batch has taken their states already).
constexpr int kBatchLocked[] = {
    IDT_CVT_BROWSE,     IDOK,          IDT_CVT_FILES_LABEL, IDT_CVT_CHANNELS,
    IDT_CVT_RAW_HEX,    IDT_CVT_FILES, IDT_CVT_REFRESH,     IDT_CVT_SELECT_ALL,
    IDT_CVT_SELECT_NONE};

// Why a file failed, and whether the reason is about its output (then the
// output is named) or its source.
struct FailureReason {
  FileOutcome outcome;
  UINT text;
  bool aboutOutput;
};
constexpr FailureReason kFailureReasons[] = {
    {FileOutcome::NotCapture, IDS_NOT_CONVERTIBLE, false},
    {FileOutcome::CannotRead, IDS_CVT_CANNOT_READ, false},
    {FileOutcome::OutOfMemory, IDS_CVT_NO_MEMORY, false},
    {FileOutcome::PathTooLong, IDS_CVT_PATH_TOO_LONG, false},
    {FileOutcome::NotStarted, IDS_CVT_NOT_STARTED, false},
    {FileOutcome::CannotCreate, IDS_CVT_CANNOT_CREATE, true},
    {FileOutcome::WriteFailed, IDS_CVT_WRITE_FAILED, true},
    {FileOutcome::DiskFull, IDS_CVT_DISK_FULL, true},
};

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

const char* FileName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '\\' || *p == '/') name = p + 1;
  return name;
}

PrivateProfileSource Profile() {
  return PrivateProfileSource(SettingsFilePath);
}

// The whole CVT section with `folder` (when empty: the stored one) and the
// two lists' selections. A write that fails is told once per opening.
void WriteConversionSection(HWND dialog, const char* folder) {
  char stored[kPath];
  if (folder[0] == '\0') {
    Profile().ReadText(kSectionCvt, "PATH", "", stored, sizeof stored);
    folder = stored;
  }
  char text[kSectionTextCapacity];
  const int32_t channel = static_cast<int32_t>(Item(dialog, IDT_CVT_CHANNELS, CB_GETCURSEL));
  const int32_t hex = static_cast<int32_t>(Item(dialog, IDT_CVT_RAW_HEX, CB_GETCURSEL));
  if (ConversionSectionText(folder, channel, hex, text, sizeof text) &&
      !WriteSettingsSection(kSectionCvt, text, SettingsFilePath) && !settingsWarned) {
    settingsWarned = true;
    ShowSettingsNotSaved(dialog);
  }
}

void UpdateConvertButton(HWND dialog) {
  Enable(dialog, IDOK, Item(dialog, IDT_CVT_FILES, LB_GETSELCOUNT) > 0);
}

// Lists the folder of the field; a refresh still waiting is done by this.
void FillFileList(HWND dialog) {
  KillTimer(dialog, kRefreshTimer);
  Item(dialog, IDT_CVT_FILES, LB_RESETCONTENT);
  char pattern[kPath];
  FolderText(dialog, listedFolder);
  if (!JoinPath(listedFolder, "*.DT", pattern, sizeof pattern)) return;
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

// The names of the selected files, every one of them, into batchNames.
bool TakeSelection(HWND dialog) {
  batchNames.clear();
  const LRESULT count = Item(dialog, IDT_CVT_FILES, LB_GETSELCOUNT);
  if (count <= 0) return false;
  std::vector<int> items(static_cast<size_t>(count));
  const LRESULT got = Item(dialog, IDT_CVT_FILES, LB_GETSELITEMS, items.size(),
                           reinterpret_cast<LPARAM>(items.data()));
  for (LRESULT i = 0; i < got; ++i) {
    const WPARAM index = static_cast<WPARAM>(items[static_cast<size_t>(i)]);
    const LRESULT length = Item(dialog, IDT_CVT_FILES, LB_GETTEXTLEN, index);
    std::string name(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0 &&
        Item(dialog, IDT_CVT_FILES, LB_GETTEXT, index, reinterpret_cast<LPARAM>(name.data())) > 0)
      batchNames.push_back(std::move(name));
  }
  return !batchNames.empty();
}

void NoteOutcome(FileOutcome outcome) {
  for (const FailureReason& reason : kFailureReasons) {
    if (reason.outcome != outcome) continue;
    if (++failureCount > kListedFailures) return;
    char text[256];
    LoadLanguageString(reason.text, text, sizeof text);
    failureLines += '\n';
    failureLines += reason.aboutOutput ? FileName(conversionJob.output) : batchNames[fileInHand];
    failureLines += ": ";
    failureLines += text;
    return;
  }
}

// Starts the worker of file `index`; false, with the reason in `failure`,
// when it cannot be started.
bool StartWorker(HWND dialog, int32_t index, FileOutcome* failure) {
  fileInHand = index;
  conversionJob.dialog = dialog;
  if (!BatchFilePaths(batchFolder, batchNames[index].c_str(), conversionJob.csv != 0,
                      conversionJob.source, conversionJob.output, kPath)) {
    *failure = FileOutcome::PathTooLong;
    return false;
  }
  HANDLE thread = StartConversionWorker();
  if (thread == nullptr) {
    *failure = FileOutcome::NotStarted;
    return false;
  }
  // The previous worker is inside its last send (the file-done command
  // being handled now): waiting for it here would deadlock, and it ends
  // by itself, having released the reader before it sent.
  if (workerThread != nullptr) CloseHandle(workerThread);
  workerThread = thread;
  return true;
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
// has ended in every respect (but for the summary of its failures).
void EndBatch(HWND dialog) {
  Item(dialog, IDT_CVT_FILE_BAR, PBM_STEPIT);
  batchPosition = -1;
  Item(dialog, IDT_CVT_FILE_BAR, PBM_SETPOS, 0);
  LockForBatch(dialog, false);
  UpdateConvertButton(dialog);
  if (failureCount > 0) PostMessageA(dialog, kShowFailures, 0, 0);
}

// Starts the worker of the file at batchPosition. A file whose worker
// cannot start is noted and passed in the same loop (never a message per
// file: a long run of them would crawl). Ends the batch when no file is left.
void StartNextWorker(HWND dialog) {
  for (; batchPosition < batchCount; ++batchPosition) {
    FileOutcome failure = FileOutcome::NotStarted;
    if (StartWorker(dialog, batchPosition, &failure)) {
      Item(dialog, IDT_CVT_FILE_BAR, PBM_SETPOS, static_cast<WPARAM>(batchPosition));
      return;
    }
    NoteOutcome(failure);
  }
  EndBatch(dialog);
}

// Enter in the folder field: the dialog manager turns it into the default
// button's command, with the focus left in the field.
bool EnterInFolderField(HWND dialog) {
  return GetFocus() == GetDlgItem(dialog, IDT_CVT_FOLDER) && GetKeyState(VK_RETURN) < 0;
}

// --- Commands -----------------------------------------------------------------

void OnConvert(HWND dialog, WORD) {
  if (EnterInFolderField(dialog)) return RefillAndUpdate(dialog);
  // Enter reaches the default button even while a batch has it disabled.
  if (batchPosition != -1 || closing) return;
  if (!PreviousWorkerEnded(dialog) || !TakeSelection(dialog)) return;
  std::memcpy(batchFolder, listedFolder, sizeof batchFolder);
  failureLines.clear();
  failureCount = 0;
  WriteConversionSection(dialog, batchFolder);
  LockForBatch(dialog, true);
  conversionJob.channelIndex = static_cast<int32_t>(Item(dialog, IDT_CVT_CHANNELS, CB_GETCURSEL));
  conversionJob.hexIndex = static_cast<int32_t>(Item(dialog, IDT_CVT_RAW_HEX, CB_GETCURSEL));
  conversionJob.csv = Checked(dialog, IDT_CVT_CSV) ? 1 : 0;
  conversionJob.delta = Checked(dialog, IDT_CVT_DELTA) ? 1 : 0;
  batchCount = static_cast<int32_t>(batchNames.size());
  batchPosition = 0;
  Item(dialog, IDT_CVT_FILE_BAR, PBM_SETRANGE32, 0, batchCount);
  Item(dialog, IDT_CVT_FILE_BAR, PBM_SETSTEP, 1);
  Item(dialog, IDT_CVT_FILE_BAR, PBM_SETPOS, 0);
  ClearConversionStop();
  StartNextWorker(dialog);
}

// Stop while a batch runs; Esc (the same command) closes an idle dialog.
void OnStop(HWND dialog, WORD) {
  Enable(dialog, IDCANCEL, false);
  if (batchPosition == -1) {
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    return;
  }
  RequestConversionStop();
  batchPosition = batchCount;
  // Keep the keyboard in the dialog: the focused Stop button is disabled.
  SetFocus(GetDlgItem(dialog, IDT_CVT_CSV));
}

void OnFileDone(HWND dialog, WORD outcome) {
  if (batchPosition == -1) return;
  NoteOutcome(static_cast<FileOutcome>(outcome));
  ++batchPosition;
  StartNextWorker(dialog);
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

void OnFolderField(HWND dialog, WORD code) {
  if (code == EN_CHANGE) SetTimer(dialog, kRefreshTimer, kRefreshDelayMs, nullptr);
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
    {IDT_CVT_FOLDER, OnFolderField},
};

// --- Messages -----------------------------------------------------------------

INT_PTR OnInitDialog(HWND dialog) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  // Opens idle, whatever an earlier opening left.
  batchPosition = -1;
  batchCount = 0;
  closing = false;
  settingsWarned = false;
  failureLines.clear();
  failureCount = 0;
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

// The edited folder, once the typing has paused (and only when it differs
// from the listed one: setting the field from the program changes it too).
INT_PTR OnRefreshTimer(HWND dialog) {
  KillTimer(dialog, kRefreshTimer);
  char folder[kPath];
  FolderText(dialog, folder);
  if (std::strcmp(folder, listedFolder) != 0) RefillAndUpdate(dialog);
  return TRUE;
}

// The one summary of a batch's failures.
INT_PTR OnShowFailures(HWND dialog) {
  if (failureCount == 0) return TRUE;
  char line[256];
  LoadLanguageString(IDS_CVT_FAILED_HEADING, line, sizeof line);
  std::string text = std::string(line) + "\n" + failureLines;
  if (failureCount > kListedFailures) {
    LoadLanguageString(IDS_CVT_MORE_FAILED, line, sizeof line);
    text += "\n\n" + std::string(line) + " " + std::to_string(failureCount - kListedFailures);
  }
  failureLines.clear();
  failureCount = 0;
  char caption[64];
  LoadLanguageString(IDS_CONVERT_CAPTION, caption, sizeof caption);
  MessageBoxA(dialog, text.c_str(), caption, MB_OK | MB_ICONWARNING);
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
  KillTimer(dialog, kRefreshTimer);
  if (batchPosition != -1) {
    RequestConversionStop();
    batchPosition = batchCount;
  }
  if (workerThread != nullptr && WaitForWorkerPumping(dialog, workerThread, kWorkerEndMs)) {
    CloseHandle(workerThread);
    workerThread = nullptr;
  }
  batchPosition = -1;
  OnShowFailures(dialog);
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
    case WM_TIMER: return OnRefreshTimer(dialog);
    case kShowFailures: return OnShowFailures(dialog);
    default: return FALSE;
  }
}

void ConvertCommand(HWND window) {
  if (!languageLibrary) return;
  DialogBoxParamA(languageLibrary, MAKEINTRESOURCEA(IDD_CONVERT), window, ConversionDialogProc, 0);
}

}  // namespace ksvw
