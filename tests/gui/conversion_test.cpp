// The batch conversion dialog of the real program (command 40010), driven
// from outside: folders of sample captures made by the Windows ksvw-gen,
// outputs compared with the Windows ksvw-dt's conversion of the same files
// with the same options, the two progress bars, Stop, a file that is not a
// capture, closing mid-batch, the folder picker and the CVT section across
// openings. Pictures of the dialog (idle, mid-batch, idle at 120 DPI) go to
// KSVW_GUI_PICTURES_DIR. The samples stay in the work folder between runs.
//
// The text banner carries the time of its conversion, so text outputs are
// compared from their second line on; CSV outputs have no banner and are
// compared whole.
//
// With KSVW_GUI_BENCH=1 the BenchTenCapturesAgainstKsvwDt test prints the
// speed figures (ten 12 MiB captures against ksvw-dt.exe on the same files).
#include <set>

#include "tests/gui/program_fixture.h"

namespace ksvw::uiauto {
namespace {

constexpr char kDialogTitle[] = "Convert DT Files to Text";
constexpr int kBigRecords = 393216;  // a 12 MiB capture
constexpr DWORD kToolMs = 120000;
// Disabled while a batch runs (Convert is enabled by the selection).
constexpr int kBatchControls[] = {IDT_CVT_BROWSE,     IDT_CVT_REFRESH,     IDT_CVT_FILES,
                                  IDT_CVT_SELECT_ALL, IDT_CVT_SELECT_NONE, IDT_CVT_CHANNELS,
                                  IDT_CVT_RAW_HEX,    IDT_CVT_FILES_LABEL};

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// Runs a Windows program of the build and waits for it, at most kToolMs
// (then it is ended); its exit code in `code`.
bool RunToEnd(const std::string& commandLine, DWORD* code, std::string* why) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    *why = "cannot start '" + commandLine + "': error " + std::to_string(GetLastError());
    return false;
  }
  CloseHandle(info.hThread);
  const bool ended = WaitForSingleObject(info.hProcess, kToolMs) == WAIT_OBJECT_0;
  if (!ended) {
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, kWaitMs);
    *why = "'" + commandLine + "' did not end in time";
  }
  GetExitCodeProcess(info.hProcess, code);
  CloseHandle(info.hProcess);
  return ended;
}

// WaitUntil with a 1 ms poll, for the timed waits of the figures.
bool WaitClosely(const std::function<bool()>& done, DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (!done()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(1);
  }
  return true;
}

// Runs a Windows tool of the build (ksvw-gen.exe, ksvw-dt.exe).
::testing::AssertionResult Tool(const std::string& name, const std::string& arguments) {
  std::string exe = JoinPath(WinPath(Env("KSVW_GUI_TOOLS_DIR")), name);
  DWORD code = 1;
  std::string why;
  if (!RunToEnd(Quoted(exe) + " " + arguments, &code, &why))
    return ::testing::AssertionFailure() << why;
  if (code != 0) return ::testing::AssertionFailure() << name << " " << arguments << ": " << code;
  return ::testing::AssertionSuccess();
}

// A generated capture, made once per run in the work folder.
std::string Sample(const std::string& name, int records, const char* board, int seed) {
  std::string folder = WorkFile("cvt-samples");
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string path = JoinPath(folder, name);
  if (!FileExists(path)) {
    EXPECT_TRUE(Tool("ksvw-gen.exe", "--records " + std::to_string(records) + " --board " + board +
                                         " --seed " + std::to_string(seed) + " -o " +
                                         Quoted(path)));
  }
  return path;
}
std::string Big() {
  return Sample("big.DT", kBigRecords, "MDCL", 33);
}
std::string BigMonc() {
  return Sample("big-monc.DT", kBigRecords, "MONC", 35);
}
std::string SmallB() {
  return Sample("small-b.DT", 20000, "MONC", 32);
}
// 96 MiB: the converter writes some 700 MB of text a second, so this is
// the file still being converted when a test has seen its bar move, taken
// a picture and pressed Stop.
std::string Long() {
  return Sample("long.DT", 8 * kBigRecords, "MDCL", 36);
}

struct Options {
  int channel = 0;  // list 1013
  int hex = 0;      // list 1030
  bool csv = false;
  bool delta = false;
};

std::string DtArguments(const Options& o) {
  static const char* const kChannels[] = {"both", "1", "2"};
  return std::string("convert --channel ") + kChannels[o.channel] + (o.hex ? " --raw-hex" : "") +
         (o.csv ? " --csv" : "") + (o.delta ? " --delta" : "");
}

