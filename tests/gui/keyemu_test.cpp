// The key emulator driven from outside: opened with F8 in the real program
// against a simulator that logs every key it receives (--verbose) and
// writes its screen whenever it changes (--dump-screen keyemu.scr).
// Codes sent are read from the simulator's log; what the LCD shows is read
// from the display and compared with the simulator's screen. The key rules
// (auto-repeat among them) have their unit tests; these check the windows.
#include "keyemu/key_tables.h"
#include "keyemu/lcd_display.h"
#include "keyemu/screen_image.h"
#include "tests/gui/program_fixture.h"

namespace ksvw::uiauto {
namespace {

constexpr char kFrameClass[] = "KESTRIN_ksvw4q_WindowClass_KeyEmuFrame";
constexpr int kKey5 = 20005, kKey6 = 20006, kShift = keyemu::kShiftKeyId;
constexpr int kWidth = keyemu::kDisplayWidth, kHeight = keyemu::kDisplayHeight;
using Codes = std::vector<uint32_t>;

// Key codes the simulator received, in order ("key 0x8005 -> 0x0").
Codes SimKeys() {
  Codes codes;
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

// What the display shows of a window's client area, `width` x `height`
// from its corner (0x00RRGGBB).
std::vector<uint32_t> OnDisplay(HWND window, int width, int height) {
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  std::vector<uint32_t> pixels(size_t(width) * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  for (uint32_t& p : pixels) p &= 0xFFFFFF;
  return pixels;
}
std::vector<uint32_t> LcdOnDisplay(HWND lcd) {
  return OnDisplay(lcd, kWidth, kHeight);
}

// A key's picture as a disabled key shows it: every pixel whose x + y is
// odd white.
std::vector<uint32_t> WashedOut(std::vector<uint32_t> key) {
  for (size_t i = 0; i < key.size(); ++i)
    if ((i % keyemu::kKeyWidth + i / keyemu::kKeyWidth) % 2) key[i] = 0xFFFFFF;
  return key;
}

// What the LCD must show for `screen` (or the blank background).
std::vector<uint32_t> ExpectedLcd(const std::vector<uint8_t>* screen) {
  keyemu::LcdDisplay display;
  if (screen) display.SetImage(screen->data());
  std::vector<uint32_t> pixels;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const keyemu::Rgb& c = keyemu::kLcdPalette[screen ? display.DisplayPixel(x, y) : 0];
      pixels.push_back(uint32_t(c.red) << 16 | uint32_t(c.green) << 8 | c.blue);
    }
  return pixels;
}

// The image block on the clipboard. It is opened only once the image is
// there: a copy finding the clipboard open elsewhere fails (silently, like
// any copy).
std::vector<uint8_t> ClipboardDib() {
  std::vector<uint8_t> block;
  if (!IsClipboardFormatAvailable(CF_DIB) || !OpenClipboard(nullptr)) return block;
  HANDLE h = GetClipboardData(CF_DIB);
  if (const auto* p = h ? static_cast<const uint8_t*>(GlobalLock(h)) : nullptr) {
    block.assign(p, p + GlobalSize(h));
    GlobalUnlock(h);
  }
  CloseClipboard();
  return block;
}

class KeyEmulatorTest : public GuiTest {
 protected:
  // `settings`: the connection part of SETTING.ini ("": the LAN converter
  // of simulator KEYEMU). EMU/PATH is the folder images_.
  void Start(const std::string& settings = "") {
    images_ = JoinPath(folder_, "images");
    ASSERT_NO_FATAL_FAILURE(Prepare((settings.empty() ? LanSettings(SimPort("KEYEMU")) : settings) +
                                    "[EMU]\r\nPATH=" + images_ + "\r\n"));
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
  bool KeysEnabled(bool enabled) {
    for (const keyemu::KeyLayoutRow& row : keyemu::KeyLayoutTable)
      if ((IsWindowEnabled(FindControl(panel_, row.id)) != 0) != enabled) return false;
    return true;
  }
  void Click(int id) { ASSERT_TRUE(ClickAt(FindControl(panel_, id), {19, 12})); }
  // The codes the simulator receives for `act`, once `count` arrived.
  Codes Sent(const std::function<void()>& act, size_t count) {
    const size_t before = SimKeys().size();
    act();
    WaitUntil([&] { return SimKeys().size() >= before + count; }, 5000);
    Sleep(200);  // nothing more may follow
    Codes all = SimKeys();
    return Codes(all.begin() + long(std::min(before, all.size())), all.end());
  }
  bool LcdShowsSimulator() {
    return WaitUntil(
        [&] {
          std::vector<uint8_t> screen = SimScreen();
          return screen.size() == kScreenBytes && LcdOnDisplay(lcd_) == ExpectedLcd(&screen);
        },
        5000);
  }
  std::vector<std::string> SavedImages(const std::string& where) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(JoinPath(where, "KS*.bmp").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
  }
  bool ToolbarButton(UINT message, UINT id) { return SendMessageA(toolbar_, message, id, 0) != 0; }

  std::string images_;
  HWND frame_ = nullptr, panel_ = nullptr, lcd_ = nullptr, toolbar_ = nullptr;
};

// Opened before the link is up, the keys and the LCD follow it; the keys
// send their codes; closing gives the download back.
TEST_F(KeyEmulatorTest, OpensDisconnectedFollowsTheLinkAndKeysSendTheirCodes) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_TRUE(KeysEnabled(false));
  EXPECT_FALSE(ToolbarButton(TB_ISBUTTONENABLED, IDC_SAVE_SCREEN));
  EXPECT_FALSE(ToolbarButton(TB_ISBUTTONENABLED, IDC_COPY_SCREEN));
  EXPECT_TRUE(ToolbarButton(TB_ISBUTTONCHECKED, IDC_IMAGE_MODE_0));
  EXPECT_TRUE(WaitUntil([&] { return LcdOnDisplay(lcd_) == ExpectedLcd(nullptr); }, 5000))
      << "the LCD is not blank";
  // Disabled keys look it: their pictures washed out (painted with the LCD).
  HWND key5 = FindControl(panel_, kKey5);
  auto keyShown = [&] { return OnDisplay(key5, keyemu::kKeyWidth, keyemu::kKeyHeight); };
  const std::vector<uint32_t> disabledKey = keyShown();
  EXPECT_EQ(program_.ButtonState(IDC_DOWNLOAD), TBSTATE_INDETERMINATE);

  ASSERT_NO_FATAL_FAILURE(Connect());
  EXPECT_TRUE(WaitUntil([&] { return KeysEnabled(true); })) << "keys stay disabled";
  EXPECT_TRUE(WaitUntil([&] {
    std::vector<uint32_t> enabled = keyShown();
    return enabled != disabledKey && WashedOut(enabled) == disabledKey;
  })) << "the disabled key was not its picture washed out";
  EXPECT_TRUE(ToolbarButton(TB_ISBUTTONENABLED, IDC_SAVE_SCREEN));
  EXPECT_TRUE(LcdShowsSimulator()) << "the LCD does not show the simulator's screen";
  EXPECT_EQ(program_.ButtonState(IDC_DOWNLOAD), TBSTATE_INDETERMINATE)
      << "download enabled while the key emulator is open";

  // A second F8 brings the same frame forward.
  ASSERT_TRUE(program_.Command(IDC_KEY_EMULATOR));
  Sleep(300);
  EXPECT_EQ(TopLevelWindows(program_.Pid(), kFrameClass).size(), 1u);

  std::vector<uint8_t> screenBefore = SimScreen();
  EXPECT_EQ(Sent([&] { Click(kKey5); }, 1), Codes{0x8005});
  EXPECT_NE(SimScreen(), screenBefore);
  EXPECT_TRUE(LcdShowsSimulator()) << "the LCD did not follow the key";
  // A latching key takes no mouse capture: SHIFT stays down for the next key.
  EXPECT_EQ(Sent([&] { Click(kShift), Click(kKey5); }, 2), (Codes{0xFFFFFFFF, 0x8085}))
      << "SHIFT latch, 5";
  EXPECT_EQ(Sent([&] { PressKeys(frame_, {VK_SHIFT}, 'A'); }, 2), (Codes{0xFFFFFFFF, 0x808A}))
      << "PC Shift+A";
  // SHIFT stays down while either Shift key is.
  EXPECT_EQ(Sent(
                [&] {
                  SendKeys(frame_, {{VK_LSHIFT, false}, {VK_RSHIFT, false}, {VK_RSHIFT, true}});
                  Sleep(100);
                  SendKeys(frame_, {{'A', false}, {'A', true}, {VK_LSHIFT, true}});
                },
                2),
            (Codes{0xFFFFFFFF, 0x808A}))
      << "left Shift held, right Shift up, A";
  // A key held on the PC keyboard (repeating) and clicked at once: one press.
  EXPECT_EQ(Sent(
                [&] {
                  SendKeys(frame_, {{'5', false}});
                  Click(kKey5);
                  Sleep(100);
                  SendKeys(frame_, {{'5', false}, {'5', true}});
                },
                1),
            Codes{0x8005})
      << "5 held and clicked";
  // Focus loss releases a held Shift: the next key has no 0x80.
  Codes sent = Sent(
      [&] {
        PostMessageA(panel_, WM_KEYDOWN, VK_SHIFT, 1);
        Sleep(100);
        SetForegroundWindow(program_.MainWindow());  // switching to another window
        WaitUntil([&] { return GetForegroundWindow() == program_.MainWindow(); }, 5000);
        Click(kKey6);
      },
      2);
  EXPECT_EQ(sent, (Codes{0xFFFFFFFF, 0x8006})) << "focus loss";
  // Ctrl+C copies; it never sends the analyzer's key C.
  EXPECT_EQ(Sent([&] { PressKeys(frame_, {VK_CONTROL}, 'C'); }, 0), Codes{})
      << "Ctrl+C reached the analyzer";
  // The main window's accelerators stay in the main window.
  ASSERT_TRUE(PressKeys(frame_, {VK_SHIFT}, VK_F6));
  Sleep(300);
  EXPECT_EQ(program_.ButtonState(IDC_DISCONNECT), TBSTATE_ENABLED) << "Shift+F6 disconnected";

  // A link dropped with SHIFT latched releases it.
  ASSERT_EQ(Sent([&] { Click(kShift); }, 1), Codes{0xFFFFFFFF}) << "SHIFT did not latch";
  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
  ASSERT_TRUE(WaitUntil([&] { return KeysEnabled(false); })) << "keys stay enabled";
  ASSERT_NO_FATAL_FAILURE(Connect());
  ASSERT_TRUE(WaitUntil([&] { return KeysEnabled(true); }));
  EXPECT_EQ(Sent([&] { Click(kKey5); }, 1), Codes{0x8005}) << "SHIFT survived the link drop";

  // Closing stops the monitoring and gives the download command back.
  size_t stops = SimLogged("keyemu", "monitor interval -1");
  ASSERT_TRUE(PostMessageA(frame_, WM_CLOSE, 0, 0));
  ASSERT_TRUE(WaitForWindowGone(program_.Pid(), kFrameClass));
  EXPECT_TRUE(WaitUntil([&] { return SimLogged("keyemu", "monitor interval -1") > stops; }, 5000))
      << "monitoring was not stopped";
  EXPECT_TRUE(WaitUntil([&] { return program_.ButtonState(IDC_DOWNLOAD) == TBSTATE_ENABLED; }));
  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
}

// Save writes the builder's bytes for the analyzer's screen and says where
// in the frame's caption; copy puts the same image without the file header
// on the clipboard and says so; Ctrl+S in the key emulator saves the image
// and does not open the DT save dialog.
TEST_F(KeyEmulatorTest, SaveAndCopyTheImageInEachModeWhereEmuPathSays) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_NO_FATAL_FAILURE(OpenConnected());
  ASSERT_TRUE(LcdShowsSimulator());
  keyemu::LcdDisplay display;
  display.SetImage(SimScreen().data());
  const std::string caption = Text(IDS_KEYEMU_CAPTION) + " - ";
  const UINT modes[] = {IDC_IMAGE_MODE_0, IDC_IMAGE_MODE_1, IDC_IMAGE_MODE_2};
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    ASSERT_TRUE(PostCommand(frame_, modes[mode]));
    for (const std::string& old : SavedImages(images_)) DeleteFileA(JoinPath(images_, old).c_str());
    if (OpenClipboard(nullptr)) {  // the last mode's image must not count
      EmptyClipboard();
      CloseClipboard();
    }
    ASSERT_TRUE(mode == 2 ? PressKeys(frame_, {VK_CONTROL}, 'S')
                          : PostCommand(frame_, IDC_SAVE_SCREEN));
    ASSERT_TRUE(WaitUntil([&] { return SavedImages(images_).size() == 1; }, 5000));
    const std::string name = SavedImages(images_)[0];
    EXPECT_EQ(name.size(), 20u) << name;  // KSyyyymmddhhmmss.bmp
    const std::vector<uint8_t> expected = keyemu::BuildScreenBmp(display, mode);
    std::vector<uint8_t> saved;
    ASSERT_TRUE(WaitUntil([&] {
      return ReadWholeFile(JoinPath(images_, name), saved) && saved.size() >= expected.size();
    }));
    EXPECT_EQ(saved, expected);
    const std::string savedAs = caption + name + " " + Text(IDS_IMAGE_SAVED) + " " + images_;
    EXPECT_TRUE(WaitUntil([&] { return WindowText(frame_) == savedAs; }, 5000))
        << WindowText(frame_);
    if (mode == 0) Picture(frame_, "keyemu_saved");

    ASSERT_TRUE(PostCommand(frame_, IDC_COPY_SCREEN));
    std::vector<uint8_t> copied;
    EXPECT_TRUE(WaitUntil(
        [&] {
          copied = ClipboardDib();
          return copied.size() >= expected.size() - 14 &&
                 std::equal(expected.begin() + 14, expected.end(), copied.begin());
        },
        5000))
        << "a clipboard block of " << copied.size() << " bytes";
    EXPECT_TRUE(
        WaitUntil([&] { return WindowText(frame_) == caption + Text(IDS_IMAGE_COPIED); }, 5000))
        << WindowText(frame_);
  }
  EXPECT_TRUE(MessageBoxes(program_.Pid()).empty());
  EXPECT_EQ(WaitForWindow(program_.Pid(), "#32770", nullptr, 500), nullptr)
      << "Ctrl+S opened a dialog";
  // The caption comes back after a few seconds.
  EXPECT_TRUE(WaitUntil([&] { return WindowText(frame_) == Text(IDS_KEYEMU_CAPTION); }, 10000))
      << WindowText(frame_);

