// The program's dialogs driven from outside: about, connection settings
// with its folder page and the shell's folder picker, and the search dialog
// with the commands that repeat its search. Each dialog and page is saved
// as a picture when it first opens (KSVW_GUI_PICTURES_DIR), so that its
// layout can be looked at without a display.
#include <cctype>
#include <map>

#include "tests/gui/program_fixture.h"

namespace ksvw::uiauto {
namespace {

// SETTING.ini as sections of lines.
using Sections = std::map<std::string, std::vector<std::string>>;

class DialogTest : public GuiTest {
 protected:
  // Runs `command` and waits for its dialog.
  HWND Open(UINT command) {
    EXPECT_TRUE(program_.Command(command));
    HWND dialog = WaitForWindow(program_.Pid(), kDialogClass);
    EXPECT_NE(dialog, nullptr) << "no dialog for command " << command;
    return dialog;
  }

  void ExpectClosed(HWND dialog) {
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); })) << "the dialog stayed open";
  }
  // Presses `button` of `dialog` and waits until it has closed.
  void Close(HWND dialog, int button) {
    ASSERT_TRUE(PressButton(dialog, button));
    ExpectClosed(dialog);
  }

  // The page a tab control shows now.
  int SelectedTab(HWND tabs) {
    LRESULT selected = -1;
    Send(tabs, TCM_GETCURSEL, 0, 0, &selected);
    return static_cast<int>(selected);
  }

  // Clicks tab `index` of a tab control, as a user switches pages.
  void ClickTab(HWND tabs, int index) {
    RemoteBuffer rect(program_.Process(), sizeof(RECT));
    RECT r{};
    LRESULT ok = 0;
    ASSERT_TRUE(Send(tabs, TCM_GETITEMRECT, index, rect.At(), &ok) && ok &&
                rect.Read(0, &r, sizeof r));
    ASSERT_TRUE(ClickAt(tabs, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}));
    ASSERT_TRUE(WaitUntil([&] { return SelectedTab(tabs) == index; }));
  }

  // Selects entry `index` of a combo box and notifies its page, as a click would.
  void Choose(HWND combo, int index) {
    ASSERT_TRUE(Send(combo, CB_SETCURSEL, index, 0));
    ASSERT_TRUE(Send(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo)));
  }

  // The access keys that more than one label or button of a dialog uses
  // (its own and its visible page's), "" when none.
  std::string SharedAccessKeys(HWND dialog) {
    std::vector<HWND> all;
    EnumChildWindows(
        dialog,
        [](HWND w, LPARAM v) {
          reinterpret_cast<std::vector<HWND>*>(v)->push_back(w);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    std::string keys, shared;
    for (HWND w : all) {
      const std::string cls = ClassName(w), text = WindowText(w);
      const size_t at = text.find('&');
      if (!IsWindowVisible(w) || (cls != "Button" && cls != "Static") || at == std::string::npos ||
          at + 1 >= text.size() ||
          ((GetWindowLongA(w, GWL_STYLE) & SS_NOPREFIX) && cls == "Static"))
        continue;
      const char key = static_cast<char>(std::toupper(text[at + 1]));
      (keys.find(key) == std::string::npos ? keys : shared) += key;
    }
    return shared;
  }

  Sections Ini() {
    Sections sections;
    std::string current;
    for (const std::string& line : ReadLines(program_.PathInFolder("SETTING.ini"))) {
      if (line.empty()) continue;
      if (line.front() == '[')
        current = line.substr(1, line.find(']') - 1);
      else
        sections[current].push_back(line);
    }
    return sections;
  }
};

// --- Connection settings ------------------------------------------------------------

// A LAN method, a port beyond COM9 and a bit rate that is none of the list's.
std::string StoredSettings(const std::string& host) {
  return "[REMOTE]\r\nMETHOD=2\r\n[RB40]\r\nHOST=" + host +
         "\r\nPORT=4001\r\nCTPORT=4002\r\n[SERIAL]\r\nCOM=COM12\r\nSPEED=250000\r\nPARITY=1\r\n"
         "FLOW=1\r\n";
}

class ConnectionDialogTest : public DialogTest {
 protected:
  // Runs command 2019 (or, without `run`, takes the dialog it opened).
  void OpenDialog(bool run = true) {
    dialog_ = run ? Open(IDC_CONNECTION_SETTINGS) : WaitForWindow(program_.Pid(), kDialogClass);
    ASSERT_NE(dialog_, nullptr);
    page_ = GetParent(FindControl(dialog_, IDT_METHOD));
    folderPage_ = GetParent(FindControl(dialog_, IDT_FOLDER));
    ASSERT_TRUE(page_ && folderPage_ && page_ != dialog_ && folderPage_ != dialog_);
  }
  HWND Control(int id) { return GetDlgItem(page_, id); }
  bool Shown(int id) { return IsWindowVisible(Control(id)) != 0; }
  std::string FolderShown() { return WindowText(GetDlgItem(folderPage_, IDT_FOLDER)); }

  // Presses the folder page's browse button and answers the picker: the
  // tree's selection is moved to the item at `path` (names from the root
  // down), then OK is pressed. (Wine's picker does not always reach the
  // starting folder it is given, so the tests do not rely on it.)
  void Browse(const std::vector<std::string>& path, const char* picture) {
    ASSERT_NO_FATAL_FAILURE(ClickTab(FindControl(dialog_, IDT_CONNECTION_TABS), 1));
    ASSERT_TRUE(PressButton(folderPage_, IDT_FOLDER_BROWSE));
    HWND picker = nullptr, tree = nullptr;
    ASSERT_NO_FATAL_FAILURE(WaitForPicker(dialog_, &picker, &tree));
    if (picture) Picture(picker, picture);
    LRESULT item = 0;
    Send(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0, &item);
    for (const std::string& name : path) {
      Send(tree, TVM_EXPAND, TVE_EXPAND, item);
      Send(tree, TVM_GETNEXTITEM, TVGN_CHILD, item, &item);
      while (item && ItemText(tree, item) != name)
        Send(tree, TVM_GETNEXTITEM, TVGN_NEXT, item, &item);
      ASSERT_NE(item, 0) << "no \"" << name << "\" in the picker";
    }
    ASSERT_TRUE(Send(tree, TVM_SELECTITEM, TVGN_CARET, item));
    ASSERT_NO_FATAL_FAILURE(Close(picker, IDOK));
  }

  // The text of a tree item (TVM_GETITEMA into the program's memory).
  std::string ItemText(HWND tree, LRESULT item) {
    RemoteBuffer buffer(program_.Process(), sizeof(TVITEMA) + 260);
    TVITEMA t{};
    t.mask = TVIF_TEXT;
    t.hItem = reinterpret_cast<HTREEITEM>(item);
    t.pszText = reinterpret_cast<char*>(buffer.At(sizeof t));
    t.cchTextMax = 260;
    char text[260] = {};
    buffer.Write(0, &t, sizeof t);
    Send(tree, TVM_GETITEMA, 0, buffer.At());
    buffer.Read(sizeof t, text, sizeof text - 1);
    return text;
  }

  HWND dialog_ = nullptr;
  HWND page_ = nullptr;
  HWND folderPage_ = nullptr;
};

TEST_F(ConnectionDialogTest, ShowsTheStoredSettingsAndOkWritesExactlyThreeSections) {
  ASSERT_NO_FATAL_FAILURE(Start(StoredSettings("no-such-host.invalid.example")));
  Sections before = Ini();
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  Picture(dialog_, "connection_settings_connection");
  // LAN: its fields are shown and the serial port list hidden.
  for (int id : {IDT_HOST, IDT_PORT, IDT_CONTROL_PORT, IDT_LAN_LABEL_1, IDT_LAN_LABEL_5})
    EXPECT_TRUE(Shown(id)) << id;
  EXPECT_FALSE(Shown(IDT_SERIAL_PORT));
  // Values the lists do not hold are shown as they are, not replaced.
  EXPECT_EQ(WindowText(Control(IDT_SERIAL_PORT)), "COM12");
  EXPECT_EQ(WindowText(Control(IDT_BIT_RATE)), "250000");
  EXPECT_EQ(WindowText(Control(IDT_SETTINGS_NOTE)), "");
  EXPECT_EQ(WindowText(Control(IDT_PARITY)), Text(IDS_PARITY_EVEN));
  EXPECT_EQ(WindowText(Control(IDT_FLOW)), Text(IDS_FLOW_HARDWARE));
  // The edits hold no more than the record's fields.
  const std::pair<int, LRESULT> limits[] = {
      {IDT_HOST, 1024}, {IDT_PORT, 31}, {IDT_CONTROL_PORT, 58}};
  for (auto [id, limit] : limits) {
    LRESULT n = 0;
    ASSERT_TRUE(Send(Control(id), EM_GETLIMITTEXT, 0, 0, &n));
    EXPECT_EQ(n, limit) << id;
  }
  EXPECT_EQ(SharedAccessKeys(dialog_), "") << "LAN fields";
  // Ctrl+Tab and Ctrl+Shift+Tab switch pages.
  HWND tabs = FindControl(dialog_, IDT_CONNECTION_TABS);
  ASSERT_TRUE(PressKeys(dialog_, {VK_CONTROL}, VK_TAB));
  ASSERT_TRUE(WaitUntil([&] { return SelectedTab(tabs) == 1; })) << "Ctrl+Tab";
  EXPECT_TRUE(IsWindowVisible(folderPage_) && !IsWindowVisible(page_));
  EXPECT_EQ(FolderShown(), program_.Folder());
  EXPECT_EQ(SharedAccessKeys(dialog_), "") << "folder page";
  Picture(dialog_, "connection_settings_folder");
  ASSERT_TRUE(PressKeys(dialog_, {VK_CONTROL, VK_SHIFT}, VK_TAB));
  ASSERT_TRUE(WaitUntil([&] { return SelectedTab(tabs) == 0; })) << "Ctrl+Shift+Tab";
  EXPECT_TRUE(IsWindowVisible(page_) && !IsWindowVisible(folderPage_));

  // The serial method swaps the fields; back to LAN with a shorter host.
  ASSERT_NO_FATAL_FAILURE(Choose(Control(IDT_METHOD), 0));
  EXPECT_TRUE(Shown(IDT_SERIAL_PORT) && Shown(IDT_SERIAL_PORT_LABEL));
  EXPECT_FALSE(Shown(IDT_HOST) || Shown(IDT_LAN_LABEL_1));
  EXPECT_EQ(SharedAccessKeys(dialog_), "") << "serial fields";
  ASSERT_NO_FATAL_FAILURE(Choose(Control(IDT_METHOD), 1));
  std::string port = SimPort("CONNECT");
  ASSERT_TRUE(SetText(Control(IDT_HOST), "127.0.0.1"));
  ASSERT_TRUE(SetText(Control(IDT_PORT), port));
  ASSERT_TRUE(SetText(Control(IDT_CONTROL_PORT), ""));
  ASSERT_NO_FATAL_FAILURE(Close(dialog_, IDOK));

  Sections after = Ini();
  EXPECT_EQ(after["REMOTE"], (std::vector<std::string>{"METHOD=2"}));
  EXPECT_EQ(after["RB40"], (std::vector<std::string>{"HOST=127.0.0.1", "PORT=" + port, "CTPORT="}));
  EXPECT_EQ(after["SERIAL"],
            (std::vector<std::string>{"COM=COM12", "SPEED=250000", "PARITY=1", "FLOW=1"}));
  for (const char* section : {"REMOTE", "RB40", "SERIAL"})
    before.erase(section), after.erase(section);
  EXPECT_EQ(after, before) << "OK wrote more than its three sections";
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty()) << Boxes();
  // The link took the new host whole (none of the longer old one after it).
  ASSERT_NO_FATAL_FAILURE(Connect());
}

