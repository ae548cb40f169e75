// The key emulator driven from outside: opened with F8 in the real program
// against a simulator that logs every key it receives (--verbose) and
// writes its screen whenever it changes (--dump-screen keyemu.scr).
// Codes sent are read from the simulator's log; what the LCD shows is read
// from the display and compared with the simulator's screen.
#include "keyemu/key_tables.h"
#include "keyemu/lcd_display.h"
#include "keyemu/screen_image.h"
#include "tests/gui/program_fixture.h"

namespace ksvw::uiauto {
namespace {

constexpr char kFrameClass[] = "KESTRIN_ksvw4q_WindowClass_KeyEmuFrame";
constexpr int kKey5 = 20005, kKey6 = 20006, kShift = keyemu::kShiftKeyId;

// Key codes the simulator received, in order ("key 0x8005 -> 0x0").
std::vector<uint32_t> SimKeys() {
  std::vector<uint32_t> codes;
  for (const std::string& line : ReadLines(WorkFile("sim-keyemu.err"))) {
    size_t at = line.find(": key 0x");
    if (at != std::string::npos) codes.push_back(std::stoul(line.substr(at + 6), nullptr, 16));
  }
  return codes;
}

std::vector<uint8_t> SimScreen() {
  std::vector<uint8_t> screen;
  ReadWholeFile(WorkFile("keyemu.scr"), screen);
  return screen;
}

// The LCD window's pixels as the display shows them (0x00RRGGBB).
std::vector<uint32_t> LcdOnDisplay(HWND lcd) {
  std::vector<uint32_t> pixels(size_t(keyemu::kDisplayWidth) * keyemu::kDisplayHeight);
  POINT origin{0, 0};
  ClientToScreen(lcd, &origin);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = keyemu::kDisplayWidth;
  info.bmiHeader.biHeight = -keyemu::kDisplayHeight;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, keyemu::kDisplayWidth, keyemu::kDisplayHeight, screen, origin.x, origin.y,
         SRCCOPY);
  GdiFlush();
  std::copy_n(static_cast<uint32_t*>(bits), pixels.size(), pixels.begin());
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  for (uint32_t& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

// What the LCD must show for `screen` (or the blank background).
std::vector<uint32_t> ExpectedLcd(const std::vector<uint8_t>* screen) {
  keyemu::LcdDisplay display;
  if (screen) display.SetImage(screen->data());
  std::vector<uint32_t> pixels;
  for (int y = 0; y < keyemu::kDisplayHeight; ++y)
    for (int x = 0; x < keyemu::kDisplayWidth; ++x) {
      const keyemu::Rgb& c = keyemu::kLcdPalette[screen ? display.DisplayPixel(x, y) : 0];
      pixels.push_back(uint32_t(c.red) << 16 | uint32_t(c.green) << 8 | c.blue);
    }
  return pixels;
}

class KeyEmulatorTest : public GuiTest {
 protected:
  // `settings`: the connection part of SETTING.ini; by default the LAN
  // converter of simulator `sim`. EMU/PATH is the folder imageFolder_.
  void Start(const char* sim = "KEYEMU", std::string settings = "") {
    images_ = JoinPath(folder_, "images");
    ASSERT_NO_FATAL_FAILURE(Prepare((settings.empty() ? LanSettings(SimPort(sim)) : settings) +
                                    "[EMU]\r\nPATH=" + ImagePath() + "\r\n"));
    ASSERT_TRUE(CreateDirectoryA(images_.c_str(), nullptr));
    ASSERT_NO_FATAL_FAILURE(Launch());
  }
  void Open() {
    ASSERT_TRUE(program_.Command(IDC_KEY_EMULATOR));
    frame_ = WaitForWindow(program_.Pid(), kFrameClass);
    ASSERT_NE(frame_, nullptr) << "no key emulator window";
    panel_ = FindControl(frame_, 201);
    lcd_ = FindControl(panel_, 30000);
    toolbar_ = FindControl(frame_, 102);
    ASSERT_TRUE(panel_ && lcd_ && toolbar_);
  }
  void OpenConnected() {
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_TRUE(WaitUntil([&] { return KeysEnabled(true); })) << "keys stay disabled";
  }
  HWND Key(int id) { return FindControl(panel_, id); }
  bool KeysEnabled(bool enabled) {
    for (const keyemu::KeyLayoutRow& row : keyemu::KeyLayoutTable)
      if ((IsWindowEnabled(Key(row.id)) != 0) != enabled) return false;
    return true;
  }
  void Click(int id) { ASSERT_TRUE(ClickAt(Key(id), {19, 12})); }
  // The codes the simulator receives from now on, once `count` arrived.
  std::vector<uint32_t> NewKeys(size_t before, size_t count) {
    WaitUntil([&] { return SimKeys().size() >= before + count; }, 5000);
    Sleep(200);  // nothing more may follow
    std::vector<uint32_t> all = SimKeys();
    return std::vector<uint32_t>(all.begin() + long(std::min(before, all.size())), all.end());
  }
  bool LcdShowsSimulator() {
    return WaitUntil(
        [&] {
          std::vector<uint8_t> screen = SimScreen();
          return screen.size() == keyemu::kScreenBytes &&
                 LcdOnDisplay(lcd_) == ExpectedLcd(&screen);
        },
        5000);
  }
  std::vector<std::string> SavedImages(const std::string& where = "") {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(JoinPath(where.empty() ? images_ : where, "KS*.bmp").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
  }

  std::string images_;
  std::string imageFolder_ = "images";  // in the program's folder; "": an empty EMU/PATH
  std::string ImagePath() { return imageFolder_.empty() ? "" : JoinPath(folder_, imageFolder_); }
  HWND frame_ = nullptr, panel_ = nullptr, lcd_ = nullptr, toolbar_ = nullptr;
};

TEST_F(KeyEmulatorTest, OpensDisconnectedThenFollowsTheLink) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_TRUE(KeysEnabled(false));
  EXPECT_FALSE(SendMessageA(toolbar_, TB_ISBUTTONENABLED, IDC_SAVE_SCREEN, 0));
  EXPECT_FALSE(SendMessageA(toolbar_, TB_ISBUTTONENABLED, IDC_COPY_SCREEN, 0));
  EXPECT_TRUE(SendMessageA(toolbar_, TB_ISBUTTONCHECKED, IDC_IMAGE_MODE_0, 0));
  EXPECT_TRUE(WaitUntil([&] { return LcdOnDisplay(lcd_) == ExpectedLcd(nullptr); }, 5000))
      << "the LCD is not blank";
  EXPECT_EQ(program_.ButtonState(IDC_DOWNLOAD), TBSTATE_INDETERMINATE);

  ASSERT_NO_FATAL_FAILURE(Connect());
  EXPECT_TRUE(WaitUntil([&] { return KeysEnabled(true); })) << "keys stay disabled";
  EXPECT_TRUE(SendMessageA(toolbar_, TB_ISBUTTONENABLED, IDC_SAVE_SCREEN, 0));
  EXPECT_TRUE(LcdShowsSimulator()) << "the LCD does not show the simulator's screen";
  EXPECT_EQ(program_.ButtonState(IDC_DOWNLOAD), TBSTATE_INDETERMINATE)
      << "download enabled while the key emulator is open";

  // A second F8 brings the same frame forward.
  ASSERT_TRUE(program_.Command(IDC_KEY_EMULATOR));
  Sleep(300);
  EXPECT_EQ(TopLevelWindows(program_.Pid(), kFrameClass).size(), 1u);

  // Closing stops the monitoring and gives the download command back.
  size_t stops = SimLogged("keyemu", "monitor interval -1");
  ASSERT_TRUE(PostMessageA(frame_, WM_CLOSE, 0, 0));
  ASSERT_TRUE(WaitForWindowGone(program_.Pid(), kFrameClass));
  EXPECT_TRUE(WaitUntil([&] { return SimLogged("keyemu", "monitor interval -1") > stops; }, 5000))
      << "monitoring was not stopped";
  EXPECT_TRUE(WaitUntil([&] { return program_.ButtonState(IDC_DOWNLOAD) == TBSTATE_ENABLED; }));
  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
}

TEST_F(KeyEmulatorTest, KeysSendTheirCodes) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_NO_FATAL_FAILURE(OpenConnected());

  std::vector<uint8_t> screenBefore = SimScreen();
  size_t n = SimKeys().size();
  ASSERT_NO_FATAL_FAILURE(Click(kKey5));
  EXPECT_EQ(NewKeys(n, 1), (std::vector<uint32_t>{0x8005}));
  EXPECT_NE(SimScreen(), screenBefore);
  EXPECT_TRUE(LcdShowsSimulator()) << "the LCD did not follow the key";

  n = SimKeys().size();
  ASSERT_NO_FATAL_FAILURE(Click(kShift));
  ASSERT_NO_FATAL_FAILURE(Click(kKey5));
  EXPECT_EQ(NewKeys(n, 2), (std::vector<uint32_t>{0xFFFFFFFF, 0x8085})) << "SHIFT latch, 5";

  n = SimKeys().size();
  ASSERT_TRUE(PressKeys(frame_, {VK_SHIFT}, 'A'));
  EXPECT_EQ(NewKeys(n, 2), (std::vector<uint32_t>{0xFFFFFFFF, 0x808A})) << "PC Shift+A";

  // Auto-repeat: three key-downs of a held key, one code.
  n = SimKeys().size();
  const LPARAM repeat = 1 | (1 << 30);
  ASSERT_TRUE(PostMessageA(panel_, WM_KEYDOWN, '6', 1));
  ASSERT_TRUE(PostMessageA(panel_, WM_KEYDOWN, '6', repeat));
  ASSERT_TRUE(PostMessageA(panel_, WM_KEYDOWN, '6', repeat));
  ASSERT_TRUE(PostMessageA(panel_, WM_KEYUP, '6', 0xC0000001));
  EXPECT_EQ(NewKeys(n, 1), (std::vector<uint32_t>{0x8006})) << "auto-repeat";

  // Focus loss releases a held Shift: the next key has no 0x80.
  n = SimKeys().size();
  ASSERT_TRUE(PostMessageA(panel_, WM_KEYDOWN, VK_SHIFT, 1));
  Sleep(100);
  SetForegroundWindow(program_.MainWindow());  // switching to another window
  ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == program_.MainWindow(); }, 5000));
  ASSERT_NO_FATAL_FAILURE(Click(kKey6));
  EXPECT_EQ(NewKeys(n, 2), (std::vector<uint32_t>{0xFFFFFFFF, 0x8006})) << "focus loss";

  // Ctrl+C copies; it never sends the analyzer's key C.
  n = SimKeys().size();
  ASSERT_TRUE(PressKeys(frame_, {VK_CONTROL}, 'C'));
  EXPECT_EQ(NewKeys(n, 0), (std::vector<uint32_t>{})) << "Ctrl+C reached the analyzer";

  // The main window's accelerators stay in the main window.
  ASSERT_TRUE(PressKeys(frame_, {VK_SHIFT}, VK_F6));
  Sleep(300);
  EXPECT_EQ(program_.ButtonState(IDC_DISCONNECT), TBSTATE_ENABLED) << "Shift+F6 disconnected";

  // A link dropped with SHIFT latched releases it.
  n = SimKeys().size();
  ASSERT_NO_FATAL_FAILURE(Click(kShift));
  ASSERT_EQ(NewKeys(n, 1), (std::vector<uint32_t>{0xFFFFFFFF})) << "SHIFT did not latch";
  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
  ASSERT_TRUE(WaitUntil([&] { return KeysEnabled(false); })) << "keys stay enabled";
  ASSERT_NO_FATAL_FAILURE(Connect());
  ASSERT_TRUE(WaitUntil([&] { return KeysEnabled(true); }));
  n = SimKeys().size();
  ASSERT_NO_FATAL_FAILURE(Click(kKey5));
  EXPECT_EQ(NewKeys(n, 1), (std::vector<uint32_t>{0x8005})) << "SHIFT survived the link drop";
  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
}

