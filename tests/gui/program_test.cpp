// The real program, driven from outside as a user would drive it (see
// program_fixture.h): start-up, connecting, downloading and the capture
// list, read from the toolbar, the menu, the status bar, the message boxes
// and the files it writes.
#include "remote/win32/ks_remote4q.h"
#include "tests/gui/program_fixture.h"

namespace ksvw::uiauto {
namespace {

constexpr char kProduct[] = "KS-VW4QX";
constexpr int kColumns = 19;
constexpr int kEnabled = TBSTATE_ENABLED;
constexpr int kIndeterminate = TBSTATE_INDETERMINATE;

// The rows of a `ksvw-dt list` output (title line left out), cells joined by "|".
std::vector<std::string> ListingRows(const std::string& path) {
  std::vector<std::string> rows = ReadLines(path);
  if (!rows.empty()) rows.erase(rows.begin());
  for (std::string& row : rows) std::replace(row.begin(), row.end(), '\t', '|');
  return rows;
}

// ksvw-remote.exe's download of simulator `sim` into `file`, with the
// milliseconds its JSON gives for the download step (-1 when it failed).
double RemoteToolDownload(const char* sim, const std::string& file) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const std::string json = WorkFile("remote.json");
  HANDLE out = CreateFileA(json.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                           0, nullptr);
  std::string command = "\"" + WinPath(Env("KSVW_GUI_REMOTE")) +
                        "\" --lan 127.0.0.1:" + SimPort(sim) + " --json download \"" + file + "\"";
  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdOutput = start.hStdError = out;
  PROCESS_INFORMATION process{};
  DWORD status = 1;
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                     &process)) {
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out);
  double ms = -1;
  for (const std::string& line : ReadLines(json))
    if (status == 0 && line.find("\"step\":\"download\"") != std::string::npos)
      std::sscanf(line.c_str() + line.find("\"ms\":") + 5, "%lf", &ms);
  return ms;
}

class ProgramTest : public GuiTest {
 protected:
  void ExpectNotConnected() {
    ExpectCommand(IDC_CONNECT, true);
    ExpectCommand(IDC_CONNECTION_SETTINGS, true);
    ExpectCommand(IDC_DISCONNECT, false);
    ExpectCommand(IDC_DOWNLOAD, false);
    ExpectCommand(IDC_OPEN, true);
    EXPECT_EQ(program_.Status(2), Text(IDS_NOT_CONNECTED));
  }

  // Row `row` of the list, cells joined by "|".
  std::string Row(int row) {
    std::vector<std::string> cells = program_.Reader().ListRow(program_.List(), row, kColumns);
    std::string out;
    for (size_t i = 0; i < cells.size(); ++i) out += (i ? "|" : "") + cells[i];
    return out;
  }

  // Every cell's text fits its column, with the room the list view keeps
  // beside a text (less, and the text is cut and ends in "...").
  void ExpectCellsFit() {
    ControlReader& reader = program_.Reader();
    HWND list = program_.List();
    for (int c = 0; c < kColumns; ++c) {
      int width = reader.ColumnWidth(list, c);
      for (int r = 0; r < ListRows(); ++r) {
        std::string text = reader.ListCell(list, r, c);
        if (text.empty()) continue;
        EXPECT_LE(reader.ListStringWidth(list, text) + 12, width)
            << "\"" << text << "\" in row " << r << ", column " << c;
      }
    }
  }

  // Every row of the list (or every `step`th and the last) against a
  // `ksvw-dt list` output.
  void ExpectRows(const std::vector<std::string>& expected, size_t step = 1) {
    ASSERT_EQ(ListRows(), static_cast<int>(expected.size()));
    for (size_t r = 0; r < expected.size(); r += r < 40 ? 1 : step)
      EXPECT_EQ(Row(static_cast<int>(r)), expected[r]) << "row " << r;
    EXPECT_EQ(Row(static_cast<int>(expected.size() - 1)), expected.back()) << "last row";
  }
};

// --- Start-up -----------------------------------------------------------------

