// The key emulator's portable core: the LCD's doubling and shadow, the
// saved/copied image in its three modes, the key tables and the key rules.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "keyemu/key_state.h"
#include "keyemu/key_tables.h"
#include "keyemu/lcd_display.h"
#include "keyemu/screen_image.h"

namespace ksvw::keyemu {
namespace {

std::vector<uint8_t> Screen(std::initializer_list<std::pair<int, int>> dark, bool all = false) {
  std::vector<uint8_t> s(kScreenBytes, all ? 0xFF : 0x00);
  for (auto [x, y] : dark) s[size_t(y) * kScreenStride + x / 8] |= uint8_t(0x80 >> (x % 8));
  return s;
}

// Screen pixel (x, y) is dark; pixels outside the screen are not.
bool ScreenDark(const std::vector<uint8_t>& s, int x, int y) {
  const bool inside = x >= 0 && x < kScreenWidth && y >= 0 && y < kScreenHeight;
  return inside && (s[size_t(y) * kScreenStride + x / 8] >> (7 - x % 8)) & 1;
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// Pixel value of image (x, y), y growing downwards, from a whole BMP file.
int ImagePixel(const std::vector<uint8_t>& bmp, int x, int y) {
  const bool colour = bmp[28] == 4;
  const uint8_t* row = bmp.data() + Le32(&bmp[10]) + size_t(79 - y) * (colour ? 128 : 32);
  if (!colour) return (row[x / 8] >> (7 - x % 8)) & 1;
  return (x % 2) ? (row[x / 2] & 0x0F) : (row[x / 2] >> 4);
}

// The expected value of every image pixel, written from the image rules.
int ExpectedPixel(int mode, int x, int y, bool dark, bool shadow) {
  const bool screen = x >= 8 && x <= 247 && y >= 8 && y <= 71;
  if (mode == 2) {
    if (screen) return dark ? 2 : shadow ? 1 : 0;
    if (y <= 1 || y >= 78 || x <= 1 || x >= 254) return 3;
    if (y <= 3 || y == 77 || x <= 3 || x == 253) return 2;
    if (y <= 5 || y == 76 || x <= 5 || x == 252) return 1;
    return 0;
  }
  if (screen) return dark ? 1 : 0;
  const bool outline =
      ((y == 6 || y == 73) && x >= 6 && x <= 249) || ((x == 6 || x == 249) && y >= 6 && y <= 73);
  return mode == 1 && outline ? 1 : 0;
}

// Every pixel of the display (each screen pixel doubled, its shadow one
// screen pixel right and down) and of the image in each mode. One display
// takes the screens in turn: each new image replaces the old one whole.
TEST(LcdDisplayAndImage, EveryPixelForFullCornerAndBlankScreens) {
  struct Screenful {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  const Screenful screens[] = {
      {"full", Screen({}, true)},
      {"corners", Screen({{0, 0}, {239, 0}, {0, 63}, {239, 63}, {120, 32}, {100, 30}})},
      {"blank", Screen({})},
  };
  LcdDisplay lcd;
  for (const Screenful& s : screens) {
    lcd.SetImage(s.bytes.data());
    auto dark = [&](int x, int y) { return ScreenDark(s.bytes, x, y); };
    for (int y = 0; y < kDisplayHeight; ++y) {
      for (int x = 0; x < kDisplayWidth; ++x) {
        const int shadow = x >= 2 && y >= 2 && dark(x / 2 - 1, y / 2 - 1);
        ASSERT_EQ(lcd.DisplayPixel(x, y), 2 * dark(x / 2, y / 2) + shadow)
            << s.name << " display " << x << "," << y;
      }
    }
    for (int mode : {0, 1, 2}) {
      std::vector<uint8_t> bmp = BuildScreenBmp(lcd, mode);
      for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 256; ++x) {
          const bool d = dark(x - 8, y - 8), shadow = !d && dark(x - 9, y - 9);
          ASSERT_EQ(ImagePixel(bmp, x, y), ExpectedPixel(mode, x, y, d, shadow))
              << s.name << " mode " << mode << " at " << x << "," << y;
        }
      }
    }
  }
  for (uint32_t i = 0; i < kDisplayBytes; ++i) ASSERT_EQ(lcd.Pixels()[i], 0) << i;
  lcd.SetImage(Screen({{100, 30}}).data());
  EXPECT_EQ(lcd.Pixels()[60 * kDisplayStride + 100], 0x22);  // 200..201, 60
  EXPECT_EQ(lcd.Pixels()[63 * kDisplayStride + 101], 0x11);  // 202..203, 63
  EXPECT_TRUE(lcd.Dark(100, 30));
  EXPECT_TRUE(lcd.Shadow(101, 31));
  EXPECT_FALSE(lcd.Dark(101, 31));
}

// The file of each mode (sizes worked out by hand: 14 + 40 bytes of headers,
// the palette, 80 rows of 256 pixels), and its clipboard block: the file
// without its 14-byte header, the offset of its pixels returned.
TEST(ScreenImage, FilesAndClipboardBlocksOfTheModes) {
  struct Case {
    int mode;
    uint32_t fileSize, pixelOffset;
  };
  const Case cases[] = {{0, 2622, 62}, {1, 2622, 62}, {2, 10310, 70}};
  LcdDisplay lcd;
  const std::vector<uint8_t> screen = Screen({{3, 4}, {200, 50}, {239, 63}});
  lcd.SetImage(screen.data());
  for (const Case& c : cases) {
    std::vector<uint8_t> bmp = BuildScreenBmp(lcd, c.mode);
    // The screen and mode read back; a pixel more (here outside the screen) is no image of ours.
    std::vector<uint8_t> back(kScreenBytes);
    int32_t mode = -1;
    EXPECT_TRUE(ScreenFromBmp(bmp, back.data(), &mode));
    EXPECT_EQ(std::pair(back, mode), std::pair(screen, c.mode));
    bmp[c.pixelOffset] ^= 0x10;
    EXPECT_FALSE(ScreenFromBmp(bmp, back.data(), &mode));
    bmp[c.pixelOffset] ^= 0x10;
    ASSERT_EQ(bmp.size(), c.fileSize);
    EXPECT_EQ(Le32(&bmp[2]), c.fileSize);
    EXPECT_EQ(Le32(&bmp[10]), c.pixelOffset);
    EXPECT_EQ(Le32(&bmp[18]) << 8 | Le32(&bmp[22]), 256u << 8 | 80);  // bottom-up rows
    const uint32_t flags = ImageFlagsForMode(c.mode);
    const uint32_t size = ScreenImageBuilder(lcd, flags, nullptr, 0);
    std::vector<uint8_t> block(size, 0xAA);
    // Too small a buffer: the size comes back and nothing is written.
    EXPECT_EQ(ScreenImageBuilder(lcd, flags, block.data(), size - 1), size);
    EXPECT_EQ(block[0], 0xAA);
    EXPECT_EQ(ScreenImageBuilder(lcd, flags, block.data(), size), c.pixelOffset - 14);
    EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 14, bmp.end()), block) << "mode " << c.mode;
    // A larger buffer is zeroed past the image.
    std::vector<uint8_t> big(size + 16, 0xAA);
    ScreenImageBuilder(lcd, flags, big.data(), uint32_t(big.size()));
    for (size_t i = size; i < big.size(); ++i) ASSERT_EQ(big[i], 0) << i;
  }
  EXPECT_EQ(BuildScreenBmp(lcd, 7), BuildScreenBmp(lcd, 0));  // unknown modes: monochrome
  // Palettes, blue green red: white then black; the display's four colours.
  const uint8_t mono[8] = {255, 255, 255, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(BuildScreenBmp(lcd, 0).data() + 54, mono, 8), 0);
  const uint8_t colour[16] = {106, 206, 156, 0, 85, 165, 107, 0, 35, 69, 52, 0, 242, 237, 237, 0};
  EXPECT_EQ(std::memcmp(BuildScreenBmp(lcd, 2).data() + 54, colour, 16), 0);
}

