// Figures of the main window, created in this process in a real window
// (needs a display): opening a full 12 MiB capture until its first rows are
// drawn, and the memory it takes. The window's behaviour is tested in the
// real program, driven from outside (tests/gui/README.md names the tests).
#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>
#include <gtest/gtest.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/win32/app_state.h"
#include "app/win32/main_window.h"
#include "capture/capture_record.h"
#include "capture/win32/capture_list.h"
#include "common/files.h"
#include "remote/ksvwrmt.h"
#include "remote/win32/capture_files.h"
#include "settings/win32/settings_store.h"
#include "testsupport/capture_builder.h"

namespace ksvw {
namespace {

std::string testFolder;

void Pump() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
    if (m.message != WM_QUIT) DispatchMessageA(&m);
}

std::string StatusText(int part) {
  char text[256] = {};
  SendMessageA(mainStatusBar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
  return text;
}

// The process's memory: Wine leaves PrivateUsage at 0, so PagefileUsage (the
// same commit charge) stands for the committed bytes.
PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters;
}

// The program's start-up, with its files in a folder of the test's own.
class MainWindow : public ::testing::Environment {
 public:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    testFolder = std::string(temp) + "ksvw_main_window_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(testFolder.c_str(), nullptr);
    std::snprintf(executableFolder, sizeof executableFolder, "%s", testFolder.c_str());
    JoinPath(executableFolder, kTemporaryFileName, temporaryFilePath, sizeof temporaryFilePath);

    applicationInstance = GetModuleHandleA(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
    ASSERT_GE(KSInitializeRemote(), 0);
    languageLibrary = LoadLibraryA("ksvw4q1033.dll");
    ASSERT_NE(languageLibrary, nullptr);

    WNDCLASSA c{};
    c.style = CS_HREDRAW | CS_VREDRAW;
    c.lpfnWndProc = MainWindowProc;
    c.hInstance = applicationInstance;
    c.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    c.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    c.lpszClassName = kMainWindowClass;
    ASSERT_TRUE(RegisterClassA(&c));
    HWND window = CreateWindowExA(0, kMainWindowClass, "ksvw4q", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  0, 0, 745, 500, nullptr, nullptr, applicationInstance, nullptr);
    ASSERT_NE(window, nullptr) << "CreateWindowEx failed, error " << GetLastError();
    Pump();
  }
  void TearDown() override {
    if (mainWindow) {
      SendMessageA(mainWindow, WM_CLOSE, 0, 0);  // not connected: no question
      Pump();
      DestroyWindow(mainWindow);
    }
    DeleteFileA((testFolder + "\\SETTING.ini").c_str());
    DeleteFileA(temporaryFilePath);
    RemoveDirectoryA(testFolder.c_str());
  }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new MainWindow);

TEST(CaptureListFigures, OpenAndListAFullCapture) {
  const uint32_t records = 393216;
  const std::string path = testFolder + "\\full.DT";
  ASSERT_TRUE(build::WriteFile(path, build::GenerateCapture(records, kTagMdcl, 11)));
  PROCESS_MEMORY_COUNTERS before = Memory();
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  ASSERT_TRUE(OpenCaptureFile(mainWindow, path.c_str()));
  UpdateWindow(captureList);  // the first screen of rows drawn
  QueryPerformanceCounter(&end);
  PROCESS_MEMORY_COUNTERS after = Memory();
  EXPECT_EQ(SendMessageA(captureList, LVM_GETITEMCOUNT, 0, 0), static_cast<LRESULT>(records));
  EXPECT_EQ(StatusText(1), "393215 / 393215");
  WIN32_FILE_ATTRIBUTE_DATA info{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info);
  std::printf(
      "figure: open and list %lu records (%.1f MiB file): %.1f ms; committed +%.1f MiB, "
      "working set +%.1f MiB (process: %.1f MiB committed, %.1f MiB working set)\n",
      static_cast<unsigned long>(records), info.nFileSizeLow / 1048576.0,
      1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart,
      (static_cast<double>(after.PagefileUsage) - before.PagefileUsage) / 1048576.0,
      (static_cast<double>(after.WorkingSetSize) - before.WorkingSetSize) / 1048576.0,
      after.PagefileUsage / 1048576.0, after.WorkingSetSize / 1048576.0);
  // Scrolling to the end asks only for the rows on screen.
  SelectCaptureRow(records - 1);
  Pump();
  EXPECT_EQ(StatusText(1), "393215 / 393215");
  DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace ksvw