std::string Contents(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) return "<unreadable>";
  return std::string(bytes.begin(), bytes.end());
}

// A text output without its banner's first line (the time of conversion).
std::string AfterTimeLine(const std::string& text, bool csv) {
  if (csv) return text;
  size_t end = text.find("\r\n");
  return end == std::string::npos ? text : text.substr(end + 2);
}

// A stopped conversion: a shorter output of whole lines, every one of
// them the same as in the complete output.
::testing::AssertionResult WellFormedPrefix(const std::string& partialPath,
                                            const std::string& fullPath, bool csv) {
  std::string partial = AfterTimeLine(Contents(partialPath), csv);
  std::string full = AfterTimeLine(Contents(fullPath), csv);
  if (partial.size() >= full.size())
    return ::testing::AssertionFailure() << partialPath << " is not shorter than the whole output";
  if (full.compare(0, partial.size(), partial) != 0)
    return ::testing::AssertionFailure() << partialPath << " differs from the whole output";
  if (partial.size() < 2 || partial.compare(partial.size() - 2, 2, "\r\n") != 0)
    return ::testing::AssertionFailure() << partialPath << " ends inside a line";
  return ::testing::AssertionSuccess();
}

class ConversionTest : public GuiTest {
 protected:
  // Starts the program with the captures folder holding `files` (name,
  // then a sample path, or the text of a file that is not a capture).
  void Start(const std::vector<std::pair<std::string, std::string>>& files,
             const std::string& cvt = "") {
    captures_ = JoinPath(folder_, "caps");
    ASSERT_NO_FATAL_FAILURE(
        Prepare(LanSettings("1") + (cvt.empty() ? "[CVT]\r\nPATH=" + captures_ + "\r\n" : cvt)));
    ASSERT_TRUE(CreateDirectoryA(captures_.c_str(), nullptr));
    for (const auto& [name, from] : files) {
      std::string to = JoinPath(captures_, name);
      if (FileExists(from))
        ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from;
      else
        ASSERT_TRUE(WriteWholeFile(to, from)) << to;
    }
    ASSERT_NO_FATAL_FAILURE(Launch());
  }

  void OpenDialog() {
    ASSERT_TRUE(program_.Command(IDC_CONVERT));
    dialog_ = WaitForWindow(program_.Pid(), kDialogClass, kDialogTitle);
    ASSERT_NE(dialog_, nullptr) << "the conversion dialog did not open";
  }

  HWND Control(int id) { return GetDlgItem(dialog_, id); }
  LRESULT Ask(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    LRESULT result = -1;
    Send(Control(id), message, wParam, lParam, &result);
    return result;
  }
  bool Enabled(int id) { return IsWindowEnabled(Control(id)) != 0; }
  int Bar(int id) { return static_cast<int>(Ask(id, PBM_GETPOS)); }
  // Every control of the batch usable again (the dialog enables them last).
  bool Idle() {
    for (int id : kBatchControls)
      if (!Enabled(id)) return false;
    return !Enabled(IDCANCEL);
  }
  // Presses a button and returns once the dialog has handled it.
  void Click(int id) {
    ASSERT_TRUE(Send(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(Control(id))));
  }

  void SetOptions(const Options& o) {
    Ask(IDT_CVT_CHANNELS, CB_SETCURSEL, o.channel);
    Ask(IDT_CVT_RAW_HEX, CB_SETCURSEL, o.hex);
    Ask(IDT_CVT_CSV, BM_SETCHECK, o.csv ? BST_CHECKED : BST_UNCHECKED);
    Ask(IDT_CVT_DELTA, BM_SETCHECK, o.delta ? BST_CHECKED : BST_UNCHECKED);
    ASSERT_NO_FATAL_FAILURE(Click(IDT_CVT_CSV));
    EXPECT_EQ(Enabled(IDT_CVT_DELTA), !o.csv);
  }

  // Selects every file and presses Convert; the batch has started (and a
  // short one may have ended) on return.
  void ConvertAll() {
    ASSERT_NO_FATAL_FAILURE(Click(IDT_CVT_SELECT_ALL));
    ASSERT_TRUE(Enabled(IDOK)) << "Convert stays disabled";
    ASSERT_NO_FATAL_FAILURE(Click(IDOK));
  }

