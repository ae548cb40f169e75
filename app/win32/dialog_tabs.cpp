#include "app/win32/dialog_tabs.h"

#include <commctrl.h>

namespace ksvw {

namespace {

HHOOK tabKeysHook = nullptr;
HWND tabKeysDialog = nullptr;
HWND tabKeysTabs = nullptr;

void SwitchPage(bool back) {
  const int count = static_cast<int>(SendMessageA(tabKeysTabs, TCM_GETITEMCOUNT, 0, 0));
  if (count <= 1) return;
  int index = static_cast<int>(SendMessageA(tabKeysTabs, TCM_GETCURSEL, 0, 0));
  index = (index + (back ? count - 1 : 1)) % count;
  SendMessageA(tabKeysTabs, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  NMHDR change{tabKeysTabs, static_cast<UINT_PTR>(GetDlgCtrlID(tabKeysTabs)),
               static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageA(tabKeysDialog, WM_NOTIFY, change.idFrom, reinterpret_cast<LPARAM>(&change));
}

bool IsTabKey(const MSG* message) {
  return message->message == WM_KEYDOWN && message->wParam == VK_TAB &&
         GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0 &&
         (message->hwnd == tabKeysDialog || IsChild(tabKeysDialog, message->hwnd));
}

LRESULT CALLBACK TabKeysHook(int code, WPARAM wParam, LPARAM lParam) {
  const MSG* message = reinterpret_cast<const MSG*>(lParam);
  if (code == MSGF_DIALOGBOX && message && tabKeysDialog && IsTabKey(message)) {
    SwitchPage(GetKeyState(VK_SHIFT) < 0);
    return 1;  // taken: the dialog does not move the focus as for Tab
  }
  return CallNextHookEx(tabKeysHook, code, wParam, lParam);
}

}  // namespace

void StartTabKeys(HWND dialog, HWND tabs) {
  StopTabKeys();
  tabKeysDialog = dialog;
  tabKeysTabs = tabs;
  tabKeysHook = SetWindowsHookExA(WH_MSGFILTER, TabKeysHook, nullptr, GetCurrentThreadId());
}

void StopTabKeys() {
  if (tabKeysHook) UnhookWindowsHookEx(tabKeysHook);
  tabKeysHook = nullptr;
  tabKeysDialog = tabKeysTabs = nullptr;
}

}  // namespace ksvw
