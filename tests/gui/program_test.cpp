// The real program, driven from outside as a user would drive it: each test
// starts ksvw4q.exe in a scratch folder of its own, with a SETTING.ini that
// points it at a simulated analyzer on loopback (the LAN converter method),
// presses commands and reads the toolbar, the menu, the status bar, the
// capture list, the message boxes and the files it writes.
//
// The driver script (run_gui_tests.sh) starts one simulator per test and
// passes its port in KSVW_GUI_PORT_<NAME>; the capture served by the
// download simulator and its `ksvw-dt list` are in KSVW_GUI_WORK_DIR.
#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/resource_ids.h"
#include "tools/uiauto/uiauto.h"

namespace ksvw::uiauto {
namespace {

constexpr char kMainClass[] = "ksvw4";
constexpr char kProduct[] = "KS-VW4QX";
constexpr int kColumns = 19;
constexpr int kEnabled = TBSTATE_ENABLED;
constexpr int kIndeterminate = TBSTATE_INDETERMINATE;
constexpr UINT kGrey = MF_GRAYED | MF_DISABLED;

std::string AppFolder() {
  return WinPath(Env("KSVW_GUI_APP_DIR"));
}
std::string WorkFolder() {
  return WinPath(Env("KSVW_GUI_WORK_DIR"));
}
std::string DataFile(const char* name) {
  return JoinPath(WinPath(Env("KSVW_GUI_DATA_DIR")), name);
}

// String `id` of the English language library, as the program loads it.
std::string Text(UINT id) {
  std::string text = LoadLibraryString(JoinPath(AppFolder(), "ksvw4q1033.dll"), id);
  EXPECT_FALSE(text.empty()) << "string " << id << " is missing from ksvw4q1033.dll";
  return text;
}

// SETTING.ini for the LAN converter at `host`:`port`.
std::string LanSettings(const std::string& host, const std::string& port) {
  return "[REMOTE]\r\nMETHOD=2\r\n[RB40]\r\nHOST=" + host + "\r\nPORT=" + port + "\r\nCTPORT=\r\n";
}

// The port of simulator `name` (started by the driver script).
std::string SimPort(const char* name) {
  std::string variable = std::string("KSVW_GUI_PORT_") + name;
  std::string port = Env(variable.c_str());
  EXPECT_FALSE(port.empty()) << variable << " is not set (run the tests through their driver)";
  return port;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> cells;
  std::string cell;
  for (char c : line) {
    if (c == '\t') {
      cells.push_back(cell);
      cell.clear();
    } else {
      cell.push_back(c);
    }
  }
  cells.push_back(cell);
  return cells;
}

// The rows of a `ksvw-dt list` output, without its title line.
std::vector<std::vector<std::string>> ListingRows(const std::string& path) {
  std::vector<std::string> lines = ReadLines(path);
  std::vector<std::vector<std::string>> rows;
  for (size_t i = 1; i < lines.size(); ++i) rows.push_back(SplitTabs(lines[i]));
  return rows;
}

std::string Joined(const std::vector<std::string>& cells) {
  std::string out;
  for (size_t i = 0; i < cells.size(); ++i) out += (i ? "|" : "") + cells[i];
  return out;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Env("KSVW_GUI_APP_DIR").empty()) << "run the tests through run_gui_tests.sh";
    // One instance at a time: a main window left by anything else would
    // take over this test's start.
    ASSERT_TRUE(WaitUntil([] { return TopLevelWindowsOfClass(kMainClass).empty(); }, 10000))
        << "a ksvw4q main window is open already";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
      if (c == '/' || c == '\\' || c == ':') c = '_';
    folder_ = JoinPath(JoinPath(WorkFolder(), "scratch"), name);
  }

  void TearDown() override {
    // Leave nothing running; keep the folder of a failed test to look at.
    program_.Kill();
    if (!HasFailure() && !folder_.empty() && !program_.Running()) RemoveTree(folder_);
  }

  // Starts the program with `settings` and waits for its main window.
  void StartProgram(const std::string& settings, bool languageLibrary = true) {
    Program::Files files;
    files.appFolder = AppFolder();
    files.languageLibrary = languageLibrary;
    files.settings = settings;
    std::string why;
    ASSERT_TRUE(program_.Prepare(folder_, files, &why)) << why;
    ASSERT_TRUE(program_.Start(&why)) << why;
    ASSERT_TRUE(program_.WaitForMainWindow()) << "no main window within 30 s";
  }