  // The controls as after a batch: all enabled, Stop disabled, bar at 0.
  void ExpectIdle() {
    for (int id : kBatchControls) EXPECT_TRUE(Enabled(id)) << "control " << id;
    EXPECT_FALSE(Enabled(IDCANCEL));
    EXPECT_EQ(Bar(IDT_CVT_FILE_BAR), 0);
  }

  // ksvw-dt.exe's output for `source` with `o`, made in a folder of its own.
  std::string Reference(const std::string& source, const Options& o, const std::string& tag) {
    std::string folder = JoinPath(folder_, "ref-" + tag);
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string name = source.substr(source.find_last_of('\\') + 1);
    std::string out = JoinPath(folder, name.substr(0, name.rfind('.')) + (o.csv ? ".csv" : ".txt"));
    EXPECT_TRUE(Tool("ksvw-dt.exe", DtArguments(o) + " -o " + Quoted(out) + " " + Quoted(source)));
    return out;
  }

  std::string Output(const std::string& stem, bool csv = false) {
    return JoinPath(captures_, stem + (csv ? ".csv" : ".txt"));
  }

  std::string captures_;
  HWND dialog_ = nullptr;
};

TEST_F(ConversionTest, ConvertsABatchOfThreeAsKsvwDtDoes) {
  // 12 MiB each, so that the bar can be seen at every file.
  ASSERT_NO_FATAL_FAILURE(Start({{"1.DT", Big()}, {"2.DT", BigMonc()}, {"3.DT", Big()}}));
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  Picture(dialog_, "conversion_idle");
  ASSERT_EQ(Ask(IDT_CVT_FILES, LB_GETCOUNT), 3);
  const Options cases[] = {
      {0, 0, false, false},
      {1, 1, true, false},  // 1026 is disabled while 1025 is checked
      {2, 0, false, true},
  };
  for (const Options& o : cases) {
    SCOPED_TRACE("channel " + std::to_string(o.channel) + " hex " + std::to_string(o.hex) +
                 (o.csv ? " csv" : " text") + (o.delta ? " delta" : ""));
    ASSERT_NO_FATAL_FAILURE(SetOptions(o));
    ASSERT_NO_FATAL_FAILURE(ConvertAll());
    // The folder field stays editable, but the batch keeps its folder.
    ASSERT_TRUE(SetText(Control(IDT_CVT_FOLDER), "C:\\nowhere"));
    // Bar 1097 counts the files: it runs through 1 and 2 of 3.
    std::set<int> seen;
    ASSERT_TRUE(WaitClosely(
        [&] {
          seen.insert(Bar(IDT_CVT_FILE_BAR));
          return Idle();
        },
        kWaitMs))
        << "the batch did not end";
    EXPECT_TRUE(seen.count(1) && seen.count(2)) << "bar 1097 did not step through the files";
    EXPECT_EQ(Ask(IDT_CVT_FILE_BAR, PBM_GETRANGE, FALSE), 3);
    ExpectIdle();
    ASSERT_TRUE(SetText(Control(IDT_CVT_FOLDER), captures_));
    for (const char* stem : {"1", "2", "3"}) {
      std::string reference =
          Reference(JoinPath(captures_, std::string(stem) + ".DT"), o, std::to_string(&o - cases));
      EXPECT_EQ(AfterTimeLine(Contents(Output(stem, o.csv)), o.csv),
                AfterTimeLine(Contents(reference), o.csv))
          << "output of " << stem << ".DT";
    }
  }
}

TEST_F(ConversionTest, StopDuringTheSecondOfThreeEndsItWellFormed) {
  ASSERT_NO_FATAL_FAILURE(Start({{"1.DT", Long()}, {"2.DT", Long()}, {"3.DT", SmallB()}}));
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  ASSERT_NO_FATAL_FAILURE(ConvertAll());
  // The picture is taken during the first file, so that however long it
  // takes, Stop is pressed as soon as the second file has begun.
  ASSERT_TRUE(WaitClosely([&] { return Bar(IDT_CVT_RECORD_BAR) > 0; }, kWaitMs))
      << "the first file did not start";
  Picture(dialog_, "conversion_mid_batch", false);
  ASSERT_TRUE(WaitClosely([&] { return Bar(IDT_CVT_FILE_BAR) == 1 && Bar(IDT_CVT_RECORD_BAR) > 0; },
                          kWaitMs))
      << "the second file did not start";
  Stopwatch pressed;
  ASSERT_TRUE(PressButton(dialog_, IDCANCEL));
  ASSERT_TRUE(WaitClosely([&] { return Idle(); }, 10000)) << "Stop did not end the batch";
  Figure("Stop: the batch ended %.1f ms after the click", pressed.Ms());
  ExpectIdle();
  EXPECT_TRUE(Enabled(IDOK));
  Options text;
  const std::string whole = Reference(JoinPath(captures_, "1.DT"), text, "t");
  EXPECT_EQ(AfterTimeLine(Contents(Output("1")), false), AfterTimeLine(Contents(whole), false));
  EXPECT_TRUE(WellFormedPrefix(Output("2"), whole, false));
  EXPECT_FALSE(FileExists(Output("3"))) << "the file after the stop was converted";
}

