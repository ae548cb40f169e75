// The search dialog and the commands that repeat its search over the
// capture list; the condition, its validation and the scans are the
// portable core's (capture/search.h).
//
// The dialog is a tab control over five child pages, one per kind of
// condition. The pages are DS_CONTROL children (WS_EX_CONTROLPARENT), so
// Tab and Enter move through their fields as through the dialog's own.
#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include "app/safe_format.h"
#include "app/win32/app_state.h"
#include "app/win32/command_handlers.h"
#include "app/win32/commands.h"
#include "app/win32/dialog_tabs.h"
#include "capture/capture_reader.h"
#include "capture/search.h"
#include "capture/win32/capture_list.h"
#include "common/resource_ids.h"

namespace ksvw {

namespace {

constexpr const char* kTabTitles[kSearchKinds] = {"TRIGGER", "ERROR", "DATA", "TIME", "EXT IN"};
constexpr const char* kChannels[] = {"CH1", "CH2"};
constexpr const char* kFrameKinds[] = {"DATA", "REMOTE"};
constexpr const char* kLevels[] = {"0", "1"};

// The one condition of the program run.
SearchCondition searchCondition{};

// The open dialog's tab control and pages, by kind (the dialog is modal).
HWND searchTabs = nullptr;
HWND searchPages[kSearchKinds] = {};

HWND Page(int kind) {
  return searchPages[kind];
}

// --- Moving texts between the pages and SearchPageTexts ---------------------------

// Every edit of the pages with the kind of the page it lives on.
template <typename Visit>
void ForEachEdit(Visit visit) {
  for (int id : kIdentifierControls) visit(kSearchData, id, kBitFieldLimit);
  for (int id : kDataByteControls) visit(kSearchData, id, kByteFieldLimit);
  for (const auto& row : kPatternControls)
    for (int id : row) visit(kSearchData, id, kBitFieldLimit);
  for (int id : kTimeControls) visit(kSearchTime, id, kByteFieldLimit);
}

void FillCombo(HWND page, int id, const char* const* entries, int count, int selected) {
  for (int i = 0; i < count; ++i)
    SendDlgItemMessageA(page, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entries[i]));
  SendDlgItemMessageA(page, id, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

// "REMOTE" frames carry no data: their byte and pattern fields are off.
void EnableDataFields(HWND page) {
  BOOL data = SendDlgItemMessageA(page, kFrameKindCombo, CB_GETCURSEL, 0, 0) != 1;
  for (int id : kDataByteControls) EnableWindow(GetDlgItem(page, id), data);
  for (const auto& row : kPatternControls)
    for (int id : row) EnableWindow(GetDlgItem(page, id), data);
}

void FillPages(const SearchPageTexts& texts) {
  for (int i = 0; i < kErrorBoxCount; ++i)
    CheckDlgButton(Page(kSearchError), kErrorBoxControls[i],
                   texts.errorBoxes[i] ? BST_CHECKED : BST_UNCHECKED);
  HWND data = Page(kSearchData);
  FillCombo(data, kChannelCombo, kChannels, 2, texts.channel == 1 ? 1 : 0);
  FillCombo(data, kFrameKindCombo, kFrameKinds, 2, texts.frameKind == 1 ? 1 : 0);
  ForEachEdit([&](int kind, int id, int limit) {
    SendDlgItemMessageA(Page(kind), id, EM_LIMITTEXT, static_cast<WPARAM>(limit), 0);
    SetDlgItemTextA(Page(kind), id, FieldText(texts, id));
  });
  EnableDataFields(data);
  FillCombo(Page(kSearchExtInput), kExtInCombo, kLevels, 2, texts.extIn[0] == '1' ? 1 : 0);
}

int ComboSelection(HWND page, int id) {
  return static_cast<int>(SendDlgItemMessageA(page, id, CB_GETCURSEL, 0, 0));
}

SearchPageTexts ReadPages() {
  SearchPageTexts texts{};
  for (int i = 0; i < kErrorBoxCount; ++i)
    texts.errorBoxes[i] = IsDlgButtonChecked(Page(kSearchError), kErrorBoxControls[i]) != 0;
  texts.channel = ComboSelection(Page(kSearchData), kChannelCombo) == 1 ? 1 : 0;
  texts.frameKind = ComboSelection(Page(kSearchData), kFrameKindCombo) == 1 ? 1 : 0;
  ForEachEdit([&](int kind, int id, int) {
    GetDlgItemTextA(Page(kind), id, FieldText(texts, id), kFieldTextCapacity);
  });
  texts.extIn[0] = ComboSelection(Page(kSearchExtInput), kExtInCombo) == 1 ? '1' : '0';
  return texts;
}

// --- Pages --------------------------------------------------------------------------

INT_PTR OnPageCommand(HWND page, WPARAM wParam, LPARAM lParam) {
  WORD code = HIWORD(wParam);
  if (code == CBN_SELCHANGE && LOWORD(wParam) == kFrameKindCombo) EnableDataFields(page);
  // Typing into a field replaces what it showed.
  if (code == EN_SETFOCUS) SendMessageA(reinterpret_cast<HWND>(lParam), EM_SETSEL, 0, -1);
  return FALSE;
}

INT_PTR CALLBACK SearchPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return FALSE;
    case WM_COMMAND: return OnPageCommand(page, wParam, lParam);
    default: return FALSE;
  }
}

// --- The dialog ---------------------------------------------------------------------

void ShowSearchPage(int kind) {
  for (HWND page : searchPages)
    if (page) ShowWindow(page, SW_HIDE);
  if (kind < 0 || kind >= kSearchKinds || !Page(kind)) return;
  ShowWindow(Page(kind), SW_SHOW);
  HWND first = GetNextDlgTabItem(Page(kind), nullptr, FALSE);
  SetFocus(first ? first : Page(kind));
}

bool CreatePages(HWND dialog) {
  RECT area;
  GetClientRect(searchTabs, &area);
  SendMessageA(searchTabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  MapWindowPoints(searchTabs, dialog, reinterpret_cast<POINT*>(&area), 2);
  for (int kind = 0; kind < kSearchKinds; ++kind) {
    searchPages[kind] = CreateDialogParamA(
        languageLibrary, MAKEINTRESOURCEA(kSearchPageDialogs[kind]), dialog, SearchPageProc, 0);
    if (!searchPages[kind]) return false;
    SetWindowPos(searchPages[kind], HWND_TOP, area.left, area.top, area.right - area.left,
                 area.bottom - area.top, SWP_NOACTIVATE);
  }
  return true;
}

INT_PTR OnInitSearchDialog(HWND dialog) {
  InitCommonControls();
  searchTabs = GetDlgItem(dialog, kSearchTabControl);
  for (int kind = 0; kind < kSearchKinds; ++kind) {
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(kTabTitles[kind]);
    SendMessageA(searchTabs, TCM_INSERTITEMA, static_cast<WPARAM>(kind),
                 reinterpret_cast<LPARAM>(&item));
  }
  // Without all five pages the dialog could neither show nor read the
  // condition: it closes as if cancelled.
  if (!CreatePages(dialog)) {
    CancelSearch(searchCondition);
    EndDialog(dialog, 0);
    return FALSE;
  }
  FillPages(OpenSearchPages(searchCondition));
  int kind = ShownSearchKind(searchCondition);
  SendMessageA(searchTabs, TCM_SETCURSEL, static_cast<WPARAM>(kind), 0);
  ShowSearchPage(kind);
  StartTabKeys(dialog, searchTabs);
  CheckRadioButton(
      dialog, kSearchModeFirstRadio, kSearchModeCountRadio,
      searchCondition.mode == kSearchCount ? kSearchModeCountRadio : kSearchModeFirstRadio);
  return FALSE;  // the focus is set
}

int CheckedMode(HWND dialog) {
  bool first = IsDlgButtonChecked(dialog, kSearchModeFirstRadio) == BST_CHECKED;
  bool count = IsDlgButtonChecked(dialog, kSearchModeCountRadio) == BST_CHECKED;
  if (first == count) return -1;
  return count ? kSearchCount : kSearchSelectFirst;
}

void InputErrorBox(HWND dialog, const SearchInputError& error, int kind) {
  char text[512];
  LoadLanguageString(static_cast<UINT>(error.stringId), text, sizeof text);
  MessageBoxA(dialog, text, kInputErrorCaption, MB_ICONWARNING);
  // By the field's own window: its id may be taken in the dialog itself
  // (1083 is both a pattern bit and the search-upward button).
  HWND field = GetDlgItem(Page(kind), error.controlId);
  if (field) SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
}

void OnSearchButton(HWND dialog, SearchDirection direction) {
  int kind = static_cast<int>(SendMessageA(searchTabs, TCM_GETCURSEL, 0, 0));
  if (kind < 0 || kind >= kSearchKinds) kind = kSearchTrigger;
  SearchPageTexts texts = ReadPages();
  SearchInputError error = ValidateSearchPage(texts, kind);
  if (!error.ok()) {
    InputErrorBox(dialog, error, kind);
    return;
  }
  int mode = CheckedMode(dialog);
  if (mode < 0) return;
  if (!StoreSearch(texts, kind, mode, direction, searchCondition).ok()) return;
  EndDialog(dialog, 1);
}

void OnSearchCancel(HWND dialog) {
  CancelSearch(searchCondition);
  EndDialog(dialog, 0);
}

INT_PTR OnSearchDialogCommand(HWND dialog, WPARAM wParam, LPARAM lParam) {
  WORD id = LOWORD(wParam);
  if (id == kSearchDownButton) {
    OnSearchButton(dialog, SearchDirection::Down);
    return TRUE;
  }
  if (id == kSearchCancelButton) {
    OnSearchCancel(dialog);
    return TRUE;
  }
  // Only a click of the dialog's own button 1083.
  HWND upButton = GetDlgItem(dialog, kSearchUpButton);
  if (id == kSearchUpButton && HIWORD(wParam) == BN_CLICKED &&
      reinterpret_cast<HWND>(lParam) == upButton) {
    OnSearchButton(dialog, SearchDirection::Up);
    return TRUE;
  }
  return FALSE;
}

INT_PTR OnSearchDialogNotify(const NMHDR* header) {
  if (header->idFrom == static_cast<UINT_PTR>(kSearchTabControl) && header->code == TCN_SELCHANGE)
    ShowSearchPage(static_cast<int>(SendMessageA(searchTabs, TCM_GETCURSEL, 0, 0)));
  return FALSE;
}

INT_PTR CALLBACK SearchDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnInitSearchDialog(dialog);
    case WM_COMMAND: return OnSearchDialogCommand(dialog, wParam, lParam);
    case WM_NOTIFY: return OnSearchDialogNotify(reinterpret_cast<const NMHDR*>(lParam));
    default: return FALSE;
  }
}