  void StartConnectedTo(const char* sim) {
    ASSERT_NO_FATAL_FAILURE(StartProgram(LanSettings("127.0.0.1", SimPort(sim))));
    ASSERT_TRUE(program_.Command(IDC_CONNECT));
    ASSERT_TRUE(WaitForStatus(2, Text(IDS_CONNECTED)))
        << "not connected; status: " << program_.Status(2) << "; " << Boxes();
  }

  bool WaitForStatus(int part, const std::string& text, DWORD ms = kWaitMs) {
    return WaitUntil([&] { return program_.Status(part) == text; }, ms);
  }

  // The message boxes open now, for failure messages.
  std::string Boxes() {
    std::string out;
    for (const MessageBoxInfo& b : MessageBoxes(program_.Pid()))
      out += "[box \"" + b.caption + "\": " + b.text + "] ";
    return out.empty() ? "no message box" : out;
  }

  // A command enabled or disabled on the toolbar and in the menu.
  void ExpectCommand(UINT id, bool enabled, bool onToolbar = true) {
    if (onToolbar) {
      EXPECT_EQ(program_.ButtonState(id), enabled ? kEnabled : kIndeterminate)
          << "toolbar button " << id;
    }
    UINT state = program_.MenuState(id);
    ASSERT_NE(state, 0xFFFFFFFFu) << "menu item " << id;
    EXPECT_EQ(state & kGrey, enabled ? 0u : kGrey) << "menu item " << id;
  }

  void ExpectNotConnected() {
    ExpectCommand(IDC_CONNECT, true);
    ExpectCommand(IDC_CONNECTION_SETTINGS, true);
    ExpectCommand(IDC_DISCONNECT, false);
    ExpectCommand(IDC_DOWNLOAD, false);
    EXPECT_EQ(program_.Status(2), Text(IDS_NOT_CONNECTED));
  }

  // Opens `path` through command 1007 and the Open dialog.
  void OpenThroughDialog(const std::string& path) {
    ASSERT_TRUE(program_.Command(IDC_OPEN));
    std::string why;
    ASSERT_TRUE(AnswerFileDialog(program_.Pid(), path, &why)) << why;
  }

  // Opens a sample capture and waits until the list shows its `rows`.
  void OpenSample(const std::string& path, int rows) {
    ASSERT_NO_FATAL_FAILURE(OpenThroughDialog(path));
    std::string position = std::to_string(rows - 1) + " / " + std::to_string(rows - 1);
    ASSERT_TRUE(WaitForStatus(1, position))
        << "status part 1: " << program_.Status(1) << "; " << Boxes();
    ASSERT_EQ(program_.Reader().ListItemCount(program_.List()), rows);
  }

  std::vector<std::string> Row(int row) {
    return program_.Reader().ListRow(program_.List(), row, kColumns);
  }

  // Every cell's text fits its column, with the room the list view keeps
  // beside a text (less, and the text is cut and ends in "...").
  void ExpectCellsFit() {
    ControlReader& reader = program_.Reader();
    HWND list = program_.List();
    int rows = reader.ListItemCount(list);
    for (int c = 0; c < kColumns; ++c) {
      int width = reader.ColumnWidth(list, c);
      for (int r = 0; r < rows; ++r) {
        std::string text = reader.ListCell(list, r, c);
        if (text.empty()) continue;
        EXPECT_LE(reader.ListStringWidth(list, text) + 12, width)
            << "\"" << text << "\" in row " << r << ", column " << c;
      }
    }
  }

  // Every row of the list against a `ksvw-dt list` output.
  void ExpectRows(const std::vector<std::vector<std::string>>& expected) {
    ASSERT_EQ(program_.Reader().ListItemCount(program_.List()), static_cast<int>(expected.size()));
    for (size_t r = 0; r < expected.size(); ++r)
      EXPECT_EQ(Joined(Row(static_cast<int>(r))), Joined(expected[r])) << "row " << r;
  }

  std::string folder_;
  Program program_;
};

// --- Start-up -----------------------------------------------------------------