  // Two saves at once: the second never replaces the first (in the same
  // second it takes the name with "-2").
  for (const std::string& old : SavedImages(images_)) DeleteFileA(JoinPath(images_, old).c_str());
  ASSERT_TRUE(PostCommand(frame_, IDC_SAVE_SCREEN) && PostCommand(frame_, IDC_SAVE_SCREEN));
  EXPECT_TRUE(WaitUntil([&] { return SavedImages(images_).size() == 2; }, 5000));
  std::vector<std::string> two = SavedImages(images_);
  std::sort(two.begin(), two.end());
  // Of one second, the "-2" sorts first.
  if (two.size() == 2 && two[0].substr(0, 16) == two[1].substr(0, 16)) {
    EXPECT_EQ(two[0].substr(16), "-2.bmp");
  }

  // EMU/PATH is read at each save: a folder that does not exist makes the
  // save fail without a file anywhere, and says so; an empty one saves
  // beside the program.
  const std::string missing = program_.PathInFolder("missing");
  for (const std::string& path : {missing, std::string()}) {
    ASSERT_TRUE(WritePrivateProfileStringA("EMU", "PATH", path.c_str(),
                                           program_.PathInFolder("SETTING.ini").c_str()));
    ASSERT_TRUE(PostCommand(frame_, IDC_SAVE_SCREEN));
    if (path.empty()) {
      EXPECT_TRUE(WaitUntil([&] { return SavedImages(folder_).size() == 1; }, 5000));
      continue;
    }
    MessageBoxInfo box = WaitForMessageBox(program_.Pid(), 5000);
    ASSERT_NE(box.window, nullptr) << "the failed save said nothing";
    EXPECT_EQ(box.caption, Text(IDS_KEYEMU_CAPTION));
    const std::string said = Text(IDS_IMAGE_SAVE_FAILED) + "\n\n" + missing + "\\KS";
    EXPECT_EQ(box.text.substr(0, said.size()), said) << box.text;
    Picture(box.window, "keyemu_save_failed");
    ASSERT_TRUE(AnswerMessageBox(box, IDOK));
    EXPECT_TRUE(SavedImages(folder_).empty());
  }
  EXPECT_FALSE(FileExists(missing)) << "a folder was made";