// --- Key tables -------------------------------------------------------------

TEST(KeyTables, PicturesFollowThePanelArrangementAndIdsAreUnique) {
  // Panel columns 25, 83, 141, 199, 285, ... step 58 (with a gap before the
  // second block); rows 201 + 41 k. Sheet cells are 39 x 25 in the same order.
  const int columns[] = {25, 83, 141, 199, 285, 343, 401, 459, 517};
  bool seen[kKeyCount] = {};
  for (int slot = 0; slot < kKeyCount; ++slot) {
    const KeyLayoutRow& row = KeyLayoutTable[slot];
    ASSERT_GE(row.id, kFirstKeyId);
    ASSERT_LT(row.id, kFirstKeyId + kKeyCount);
    EXPECT_FALSE(seen[row.id - kFirstKeyId]) << row.id;
    seen[row.id - kFirstKeyId] = true;
    int column = int(std::find(std::begin(columns), std::end(columns), row.x) - columns);
    ASSERT_LT(column, 9) << row.id;
    EXPECT_EQ((row.y - 201) % 41, 0) << row.id;
    const KeySprite& s = KeySpriteTable[row.id - kFirstKeyId];
    EXPECT_EQ(s.x, column * kKeyWidth) << row.id;
    EXPECT_EQ(s.y, (row.y - 201) / 41 * kKeyHeight) << row.id;
    EXPECT_EQ(row.flags, row.id == kShiftKeyId ? kLatchingKey : 0u);
  }
  EXPECT_EQ(KeyLayoutTable[0].id, kShiftKeyId);
  int32_t x = 0, y = 0;
  ASSERT_TRUE(KeySpriteCorner(kShiftKeyId, true, true, &x, &y));
  EXPECT_EQ(x, 156 + 195);
  EXPECT_EQ(y, 75 + 100);
  EXPECT_FALSE(KeySpriteCorner(20036, false, false, &x, &y));
}