// The window as it is created: title, menu, status bar and the commands of
// a program that is not connected, the toolbar's buttons in order, the list.
TEST_F(ProgramTest, StartsWithMenuToolbarStatusBarAndEmptyList) {
  ASSERT_NO_FATAL_FAILURE(Start(LanSettings("1")));
  EXPECT_EQ(WindowText(program_.MainWindow()), Text(IDS_TITLE));
  EXPECT_EQ(program_.MenuItems(), 4);
  for (UINT id : {IDC_CANCEL_TRANSFER, IDC_SEARCH, IDC_SEARCH_UP, IDC_SEARCH_DOWN, IDC_KEY_EMULATOR,
                  IDC_EXIT, IDC_CONVERT, IDC_ABOUT})
    EXPECT_NE(program_.MenuState(id), 0xFFFFFFFFu) << "menu item " << id;
  EXPECT_EQ(program_.Status(0), "");
  EXPECT_EQ(program_.Status(1), "");
  ExpectNotConnected();
  EXPECT_EQ(program_.MenuState(IDC_DELTA_TIME) & MF_CHECKED, 0u);

  // The toolbar's buttons in order, as command:image, "-" after a disabled one
  // ("|" a separator).
  RemoteBuffer remote(program_.Process(), sizeof(TBBUTTON));
  std::string buttons;
  LRESULT n = 0;
  ASSERT_TRUE(Send(program_.Toolbar(), TB_BUTTONCOUNT, 0, 0, &n));
  for (int i = 0; i < n; ++i) {
    TBBUTTON b{};
    ASSERT_TRUE(Send(program_.Toolbar(), TB_GETBUTTON, i, remote.At()) &&
                remote.Read(0, &b, sizeof b));
    buttons += b.fsStyle & BTNS_SEP
                   ? "| "
                   : std::to_string(b.idCommand) + ":" + std::to_string(b.iBitmap) +
                         (b.fsState & TBSTATE_ENABLED ? " " : "- ");
  }
  EXPECT_EQ(buttons,
            "1007:4 40014:12- | 2104:0 2105:1- 1003:2- 2019:8 | 1008:5- 1009:6- 1010:7- | "
            "40010:10 2000:11 ");
  int edges[2] = {};
  ASSERT_TRUE(Send(program_.StatusBar(), SB_GETPARTS, 2, remote.At()) &&
              remote.Read(0, edges, sizeof edges));
  EXPECT_EQ(edges[0], 150);
  EXPECT_EQ(edges[1], 400);

  // The empty capture list fills the client area between the toolbar and
  // the status bar, with its columns.
  HWND main = program_.MainWindow();
  RECT client, list, status;
  // The first layout may come after the window shows.
  WaitUntil([&] {
    GetClientRect(main, &client);
    GetWindowRect(program_.List(), &list);
    GetWindowRect(program_.StatusBar(), &status);
    return list.bottom == status.top;
  });
  EXPECT_EQ(list.bottom, status.top);
  MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&list), 2);
  EXPECT_EQ(list.left, 0);
  EXPECT_EQ(list.top, 27);
  EXPECT_EQ(list.right, client.right);

  ControlReader& reader = program_.Reader();
  EXPECT_EQ(ListRows(), 0);
  // Widths at the reference font; a wider font widens them (that every
  // cell fits is checked by
  // `ProgramTest.OpenedCaptureIsKeptByANonCaptureAndShownInBothTimeColumns`).
  const int widths[kColumns] = {60, 50, 30, 30, 60, 60, 30, 30, 30, 30,
                                30, 30, 30, 30, 30, 30, 30, 50, 50};
  std::string titles;
  for (int c = 0; c < kColumns; ++c) {
    titles += reader.ColumnTitle(program_.List(), c) + "|";
    EXPECT_GE(reader.ColumnWidth(program_.List(), c), widths[c]) << "column " << c;
  }
  EXPECT_EQ(titles, "Time|CH|SB|SF|ID|TYPE|DL|D0|D1|D2|D3|D4|D5|D6|D7|C|ST|EXT IN|TRG|");
  EXPECT_EQ(reader.ColumnTitle(program_.List(), kColumns), "<no column>");
}