// --- Results ------------------------------------------------------------------------

void ShowSearchResult(HWND window, int mode, uint64_t count) {
  char caption[kResultCaptionChars + 1], format[512], text[600];
  LoadLanguageString(kStringResultCaption, caption, sizeof caption);
  int id = SearchResultStringId(mode, count);
  LoadLanguageString(static_cast<UINT>(id), format, sizeof format);
  // String 20038 comes from the language library: whatever integer it takes
  // gets the whole count.
  if (id == kStringCountFormat)
    FormatWithCount(text, sizeof text, format, count);
  else
    SafeFormat(text, sizeof text, "%s", format);
  MessageBoxA(window, text, caption, MB_OK);
}

void ShowOutcome(HWND window, const SearchResult& result) {
  if (searchCondition.mode == kSearchSelectFirst && result.row >= 0) {
    SelectCaptureRow(result.row);
    return;
  }
  ShowSearchResult(window, searchCondition.mode, result.count);
  if (captureList) SetFocus(captureList);
}

// The list's rows are viewerReader's records while the list has data; an
// emptied list has none to search.
const CaptureReader& SearchedReader() {
  static const CaptureReader empty;
  return listHasData ? viewerReader : empty;
}

}  // namespace

void SearchCommand(HWND window) {
  if (!languageLibrary) return;
  // Only a search button of this opening sets it again: a dialog that
  // could not be created must not repeat an earlier search.
  searchCondition.set = false;
  DialogBoxParamA(languageLibrary, MAKEINTRESOURCEA(kSearchDialog), window, SearchDialogProc, 0);
  StopTabKeys();
  searchTabs = nullptr;
  for (HWND& page : searchPages) page = nullptr;
  if (!searchCondition.set) return;
  // From now on 1009 and 1010 have a condition to repeat (a later Cancel
  // keeps it).
  searchConditionSet = true;
  UpdateCommandStates();
  PostMessageA(window, WM_COMMAND,
               searchCondition.direction == SearchDirection::Up ? IDC_SEARCH_UP : IDC_SEARCH_DOWN,
               0);
}

void FindPreviousCommand(HWND window) {
  ShowOutcome(window, FindBackward(SearchedReader(), searchCondition, SelectedCaptureRow()));
}

void FindNextCommand(HWND window) {
  ShowOutcome(window, FindForward(SearchedReader(), searchCondition, SelectedCaptureRow()));
}

}  // namespace ksvw