TEST(KeyTables, KeyboardMap) {
  struct Case {
    int32_t virtualKey, id;
  };
  const Case cases[] = {
      {'0', 20000},  {0x60, 20000}, {'9', 20009},  {0x69, 20009}, {'A', 20010},  {'F', 20015},
      {'M', 20016},  {'R', 20020},  {0x2E, 20021}, {0x10, 20023}, {0xA0, 20023}, {0xA1, 20023},
      {0x25, 20026}, {0x0D, 20032}, {'P', 20035},  {'Z', -1},     {'Q', -1},     {-1, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(KeyIdForVirtualKey(c.virtualKey), c.id) << c.virtualKey;
  // Every key has at least one PC key.
  for (const KeyLayoutRow& row : KeyLayoutTable) {
    bool mapped = false;
    for (const KeyboardMapEntry& e : KeyboardMap) mapped |= e.keyId == row.id;
    EXPECT_TRUE(mapped) << row.id;
  }
}

// --- Key rules, with the panel's handling of the reports ------------------

// The panel: SHIFT in slot 0; a press report sends the code (with 0x80
// while SHIFT is pressed), a release report force-unlatches every key.
// Reports are queued like posted messages.
struct Panel {
  std::vector<KeyState> keys;
  std::deque<std::pair<int, KeyReport>> posted;
  std::vector<uint32_t> sent;
  Panel() {
    for (const KeyLayoutRow& row : KeyLayoutTable) keys.emplace_back(row.flags);
  }
  void Post(int slot, const KeyReports& r) {
    for (int i = 0; i < r.count; ++i) posted.emplace_back(slot, r.items[i]);
  }
  void Pump() {
    while (!posted.empty()) {
      auto [slot, report] = posted.front();
      posted.pop_front();
      if (report == KeyReport::Pressed) {
        sent.push_back(KeyPressValue(KeyLayoutTable[slot].code, keys[0].Pressed()));
      } else if (report == KeyReport::Released) {
        for (int k = 0; k < kKeyCount; ++k) {
          KeyReports r;
          keys[size_t(k)].ForceUnlatch(r);
          Post(k, r);
        }
      }
    }
  }
};

// Steps, blank-separated: an action and a key (S SHIFT, 5, A). Actions: c
// click, m mouse up (the capture goes), d key down, u key up; f and l alone
// are focus loss and link drop, applied to every key.
TEST(KeyRules, SequencesSendTheRightCodes) {
  const struct {
    const char* name;
    std::string steps;
    std::vector<uint32_t> sent;
    uint32_t shiftState;
  } cases[] = {
      {"click 5", "c5 m5", {0x8005}, 0},
      {"SHIFT latch then 5", "cS c5 m5", {0xFFFFFFFF, 0x8085}, 0},
      {"SHIFT clicked twice", "cS cS", {0xFFFFFFFF}, 0},
      {"PC Shift held with A", "dS dA uA", {0xFFFFFFFF, 0x808A}, 0x01},
      {"auto-repeat sends once", "d5 d5 d5 u5", {0x8005}, 0},
      {"focus loss releases held keys", "dS d5 f d5", {0xFFFFFFFF, 0x8085, 0x8005}, 0},
      {"SHIFT latched stays until the next key", "cS", {0xFFFFFFFF}, 0x81},
      {"link drop unlatches SHIFT", "cS l", {0xFFFFFFFF}, 0},
      {"link drop releases a PC Shift, so the next key has no 0x80",
       "dS l d5",
       {0xFFFFFFFF, 0x8005},
       0},
      // Held by the PC keyboard and the mouse at once: one press.
      {"PC key held through a click", "d5 c5 m5 d5 u5 d5", {0x8005, 0x8005}, 0},
      {"click held through a PC key", "c5 d5 u5 d5 m5", {0x8005}, 0},
      {"PC Shift held through a SHIFT click", "dS cS d5", {0xFFFFFFFF, 0x8085}, 0x81},
  };
  for (const auto& c : cases) {
    Panel p;
    std::istringstream steps(c.steps);
    for (std::string step; steps >> step;) {
      const int slot = step.size() < 2 ? 0 : step[1] == 'S' ? 0 : step[1] == '5' ? 6 : 11;
      KeyReports r;
      KeyState& key = p.keys[size_t(slot)];
      switch (step[0]) {
        case 'c': key.Click(r); break;
        case 'm': key.MouseUp(r); break;
        case 'd': key.KeySet(true, r); break;
        case 'u': key.KeySet(false, r); break;
        default:
          for (int k = 0; k < kKeyCount; ++k) {
            KeyReports each;
            if (step[0] == 'f') {
              p.keys[size_t(k)].KeySet(false, each);
            } else {
              p.keys[size_t(k)].Disable(each);
            }
            p.Post(k, each);
          }
      }
      p.Post(slot, r);
      p.Pump();
    }
    EXPECT_EQ(p.sent, c.sent) << c.name;
    EXPECT_EQ(p.keys[0].StateBits(), c.shiftState) << c.name;
  }
}

TEST(KeyRules, ForceUnlatchOfAPressedLatchedShiftReportsUnlatchThenRelease) {
  using R = KeyReport;
  auto items = [](const KeyReports& r) { return std::vector<R>(r.items, r.items + r.count); };
  KeyState shift(kLatchingKey);
  KeyReports click, drop;
  shift.Click(click);
  EXPECT_EQ(items(click), (std::vector{R::Pressed, R::Latched}));
  shift.ForceUnlatch(drop);
  EXPECT_EQ(items(drop), (std::vector{R::Unlatched, R::Released}));
  EXPECT_EQ(shift.StateBits(), 0u);
  KeyState plain(0);
  KeyReports none;
  plain.Latch(none);
  plain.ForceUnlatch(none);
  EXPECT_EQ(none.count, 0);
}

}  // namespace
}  // namespace ksvw::keyemu