TEST_F(ConversionTest, AFileThatIsNotACaptureIsReportedAndTheBatchGoesOn) {
  ASSERT_NO_FATAL_FAILURE(
      Start({{"1.DT", SmallB()}, {"2%s%n.DT", "not a capture\r\n"}, {"3.DT", SmallB()}}));
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  ASSERT_NO_FATAL_FAILURE(ConvertAll());
  // The name is shown as it is, not used as a format. (The dialog's own
  // labels, id -1, make it look like a box as well.)
  ASSERT_NO_FATAL_FAILURE(ExpectBox(Text(IDS_CONVERT_CAPTION),
                                    "2%s%n.DT\n" + Text(IDS_NOT_CONVERTIBLE), IDOK, dialog_));
  ASSERT_TRUE(WaitUntil([&] { return Idle(); })) << "the batch did not end";
  EXPECT_TRUE(FileExists(Output("1")));
  EXPECT_FALSE(FileExists(Output("2%s%n")));
  EXPECT_TRUE(FileExists(Output("3"))) << "the file after the bad one was not converted";
}

TEST_F(ConversionTest, ClosingMidBatchStopsItAndTheNextOpeningIsIdle) {
  ASSERT_NO_FATAL_FAILURE(Start({{"1.DT", Long()}, {"2.DT", SmallB()}}));
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  ASSERT_NO_FATAL_FAILURE(ConvertAll());
  ASSERT_TRUE(WaitClosely([&] { return Bar(IDT_CVT_RECORD_BAR) > 0; }, kWaitMs));
  ASSERT_TRUE(PostMessageA(dialog_, WM_CLOSE, 0, 0));
  ASSERT_TRUE(WaitForWindowGone(program_.Pid(), kDialogClass, kDialogTitle, 10000));
  Options text;
  std::string reference1 = Reference(JoinPath(captures_, "1.DT"), text, "t");
  EXPECT_TRUE(WellFormedPrefix(Output("1"), reference1, false));
  EXPECT_FALSE(FileExists(Output("2")));

  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  ExpectIdle();
  ASSERT_NO_FATAL_FAILURE(ConvertAll());
  ASSERT_TRUE(WaitUntil([&] { return Idle(); })) << "the batch of the new opening did not end";
  EXPECT_EQ(AfterTimeLine(Contents(Output("1")), false),
            AfterTimeLine(Contents(reference1), false));
  EXPECT_TRUE(FileExists(Output("2")));
}

std::vector<std::string> CvtLines(const std::string& settingsPath) {
  std::vector<std::string> lines, section;
  bool inside = false;
  for (const std::string& line : ReadLines(settingsPath)) {
    if (!line.empty() && line[0] == '[') {
      inside = line == "[CVT]";
    } else if (inside && !line.empty()) {
      section.push_back(line);
    }
  }
  return section;
}

