#include "signals/win32/signal_view.h"

#include <commctrl.h>

#include <cstring>
#include <string>

#include "app/win32/app_state.h"
#include "capture/capture_reader.h"
#include "capture/win32/capture_list.h"
#include "common/resource_ids.h"
#include "settings/win32/settings_store.h"

namespace ksvw {

namespace {

constexpr int kHeadingHeight = 20;
// Column widths in average characters of the list's font.
constexpr int kColumnChars[signals::kPaneColumnCount] = {26, 16, 9, 22, 20};

HWND heading = nullptr;
HWND paneList = nullptr;
std::string startupReport;  // what the start-up load could not read

std::string LanguageString(UINT id) {
  char text[512];
  LoadLanguageString(id, text, sizeof text);
  return text;
}

void AddColumns(HWND list) {
  const int average = AverageCharWidth(list, 6);
  for (int column = 0; column < signals::kPaneColumnCount; ++column) {
    std::string title = LanguageString(IDS_SIGNALS_COLUMN_FIRST + column);
    LVCOLUMNA c{};
    c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    c.fmt = LVCFMT_LEFT;
    c.cx = kColumnChars[column] * average;
    c.pszText = title.data();
    c.iSubItem = column;
    SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&c));
  }
}

// The heading for what the pane shows: the frame (channel, identifier and
// message) and what became of it.
std::string HeadingText() {
  const signals::SignalPane& pane = SignalPaneModel();
  const std::string frame = pane.Heading();
  switch (pane.State()) {
    case signals::PaneState::NoRecord: return LanguageString(IDS_SIGNALS_NO_ROW);
    case signals::PaneState::NotDecoded: return LanguageString(IDS_SIGNALS_NOT_DECODED);
    case signals::PaneState::NoDatabase:
      return frame + ": " + LanguageString(IDS_SIGNALS_NO_DATABASE);
    case signals::PaneState::NotInDatabase:
      return frame + ": " + LanguageString(IDS_SIGNALS_NOT_IN_DATABASE);
    case signals::PaneState::Decoded: break;
  }
  if (pane.BeyondFrame() == 0) return frame;
  return frame + "   (" + LanguageString(IDS_SIGNALS_BEYOND) + " " +
         std::to_string(pane.BeyondFrame()) + ")";
}

LRESULT OnGetDispInfo(NMLVDISPINFOA* info) {
  LVITEMA& item = info->item;
  if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
    SignalPaneModel().Cell(item.iItem, item.iSubItem, item.pszText,
                           static_cast<size_t>(item.cchTextMax));
  }
  return 0;
}

}  // namespace

signals::SignalPane& SignalPaneModel() {
  static signals::SignalPane pane;
  return pane;
}

void CreateSignalPane(HWND parent) {
  heading = CreateWindowExA(0, "STATIC", "", WS_CHILD | SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE, 0,
                            0, 0, 0, parent,
                            reinterpret_cast<HMENU>(static_cast<intptr_t>(IDT_SIGNAL_PANE_HEADING)),
                            applicationInstance, nullptr);
  paneList = CreateWindowExA(
      WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
      WS_CHILD | LVS_REPORT | LVS_OWNERDATA | LVS_NOSORTHEADER | LVS_SINGLESEL, 0, 0, 0, 0, parent,
      reinterpret_cast<HMENU>(static_cast<intptr_t>(IDT_SIGNAL_PANE_LIST)), applicationInstance,
      nullptr);
  if (!heading || !paneList) return;
  SendMessageA(paneList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  // The heading in the list's font, not the system font of a plain static.
  SendMessageA(heading, WM_SETFONT, SendMessageA(paneList, WM_GETFONT, 0, 0), FALSE);
  AddColumns(paneList);
}

void LoadSignalDatabasesAtStart(HWND window) {
  PrivateProfileSource profile(SettingsFilePath);
  startupReport.clear();
  for (int channel : {1, 2}) {
    char path[MAX_PATH * 4];
    const char key[] = {'C', 'H', static_cast<char>('0' + channel), '\0'};
    profile.ReadText(kSectionDbc, key, "", path, sizeof path);
    signals::DbcError error;
    if (!SignalPaneModel().Load(channel, path, error)) startupReport += "\n\n" + error.Text();
  }
  if (!startupReport.empty()) PostMessageA(window, WM_APP_SIGNALS_REPORT, 0, 0);
  ShowSignalsOfRow(-1);
}

LRESULT ReportSignalDatabaseFailures(HWND window) {
  if (startupReport.empty()) return 0;
  const std::string text = LanguageString(IDS_SIGNALS_START_FAILED) + startupReport;
  startupReport.clear();
  MessageBoxA(window, text.c_str(), LanguageString(IDS_SIGNALS_CAPTION).c_str(), MB_ICONWARNING);
  return 0;
}

bool SignalPaneShown() {
  return paneList != nullptr && SignalPaneModel().Active();
}

void LayoutSignalPane(int x, int y, int width, int height) {
  if (!paneList) return;
  const int show = SignalPaneShown() ? SW_SHOW : SW_HIDE;
  MoveWindow(heading, x + 4, y, width - 4, kHeadingHeight, TRUE);
  MoveWindow(paneList, x, y + kHeadingHeight, width, height - kHeadingHeight, TRUE);
  ShowWindow(heading, show);
  ShowWindow(paneList, show);
}

void RelayoutMainWindow() {
  RECT client;
  if (!mainWindow || !GetClientRect(mainWindow, &client)) return;
  SendMessageA(mainWindow, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
}

void ShowSignalsOfRow(int32_t row) {
  signals::SignalPane& pane = SignalPaneModel();
  if (!paneList || !pane.Active()) return;
  const bool inList = listHasData && row >= 0 && row < viewerReader.RecordCount();
  pane.Show(inList ? &viewerReader.Record(row) : nullptr);
  SetWindowTextA(heading, HeadingText().c_str());
  // A few rows: the count set anew redraws them all.
  SendMessageA(paneList, LVM_SETITEMCOUNT, static_cast<WPARAM>(pane.Rows()), 0);
  InvalidateRect(paneList, nullptr, FALSE);
}

bool IsSignalPaneControl(HWND control) {
  return control != nullptr && control == paneList;
}

LRESULT HandleSignalPaneNotify(const NMHDR* header) {
  if (header->code == LVN_GETDISPINFOA)
    return OnGetDispInfo(reinterpret_cast<NMLVDISPINFOA*>(const_cast<NMHDR*>(header)));
  return 0;
}

}  // namespace ksvw