// With EMU gone from the file, opening warns twice; a stored port and bit
// rate that the page does not understand show as the defaults, with a note.
// OK with the LAN method takes no host of blanks and no port outside 1 to
// 65535: each warns, shows the connection page (the folder page was
// showing) with the focus on the field, and stores nothing; Cancel writes
// nothing (no empty folder either).
TEST_F(ConnectionDialogTest, MissingFolderOddValuesAndBadLanFieldsWarnAndCancelWritesNothing) {
  std::string settings = StoredSettings("analyzer");
  settings.replace(settings.find("COM12"), 5, "LPT5").replace(settings.find("250000"), 6, "abc");
  ASSERT_NO_FATAL_FAILURE(Start(settings));
  std::string ini = program_.PathInFolder("SETTING.ini");
  ASSERT_TRUE(WritePrivateProfileStringA("EMU", nullptr, nullptr, ini.c_str()));
  Sections before = Ini();
  ASSERT_TRUE(program_.Command(IDC_CONNECTION_SETTINGS));
  ASSERT_NO_FATAL_FAILURE(ExpectBox("KSVW4QX", "Ini"));
  ASSERT_NO_FATAL_FAILURE(ExpectBox("KSVW4QX", "Init"));
  ASSERT_NO_FATAL_FAILURE(OpenDialog(false));
  EXPECT_EQ(WindowText(Control(IDT_SERIAL_PORT)), "COM1");
  EXPECT_EQ(WindowText(Control(IDT_BIT_RATE)), "115200");
  EXPECT_EQ(WindowText(Control(IDT_SETTINGS_NOTE)),
            Text(IDS_NOT_UNDERSTOOD) + " COM=LPT5 SPEED=abc");
  Picture(dialog_, "connection_settings_not_understood");
  HWND tabs = FindControl(dialog_, IDT_CONNECTION_TABS);
  const struct {
    const char *host, *port, *ctport;
    UINT text;
    int field;
  } cases[] = {{"   ", "4001", "", IDS_NO_HOST, IDT_HOST},
               {"analyzer", "0", "", IDS_BAD_PORT, IDT_PORT},
               {"analyzer", "4001", "65536", IDS_BAD_PORT, IDT_CONTROL_PORT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + "|" + c.port + "|" + c.ctport);
    ASSERT_TRUE(SetText(Control(IDT_HOST), c.host));
    ASSERT_TRUE(SetText(Control(IDT_PORT), c.port));
    ASSERT_TRUE(SetText(Control(IDT_CONTROL_PORT), c.ctport));
    ASSERT_TRUE(PressKeys(dialog_, {VK_CONTROL}, VK_TAB));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(folderPage_) != 0; }));
    ASSERT_TRUE(PressButton(dialog_, IDOK));
    ASSERT_NO_FATAL_FAILURE(ExpectBox(Text(IDS_SETTINGS_ERROR_CAPTION), Text(c.text)));
    EXPECT_TRUE(IsWindow(dialog_));
    EXPECT_TRUE(IsWindowVisible(page_) && !IsWindowVisible(folderPage_));
    EXPECT_EQ(SelectedTab(tabs), 0);
    EXPECT_TRUE(WaitUntil([&] { return FocusOfThreadOf(dialog_) == Control(c.field); }));
  }
  EXPECT_EQ(Ini(), before);
  ASSERT_NO_FATAL_FAILURE(Close(dialog_, IDCANCEL));
  EXPECT_EQ(Ini(), before);
}