TEST_F(ConversionTest, KeepsFolderChannelAndRawHexInCvt) {
  // No CVT yet: the executable's folder and the first entries.
  ASSERT_NO_FATAL_FAILURE(Start({{"1.DT", SmallB()}}, "\r\n"));
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  EXPECT_EQ(WindowText(Control(IDT_CVT_FOLDER)), program_.Folder());
  EXPECT_EQ(Ask(IDT_CVT_CHANNELS, CB_GETCURSEL), 0);
  EXPECT_EQ(Ask(IDT_CVT_RAW_HEX, CB_GETCURSEL), 0);

  ASSERT_TRUE(SetText(Control(IDT_CVT_FOLDER), captures_));
  ASSERT_NO_FATAL_FAILURE(SetOptions({2, 1, false, false}));
  ASSERT_TRUE(PostMessageA(dialog_, WM_CLOSE, 0, 0));
  ASSERT_TRUE(WaitForWindowGone(program_.Pid(), kDialogClass, kDialogTitle));
  const std::vector<std::string> expected = {"PATH=" + captures_, "CH=2", "HEX=1"};
  EXPECT_EQ(CvtLines(program_.PathInFolder("SETTING.ini")), expected);

  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  EXPECT_EQ(WindowText(Control(IDT_CVT_FOLDER)), captures_);
  EXPECT_EQ(Ask(IDT_CVT_CHANNELS, CB_GETCURSEL), 2);
  EXPECT_EQ(Ask(IDT_CVT_RAW_HEX, CB_GETCURSEL), 1);
  EXPECT_EQ(Ask(IDT_CVT_FILES, LB_GETCOUNT), 1);
  // An emptied folder field is not stored: the folder stays.
  ASSERT_TRUE(SetText(Control(IDT_CVT_FOLDER), ""));
  ASSERT_TRUE(PostMessageA(dialog_, WM_CLOSE, 0, 0));
  ASSERT_TRUE(WaitForWindowGone(program_.Pid(), kDialogClass, kDialogTitle));
  EXPECT_EQ(CvtLines(program_.PathInFolder("SETTING.ini")), expected);
}

// Browse: the shell's picker opens on the stored folder. A chosen folder
// goes into the field and into CVT at once (with CH and HEX); a cancelled
// picker keeps the folder but the list is read again.
TEST_F(ConversionTest, BrowseStoresAChoiceAtOnceAndCancelStillRefreshes) {
  ASSERT_NO_FATAL_FAILURE(Start({{"1.DT", SmallB()}}));
  const std::string sub = JoinPath(captures_, "sub");
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  for (const char* name : {"a.DT", "b.DT"})
    ASSERT_TRUE(CopyFileA(SmallB().c_str(), JoinPath(sub, name).c_str(), FALSE));
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  ASSERT_NO_FATAL_FAILURE(SetOptions({1, 1, false, false}));

  // Answers the picker with its starting folder's first subfolder (OK) or
  // with Cancel.
  // Wine's picker now and then shows no folder selected and goes away by
  // itself (one opening in four or five here): it is then opened again.
  auto browse = [&](int button) {
    HWND picker = nullptr, tree = nullptr;
    LRESULT start = 0, child = 0;
    for (int attempt = 0; attempt < 4 && start == 0; ++attempt) {
      if (picker != nullptr && IsWindow(picker)) {
        ASSERT_TRUE(PressButton(picker, IDCANCEL));
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(picker); }));
      }
      ASSERT_TRUE(PressButton(dialog_, IDT_CVT_BROWSE));
      ASSERT_NO_FATAL_FAILURE(WaitForPicker(dialog_, &picker, &tree));
      WaitUntil([&] { return Send(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, &start) && start; }, 3000);
    }
    ASSERT_NE(start, 0) << "the picker never showed the starting folder";
    if (button == IDOK) {
      ASSERT_TRUE(Send(tree, TVM_EXPAND, TVE_EXPAND, start));
      ASSERT_TRUE(WaitUntil(
          [&] { return Send(tree, TVM_GETNEXTITEM, TVGN_CHILD, start, &child) && child != 0; }));
      ASSERT_TRUE(Send(tree, TVM_SELECTITEM, TVGN_CARET, child));
    }
    ASSERT_TRUE(PressButton(picker, button));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(picker); }));
  };
  ASSERT_NO_FATAL_FAILURE(browse(IDOK));
  ASSERT_TRUE(WaitUntil([&] { return Ask(IDT_CVT_FILES, LB_GETCOUNT) == 2; }));
  EXPECT_EQ(WindowText(Control(IDT_CVT_FOLDER)), sub);
  const std::vector<std::string> stored = {"PATH=" + sub, "CH=1", "HEX=1"};
  EXPECT_EQ(CvtLines(program_.PathInFolder("SETTING.ini")), stored);

  ASSERT_TRUE(CopyFileA(SmallB().c_str(), JoinPath(sub, "c.DT").c_str(), FALSE));
  ASSERT_NO_FATAL_FAILURE(browse(IDCANCEL));
  ASSERT_TRUE(WaitUntil([&] { return Ask(IDT_CVT_FILES, LB_GETCOUNT) == 3; }));
  EXPECT_EQ(WindowText(Control(IDT_CVT_FOLDER)), sub);
  EXPECT_EQ(CvtLines(program_.PathInFolder("SETTING.ini")), stored);
}

