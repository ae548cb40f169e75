#include "remote/win32/capture_files.h"

#include <commctrl.h>
#include <commdlg.h>

#include "app/safe_format.h"
#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"
#include "app/win32/commands.h"
#include "capture/capture_reader.h"
#include "capture/capture_record.h"
#include "capture/win32/capture_list.h"
#include "common/resource_ids.h"
#include "remote/win32/download_file.h"
#include "remote/win32/ks_remote4q.h"
#include "signals/win32/signal_view.h"

namespace ksvw {

namespace {

constexpr char kDtFilter[] = "DT files(*.DT)\0*.DT\0";

HWND downloadDialog = nullptr;
HWND downloadProgress = nullptr;

void SaveErrorBox(HWND window) {
  char caption[256];
  LoadLanguageString(IDS_CAPTION, caption, sizeof caption);
  MessageBoxA(window, "SaveError", caption, MB_ICONWARNING);
}

void ForgetDownloadDialog() {
  downloadDialog = nullptr;
  downloadProgress = nullptr;
  if (remoteLink) remoteLink->SetDownloadDialog(nullptr);
}

bool DownloadRunning() {
  return remoteLink && remoteLink->DownloadRunning();
}

// The download goes to DATAFILE.NEW and replaces the working file only
// when it is taken (success or cancel).
DownloadFile ProgramDownload() {
  return {downloadFilePath, temporaryFilePath};
}

void StartDownloadFromDialog() {
  // No message on failure; the dialog stays open until Cancel.
  ProgramDownload().Start(remoteLink);
  UpdateCommandStates();
}

// The dialog's own message: end it (see the cancel handling).
constexpr UINT kEndDownloadDialog = WM_APP + 100;

void EndDownloadDialog(HWND dialog) {
  ForgetDownloadDialog();
  EndDialog(dialog, 0);
}

// Cancel, its button, the close box or Alt+F4 (a user's close is a cancel),
// or sent by the link when the link is lost.
void CancelDownloadDialog(HWND dialog) {
  // The rows go blank until the cancelled download is shown. After a failed
  // download (or one that never started) nothing replaces them: they stay.
  const bool running = DownloadRunning();
  if (remoteLink) remoteLink->CancelTransfer();
  if (running) {
    listHasData = false;
    UpdateCommandStates();
  }
  // Sent from a library thread (the link was lost), this runs while the
  // dialog's loop waits for its next message: ending the dialog here would
  // make that loop drop the posted message it takes next (such as the
  // link's own loss notice). End it from a posted one.
  if (InSendMessage())
    PostMessageA(dialog, kEndDownloadDialog, 0, 0);
  else
    EndDownloadDialog(dialog);
}

INT_PTR OnDownloadDialogInit(HWND dialog) {
  char text[256];
  LoadLanguageString(IDS_STEP_2, text, sizeof text);
  SetDlgItemTextA(dialog, IDT_DOWNLOAD_STEP, text);
  downloadProgress = GetDlgItem(dialog, IDT_DOWNLOAD_PROGRESS);
  downloadDialog = dialog;
  if (remoteLink) remoteLink->SetDownloadDialog(dialog);
  StartDownloadFromDialog();
  return TRUE;
}

INT_PTR OnDownloadDialogCommand(HWND dialog, WPARAM wParam) {
  if (LOWORD(wParam) != IDCANCEL) return FALSE;
  CancelDownloadDialog(dialog);
  return TRUE;
}

INT_PTR OnDownloadDialogClose(HWND dialog) {
  CancelDownloadDialog(dialog);
  return TRUE;
}

INT_PTR OnEndDownloadDialog(HWND dialog) {
  EndDownloadDialog(dialog);
  return TRUE;
}

INT_PTR OnDownloadDialogDestroy() {
  ForgetDownloadDialog();
  return FALSE;
}

INT_PTR CALLBACK DownloadDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return OnDownloadDialogInit(dialog);
    case WM_COMMAND: return OnDownloadDialogCommand(dialog, wParam);
    case WM_CLOSE: return OnDownloadDialogClose(dialog);
    case kEndDownloadDialog: return OnEndDownloadDialog(dialog);
    case WM_DESTROY: return OnDownloadDialogDestroy();
    default: return FALSE;
  }
}