// Save writes the builder's bytes for the analyzer's screen; copy puts the
// same image without the file header on the clipboard; Ctrl+S in the key
// emulator saves the image and does not open the DT save dialog.
TEST_F(KeyEmulatorTest, SaveAndCopyTheImageInEachMode) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_NO_FATAL_FAILURE(Connect());
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(LcdShowsSimulator());
  keyemu::LcdDisplay display;
  std::vector<uint8_t> screen = SimScreen();
  display.SetImage(screen.data());
  const UINT modes[] = {IDC_IMAGE_MODE_0, IDC_IMAGE_MODE_1, IDC_IMAGE_MODE_2};
  for (int mode = 0; mode < 3; ++mode) {
    ASSERT_TRUE(PostCommand(frame_, modes[mode]));
    for (const std::string& old : SavedImages()) DeleteFileA(JoinPath(images_, old).c_str());
    if (mode == 2) {
      ASSERT_TRUE(PressKeys(frame_, {VK_CONTROL}, 'S'));
    } else {
      ASSERT_TRUE(PostCommand(frame_, IDC_SAVE_SCREEN));
    }
    ASSERT_TRUE(WaitUntil([&] { return SavedImages().size() == 1; }, 5000)) << "mode " << mode;
    std::string name = SavedImages()[0];
    EXPECT_EQ(name.size(), 20u) << name;  // KSyyyymmddhhmmss.bmp
    std::vector<uint8_t> saved;
    ASSERT_TRUE(WaitUntil(
        [&] { return ReadWholeFile(JoinPath(images_, name), saved) && saved.size() >= 2622; }));
    std::vector<uint8_t> expected = keyemu::BuildScreenBmp(display, mode);
    EXPECT_EQ(saved, expected) << "mode " << mode;

    if (OpenClipboard(nullptr)) {  // the last mode's image must not count
      EmptyClipboard();
      CloseClipboard();
    }
    ASSERT_TRUE(PostCommand(frame_, IDC_COPY_SCREEN));
    std::vector<uint8_t> copied;
    SIZE_T blockSize = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
          // Opened only once the image is there: a copy finding the
          // clipboard open elsewhere fails (silently, like any copy).
          if (!IsClipboardFormatAvailable(CF_DIB) || !OpenClipboard(nullptr)) return false;
          HANDLE h = GetClipboardData(CF_DIB);
          const auto* p = h ? static_cast<const uint8_t*>(GlobalLock(h)) : nullptr;
          blockSize = h ? GlobalSize(h) : 0;
          if (p && blockSize >= expected.size() - 14) copied.assign(p, p + expected.size() - 14);
          if (p) GlobalUnlock(h);
          CloseClipboard();
          return std::equal(copied.begin(), copied.end(), expected.begin() + 14, expected.end());
        },
        5000))
        << "clipboard, mode " << mode << ": a block of " << blockSize << " bytes";
  }
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty());
  EXPECT_EQ(WaitForWindow(program_.Pid(), "#32770", nullptr, 500), nullptr)
      << "Ctrl+S opened a dialog";
  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
}

