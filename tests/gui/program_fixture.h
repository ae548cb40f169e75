// The one fixture of the tests that drive the real program from outside:
// each test starts ksvw4q.exe in a scratch folder of its own with the
// SETTING.ini it gives, waits for the main window, and reads the status
// bar, the list and the message boxes through tools/uiauto.
//
// The driver script (run_gui_tests.sh) starts one simulator per test that
// needs one and passes its port in KSVW_GUI_PORT_<NAME>; the files it makes
// are in KSVW_GUI_WORK_DIR. Pictures go to KSVW_GUI_PICTURES_DIR.
#pragma once

#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "common/resource_ids.h"
#include "tools/uiauto/uiauto.h"

namespace ksvw::uiauto {

// The C runtime buffers standard output fully when it is a pipe (as under
// the driver's timeout): unbuffered, a run that is killed still shows how
// far it got and which checks had failed.
inline const int kUnbufferedOutput = std::setvbuf(stdout, nullptr, _IONBF, 0);

inline constexpr char kMainClass[] = "ksvw4";
inline constexpr char kDialogClass[] = "#32770";

inline std::string AppFolder() {
  return WinPath(Env("KSVW_GUI_APP_DIR"));
}
inline std::string WorkFile(const std::string& name) {
  return JoinPath(WinPath(Env("KSVW_GUI_WORK_DIR")), name);
}
inline std::string DataFile(const std::string& name) {
  return JoinPath(WinPath(Env("KSVW_GUI_DATA_DIR")), name);
}

// String `id` of the English language library, as the program loads it.
inline std::string Text(UINT id) {
  std::string text = LoadLibraryString(JoinPath(AppFolder(), "ksvw4q1033.dll"), id);
  EXPECT_FALSE(text.empty()) << "string " << id << " is missing from ksvw4q1033.dll";
  return text;
}
// String `id` used as the format of one number.
inline std::string Formatted(UINT id, uint32_t value) {
  char text[600];
  std::snprintf(text, sizeof text, Text(id).c_str(), value);
  return text;
}

// The port of simulator `name` (started by the driver script).
inline std::string SimPort(const char* name) {
  std::string variable = std::string("KSVW_GUI_PORT_") + name;
  std::string port = Env(variable.c_str());
  EXPECT_FALSE(port.empty()) << variable << " is not set (run the tests through their driver)";
  return port;
}
// SETTING.ini for the LAN converter at `host`:`port`.
inline std::string LanSettings(const std::string& port, const std::string& host = "127.0.0.1") {
  return "[REMOTE]\r\nMETHOD=2\r\n[RB40]\r\nHOST=" + host + "\r\nPORT=" + port + "\r\nCTPORT=\r\n";
}

// Figures, printed and never asserted: one prefix to grep them by.
inline void Figure(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::printf("[ figure ] ");
  std::vprintf(format, args);
  std::printf("\n");
  va_end(args);
}
class Stopwatch {
 public:
  double Ms() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
        .count();
  }
  void Restart() { start_ = std::chrono::steady_clock::now(); }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};
inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

