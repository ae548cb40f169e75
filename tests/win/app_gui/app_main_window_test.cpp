// The main window in a real window (needs a display): its state after
// creation, the capture list over an opened file, selection, the time
// column toggle, a cancelled transfer, and the figures of a full 12 MiB
// capture (printed, not asserted).
#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>
#include <gtest/gtest.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/resource_ids.h"
#include "app/win32/app_state.h"
#include "app/win32/main_window.h"
#include "capture/capture_reader.h"
#include "capture/win32/capture_list.h"
#include "remote/ksvwrmt.h"
#include "remote/win32/capture_files.h"
#include "remote/win32/ks_remote4q.h"
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

std::string Cell(int row, int column) {
  char text[64] = "<unset>";
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(captureList, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  return text;
}

int ToolbarState(UINT id) {
  return static_cast<int>(SendMessageA(mainToolbar, TB_GETSTATE, id, 0));
}

UINT MenuState(UINT id) {
  return GetMenuState(GetMenu(mainWindow), id, MF_BYCOMMAND);
}

void Command(UINT id) {
  SendMessageA(mainWindow, WM_COMMAND, id, 0);
  Pump();
}

std::string WriteCapture(const char* name, const std::vector<uint8_t>& bytes) {
  std::string path = testFolder + "\\" + name;
  EXPECT_TRUE(build::WriteFile(path, bytes));
  return path;
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
    JoinPath(executableFolder, kDownloadFileName, downloadFilePath, sizeof downloadFilePath);

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
    ASSERT_NE(window, nullptr);
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

// The title, the status texts, the empty list and the settings file beside
// the program are checked in the real program (gui_program_tests); here
// the menu's and toolbar's make-up and the status bar's parts.
TEST(MainWindowCreation, MenuToolbarAndStatusParts) {
  ASSERT_NE(mainWindow, nullptr);
  for (UINT id : {1003u, 1006u, 1007u, 1008u, 1009u, 1010u, 2000u, 2019u, 2104u, 2105u, 2124u,
                  40010u, 40012u, 40014u, 40018u})
    EXPECT_NE(MenuState(id), static_cast<UINT>(-1)) << "menu item " << id;
  // The command states at creation are the program tests' (they read the
  // menu and toolbar of the real program); here the toolbar's make-up.
  EXPECT_EQ(SendMessageA(mainToolbar, TB_BUTTONCOUNT, 0, 0), 14);
  // Button order and images (command, image; 0, 0 a separator): open, save, ...
  const int buttons[14][2] = {{1007, 4}, {40014, 12}, {0, 0},      {2104, 0}, {2105, 1},
                              {1003, 2}, {2019, 8},   {0, 0},      {1008, 5}, {1009, 6},
                              {1010, 7}, {0, 0},      {40010, 10}, {2000, 11}};
  for (int i = 0; i < 14; ++i) {
    TBBUTTON b{};
    SendMessageA(mainToolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b));
    EXPECT_EQ(b.idCommand, buttons[i][0]) << "button " << i;
    EXPECT_EQ(buttons[i][0] ? b.iBitmap : !(b.fsStyle & BTNS_SEP), buttons[i][1]) << i;
  }

  int edges[3] = {};
  EXPECT_EQ(SendMessageA(mainStatusBar, SB_GETPARTS, 3, reinterpret_cast<LPARAM>(edges)), 3);
  EXPECT_EQ(edges[0], 150);
  EXPECT_EQ(edges[1], 400);
}

TEST(MainWindowLayout, ListBetweenToolbarAndStatusBar) {
  EXPECT_EQ(CaptureListHeight(100, 20), 53);
  EXPECT_EQ(CaptureListHeight(100, -1), 54);
  SetWindowPos(mainWindow, nullptr, 0, 0, 600, 400, SWP_NOMOVE | SWP_NOZORDER);
  Pump();
  RECT client, list, status;
  GetClientRect(mainWindow, &client);
  GetWindowRect(captureList, &list);
  GetWindowRect(mainStatusBar, &status);
  MapWindowPoints(nullptr, mainWindow, reinterpret_cast<POINT*>(&list), 2);
  EXPECT_EQ(list.left, 0);
  EXPECT_EQ(list.top, 27);
  EXPECT_EQ(list.right, client.right);
  EXPECT_EQ(list.bottom - list.top, client.bottom - (status.bottom - status.top + 27));
  SetWindowPos(mainWindow, nullptr, 0, 0, 745, 500, SWP_NOMOVE | SWP_NOZORDER);
  Pump();
}

class CaptureList : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<CaptureRecord> records = {
        build::CanData(1, 0x123, false, {0x11, 0x22, 0x33}, build::TimeStamp(1, 2, 3, 4)),
        build::CanData(2, 0x123, true, {0xA0}, build::TimeStamp(1, 2, 3, 4)),
        build::CanRemoteFrame(1, 0x7FF, false, 8),
        build::Marker(0x40, 0),
    };
    while (records.size() < 10) records.push_back(build::CanData(1, 0x10, false, {1, 2}));
    bytes_ = build::CaptureFileBuilder().Data(kTagMdcl, records).Build();
    path_ = WriteCapture("ten.DT", bytes_);
    ASSERT_TRUE(OpenCaptureFile(mainWindow, path_.c_str()));
    Pump();
  }
  void TearDown() override { DeleteFileA(path_.c_str()); }
  std::vector<uint8_t> bytes_;
  std::string path_;
};