// The commands follow the link, not the event: a disconnect that cannot be
// submitted, and a download that ends (its side file becoming the working
// copy) with the link already gone, leave them not connected. The download
// holds no records: nothing to save or search.
TEST_F(ProgramTest, CommandsFollowTheLinkNotItsEvents) {
  ASSERT_NO_FATAL_FAILURE(Start(LanSettings("1")));
  HWND main = program_.MainWindow();
  ASSERT_TRUE(Send(main, WM_COMMAND, IDC_DISCONNECT, 0));
  ExpectNotConnected();
  const std::string side = program_.PathInFolder("DATAFILE.NEW");
  ASSERT_TRUE(CopyFileA(WorkFile("empty.DT").c_str(), side.c_str(), FALSE));
  ASSERT_TRUE(Send(main, WM_APP_DOWNLOAD_DONE, 0, 0));
  ExpectNotConnected();
  EXPECT_FALSE(FileExists(side));
  EXPECT_EQ(program_.Status(1), "");
  ExpectCommand(IDC_SAVE, false);
  ExpectCommand(IDC_SEARCH, false);
}

// A second start restores the minimised first one and ends; the first
// closes without a question, not being connected.
TEST_F(ProgramTest, SecondStartRestoresTheFirstWhichClosesWithoutQuestion) {
  ASSERT_NO_FATAL_FAILURE(Start(LanSettings("1")));
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

  ExpectClosesAtOnce();
}

TEST_F(ProgramTest, StartsWithoutLanguageLibrary) {
  ASSERT_NO_FATAL_FAILURE(Start(LanSettings("1"), false));
  EXPECT_EQ(program_.MenuItems(), 0);
  EXPECT_EQ(WindowText(program_.MainWindow()), "");
  EXPECT_EQ(program_.Status(2), "");
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();
  // The window works without texts: the toolbar and the list are there.
  EXPECT_EQ(program_.ButtonState(IDC_CONNECT), kEnabled);
  EXPECT_EQ(program_.Reader().ColumnTitle(program_.List(), 0), "Time");
  ExpectClosesAtOnce();
}

// --- Connecting -------------------------------------------------------------

// Connected, closing asks first: No keeps everything as it was; after a
// disconnect and a new connect, Yes ends the program and says goodbye.
TEST_F(ProgramTest, ConnectDisconnectAndCloseWhileConnected) {
  ASSERT_NO_FATAL_FAILURE(Start(LanSettings(SimPort("CONNECT"))));
  HWND main = program_.MainWindow();
  // Shift+F5 through the program's accelerator table, as a user would
  // connect.
  ASSERT_TRUE(PressKeys(main, {VK_SHIFT}, VK_F5));
  ASSERT_TRUE(WaitForStatus(2, Text(IDS_CONNECTED))) << program_.Status(2) << "; " << Boxes();
  EXPECT_EQ(program_.Status(0), "KS-9100 & XP-RT4QX");
  ExpectCommand(IDC_CONNECT, false);
  ExpectCommand(IDC_DISCONNECT, true);
  ExpectCommand(IDC_DOWNLOAD, true);
  ExpectCommand(IDC_OPEN, true);
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();

  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  ASSERT_NO_FATAL_FAILURE(ExpectBox(Text(IDS_TITLE), Text(IDS_CLOSE_WHILE_CONNECTED), IDNO));
  EXPECT_FALSE(program_.WaitForExit(1000));
  EXPECT_TRUE(IsWindowVisible(main));
  EXPECT_EQ(program_.Status(2), Text(IDS_CONNECTED));
  ExpectCommand(IDC_DISCONNECT, true);

  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
  ASSERT_TRUE(WaitForStatus(2, Text(IDS_NOT_CONNECTED))) << program_.Status(2) << "; " << Boxes();
  EXPECT_EQ(program_.Status(0), "");
  ExpectNotConnected();

  ASSERT_NO_FATAL_FAILURE(Connect());
  const size_t goodbyes = SimLogged("connect", "host said goodbye");
  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  ASSERT_NO_FATAL_FAILURE(ExpectBox(Text(IDS_TITLE), Text(IDS_CLOSE_WHILE_CONNECTED), IDYES));
  DWORD code = 1;
  ASSERT_TRUE(program_.WaitForExit(kWaitMs, &code)) << Boxes();
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(WaitUntil([&] { return SimLogged("connect", "host said goodbye") > goodbyes; }))
      << "the simulator saw no goodbye";
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
  ASSERT_NO_FATAL_FAILURE(Start(f.host ? LanSettings(f.sim, f.host) : LanSettings(SimPort(f.sim))));
  ASSERT_TRUE(program_.Command(IDC_CONNECT));
  ASSERT_NO_FATAL_FAILURE(ExpectBox(f.caption ? Text(f.caption) : kProduct,
                                    f.code ? Formatted(f.text, f.code) : Text(f.text)));
  ExpectNotConnected();
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

// For its life, Wine's X11 driver leaves this program's windows to a window
// manager as it does outside the tests (run_gui_tests.sh keeps them
// unmanaged, which hides what a managed window costs: hiding one waits up
// to 2 s for a manager that the test display does not have).
struct ManagedWindows {
  static constexpr char kKey[] = "Software\\Wine\\AppDefaults\\ksvw4q.exe\\X11 Driver";
  char before[16] = {};
  DWORD size = sizeof before;
  bool had =
      !RegGetValueA(HKEY_CURRENT_USER, kKey, "Managed", RRF_RT_REG_SZ, nullptr, before, &size);
  ManagedWindows() { RegSetKeyValueA(HKEY_CURRENT_USER, kKey, "Managed", REG_SZ, "Y", 2); }
  ~ManagedWindows() {
    if (had) RegSetKeyValueA(HKEY_CURRENT_USER, kKey, "Managed", REG_SZ, before, size);
    if (!had) RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, "Managed");
  }
};