class GuiTest : public ::testing::Test {
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
    folder_ = JoinPath(WorkFile("scratch"), name);
  }

  void TearDown() override {
    // Leave nothing running; keep the folder of a failed test to look at.
    program_.Kill();
    if (!HasFailure() && !program_.Running()) RemoveTree(folder_);
  }

  // Makes the scratch folder with `settings`; Launch() then starts the
  // program there and waits for its main window.
  void Prepare(const std::string& settings, bool languageLibrary = true) {
    Program::Files files;
    files.appFolder = AppFolder();
    files.languageLibrary = languageLibrary;
    files.settings = settings;
    std::string why;
    ASSERT_TRUE(program_.Prepare(folder_, files, &why)) << why;
  }
  void Launch() {
    std::string why;
    ASSERT_TRUE(program_.Start(&why)) << why;
    ASSERT_TRUE(program_.WaitForMainWindow()) << "no main window within 30 s";
  }
  void Start(const std::string& settings, bool languageLibrary = true) {
    ASSERT_NO_FATAL_FAILURE(Prepare(settings, languageLibrary));
    ASSERT_NO_FATAL_FAILURE(Launch());
  }

  // Command 2017 and the status that says the link is up.
  void Connect() {
    ASSERT_TRUE(program_.Command(IDC_CONNECT));
    ASSERT_TRUE(WaitForStatus(2, Text(IDS_CONNECTED)))
        << "not connected; status: " << program_.Status(2) << "; " << Boxes();
  }
  void StartConnectedTo(const char* sim) {
    ASSERT_NO_FATAL_FAILURE(Start(LanSettings(SimPort(sim))));
    ASSERT_NO_FATAL_FAILURE(Connect());
  }

  // Lines of simulator `sim`'s log (its standard error) that hold `what`.
  size_t SimLogged(const char* sim, const char* what) {
    size_t n = 0;
    for (const std::string& line : ReadLines(WorkFile(std::string("sim-") + sim + ".err")))
      n += line.find(what) != std::string::npos;
    return n;
  }

  // A command enabled or disabled on the toolbar and in the menu.
  void ExpectCommand(UINT id, bool enabled) {
    EXPECT_EQ(program_.ButtonState(id), enabled ? TBSTATE_ENABLED : TBSTATE_INDETERMINATE)
        << "toolbar button " << id;
    UINT state = program_.MenuState(id), grey = MF_GRAYED | MF_DISABLED;
    ASSERT_NE(state, 0xFFFFFFFFu) << "menu item " << id;
    EXPECT_EQ(state & grey, enabled ? 0u : grey) << "menu item " << id;
  }

  bool WaitForStatus(int part, const std::string& text, DWORD ms = kWaitMs) {
    return WaitUntil([&] { return program_.Status(part) == text; }, ms);
  }

  // Opens `path` through command 1007 and the Open dialog and waits until
  // the list shows its `rows`, the position on the last.
  void OpenCapture(const std::string& path, int rows) {
    ASSERT_TRUE(program_.Command(IDC_OPEN));
    std::string why;
    ASSERT_TRUE(AnswerFileDialog(program_.Pid(), path, &why)) << why;
    ASSERT_TRUE(WaitUntil([&] { return ListRows() == rows; }, 60000)) << Boxes();
    std::string last = std::to_string(rows - 1);
    EXPECT_TRUE(WaitForStatus(1, last + " / " + last)) << program_.Status(1);
  }
  int ListRows() { return program_.Reader().ListItemCount(program_.List()); }

  // The message boxes open now, for failure messages.
  std::string Boxes() {
    std::string out;
    for (const MessageBoxInfo& b : MessageBoxes(program_.Pid()))
      out += "[box \"" + b.caption + "\": " + b.text + "] ";
    return out.empty() ? "no message box" : out;
  }
  // The box that should open, with its caption and text, answered. Boxes
  // are told from dialogs by a static -1 of their own: the dialogs have
  // those only on their child pages, except `notThis`.
  void ExpectBox(const std::string& caption, const std::string& text, int answer = IDOK,
                 HWND notThis = nullptr) {
    MessageBoxInfo box;
    WaitUntil([&] {
      for (const MessageBoxInfo& b : MessageBoxes(program_.Pid()))
        if (b.window != notThis && GetDlgItem(b.window, 0xFFFF)) box = b;
      return box.window != nullptr;
    });
    ASSERT_NE(box.window, nullptr) << "no message box; status: " << program_.Status(2);
    EXPECT_NE(GetDlgItem(box.window, answer), nullptr) << "no button " << answer << " to answer";
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, text);
    ASSERT_TRUE(AnswerMessageBox(box, answer));
  }

  // WM_CLOSE ends the process with 0 and asks nothing.
  void ExpectClosesAtOnce() {
    ASSERT_TRUE(PostMessageA(program_.MainWindow(), WM_CLOSE, 0, 0));
    DWORD code = 1;
    ASSERT_TRUE(program_.WaitForExit(kWaitMs, &code)) << Boxes();
    EXPECT_EQ(code, 0u);
  }

  // The shell's folder picker the program opens (a dialog other than
  // `owner` with a tree view).
  void WaitForPicker(HWND owner, HWND* picker, HWND* tree) {
    *picker = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
      for (HWND w : TopLevelWindows(program_.Pid(), kDialogClass))
        if (HWND t = w != owner ? FindChildOfClass(w, WC_TREEVIEWA) : nullptr)
          *picker = w, *tree = t;
      return *picker != nullptr;
    })) << "no folder picker";
  }

  // Saves what `window` shows as NAME.png, when pictures are asked for;
  // after a pause for the painting to end unless `settle` is false.
  void Picture(HWND window, const std::string& name, bool settle = true) {
    std::string folder = Env("KSVW_GUI_PICTURES_DIR");
    if (folder.empty()) return;
    CreateDirectoryA(WinPath(folder).c_str(), nullptr);
    if (settle) Send(window, WM_NULL, 0, 0), Sleep(200);
    EXPECT_TRUE(SaveWindowPng(window, JoinPath(WinPath(folder), name + ".png"))) << name;
  }

  std::string folder_;
  Program program_;
};

}  // namespace ksvw::uiauto