bool ChooseFile(HWND window, bool save) {
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = window;
  ofn.lpstrFilter = kDtFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = chosenFilePath;
  ofn.nMaxFile = sizeof chosenFilePath;
  ofn.lpstrFileTitle = chosenFileTitle;
  ofn.nMaxFileTitle = sizeof chosenFileTitle;
  char title[256];
  LoadLanguageString(save ? IDS_SAVE_TITLE : IDS_OPEN_TITLE, title, sizeof title);
  ofn.lpstrTitle = title[0] ? title : nullptr;
  ofn.Flags =
      save ? (OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY) : (OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
  ofn.lpstrDefExt = "DT";
  return save ? GetSaveFileNameA(&ofn) != 0 : GetOpenFileNameA(&ofn) != 0;
}

void NotCaptureBox(HWND window) {
  char text[512], caption[256];
  LoadLanguageString(IDS_NOT_A_CAPTURE, text, sizeof text);
  LoadLanguageString(IDS_OPEN_ERROR_CAPTION, caption, sizeof caption);
  MessageBoxA(window, text, caption, MB_ICONERROR);
}

}  // namespace

// --- Download ---------------------------------------------------------------

void DownloadCommand(HWND window) {
  if (!languageLibrary) return;
  DialogBoxParamA(languageLibrary, MAKEINTRESOURCEA(IDD_DOWNLOAD), window, DownloadDialogProc, 0);
  ForgetDownloadDialog();
}

void CancelTransferCommand(HWND) {
  if (remoteLink) remoteLink->CancelTransfer();
  listHasData = false;
  UpdateCommandStates();
  if (captureList) InvalidateRect(captureList, nullptr, TRUE);
  ShowSignalsOfRow(-1);  // the rows went blank: no frame's signals either
}

LRESULT OnDownloadStep(WPARAM step) {
  UINT text;
  switch (step) {
    case 1: text = IDS_STEP_1; break;
    case 2: text = IDS_STEP_2; break;
    case 3: text = IDS_STEP_3; break;
    case 4: text = IDS_STEP_4; break;
    default: return 0;
  }
  SetStatusString(1, text);
  return 0;
}

LRESULT OnDownloadProgress(WPARAM position, LPARAM range) {
  if (downloadProgress) {
    SendMessageA(downloadProgress, PBM_SETRANGE32, 0, range);
    SendMessageA(downloadProgress, PBM_SETPOS, position, 0);
  }
  return 0;
}

// Shows the records of the viewer's reader after a load: the list, the
// position in status part 1 and the commands that need records.
void ShowLoadedRecords(bool loaded) {
  int32_t count = ReloadCaptureList();
  if (loaded && count > 0) {
    listHasData = true;
    SetStatusPosition(static_cast<uint32_t>(count - 1), static_cast<uint32_t>(count - 1));
  } else {
    // Nothing to show: no cell may be asked of an empty or failed load.
    listHasData = false;
    SetStatusText(1, "");
  }
  workingCopyShown = true;
  UpdateCommandStates();
}

void ShowTemporaryFile() {
  ReleaseCaptureImage(kReaderOpenedFile);
  ShowLoadedRecords(LoadCaptureFile(temporaryFilePath, kReaderDownload));
}