// A full 12 MiB capture, started with Ctrl+R in a program whose windows are
// managed: the working file and the list against the simulator's capture.
// Figures, printed and not asserted: when every byte is in the download's
// file, when that file is in place as the working file (the list loads it
// right then) and when the download dialog is gone, watched from outside
// the program's message traffic (file sizes and the window list only: a
// probe that sent the program messages could change what it measures).
TEST_F(ProgramTest, DownloadWritesTheCaptureAndListsIt) {
  constexpr int kRows = 393216;
  // ksvw-remote.exe downloads first, while no program holds the analyzer.
  const std::string remote = WorkFile("remote.DT");
  const double remoteMs = RemoteToolDownload("BIG", remote);
  ManagedWindows managed;
  ASSERT_NO_FATAL_FAILURE(StartConnectedTo("BIG"));
  std::vector<uint8_t> served;
  ASSERT_TRUE(ReadWholeFile(WorkFile("download.DT"), served));
  std::vector<std::string> expected = ListingRows(WorkFile("download.list"));
  ASSERT_EQ(expected.size(), static_cast<size_t>(kRows));
  const std::string side = program_.PathInFolder("DATAFILE.NEW");
  const std::string work = program_.PathInFolder("DATAFILE.TMP");
  auto whole = [&](const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
           data.nFileSizeLow == served.size() && !data.nFileSizeHigh;
  };
  // The old working file goes first: "in place" means the new one.
  ASSERT_TRUE(DeleteFileA(work.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND);

  ASSERT_TRUE(PressKeys(program_.MainWindow(), {VK_CONTROL}, 'R'));
  Stopwatch clock;
  double dataIn = -1, inPlace = -1, dialogGone = -1;
  bool dialogSeen = false;
  while ((inPlace < 0 || dialogGone < 0) && clock.Ms() < 60000) {
    const double now = clock.Ms();
    if (dataIn < 0 && (whole(side) || whole(work))) dataIn = now;
    if (inPlace < 0 && whole(work)) inPlace = now;
    const bool dialog = !TopLevelWindows(program_.Pid(), kDialogClass).empty();
    dialogSeen |= dialog;
    if (dialogSeen && !dialog && dialogGone < 0) dialogGone = now;
    Sleep(10);
  }
  ASSERT_GE(inPlace, 0) << "DATAFILE.TMP did not get the capture; " << Boxes();
  EXPECT_GE(dialogGone, 0) << "the download dialog stayed open";
  Figure(
      "full download of %d records, watched from outside: every byte in DATAFILE.NEW after "
      "%.0f ms, DATAFILE.TMP in place after %.0f ms, download dialog gone after %.0f ms",
      kRows, dataIn, inPlace, dialogGone);

  ASSERT_TRUE(WaitUntil([&] { return ListRows() == kRows; }, 60000)) << Boxes();
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();
  std::vector<uint8_t> downloaded;
  ASSERT_TRUE(ReadWholeFile(work, downloaded));
  EXPECT_TRUE(downloaded == served) << "DATAFILE.TMP differs from the simulator's capture";
  std::vector<uint8_t> tool;
  EXPECT_TRUE(remoteMs >= 0 && ReadWholeFile(remote, tool) && tool == downloaded)
      << "ksvw-remote.exe's download (" << remoteMs << " ms) differs from the program's";
  Figure("ksvw-remote.exe: the same %zu bytes in %.0f ms (its JSON), the program in %.0f ms",
         tool.size(), remoteMs, dataIn);
  // Every cell of a sample of rows, the first and the last among them.
  ExpectRows(expected, 3001);

  ExpectCommand(IDC_SAVE, true);
  ExpectCommand(IDC_SEARCH, true);
  ExpectCommand(IDC_DISCONNECT, true);
  ExpectCommand(IDC_DOWNLOAD, true);
  EXPECT_EQ(program_.Status(2), Text(IDS_CONNECTED));
}

// The user ends a download with its Cancel button, then the next one with
// its close box (or Alt+F4, which Windows turns into the same command).
TEST_F(ProgramTest, CancelledDownloadsEmptyTheListAndLeaveTheLinkUp) {
  ASSERT_NO_FATAL_FAILURE(Start(LanSettings(SimPort("CANCEL"))));
  // Something in the list first, so that emptying it shows.
  ASSERT_NO_FATAL_FAILURE(OpenCapture(DataFile("edge.DT"), 14));
  ASSERT_NO_FATAL_FAILURE(Connect());
  for (bool closeBox : {false, true}) {
    SCOPED_TRACE(closeBox ? "close box" : "Cancel button");
    const size_t cancelsBefore = SimLogged("cancel", "section cancelled");
    ASSERT_TRUE(program_.Command(IDC_DOWNLOAD));
    HWND dialog = WaitForWindow(program_.Pid(), kDialogClass);
    ASSERT_NE(dialog, nullptr) << "no download dialog";
    // End it while the records come (the simulator sends them slowly).
    ASSERT_TRUE(WaitForStatus(1, Text(IDS_STEP_2))) << program_.Status(1) << "; " << Boxes();
    EXPECT_NE(FindControl(dialog, IDT_DOWNLOAD_PROGRESS), nullptr);
    EXPECT_EQ(WindowText(FindControl(dialog, IDT_DOWNLOAD_STEP)), Text(IDS_STEP_2));
    if (closeBox)
      ASSERT_TRUE(PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0));
    else
      ASSERT_TRUE(PressButton(dialog, IDCANCEL));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); })) << "the dialog stayed open";
    // The analyzer was told, so no late completion can replace the list.
    EXPECT_TRUE(WaitUntil([&] { return SimLogged("cancel", "section cancelled") > cancelsBefore; }))
        << "the simulator saw no cancel";
    ASSERT_TRUE(WaitUntil([&] { return ListRows() == 0; })) << "the list was not emptied";
    EXPECT_TRUE(WaitForStatus(1, "")) << program_.Status(1);
    EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();
    ExpectCommand(IDC_SAVE, false);
    ExpectCommand(IDC_SEARCH, false);

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
  }
}