// A folder chosen on the folder page is stored at once; Cancel puts the
// old one back and OK keeps it. An item without a file-system path (the
// tree's root is the shell's namespace, above every drive) is no choice:
// nothing is shown or stored.
TEST_F(ConnectionDialogTest, FolderChosenInThePickerIsUndoneByCancelAndKeptByOk) {
  ASSERT_NO_FATAL_FAILURE(Start(StoredSettings("analyzer")));
  const std::string own = program_.Folder(), images = program_.PathInFolder("images");
  ASSERT_TRUE(CreateDirectoryA(images.c_str(), nullptr));
  // Desktop, "/" (Wine's view of the Unix root, drive Z:), then the path.
  std::vector<std::string> imagesPath = {"/"};
  for (size_t at = 3, end; at < images.size(); at = end + 1) {  // after "Z:\"
    end = std::min(images.find('\\', at), images.size());
    imagesPath.push_back(images.substr(at, end - at));
  }
  const struct {
    std::vector<std::string> path;
    int button;
    std::string shown, kept;
  } cases[] = {{{"My Computer"}, IDCANCEL, own, own},
               {imagesPath, IDCANCEL, images, own},
               {imagesPath, IDOK, images, images}};
  Sections expected = Ini();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.back() + ", button " + std::to_string(c.button));
    ASSERT_NO_FATAL_FAILURE(OpenDialog());
    ASSERT_NO_FATAL_FAILURE(Browse(c.path, &c == &cases[1] ? "folder_picker" : nullptr));
    EXPECT_EQ(FolderShown(), c.shown);
    EXPECT_EQ(Ini()["EMU"], std::vector<std::string>{"PATH=" + c.shown});
    ASSERT_NO_FATAL_FAILURE(Close(dialog_, c.button));
    expected["EMU"] = {"PATH=" + c.kept};
    EXPECT_EQ(Ini(), expected);
  }
}