TEST_F(ProgramTest, StartsWithLanguageLibraryAndClosesWithoutQuestion) {
  ASSERT_NO_FATAL_FAILURE(StartProgram(LanSettings("127.0.0.1", "1")));
  HWND main = program_.MainWindow();
  EXPECT_EQ(WindowText(main), Text(IDS_TITLE));
  EXPECT_EQ(program_.MenuItems(), 4);
  EXPECT_EQ(program_.Status(0), "");
  EXPECT_EQ(program_.Status(1), "");
  EXPECT_EQ(program_.Status(2), Text(IDS_NOT_CONNECTED));

  // The commands as the window is created.
  ExpectCommand(IDC_OPEN, true);
  ExpectCommand(IDC_SAVE, false);
  ExpectCommand(IDC_CONNECT, true);
  ExpectCommand(IDC_DISCONNECT, false);
  ExpectCommand(IDC_DOWNLOAD, false);
  ExpectCommand(IDC_CONNECTION_SETTINGS, true);
  for (UINT id : {IDC_SEARCH, IDC_SEARCH_UP, IDC_SEARCH_DOWN})
    EXPECT_EQ(program_.ButtonState(id), kIndeterminate) << "toolbar button " << id;
  EXPECT_EQ(program_.ButtonState(IDC_CONVERT), kEnabled);
  EXPECT_EQ(program_.ButtonState(IDC_KEY_EMULATOR), kEnabled);
  EXPECT_EQ(program_.MenuState(IDC_DELTA_TIME) & MF_CHECKED, 0u);

  // The empty capture list with its columns.
  ControlReader& reader = program_.Reader();
  HWND list = program_.List();
  EXPECT_EQ(reader.ListItemCount(list), 0);
  const char* titles[kColumns] = {"Time", "CH", "SB", "SF",     "ID", "TYPE", "DL",
                                  "D0",   "D1", "D2", "D3",     "D4", "D5",   "D6",
                                  "D7",   "C",  "ST", "EXT IN", "TRG"};
  // Widths at the reference font; a wider font widens them (see the delta
  // toggle's test, which checks that every cell fits).
  const int widths[kColumns] = {60, 50, 30, 30, 60, 60, 30, 30, 30, 30,
                                30, 30, 30, 30, 30, 30, 30, 50, 50};
  for (int c = 0; c < kColumns; ++c) {
    EXPECT_EQ(reader.ColumnTitle(list, c), titles[c]) << "column " << c;
    EXPECT_GE(reader.ColumnWidth(list, c), widths[c]) << "column " << c;
  }
  EXPECT_EQ(reader.ColumnTitle(list, kColumns), "<no column>");

  // The first start wrote the EMU folder: the program's own.
  std::vector<std::string> ini = ReadLines(program_.PathInFolder("SETTING.ini"));
  std::string all;
  for (const std::string& line : ini) all += line + "\n";
  EXPECT_NE(all.find("[EMU]\nPATH=" + program_.Folder() + "\n"), std::string::npos) << all;

  // Not connected: closing asks nothing and ends the process with 0.
  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  DWORD code = 1;
  ASSERT_TRUE(program_.WaitForExit(kWaitMs, &code)) << Boxes();
  EXPECT_EQ(code, 0u);
}

TEST_F(ProgramTest, StartsWithoutLanguageLibrary) {
  ASSERT_NO_FATAL_FAILURE(StartProgram(LanSettings("127.0.0.1", "1"), false));
  HWND main = program_.MainWindow();
  EXPECT_EQ(program_.MenuItems(), 0);
  EXPECT_EQ(WindowText(main), "");
  EXPECT_EQ(program_.Status(2), "");
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();
  // The window works without texts: the toolbar and the list are there.
  EXPECT_EQ(program_.ButtonState(IDC_CONNECT), kEnabled);
  EXPECT_EQ(program_.Reader().ColumnTitle(program_.List(), 0), "Time");

  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  DWORD code = 1;
  ASSERT_TRUE(program_.WaitForExit(kWaitMs, &code)) << Boxes();
  EXPECT_EQ(code, 0u);
}