TEST_F(ProgramTest, LinkLostDuringDownloadKeepsTheOpenedCapture) {
  ASSERT_NO_FATAL_FAILURE(Start(LanSettings(SimPort("DROP"))));
  ASSERT_NO_FATAL_FAILURE(OpenCapture(DataFile("edge.DT"), 14));
  ASSERT_NO_FATAL_FAILURE(Connect());
  ASSERT_TRUE(program_.Command(IDC_DOWNLOAD));
  // Losing the link closes the device, which ends the running section with
  // 0x800708CA: besides the warning of the lost link, the download reports
  // that failure in a box of its own. The two messages race through the
  // library's threads, so either box may come first (the second opens
  // while the first is still up).
  const std::string failed = kProduct + (": " + Formatted(IDS_DOWNLOAD_ERROR_CODE, 0x800708CAu));
  int lost = 0;
  std::vector<std::string> others;
  for (MessageBoxInfo box = WaitForMessageBox(program_.Pid());
       box.window && lost + others.size() < 3; box = WaitForMessageBox(program_.Pid(), 3000)) {
    if (box.caption == Text(IDS_CAPTION) && box.text == Text(IDS_LINK_LOST))
      ++lost;
    else
      others.push_back(box.caption + ": " + box.text);
    ASSERT_TRUE(AnswerMessageBox(box, IDOK)) << box.text;
  }
  EXPECT_EQ(lost, 1) << "the lost link was not reported once; status: " << program_.Status(2);
  for (const std::string& box : others) EXPECT_EQ(box, failed);

  // The download dialog went with the link, and no further box follows.
  EXPECT_TRUE(WaitUntil([&] {
    for (HWND d : TopLevelWindows(program_.Pid(), kDialogClass))
      if (FindControl(d, IDT_DOWNLOAD_PROGRESS)) return false;
    return true;
  })) << "the download dialog stayed open";
  EXPECT_TRUE(WaitForStatus(2, Text(IDS_NOT_CONNECTED))) << program_.Status(2) << "; " << Boxes();
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();
  ExpectNotConnected();

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
  ExpectClosesAtOnce();
}