// A download that ended with success or cancel becomes the working copy and
// is shown (a cancelled one with whatever it holds).
void TakeDownload(HWND window) {
  // The viewer maps the working copy, and a mapped file cannot be replaced
  // (Windows and Wine both refuse the move): let it go first.
  ReleaseCaptureImage(kReaderOpenedFile);
  if (ProgramDownload().Place()) {
    ShowTemporaryFile();
    return;
  }
  // The working copy could not be replaced: show the download, but Save
  // must not copy the older working copy under its name. A copy in memory,
  // not a mapping: the next download writes this file anew.
  SaveErrorBox(window);
  ShowLoadedRecords(LoadCaptureFile(downloadFilePath, kReaderDownload, CaptureAccess::Copy));
  workingCopyShown = false;
  UpdateCommandStates();
}

// A failed download leaves the working copy and the list as they were:
// the viewer still holds what it showed before the download.
void DropDownload() {
  ProgramDownload().Drop();
  int32_t count = ViewerRecordCount();
  listHasData = count > 0;
  if (count > 0) {
    int32_t row = SelectedCaptureRow();
    SetStatusPosition(static_cast<uint32_t>(row >= 0 ? row : count - 1),
                      static_cast<uint32_t>(count - 1));
  }
  if (captureList) InvalidateRect(captureList, nullptr, TRUE);
}

LRESULT OnDownloadDone(HWND window, int32_t code) {
  if (downloadProgress) SendMessageA(downloadProgress, PBM_SETPOS, 0, 0);
  if (code >= 0 || code == kErrCancelled) {
    // The download is shown, and painted, before its dialog goes: hiding
    // the dialog can hold this thread for a while (Wine's X11 driver waits
    // up to 2 s for a window manager to withdraw a managed window, all of
    // them when there is none), and the list must not wait for that.
    TakeDownload(window);
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    if (downloadDialog) SendMessageA(downloadDialog, kEndDownloadDialog, 0, 0);
  } else {
    DropDownload();
    UpdateCommandStates();
    char format[512], text[600];
    LoadLanguageString(IDS_DOWNLOAD_ERROR_CODE, format, sizeof format);
    FormatWithCode(text, sizeof text, format, code);
    MessageBoxA(window, text, kProductCaption, MB_ICONWARNING);
  }
  UpdateCommandStates();
  return 0;
}

// --- Open and save ----------------------------------------------------------

bool OpenCaptureFile(HWND window, const char* path) {
  if (!IsCaptureFile(path)) {
    NotCaptureBox(window);
    return false;
  }
  // The viewer maps the working copy, never the chosen file: a mapped file
  // cannot be replaced, and Save may name the file that was opened. The old
  // mapping must go before the copy replaces it. Without a copy the chosen
  // file is read into memory, which leaves it free.
  ReleaseCaptureImage(kReaderOpenedFile);
  const bool copied = CopyFileA(path, temporaryFilePath, FALSE) != 0;
  const bool loaded = copied ? LoadCaptureFile(temporaryFilePath, kReaderOpenedFile)
                             : LoadCaptureFile(path, kReaderOpenedFile, CaptureAccess::Copy);
  if (!loaded) {
    // The earlier records are gone already: show the list empty rather
    // than rows whose data no longer exists.
    ShowLoadedRecords(false);
    NotCaptureBox(window);
    return false;
  }
  if (!copied) SaveErrorBox(window);
  ShowLoadedRecords(true);
  if (!copied) {
    // The working copy still holds the earlier capture: Save would write
    // that under the name of this one.
    workingCopyShown = false;
    UpdateCommandStates();
  }
  SetStatusText(0, BoardLabel(viewerReader.DataTag()));
  return true;
}

void OpenCaptureCommand(HWND window) {
  if (!ChooseFile(window, false)) return;
  InvalidateRect(window, nullptr, TRUE);
  OpenCaptureFile(window, chosenFilePath);
}

void SaveCaptureCommand(HWND window) {
  if (!ChooseFile(window, true)) return;
  InvalidateRect(window, nullptr, TRUE);
  if (!CopyFileA(temporaryFilePath, chosenFilePath, FALSE)) SaveErrorBox(window);
}

}  // namespace ksvw