TEST_F(ProgramTest, SecondStartRestoresTheFirstAndEnds) {
  ASSERT_NO_FATAL_FAILURE(StartProgram(LanSettings("127.0.0.1", "1")));
  HWND main = program_.MainWindow();
  ASSERT_TRUE(PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0));
  ASSERT_TRUE(WaitUntil([&] { return IsIconic(main) != 0; })) << "the window did not minimise";

  std::string why;
  HANDLE second = program_.StartAnother(&why);
  ASSERT_NE(second, nullptr) << why;
  DWORD waited = WaitForSingleObject(second, kWaitMs);
  DWORD code = 1;
  GetExitCodeProcess(second, &code);
  if (waited != WAIT_OBJECT_0) TerminateProcess(second, 1);
  CloseHandle(second);
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "the second start did not end";
  EXPECT_EQ(code, 0u);

  EXPECT_TRUE(WaitUntil([&] { return IsIconic(main) == 0; })) << "the first was not restored";
  EXPECT_TRUE(program_.Running());
  EXPECT_EQ(TopLevelWindowsOfClass(kMainClass).size(), 1u);
}

// --- Connecting -------------------------------------------------------------

TEST_F(ProgramTest, ConnectShowsTheAnalyzerAndDisconnectReturns) {
  ASSERT_NO_FATAL_FAILURE(StartProgram(LanSettings("127.0.0.1", SimPort("CONNECT"))));
  // Shift+F5 through the program's accelerator table, as a user would
  // connect.
  ASSERT_TRUE(PressKeys(program_.MainWindow(), {VK_SHIFT}, VK_F5));
  ASSERT_TRUE(WaitForStatus(2, Text(IDS_CONNECTED))) << program_.Status(2) << "; " << Boxes();
  EXPECT_EQ(program_.Status(0), "KS-9100 & XP-RT4QX");
  ExpectCommand(IDC_CONNECT, false);
  ExpectCommand(IDC_DISCONNECT, true);
  ExpectCommand(IDC_DOWNLOAD, true);
  ExpectCommand(IDC_OPEN, true);
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();

  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
  ASSERT_TRUE(WaitForStatus(2, Text(IDS_NOT_CONNECTED))) << program_.Status(2) << "; " << Boxes();
  EXPECT_EQ(program_.Status(0), "");
  ExpectNotConnected();
}

struct ConnectFailure {
  const char* name;
  const char* host;  // nullptr: the loopback simulator
  const char* sim;   // simulator name, or the port itself when host is set
  UINT text;
  UINT caption = 0;   // 0: the product name
  uint32_t code = 0;  // the text is a format for this code when not 0
};

class ConnectFailureTest : public ProgramTest,
                           public ::testing::WithParamInterface<ConnectFailure> {};

TEST_P(ConnectFailureTest, ShowsItsTextAndReturnsToNotConnected) {
  const ConnectFailure& f = GetParam();
  std::string settings =
      f.host ? LanSettings(f.host, f.sim) : LanSettings("127.0.0.1", SimPort(f.sim));
  ASSERT_NO_FATAL_FAILURE(StartProgram(settings));
  ASSERT_TRUE(program_.Command(IDC_CONNECT));
  MessageBoxInfo box = WaitForMessageBox(program_.Pid());
  ASSERT_NE(box.window, nullptr) << "no message box; status: " << program_.Status(2);
  EXPECT_EQ(box.caption, f.caption ? Text(f.caption) : kProduct);
  char text[600];
  std::snprintf(text, sizeof text, Text(f.text).c_str(), f.code);
  EXPECT_EQ(box.text, f.code ? std::string(text) : Text(f.text));
  ASSERT_TRUE(AnswerMessageBox(box, IDOK));

  ExpectNotConnected();
  ExpectCommand(IDC_OPEN, true);
  EXPECT_EQ(program_.Status(0), "");
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();
}

INSTANTIATE_TEST_SUITE_P(
    Program, ConnectFailureTest,
    ::testing::Values(ConnectFailure{"HostNotFound", "no-such-host.invalid", "4000",
                                     IDS_HOST_NOT_FOUND},
                      ConnectFailure{"NoAnswer", nullptr, "SILENT", IDS_NO_ANSWER},
                      ConnectFailure{"Busy", nullptr, "BUSY", IDS_ANALYZER_BUSY},
                      ConnectFailure{"Version", nullptr, "VERSION", IDS_VERSION_MISMATCH},
                      ConnectFailure{"NoBoard", nullptr, "BOARD", IDS_NO_OPTION_BOARD},
                      // No port: the link refuses to open before any request.
                      ConnectFailure{"AtOnce", "127.0.0.1", "", IDS_CONNECT_ERROR_CODE, IDS_CAPTION,
                                     0x80070057u}),
    [](const ::testing::TestParamInfo<ConnectFailure>& info) { return info.param.name; });

