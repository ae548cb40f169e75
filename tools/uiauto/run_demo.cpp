// Drives a running ksvw4q.exe the way a user would, for scripts/run.sh:
//   ksvw_run_demo download   connect and download the analyzer's capture
//   ksvw_run_demo keyemu     open the key emulator (F8) and press its key 5
// Prints each step; exit status 0 when all went through. The program and
// the simulator are started by the script, which takes a picture after
// each part (the key emulator opens over the main window).
#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "common/resource_ids.h"
#include "tools/uiauto/uiauto.h"

using namespace ksvw::uiauto;

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "run_demo: %s\n", what);
  return 1;
}

bool ButtonEnabled(HWND toolbar, UINT id) {
  LRESULT state = 0;
  return Send(toolbar, TB_GETSTATE, id, 0, &state) && state == TBSTATE_ENABLED;
}

int PressAKey(HWND main, DWORD pid) {
  std::printf("run_demo: open the key emulator and press 5\n");
  PostCommand(main, IDC_KEY_EMULATOR);
  HWND frame = WaitForWindow(pid, "KESTRIN_ksvw4q_WindowClass_KeyEmuFrame");
  HWND key = frame ? FindControl(frame, 20005) : nullptr;
  if (!key || !WaitUntil([&] { return IsWindowEnabled(key) != 0; }))
    return Fail("no key emulator, or its keys stay disabled");
  ClickAt(key, {19, 12});
  Sleep(500);  // the analyzer's new screen arrives and is painted
  // The pointer off the panel, for the picture (SendInput: SetCursorPos
  // from another process does not move it under Wine).
  INPUT move{};
  move.type = INPUT_MOUSE;
  move.mi.dx = move.mi.dy = 65535;
  move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &move, sizeof move);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool download = argc == 2 && std::strcmp(argv[1], "download") == 0;
  if (argc != 2 || (!download && std::strcmp(argv[1], "keyemu") != 0))
    return Fail("usage: ksvw_run_demo download|keyemu");
  HWND main = nullptr;
  WaitUntil([&] { return (main = FindWindowA("ksvw4", nullptr)) != nullptr; });
  if (!main) return Fail("no main window");
  HWND toolbar = FindChildOfClass(main, TOOLBARCLASSNAMEA);
  HWND list = FindChildOfClass(main, WC_LISTVIEWA);
  if (!toolbar || !list) return Fail("the main window has no toolbar or list");
  DWORD pid = 0;
  GetWindowThreadProcessId(main, &pid);

  if (!download) return PressAKey(main, pid);

  std::printf("run_demo: connect\n");
  PostCommand(main, IDC_CONNECT);
  if (!WaitUntil([&] { return ButtonEnabled(toolbar, IDC_DOWNLOAD); }))
    return Fail("not connected");

  std::printf("run_demo: download the capture\n");
  PostCommand(main, IDC_DOWNLOAD);
  LRESULT rows = 0;
  if (!WaitUntil([&] { return Send(list, LVM_GETITEMCOUNT, 0, 0, &rows) && rows > 0; }, 120000))
    return Fail("nothing was downloaded");
  WaitForWindowGone(pid, "#32770");
  std::printf("run_demo: %ld rows in the list\n", static_cast<long>(rows));
  return 0;
}
