#include "remote/win32/capture_files.h"

#include <commctrl.h>
#include <commdlg.h>

#include "app/resource_ids.h"
#include "app/safe_format.h"
#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"
#include "app/win32/commands.h"
#include "capture/capture_reader.h"
#include "capture/capture_record.h"
#include "capture/win32/capture_list.h"
#include "remote/win32/ks_remote4q.h"

namespace ksvw {

namespace {

constexpr char kProductCaption[] = "KS-VW4QX";
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

// Enables save and search when the viewer has records, else disables them.
void UpdateRecordCommands(int32_t count) {
  if (count > 0) {
    EnableCommand(IDC_SAVE);
    EnableToolbarButton(IDC_SEARCH);
  } else {
    DisableCommand(IDC_SAVE);
    DisableToolbarButton(IDC_SEARCH);
    DisableToolbarButton(IDC_SEARCH_UP);
    DisableToolbarButton(IDC_SEARCH_DOWN);
  }
}

void StartDownloadFromDialog() {
  for (UINT id : {IDC_CONNECT, IDC_DISCONNECT, IDC_DOWNLOAD, IDC_CONNECTION_SETTINGS, IDC_OPEN,
                  IDC_KEY_EMULATOR, IDC_SAVE})
    DisableToolbarButton(id);
  int32_t result = remoteLink ? remoteLink->StartDownload(temporaryFilePath) : kErrPointer;
  if (result < 0) {
    for (UINT id : {IDC_DISCONNECT, IDC_DOWNLOAD, IDC_OPEN, IDC_KEY_EMULATOR})
      EnableToolbarButton(id);
  }
}

// The dialog's own message: end it (see the IDCANCEL handling).
constexpr UINT kEndDownloadDialog = WM_APP + 100;

void EndDownloadDialog(HWND dialog) {
  ForgetDownloadDialog();
  EndDialog(dialog, 0);
}

INT_PTR CALLBACK DownloadDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      char text[256];
      LoadLanguageString(IDS_STEP_2, text, sizeof text);
      SetDlgItemTextA(dialog, IDT_DOWNLOAD_STEP, text);
      downloadProgress = GetDlgItem(dialog, IDT_DOWNLOAD_PROGRESS);
      downloadDialog = dialog;
      if (remoteLink) remoteLink->SetDownloadDialog(dialog);
      StartDownloadFromDialog();
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        if (remoteLink) remoteLink->CancelTransfer();
        listHasData = 0;
        // Sent from a library thread (the link was lost), this runs while
        // the dialog's loop waits for its next message: ending the dialog
        // here would make that loop drop the posted message it takes next
        // (such as the link's own loss notice). End it from a posted one.
        if (InSendMessage())
          PostMessageA(dialog, kEndDownloadDialog, 0, 0);
        else
          EndDownloadDialog(dialog);
        return TRUE;
      }
      return FALSE;
    case kEndDownloadDialog: EndDownloadDialog(dialog); return TRUE;
    case WM_CLOSE:
    case WM_DESTROY: EndDownloadDialog(dialog); return TRUE;
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

const char* BoardText(uint32_t dataTag) {
  return BoardLabel(dataTag);
}

// --- Download ---------------------------------------------------------------

void DownloadCommand(HWND window) {
  if (!languageLibrary) return;
  DialogBoxParamA(languageLibrary, MAKEINTRESOURCEA(IDD_DOWNLOAD), window, DownloadDialogProc, 0);
  ForgetDownloadDialog();
}

void CancelTransferCommand(HWND) {
  if (remoteLink) remoteLink->CancelTransfer();
  listHasData = 0;
  if (captureList) InvalidateRect(captureList, nullptr, TRUE);
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

LRESULT OnDownloadDone(HWND window, int32_t code) {
  if (downloadProgress) SendMessageA(downloadProgress, PBM_SETPOS, 0, 0);
  if (code >= 0 || code == kErrCancelled) {
    if (downloadDialog) SendMessageA(downloadDialog, WM_CLOSE, 0, 0);
    ShowTemporaryFile();
  } else {
    char format[512], text[600];
    LoadLanguageString(IDS_DOWNLOAD_ERROR_CODE, format, sizeof format);
    FormatWithCode(text, sizeof text, format, code);
    MessageBoxA(window, text, kProductCaption, MB_ICONWARNING);
  }
  for (UINT id : {IDC_DISCONNECT, IDC_DOWNLOAD, IDC_OPEN, IDC_KEY_EMULATOR}) EnableCommand(id);
  return 0;
}

// Shows the records of the viewer's reader after a load: the list, the
// position in status part 1 and the commands that need records.
void ShowLoadedRecords(bool loaded) {
  int32_t count = ReloadCaptureList();
  if (loaded && count > 0) {
    listHasData = 1;
    SetStatusPosition(static_cast<uint32_t>(count - 1), static_cast<uint32_t>(count - 1));
  } else {
    // Nothing to show: no cell may be asked of an empty or failed load.
    listHasData = 0;
    SetStatusText(1, "");
  }
  UpdateRecordCommands(count);
}

void ShowTemporaryFile() {
  ReleaseCaptureImage(0);
  ShowLoadedRecords(LoadCaptureFile(temporaryFilePath, 1));
}

// --- Open and save ----------------------------------------------------------

bool OpenCaptureFile(HWND window, const char* path) {
  if (!IsCaptureFile(path)) {
    NotCaptureBox(window);
    return false;
  }
  ReleaseCaptureImage(0);
  if (!LoadCaptureFile(path, 0)) {
    // The earlier records are gone already: show the list empty rather
    // than rows whose data no longer exists.
    ShowLoadedRecords(false);
    NotCaptureBox(window);
    return false;
  }
  if (!CopyFileA(path, temporaryFilePath, FALSE)) SaveErrorBox(window);
  ShowLoadedRecords(true);
  SetStatusText(0, BoardText(viewerReader.DataTag()));
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