// --- Downloading --------------------------------------------------------------

TEST_F(ProgramTest, DownloadWritesTheCaptureAndListsIt) {
  ASSERT_NO_FATAL_FAILURE(StartConnectedTo("DOWNLOAD"));
  std::vector<uint8_t> served;
  ASSERT_TRUE(ReadWholeFile(JoinPath(WorkFolder(), "download.DT"), served));
  std::vector<std::vector<std::string>> expected =
      ListingRows(JoinPath(WorkFolder(), "download.list"));
  ASSERT_EQ(expected.size(), 3000u);

  ASSERT_TRUE(program_.Command(IDC_DOWNLOAD));
  HWND dialog = WaitForWindow(program_.Pid(), "#32770");
  ASSERT_NE(dialog, nullptr) << "no download dialog";
  EXPECT_NE(FindControl(dialog, IDT_DOWNLOAD_PROGRESS), nullptr);
  HWND step = FindControl(dialog, IDT_DOWNLOAD_STEP);
  ASSERT_NE(step, nullptr);
  EXPECT_EQ(WindowText(step), Text(IDS_STEP_2));
  std::string last = std::to_string(expected.size() - 1);
  ASSERT_TRUE(WaitForStatus(1, last + " / " + last)) << program_.Status(1) << "; " << Boxes();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); })) << "the dialog stayed open";
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();

  std::vector<uint8_t> downloaded;
  ASSERT_TRUE(ReadWholeFile(program_.PathInFolder("DATAFILE.TMP"), downloaded));
  EXPECT_EQ(downloaded.size(), served.size());
  EXPECT_TRUE(downloaded == served) << "DATAFILE.TMP differs from the simulator's capture";

  // Every cell of a sample of rows, the first and the last among them.
  ASSERT_EQ(program_.Reader().ListItemCount(program_.List()), static_cast<int>(expected.size()));
  for (size_t r = 0; r < expected.size(); r += (r < 40 ? 1 : 37)) {
    EXPECT_EQ(Joined(Row(static_cast<int>(r))), Joined(expected[r])) << "row " << r;
  }
  size_t end = expected.size() - 1;
  EXPECT_EQ(Joined(Row(static_cast<int>(end))), Joined(expected[end])) << "last row";

  ExpectCommand(IDC_SAVE, true);
  EXPECT_EQ(program_.ButtonState(IDC_SEARCH), kEnabled);
  ExpectCommand(IDC_DISCONNECT, true);
  ExpectCommand(IDC_DOWNLOAD, true);
  EXPECT_EQ(program_.Status(2), Text(IDS_CONNECTED));
}