// OK with a SETTING.ini that cannot be written (held open without sharing)
// tells so, naming the file, and still ends the dialog.
TEST_F(ConnectionDialogTest, ASettingsWriteThatFailsIsTold) {
  ASSERT_NO_FATAL_FAILURE(Start(StoredSettings("analyzer")));
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  const std::string ini = program_.PathInFolder("SETTING.ini");
  HANDLE held = CreateFileA(ini.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(PressButton(dialog_, IDOK));
  ExpectBox("KS-VW4QX", Text(IDS_SETTINGS_NOT_SAVED) + "\n" + ini, IDOK, dialog_,
            "settings_not_saved");
  CloseHandle(held);
  ExpectClosed(dialog_);
}

// --- Search ---------------------------------------------------------------------------

constexpr int kSearchTabs = 5;
constexpr const char* kPageNames[kSearchTabs] = {"trigger", "error", "data", "time", "ext_in"};
using Fields = std::vector<std::pair<int, std::string>>;

class SearchDialogTest : public DialogTest {
 protected:
  // Starts with a capture in the list.
  void StartWith(const std::string& path = DataFile("edge.DT"), int rows = 14) {
    ASSERT_NO_FATAL_FAILURE(Start(""));
    ASSERT_NO_FATAL_FAILURE(OpenCapture(path, rows));
    ASSERT_TRUE(WaitUntil([&] { return program_.ButtonState(IDC_SEARCH) == TBSTATE_ENABLED; }));
  }

  // Runs command 1008, or presses Ctrl+F.
  void OpenDialog(bool ctrlF = false) {
    if (ctrlF) {
      ASSERT_TRUE(PressKeys(program_.MainWindow(), {VK_CONTROL}, 'F'));
      dialog_ = WaitForWindow(program_.Pid(), kDialogClass);
    } else {
      dialog_ = Open(IDC_SEARCH);
    }
    ASSERT_NE(dialog_, nullptr);
    tabs_ = FindControl(dialog_, IDT_SEARCH_TABS);
    ASSERT_NE(tabs_, nullptr);
    const int controlOfPage[kSearchTabs] = {-1, IDT_ERROR_BOX_1, IDT_DATA_CHANNEL, IDT_TIME_MINUTES,
                                            IDT_EXT_IN_LEVEL};
    for (int kind = 1; kind < kSearchTabs; ++kind) {
      pages_[kind] = GetParent(FindControl(dialog_, controlOfPage[kind]));
      ASSERT_NE(pages_[kind], dialog_) << kind;
    }
  }
  // Shows page `kind` and sets its fields.
  void Fill(int kind, const Fields& fields) {
    ASSERT_NO_FATAL_FAILURE(ClickTab(tabs_, kind));
    for (const auto& [id, text] : fields) ASSERT_TRUE(SetText(GetDlgItem(pages_[kind], id), text));
  }
  void Search(int button, int modeRadio) {
    for (int radio : {IDT_SEARCH_FIRST, IDT_SEARCH_COUNT})
      ASSERT_TRUE(Send(GetDlgItem(dialog_, radio), BM_SETCHECK, modeRadio == radio, 0));
    ASSERT_NO_FATAL_FAILURE(Close(dialog_, button));
  }

  int SelectedRow() {
    LRESULT row = -2;
    Send(program_.List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED, &row);
    return static_cast<int>(row);
  }
  bool RowShown(int row) {
    LRESULT top = -1, perPage = 0;
    return Send(program_.List(), LVM_GETTOPINDEX, 0, 0, &top) &&
           Send(program_.List(), LVM_GETCOUNTPERPAGE, 0, 0, &perPage) && top <= row &&
           row < top + perPage;
  }
  void ExpectSelected(int row) {
    EXPECT_TRUE(WaitUntil([&] { return SelectedRow() == row; })) << "selected: " << SelectedRow();
    EXPECT_TRUE(RowShown(row));
  }
  void SelectRow(int row) {
    RECT r{};
    ASSERT_TRUE(program_.Reader().ListItemRect(program_.List(), row, &r));
    ASSERT_TRUE(ClickAt(program_.List(), POINT{r.left + 20, (r.top + r.bottom) / 2}));
    ASSERT_TRUE(WaitUntil([&] { return SelectedRow() == row; }));
  }
  // Home in the list, as a user goes back to the top.
  void SelectFirstRow() {
    // Sent to the list, not typed: a key typed through the X server can be
    // repeated by it when its release comes late on a loaded machine, and a
    // late Home would take the selection back after a search.
    ASSERT_TRUE(Send(program_.List(), WM_KEYDOWN, VK_HOME, 0x00470001));
    ASSERT_TRUE(Send(program_.List(), WM_KEYUP, VK_HOME, 0xC0470001));
    ASSERT_TRUE(WaitUntil([&] { return SelectedRow() == 0; })) << SelectedRow();
  }
  void ExpectResult(const std::string& text) {
    ExpectBox(Text(IDS_SEARCH_RESULT_CAPTION).substr(0, 9), text);
  }
  std::string Count(uint32_t n) { return Formatted(IDS_SEARCH_COUNT_FORMAT, n); }

  HWND dialog_ = nullptr;
  HWND tabs_ = nullptr;
  HWND pages_[kSearchTabs] = {};
};

// The about box (which no other command closes), the search pages, and a
// count: time 05:12:** matches rows 0 to 11 of edge.DT.
TEST_F(SearchDialogTest, AboutPagesAndCountsBelowTheSelection) {
  ASSERT_NO_FATAL_FAILURE(StartWith());
  for (int button : {IDOK, IDCANCEL}) {
    HWND about = Open(IDC_ABOUT);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(WindowText(FindControl(about, IDT_ABOUT_TEXT)), Text(IDS_ABOUT_TEXT));
    if (button == IDOK) Picture(about, "about");
    ASSERT_TRUE(PostMessageA(about, WM_COMMAND, IDT_ABOUT_TEXT, 0));
    EXPECT_FALSE(WaitUntil([&] { return !IsWindow(about); }, 300));
    ASSERT_NO_FATAL_FAILURE(Close(about, button));
  }
  // F3 and Shift+F3 repeat a search: nothing to repeat yet.
  for (UINT id : {IDC_SEARCH_UP, IDC_SEARCH_DOWN}) ExpectCommand(id, false);
  ASSERT_TRUE(PressKeys(program_.MainWindow(), {}, VK_F3));
  ASSERT_TRUE(PressKeys(program_.MainWindow(), {VK_SHIFT}, VK_F3));
  EXPECT_EQ(WaitForWindow(program_.Pid(), kDialogClass, nullptr, 500), nullptr) << Boxes();
  EXPECT_EQ(SelectedRow(), -1);

  ASSERT_NO_FATAL_FAILURE(OpenDialog(true));
  for (int kind = 0; kind < kSearchTabs; ++kind) {
    ASSERT_NO_FATAL_FAILURE(ClickTab(tabs_, kind));
    Picture(dialog_, std::string("search_") + kPageNames[kind]);
    EXPECT_EQ(SharedAccessKeys(dialog_), "") << kPageNames[kind];
  }
  // Ctrl+Tab and Ctrl+Shift+Tab go round the pages.
  ASSERT_TRUE(PressKeys(dialog_, {VK_CONTROL}, VK_TAB));
  EXPECT_TRUE(WaitUntil([&] { return SelectedTab(tabs_) == 0; })) << "Ctrl+Tab from the last";
  ASSERT_TRUE(PressKeys(dialog_, {VK_CONTROL, VK_SHIFT}, VK_TAB));
  EXPECT_TRUE(WaitUntil([&] { return SelectedTab(tabs_) == kSearchTabs - 1; }))
      << "Ctrl+Shift+Tab from the first";
  EXPECT_TRUE(IsWindowVisible(pages_[kSearchTabs - 1]));
  // "REMOTE" frames have no data fields.
  HWND data = pages_[2];
  ASSERT_NO_FATAL_FAILURE(ClickTab(tabs_, 2));
  ASSERT_NO_FATAL_FAILURE(Choose(GetDlgItem(data, IDT_DATA_FRAME_KIND), 1));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(data, IDT_DATA_BYTE_0)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(data, IDT_PATTERN_W0)));

  ASSERT_NO_FATAL_FAILURE(Fill(
      3, {{IDT_TIME_MINUTES, "05"}, {IDT_TIME_MINUTES + 1, "12"}, {IDT_TIME_MINUTES + 2, "**"}}));
  ASSERT_TRUE(Send(GetDlgItem(dialog_, IDT_SEARCH_COUNT), BM_CLICK, 0, 0));
  // Enter in a page's field is the dialog's default button.
  ASSERT_TRUE(Send(dialog_, WM_NEXTDLGCTL,
                   reinterpret_cast<WPARAM>(GetDlgItem(pages_[3], IDT_TIME_MINUTES + 2)), TRUE));
  ASSERT_TRUE(PressKeys(dialog_, {}, VK_RETURN));
  ExpectClosed(dialog_);
  ASSERT_NO_FATAL_FAILURE(ExpectResult(Count(12)));
  EXPECT_EQ(SelectedRow(), -1);
  ASSERT_NO_FATAL_FAILURE(SelectRow(10));
  ASSERT_TRUE(program_.Command(IDC_SEARCH_DOWN));
  ASSERT_NO_FATAL_FAILURE(ExpectResult(Count(1)));
  EXPECT_EQ(SelectedRow(), 10);
}