// An empty EMU/PATH saves beside the program; a folder that does not exist
// makes the save fail without a file anywhere.
TEST_F(KeyEmulatorTest, SaveFolderEmptyOrMissing) {
  struct Case {
    bool empty;
    size_t besideTheProgram;
  };
  for (Case c : {Case{true, 1}, Case{false, 0}}) {
    imageFolder_ = c.empty ? "" : "missing";
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(OpenConnected());
    ASSERT_TRUE(PostCommand(frame_, IDC_SAVE_SCREEN));
    WaitUntil([&] { return !SavedImages(folder_).empty(); }, c.empty ? 5000 : 1000);
    EXPECT_EQ(SavedImages(folder_).size(), c.besideTheProgram) << "PATH=" << ImagePath();
    EXPECT_FALSE(FileExists(program_.PathInFolder("missing"))) << "a folder was made";
    ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
    program_.Kill();
  }
}

TEST_F(KeyEmulatorTest, AnUnsupportedModelOpensNothing) {
  ASSERT_NO_FATAL_FAILURE(Start("ODDMODEL"));
  ASSERT_NO_FATAL_FAILURE(Connect());
  ASSERT_TRUE(program_.Command(IDC_KEY_EMULATOR));
  EXPECT_EQ(WaitForWindow(program_.Pid(), kFrameClass, nullptr, 1500), nullptr);
  EXPECT_TRUE(WaitUntil([&] { return program_.ButtonState(IDC_DOWNLOAD) == TBSTATE_ENABLED; }))
      << "the download stayed disabled after the failed open";
  // Nothing counts the failed open as open: a new connection enables it too.
  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
  ASSERT_TRUE(WaitUntil([&] { return program_.ButtonState(IDC_CONNECT) == TBSTATE_ENABLED; }));
  ASSERT_NO_FATAL_FAILURE(Connect());
  // (The menu item: the analyzer's status report sets the button anyway.)
  EXPECT_TRUE(WaitUntil([&] { return (program_.MenuState(IDC_DOWNLOAD) & MF_GRAYED) == 0; }))
      << "downloads stay disabled after a failed open";
  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
}