// Figures, not a check: a full 12 MiB capture from the command until its
// last byte is in the working file, and until the list shows every record.
// The list should follow the data within half its time plus 300 ms.
TEST_F(ProgramTest, FullDownloadFigure) {
  ASSERT_NO_FATAL_FAILURE(StartConnectedTo("BIG"));
  const LONGLONG fileSize = 16 + 32 * 393216 + 4096;  // at least the records
  const std::string side = program_.PathInFolder("DATAFILE.NEW");
  const std::string work = program_.PathInFolder("DATAFILE.TMP");
  auto onDisk = [&](const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0LL;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  };
  LARGE_INTEGER frequency, start, dataDone, listDone;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  ASSERT_TRUE(program_.Command(IDC_DOWNLOAD));
  ASSERT_TRUE(WaitUntil(
      [&] { return onDisk(side) >= fileSize - 4096 || onDisk(work) >= fileSize - 4096; }, 60000));
  QueryPerformanceCounter(&dataDone);
  ASSERT_TRUE(
      WaitUntil([&] { return program_.Reader().ListItemCount(program_.List()) == 393216; }, 60000))
      << Boxes();
  QueryPerformanceCounter(&listDone);
  auto ms = [&](const LARGE_INTEGER& t) {
    return 1000.0 * static_cast<double>(t.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
  };
  std::printf(
      "figure: full download of 393216 records: data in the working file after %.0f ms, "
      "list shown after %.0f ms (allowed: %.0f ms)\n",
      ms(dataDone), ms(listDone), 1.5 * ms(dataDone) + 300);
}

// How the user ends a download: its Cancel button, or its close box (or
// Alt+F4, which Windows turns into the same close command).
class CancelledDownloadTest : public ProgramTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CancelledDownloadTest, CancelsTheTransferAndEmptiesTheList) {
  const bool closeBox = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartProgram(LanSettings("127.0.0.1", SimPort("CANCEL"))));
  // Something in the list first, so that emptying it shows.
  ASSERT_NO_FATAL_FAILURE(OpenSample(DataFile("edge.DT"), 14));
  ASSERT_TRUE(program_.Command(IDC_CONNECT));
  ASSERT_TRUE(WaitForStatus(2, Text(IDS_CONNECTED))) << program_.Status(2) << "; " << Boxes();
  std::string log = JoinPath(WorkFolder(), "sim-cancel.err");
  auto cancels = [&] {
    std::vector<std::string> lines = ReadLines(log);
    size_t n = 0;
    for (const std::string& line : lines) n += line.find("section cancelled") != std::string::npos;
    return n;
  };
  const size_t cancelsBefore = cancels();

  ASSERT_TRUE(program_.Command(IDC_DOWNLOAD));
  HWND dialog = WaitForWindow(program_.Pid(), "#32770");
  ASSERT_NE(dialog, nullptr) << "no download dialog";
  // End it while the records come (the simulator sends them slowly).
  ASSERT_TRUE(WaitForStatus(1, Text(IDS_STEP_2))) << program_.Status(1) << "; " << Boxes();
  if (closeBox) {
    ASSERT_TRUE(PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0));
  } else {
    ASSERT_TRUE(PressButton(dialog, IDCANCEL));
  }
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); })) << "the dialog stayed open";
  // The analyzer was told, so no late completion can replace the list.
  EXPECT_TRUE(WaitUntil([&] { return cancels() > cancelsBefore; }))
      << "the simulator saw no cancel";
  ASSERT_TRUE(WaitUntil([&] { return program_.Reader().ListItemCount(program_.List()) == 0; }))
      << "the list was not emptied";
  EXPECT_TRUE(WaitForStatus(1, "")) << program_.Status(1);
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();
  ExpectCommand(IDC_SAVE, false);
  EXPECT_EQ(program_.ButtonState(IDC_SEARCH), kIndeterminate);

  // The cancelled download became the working file with its zero header:
  // nothing was finished.
  std::vector<uint8_t> file;
  ASSERT_TRUE(ReadWholeFile(program_.PathInFolder("DATAFILE.TMP"), file));
  ASSERT_GE(file.size(), 16u);
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 16), std::vector<uint8_t>(16, 0));
  EXPECT_FALSE(FileExists(program_.PathInFolder("DATAFILE.NEW")));

  // Still connected, and the download can be started again.
  EXPECT_EQ(program_.Status(2), Text(IDS_CONNECTED));
  ExpectCommand(IDC_DISCONNECT, true);
  ExpectCommand(IDC_DOWNLOAD, true);
  ExpectCommand(IDC_OPEN, true);
}

INSTANTIATE_TEST_SUITE_P(Program, CancelledDownloadTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "CloseBox" : "CancelButton";
                         });