  // A clipboard that another program holds open: the copy says it failed.
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(PostCommand(frame_, IDC_COPY_SCREEN));
  MessageBoxInfo box = WaitForMessageBox(program_.Pid(), 5000);
  CloseClipboard();
  ASSERT_NE(box.window, nullptr) << "the failed copy said nothing";
  EXPECT_EQ(box.text.substr(0, Text(IDS_IMAGE_COPY_FAILED).size()), Text(IDS_IMAGE_COPY_FAILED));
  ASSERT_TRUE(AnswerMessageBox(box, IDOK));
  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
}

TEST_F(KeyEmulatorTest, AnUnsupportedModelOpensNothing) {
  ASSERT_NO_FATAL_FAILURE(Start(LanSettings(SimPort("ODDMODEL"))));
  ASSERT_NO_FATAL_FAILURE(Connect());
  ASSERT_TRUE(program_.Command(IDC_KEY_EMULATOR));
  EXPECT_EQ(WaitForWindow(program_.Pid(), kFrameClass, nullptr, 1500), nullptr);
  EXPECT_TRUE(WaitUntil([&] { return program_.ButtonState(IDC_DOWNLOAD) == TBSTATE_ENABLED; }))
      << "the failed open was counted as open";
  ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
}

// Speed probe (it prints, and asserts nothing about time): a click on a key
// to the LCD showing the analyzer's new screen, median of 20 presses, over
// TCP and, when the driver gives one, over a 230400 bit/s serial line.
// (The processor time of the idle monitoring is measured by run-program.sh
// from /proc: Wine's GetProcessTimes reports nothing for another process.)
TEST_F(KeyEmulatorTest, ClickToRepaintProbe) {
  std::vector<std::pair<std::string, std::string>> links = {{"TCP", ""}};
  if (std::string com = Env("KSVW_GUI_COM_KEYEMU"); !com.empty())
    links.push_back({"a 230400 bit/s serial line",
                     "[REMOTE]\r\nMETHOD=0\r\n[SERIAL]\r\nCOM=" + com + "\r\nSPEED=230400\r\n"});
  for (const auto& [link, settings] : links) {
    ASSERT_NO_FATAL_FAILURE(Start(settings));
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
           link.c_str(), Median(ms), *std::min_element(ms.begin(), ms.end()),
           *std::max_element(ms.begin(), ms.end()));
    ASSERT_TRUE(program_.Command(IDC_DISCONNECT));
    program_.Kill();
  }
}

}  // namespace
}  // namespace ksvw::uiauto