// Speed probes (they print, and assert nothing about time): a click on a
// key to the LCD showing the analyzer's new screen, median of 20 presses,
// over TCP and over a 230400 bit/s serial line. (The processor time of the
// idle monitoring is measured by run-program.sh from /proc: Wine's
// GetProcessTimes reports nothing for another process.)
class KeyEmulatorProbe : public KeyEmulatorTest {
 protected:
  void MeasureClicks(const char* link) {
    ASSERT_NO_FATAL_FAILURE(OpenConnected());
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
      std::vector<uint32_t> before = LcdOnDisplay(lcd_);
      Stopwatch clock;
      ASSERT_NO_FATAL_FAILURE(Click(i % 2 ? kKey6 : kKey5));
      ASSERT_TRUE(WaitUntil([&] { return LcdOnDisplay(lcd_) != before; }, 5000)) << "press " << i;
      ms.push_back(clock.Ms());
    }
    Figure("key click to LCD repainted over %s: median %.1f ms (min %.1f, max %.1f, 20 presses)",
           link, Median(ms), *std::min_element(ms.begin(), ms.end()),
           *std::max_element(ms.begin(), ms.end()));
    ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
  }
};

TEST_F(KeyEmulatorProbe, ClickToRepaintOverTcp) {
  ASSERT_NO_FATAL_FAILURE(Start());
  MeasureClicks("TCP");
}

TEST_F(KeyEmulatorProbe, ClickToRepaintOverSerial) {
  const std::string com = Env("KSVW_GUI_COM_KEYEMU");
  if (com.empty()) GTEST_SKIP() << "no serial simulator (KSVW_GUI_COM_KEYEMU)";
  ASSERT_NO_FATAL_FAILURE(
      Start(nullptr, "[REMOTE]\r\nMETHOD=0\r\n[SERIAL]\r\nCOM=" + com + "\r\nSPEED=230400\r\n"));
  MeasureClicks("a 230400 bit/s serial line");
}

}  // namespace
}  // namespace ksvw::uiauto