TEST_F(ProgramTest, LinkLostDuringDownloadKeepsTheOpenedCapture) {
  ASSERT_NO_FATAL_FAILURE(StartProgram(LanSettings("127.0.0.1", SimPort("DROP"))));
  ASSERT_NO_FATAL_FAILURE(OpenSample(DataFile("edge.DT"), 14));
  ASSERT_TRUE(program_.Command(IDC_CONNECT));
  ASSERT_TRUE(WaitForStatus(2, Text(IDS_CONNECTED))) << program_.Status(2) << "; " << Boxes();
  ASSERT_TRUE(program_.Command(IDC_DOWNLOAD));
  // Losing the link closes the device, which ends the running section with
  // 0x800708CA: besides the warning of the lost link, the download reports
  // that failure in a box of its own. The two messages race through the
  // library's threads, so either box may come first (the second opens
  // while the first is still up).
  char failedText[600];
  std::snprintf(failedText, sizeof failedText, Text(IDS_DOWNLOAD_ERROR_CODE).c_str(), 0x800708CAu);
  bool lostShown = false;
  MessageBoxInfo box = WaitForMessageBox(program_.Pid());
  ASSERT_NE(box.window, nullptr) << "no warning; status: " << program_.Status(2);
  for (int boxes = 0; box.window && boxes < 3; ++boxes) {
    if (box.text == Text(IDS_LINK_LOST)) {
      EXPECT_FALSE(lostShown) << "the lost link was reported twice";
      EXPECT_EQ(box.caption, Text(IDS_CAPTION));
      lostShown = true;
    } else {
      EXPECT_EQ(box.text, failedText);
      EXPECT_EQ(box.caption, kProduct);
    }
    ASSERT_TRUE(AnswerMessageBox(box, IDOK)) << box.text;
    box = WaitForMessageBox(program_.Pid(), 3000);
  }
  EXPECT_TRUE(lostShown) << "no warning of the lost link";

  // The download dialog went with the link, and no further box follows.
  EXPECT_TRUE(WaitUntil([&] {
    for (HWND d : TopLevelWindows(program_.Pid(), "#32770"))
      if (FindControl(d, IDT_DOWNLOAD_PROGRESS)) return false;
    return true;
  })) << "the download dialog stayed open";
  EXPECT_TRUE(WaitForStatus(2, Text(IDS_NOT_CONNECTED))) << program_.Status(2) << "; " << Boxes();
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();
  ExpectNotConnected();
  ExpectCommand(IDC_OPEN, true);

  // The failed download replaced nothing: the list shows the opened
  // capture, and Save writes exactly that file.
  ExpectRows(ListingRows(DataFile("edge.list")));
  EXPECT_FALSE(FileExists(program_.PathInFolder("DATAFILE.NEW")));
  ExpectCommand(IDC_SAVE, true);
  std::string copy = program_.PathInFolder("saved after the drop.DT");
  ASSERT_TRUE(PressKeys(program_.MainWindow(), {VK_CONTROL}, 'S'));
  std::string why;
  ASSERT_TRUE(AnswerFileDialog(program_.Pid(), copy, &why)) << why;
  std::vector<uint8_t> original, saved;
  ASSERT_TRUE(ReadWholeFile(DataFile("edge.DT"), original));
  EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(copy, saved) && saved == original; }))
      << "the saved file (" << saved.size() << " bytes) differs from the opened one ("
      << original.size() << " bytes)";

  // Nothing hangs: the program answers and closes without a question.
  ASSERT_TRUE(PostMessageA(program_.MainWindow(), WM_CLOSE, 0, 0));
  DWORD code = 1;
  ASSERT_TRUE(program_.WaitForExit(kWaitMs, &code)) << Boxes();
  EXPECT_EQ(code, 0u);
}

// --- Files ------------------------------------------------------------------

TEST_F(ProgramTest, OpeningANonCaptureKeepsTheList) {
  ASSERT_NO_FATAL_FAILURE(StartProgram(LanSettings("127.0.0.1", "1")));
  ASSERT_NO_FATAL_FAILURE(OpenSample(DataFile("edge.DT"), 14));
  EXPECT_EQ(program_.Status(0), "XP-RT4QX");
  std::vector<std::string> row5 = Row(5);

  std::string junk = program_.PathInFolder("notes.DT");
  ASSERT_TRUE(WriteWholeFile(junk, "These are notes, not a capture.\r\n"));
  ASSERT_NO_FATAL_FAILURE(OpenThroughDialog(junk));
  MessageBoxInfo box = WaitForMessageBox(program_.Pid());
  ASSERT_NE(box.window, nullptr) << "no error box";
  EXPECT_EQ(box.caption, Text(IDS_OPEN_ERROR_CAPTION));
  EXPECT_EQ(box.text, Text(IDS_NOT_A_CAPTURE));
  ASSERT_TRUE(AnswerMessageBox(box, IDOK));

  EXPECT_EQ(program_.Reader().ListItemCount(program_.List()), 14);
  EXPECT_EQ(Row(5), row5);
  EXPECT_EQ(program_.Status(1), "13 / 13");
  EXPECT_EQ(program_.Status(0), "XP-RT4QX");
  ExpectCommand(IDC_SAVE, true);
}