// Each wrong field warns, keeps the dialog open with the focus on that
// field, and stores no condition (every case opens the dialog afresh); then
// a search is stored, and Cancel keeps it.
TEST_F(SearchDialogTest, InputErrorsStoreNothingAndCancelKeepsTheStoredCondition) {
  const struct {
    int kind;  // page
    Fields fields;
    int field;  // where the focus lands
    UINT text;
  } cases[] = {
      // 1083 is also the dialog's upward button: the focus goes to the field.
      {2, {{IDT_PATTERN_W0, "x"}}, IDT_PATTERN_W0, IDS_BIT_ERROR},
      {3, {{IDT_TIME_MINUTES + 2, "9a"}}, IDT_TIME_MINUTES + 2, IDS_TIME_ERROR},
  };
  ASSERT_NO_FATAL_FAILURE(StartWith());
  for (const auto& e : cases) {
    SCOPED_TRACE("field " + std::to_string(e.field) + " = " + e.fields.back().second);
    ASSERT_NO_FATAL_FAILURE(OpenDialog());
    ASSERT_NO_FATAL_FAILURE(Fill(e.kind, e.fields));
    ASSERT_TRUE(PressButton(dialog_, IDOK));
    ASSERT_NO_FATAL_FAILURE(ExpectBox("Input Error", Text(e.text)));
    EXPECT_TRUE(IsWindow(dialog_));
    HWND field = GetDlgItem(pages_[e.kind], e.field);
    EXPECT_TRUE(WaitUntil([&] { return FocusOfThreadOf(dialog_) == field; }));
    ASSERT_NO_FATAL_FAILURE(Close(dialog_, IDCANCEL));
    EXPECT_EQ(program_.ButtonState(IDC_SEARCH_DOWN), TBSTATE_INDETERMINATE);
  }

  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  ASSERT_NO_FATAL_FAILURE(Fill(3, {{IDT_TIME_MINUTES, "05"}, {IDT_TIME_MINUTES + 1, "**"}}));
  ASSERT_NO_FATAL_FAILURE(Search(IDOK, IDT_SEARCH_FIRST));
  ExpectSelected(0);
  EXPECT_EQ(program_.Status(1), "0 / 13");
  EXPECT_EQ(program_.ButtonState(IDC_SEARCH_UP), TBSTATE_ENABLED);
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  EXPECT_EQ(WindowText(GetDlgItem(pages_[3], IDT_TIME_MINUTES)), "05");
  ASSERT_NO_FATAL_FAILURE(Fill(3, {{IDT_TIME_MINUTES, "59"}}));
  ASSERT_NO_FATAL_FAILURE(Close(dialog_, IDCANCEL));
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  EXPECT_EQ(WindowText(GetDlgItem(pages_[3], IDT_TIME_MINUTES)), "05");
  ASSERT_NO_FATAL_FAILURE(Close(dialog_, IDCANCEL));
  // Cancel searched nothing; F3 and Shift+F3 still use 05:**:00.
  EXPECT_EQ(SelectedRow(), 0);
  ASSERT_TRUE(PressKeys(program_.MainWindow(), {}, VK_F3));
  ExpectSelected(1);
  ASSERT_TRUE(PressKeys(program_.MainWindow(), {VK_SHIFT}, VK_F3));
  ExpectSelected(0);
}