// --- Files ------------------------------------------------------------------

// edge.DT holds a record of every shape the list lays out differently.
TEST_F(ProgramTest, OpenedCaptureIsKeptByANonCaptureAndShownInBothTimeColumns) {
  ASSERT_NO_FATAL_FAILURE(Start(LanSettings("1")));
  ASSERT_NO_FATAL_FAILURE(OpenCapture(DataFile("edge.DT"), 14));
  ControlReader& reader = program_.Reader();
  HWND list = program_.List();
  std::vector<std::string> absolute = ListingRows(DataFile("edge.list"));
  std::vector<std::string> delta = ListingRows(DataFile("edge_delta.list"));
  ASSERT_EQ(absolute.size(), 14u);
  ASSERT_EQ(delta.size(), 14u);
  ExpectRows(absolute);
  ExpectCellsFit();
  EXPECT_EQ(program_.Status(0), "XP-RT4QX");

  // A file that is not a capture leaves the list and its state alone.
  std::string junk = program_.PathInFolder("notes.DT");
  ASSERT_TRUE(WriteWholeFile(junk, "These are notes, not a capture.\r\n"));
  ASSERT_TRUE(program_.Command(IDC_OPEN));
  std::string why;
  ASSERT_TRUE(AnswerFileDialog(program_.Pid(), junk, &why)) << why;
  ASSERT_NO_FATAL_FAILURE(ExpectBox(Text(IDS_OPEN_ERROR_CAPTION), Text(IDS_NOT_A_CAPTURE)));
  ExpectRows(absolute);
  EXPECT_EQ(program_.Status(1), "13 / 13");
  EXPECT_EQ(program_.Status(0), "XP-RT4QX");
  ExpectCommand(IDC_SAVE, true);

  // The delta toggle, twice, gives the time column back as it was.
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

  // Clicking a row shows its position; the arrow key moves both.
  RECT row{};
  ASSERT_TRUE(reader.ListItemRect(list, 5, &row));
  ASSERT_TRUE(ClickAt(list, POINT{row.left + 20, (row.top + row.bottom) / 2}));
  EXPECT_TRUE(WaitForStatus(1, "5 / 13")) << program_.Status(1);
  ASSERT_TRUE(PressKeys(program_.MainWindow(), {}, VK_DOWN));
  EXPECT_TRUE(WaitForStatus(1, "6 / 13")) << program_.Status(1);

  // Cancelling the transfer (menu only) blanks the rows until the next load.
  ASSERT_TRUE(Send(program_.MainWindow(), WM_COMMAND, IDC_CANCEL_TRANSFER, 0));
  EXPECT_EQ(ListRows(), 14);
  EXPECT_EQ(Row(0), std::string(kColumns - 1, '|'));
  ExpectCommand(IDC_SAVE, false);
  ASSERT_NO_FATAL_FAILURE(OpenCapture(DataFile("edge.DT"), 14));
  ExpectRows(absolute);
}

}  // namespace
}  // namespace ksvw::uiauto