// edge.DT holds a record of every shape the list lays out differently.
TEST_F(ProgramTest, DeltaToggleTwiceRestoresTheTimeColumnAndEveryCellFits) {
  ASSERT_NO_FATAL_FAILURE(StartProgram(LanSettings("127.0.0.1", "1")));
  ASSERT_NO_FATAL_FAILURE(OpenSample(DataFile("edge.DT"), 14));
  ControlReader& reader = program_.Reader();
  HWND list = program_.List();
  std::vector<std::vector<std::string>> absolute = ListingRows(DataFile("edge.list"));
  std::vector<std::vector<std::string>> delta = ListingRows(DataFile("edge_delta.list"));
  ASSERT_EQ(absolute.size(), 14u);
  ASSERT_EQ(delta.size(), 14u);
  ExpectRows(absolute);
  ExpectCellsFit();
  const int width = reader.ColumnWidth(list, 0);

  ASSERT_TRUE(program_.Command(IDC_DELTA_TIME));
  ASSERT_TRUE(WaitUntil([&] { return reader.ColumnTitle(list, 0) == "deltaT"; }))
      << reader.ColumnTitle(list, 0);
  EXPECT_EQ(reader.ColumnWidth(list, 0), width);
  EXPECT_EQ(reader.ColumnTitle(list, 1), "CH");
  EXPECT_EQ(program_.MenuState(IDC_DELTA_TIME) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
  ExpectRows(delta);
  ExpectCellsFit();

  ASSERT_TRUE(program_.Command(IDC_DELTA_TIME));
  ASSERT_TRUE(WaitUntil([&] { return reader.ColumnTitle(list, 0) == "Time"; }))
      << reader.ColumnTitle(list, 0);
  EXPECT_EQ(reader.ColumnWidth(list, 0), width);
  EXPECT_EQ(program_.MenuState(IDC_DELTA_TIME) & MF_CHECKED, 0u);
  ExpectRows(absolute);
}

TEST_F(ProgramTest, ClickingARowShowsItsPosition) {
  ASSERT_NO_FATAL_FAILURE(StartProgram(LanSettings("127.0.0.1", "1")));
  ASSERT_NO_FATAL_FAILURE(OpenSample(DataFile("edge.DT"), 14));
  RECT row{};
  ASSERT_TRUE(program_.Reader().ListItemRect(program_.List(), 5, &row));
  POINT inRow{row.left + 20, (row.top + row.bottom) / 2};
  ASSERT_TRUE(ClickAt(program_.List(), inRow));
  EXPECT_TRUE(WaitForStatus(1, "5 / 13")) << program_.Status(1);
  // The arrow key moves the selection, and the position with it.
  ASSERT_TRUE(PressKeys(program_.MainWindow(), {}, VK_DOWN));
  EXPECT_TRUE(WaitForStatus(1, "6 / 13")) << program_.Status(1);
}

// --- Closing ------------------------------------------------------------------

TEST_F(ProgramTest, CloseWhileConnectedAsksFirst) {
  ASSERT_NO_FATAL_FAILURE(StartConnectedTo("CLOSE"));
  HWND main = program_.MainWindow();

  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  MessageBoxInfo box = WaitForMessageBox(program_.Pid());
  ASSERT_NE(box.window, nullptr) << "no question";
  EXPECT_EQ(box.caption, Text(IDS_TITLE));
  EXPECT_EQ(box.text, Text(IDS_CLOSE_WHILE_CONNECTED));
  EXPECT_NE(GetDlgItem(box.window, IDYES), nullptr);
  ASSERT_TRUE(AnswerMessageBox(box, IDNO));
  // No: everything stays as it was.
  EXPECT_FALSE(program_.WaitForExit(1000));
  EXPECT_TRUE(IsWindowVisible(main));
  EXPECT_EQ(program_.Status(2), Text(IDS_CONNECTED));
  ExpectCommand(IDC_DISCONNECT, true);

  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  box = WaitForMessageBox(program_.Pid());
  ASSERT_NE(box.window, nullptr) << "no question the second time";
  EXPECT_EQ(box.text, Text(IDS_CLOSE_WHILE_CONNECTED));
  ASSERT_TRUE(AnswerMessageBox(box, IDYES));
  DWORD code = 1;
  ASSERT_TRUE(program_.WaitForExit(kWaitMs, &code)) << Boxes();
  EXPECT_EQ(code, 0u);

  // The analyzer saw the host leave.
  std::string log = JoinPath(WorkFolder(), "sim-close.err");
  std::string seen;
  EXPECT_TRUE(WaitUntil([&] {
    std::vector<uint8_t> bytes;
    ReadWholeFile(log, bytes);
    seen.assign(bytes.begin(), bytes.end());
    return seen.find("host said goodbye") != std::string::npos;
  })) << "simulator log:\n"
      << seen;
}

}  // namespace
}  // namespace ksvw::uiauto