// The rows, the status texts and the commands over an opened capture are
// checked cell by cell in the real program (gui_program_tests); here the
// working copy of the opened file, and rows blanked by a cancel.
TEST_F(CaptureList, ACancelledTransferBlanksTheRowsUntilTheNextLoad) {
  EXPECT_EQ(listHasData, 1);
  EXPECT_EQ(build::ReadFile(temporaryFilePath), bytes_);
  Command(IDC_CANCEL_TRANSFER);
  EXPECT_EQ(listHasData, 0);
  EXPECT_EQ(SendMessageA(captureList, LVM_GETITEMCOUNT, 0, 0), 10);
  EXPECT_EQ(Cell(0, 4), "");
  EXPECT_EQ(Cell(3, 1), "");
  ShowTemporaryFile();  // the working file holds the opened capture
  EXPECT_EQ(listHasData, 1);
  EXPECT_EQ(Cell(0, 4), "123");
  EXPECT_EQ(StatusText(1), "9 / 9");
}

TEST(CaptureListEmpty, AFileWithoutRecordsDisablesSaveAndSearch) {
  std::string path =
      WriteCapture("empty.DT", build::CaptureFileBuilder().Data(kTagMonc, {}).Build());
  ASSERT_TRUE(OpenCaptureFile(mainWindow, path.c_str()));
  EXPECT_EQ(SendMessageA(captureList, LVM_GETITEMCOUNT, 0, 0), 0);
  EXPECT_EQ(StatusText(0), "XP-RT4Q");
  EXPECT_EQ(StatusText(1), "");
  EXPECT_TRUE(MenuState(40014) & MF_GRAYED);
  for (UINT id : {40014u, 1008u, 1009u, 1010u})
    EXPECT_EQ(ToolbarState(id), TBSTATE_INDETERMINATE) << id;
  DeleteFileA(path.c_str());
}

// The commands follow the program's state, not the event: whatever ends,
// disconnect and download are usable only while connected.
TEST(CommandStates, FollowTheLinkAfterADownloadEndsAndAFailedDisconnect) {
  auto expectNotConnected = [](const char* when) {
    for (UINT id : {IDC_CONNECT, IDC_CONNECTION_SETTINGS, IDC_OPEN}) {
      EXPECT_EQ(ToolbarState(id), TBSTATE_ENABLED) << when << ": " << id;
      EXPECT_FALSE(MenuState(id) & MF_GRAYED) << when << ": " << id;
    }
    for (UINT id : {IDC_DISCONNECT, IDC_DOWNLOAD}) {
      EXPECT_EQ(ToolbarState(id), TBSTATE_INDETERMINATE) << when << ": " << id;
      EXPECT_TRUE(MenuState(id) & MF_GRAYED) << when << ": " << id;
    }
    EXPECT_EQ(StatusText(2), "Not connected") << when;
  };
  // Not connected: the disconnect request cannot even be submitted.
  Command(IDC_DISCONNECT);
  expectNotConnected("after a failed disconnect");

  // A download that ended (here while the link was already gone) becomes
  // the working copy through its side file.
  std::vector<uint8_t> bytes =
      build::CaptureFileBuilder().Data(kTagMonc, {build::CanData(1, 0x321, false, {7})}).Build();
  ASSERT_TRUE(build::WriteFile(downloadFilePath, bytes));
  SendMessageA(mainWindow, WM_APP_DOWNLOAD_DONE, 0, 0);
  Pump();
  expectNotConnected("after the download's end");
  EXPECT_EQ(build::ReadFile(temporaryFilePath), bytes);
  EXPECT_EQ(GetFileAttributesA(downloadFilePath), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Cell(0, 4), "321");
  EXPECT_FALSE(MenuState(IDC_SAVE) & MF_GRAYED);
}

TEST(CaptureListFigures, OpenAndListAFullCapture) {
  const uint32_t records = 393216;
  std::string path;
  {
    std::vector<uint8_t> bytes = build::GenerateCapture(records, kTagMdcl, 11);
    path = WriteCapture("full.DT", bytes);
  }
  ReleaseCaptureImage(kReaderOpenedFile);
  Pump();
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