// Speed: Find Next over a 12 MiB capture whose only match is its last
// record, and the count of the same. Figures are printed, not asserted.
TEST_F(SearchDialogTest, FindNextOnABigCaptureFigures) {
  constexpr int kRows = 393216;
  ASSERT_NO_FATAL_FAILURE(StartWith(WorkFile("big.DT"), kRows));
  // The last record's channel and data bytes as the condition.
  std::vector<std::string> last = program_.Reader().ListRow(program_.List(), kRows - 1, 15);
  ASSERT_EQ(last[1], "1");
  Fields bytes;
  for (int i = 0; i < 8 && !last[7 + i].empty(); ++i)
    bytes.push_back({IDT_DATA_BYTE_0 + i, last[7 + i]});
  ASSERT_GE(bytes.size(), 4u);
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  ASSERT_NO_FATAL_FAILURE(Fill(2, bytes));
  ASSERT_NO_FATAL_FAILURE(Search(IDOK, IDT_SEARCH_COUNT));
  // Nothing selected: the count runs over every row and finds only the last.
  ASSERT_NO_FATAL_FAILURE(ExpectResult(Count(1)));

  constexpr int kRuns = 9;
  std::vector<double> select, count, box;
  for (int run = 0; run < 2 * kRuns; ++run) {
    // Count mode from row 0: downward over every row, or upward over none
    // (what the result box alone costs).
    bool down = run % 2 == 0;
    ASSERT_NO_FATAL_FAILURE(SelectFirstRow());
    Stopwatch clock;
    ASSERT_TRUE(program_.Command(down ? IDC_SEARCH_DOWN : IDC_SEARCH_UP));
    // Polled every millisecond: a busy loop would take the CPU the program needs.
    while (TopLevelWindows(program_.Pid(), kDialogClass).empty() && clock.Ms() < kWaitMs) Sleep(1);
    (down ? count : box).push_back(clock.Ms());
    ASSERT_NO_FATAL_FAILURE(ExpectResult(down ? Count(1) : Text(IDS_NOTHING_FOUND)));
  }
  ASSERT_NO_FATAL_FAILURE(OpenDialog());
  ASSERT_NO_FATAL_FAILURE(Search(IDT_SEARCH_UP, IDT_SEARCH_FIRST));
  ASSERT_NO_FATAL_FAILURE(ExpectResult(Text(IDS_NOTHING_FOUND)));  // above row 0: nothing
  for (int run = 0; run < kRuns; ++run) {
    ASSERT_NO_FATAL_FAILURE(SelectFirstRow());
    Stopwatch clock;
    // Sent, not posted: it returns once the row is selected and shown.
    ASSERT_TRUE(Send(program_.MainWindow(), WM_COMMAND, IDC_SEARCH_DOWN, 0));
    select.push_back(clock.Ms());
    ExpectSelected(kRows - 1);
  }
  Figure(
      "Find Next over %d rows, match on the last: select %.1f ms, count %.1f ms, of which the "
      "result box alone %.1f ms (median of %d)",
      kRows, Median(select), Median(count), Median(box), kRuns);
}

}  // namespace
}  // namespace ksvw::uiauto