// Wine takes the screen's DPI from this value when a program starts.
class ScreenDpi {
 public:
  explicit ScreenDpi(DWORD dpi) {
    RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &key_, nullptr);
    DWORD size = sizeof old_;
    had_ = RegQueryValueExA(key_, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old_),
                            &size) == ERROR_SUCCESS;
    RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                   sizeof dpi);
  }
  ~ScreenDpi() {
    if (had_)
      RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_),
                     sizeof old_);
    else
      RegDeleteValueA(key_, "LogPixels");
    RegCloseKey(key_);
  }

 private:
  HKEY key_ = nullptr;
  DWORD old_ = 96;
  bool had_ = false;
};

TEST_F(ConversionTest, PictureAt120Dpi) {
  ScreenDpi dpi(120);
  ASSERT_NO_FATAL_FAILURE(Start({{"1.DT", SmallB()}}));
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  Picture(dialog_, "conversion_idle_120dpi");
}

// Figures, no assertions on time: KSVW_GUI_BENCH=1 to run. Each round
// converts the ten captures with the dialog (from the Convert click to the
// controls back) and with one ksvw-dt.exe run (from its start to its end,
// Wine's start of a process included, which `ksvw-dt.exe --help` shows).
TEST_F(ConversionTest, BenchTenCapturesAgainstKsvwDt) {
  if (Env("KSVW_GUI_BENCH").empty()) GTEST_SKIP() << "set KSVW_GUI_BENCH=1 for the figures";
  std::vector<std::pair<std::string, std::string>> files;
  std::string sources;
  for (int i = 0; i < 10; ++i) {
    std::string name = "bench" + std::to_string(i) + ".DT";
    files.push_back({name, Sample(name, kBigRecords, i % 2 ? "MONC" : "MDCL", 100 + i)});
  }
  ASSERT_NO_FATAL_FAILURE(Start(files));
  for (const auto& file : files) {
    sources += ' ';
    sources += Quoted(JoinPath(captures_, file.first));
  }
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  std::vector<double> dialog, dt;
  for (int round = 0; round < 5; ++round) {
    ASSERT_NO_FATAL_FAILURE(Click(IDT_CVT_SELECT_ALL));
    Stopwatch clock;
    ASSERT_NO_FATAL_FAILURE(Click(IDOK));
    ASSERT_TRUE(WaitClosely([&] { return Idle(); }, 600000));
    dialog.push_back(clock.Ms());
    clock.Restart();
    ASSERT_TRUE(Tool("ksvw-dt.exe", "convert" + sources));
    dt.push_back(clock.Ms());
    Figure("round %d: dialog %.0f ms, ksvw-dt.exe %.0f ms", round, dialog.back(), dt.back());
  }
  Stopwatch clock;
  ASSERT_TRUE(Tool("ksvw-dt.exe", "--help"));
  const double processStart = clock.Ms(), d = Median(dialog), t = Median(dt);
  Figure(
      "ten 12 MiB captures to text, median of 5: dialog %.0f ms, ksvw-dt.exe %.0f ms "
      "(%+.1f %%; starting a process under Wine alone %.0f ms)",
      d, t, 100.0 * (d - t) / t, processStart);

  // Bar 2273 on a 96 MiB capture, sampled as fast as the program answers:
  // the shortest time between two rising positions.
  std::string longFolder = JoinPath(captures_, "long");
  ASSERT_TRUE(CreateDirectoryA(longFolder.c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(Long().c_str(), JoinPath(longFolder, "long.DT").c_str(), FALSE));
  ASSERT_TRUE(SetText(Control(IDT_CVT_FOLDER), longFolder));
  ASSERT_NO_FATAL_FAILURE(Click(IDT_CVT_REFRESH));
  ASSERT_NO_FATAL_FAILURE(ConvertAll());
  int last = 0, updates = 0;
  double shortest = 1e9;
  Stopwatch changed;
  ASSERT_TRUE(WaitClosely(
      [&] {
        int position = Bar(IDT_CVT_RECORD_BAR);
        if (position > last) {
          if (updates++ > 0) shortest = std::min(shortest, changed.Ms());
          changed.Restart();
        }
        last = position;
        return Idle();
      },
      kWaitMs));
  Figure("bar 2273 on a 96 MiB capture: %d updates seen, at least %.1f ms apart", updates,
         shortest);
}

}  // namespace
}  // namespace ksvw::uiauto
