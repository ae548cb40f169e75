// Generates the executable's pictures from drawing code, so that they can be
// rebuilt and reviewed like any other source:
//   resgen OUTDIR
// writes OUTDIR/toolbar.bmp (bitmap 103: 13 images of 16 x 15 pixels, 16
// colours, silver background that the toolbar turns into the button face)
// and OUTDIR/main.ico (icon 101, 32 x 32 and 16 x 16, 32-bit with alpha),
// and the key emulator's pictures (keyemu_art.cpp).
//
// Portable C++ only: in the cross build it is compiled for the build machine.
#include "tools/resgen/canvas.h"

namespace resgen {
namespace {

// --- Toolbar: 16-colour palette, one 16 x 15 cell per image ----------------

constexpr int kImages = 13;

// 0: connect - plug and socket joined, green lamp.
void DrawConnect(Cell g) {
  g.Line(0, 7, 3, 7, Black);
  g.Fill(4, 4, 7, 10, Gray);
  g.Frame(4, 4, 7, 10, Black);
  g.Line(8, 5, 9, 5, Black);
  g.Line(8, 9, 9, 9, Black);
  g.Fill(10, 3, 13, 11, Gray);
  g.Frame(10, 3, 13, 11, Black);
  g.Line(14, 7, 15, 7, Black);
  g.Fill(11, 0, 12, 1, Green);
}
// 1: disconnect - plug and socket apart, red lamp.
void DrawDisconnect(Cell g) {
  g.Line(0, 7, 2, 7, Black);
  g.Fill(3, 4, 5, 10, Gray);
  g.Frame(3, 4, 5, 10, Black);
  g.Line(6, 5, 7, 5, Black);
  g.Line(6, 9, 7, 9, Black);
  g.Fill(11, 3, 13, 11, Gray);
  g.Frame(11, 3, 13, 11, Black);
  g.Line(14, 7, 15, 7, Black);
  g.Line(8, 1, 10, 3, Red);
  g.Line(8, 3, 10, 1, Red);
}
// 2: download - the analyzer's screen, an arrow down into a tray.
void DrawDownload(Cell g) {
  g.Fill(2, 0, 13, 4, Navy);
  g.Fill(3, 1, 12, 3, Green);
  g.Fill(7, 5, 8, 8, Blue);
  g.Head(7, 11, 3, 1, Blue);
  g.Head(8, 11, 3, 1, Blue);
  g.Line(1, 11, 1, 14, Black);
  g.Line(14, 11, 14, 14, Black);
  g.Line(1, 14, 14, 14, Black);
}
// 3: stop - red cross (cancel a transfer).
void DrawStop(Cell g) {
  for (int d = 0; d < 2; ++d) {
    g.Line(3 + d, 2, 12 + d, 11, Red);
    g.Line(12 + d, 2, 3 + d, 11, Red);
  }
}
// 4: open - a yellow folder opening.
void DrawOpen(Cell g) {
  g.Fill(1, 3, 5, 4, Olive);
  g.Fill(1, 5, 12, 13, Olive);
  g.Frame(1, 4, 12, 13, Black);
  for (int i = 0; i < 6; ++i) g.Line(4 - i / 3 + i, 8 + i / 1 - i, 15 - i / 3, 8, Yellow);
  g.Fill(4, 8, 15, 8, Black);
  for (int y = 9; y <= 13; ++y) g.Line(4 - (y - 8) / 2 + 0, y, 14 - (y - 8) / 2, y, Yellow);
  g.Line(4, 8, 1, 13, Black);
  g.Line(15, 8, 12, 13, Black);
}
// 5..7: search, search upward, search downward - a magnifier.
void DrawLens(Cell g, double cx, double cy, double r) {
  g.Disc(cx, cy, r, Cyan);
  g.Ring(cx, cy, r + 0.5, 1.5, Black);
  int hx = int(cx + r * 0.7), hy = int(cy + r * 0.7);
  g.Line(hx, hy + 1, hx + 3, hy + 4, Olive);
  g.Line(hx + 1, hy + 1, hx + 4, hy + 4, Olive);
  g.Line(hx + 1, hy, hx + 4, hy + 3, Black);
}
void DrawSearch(Cell g) {
  DrawLens(g, 6, 5.5, 4.5);
}
void DrawSearchUp(Cell g) {
  DrawLens(g, 5, 6, 3.5);
  g.Head(13, 1, 2, -1, Blue);
  g.Fill(13, 3, 13, 9, Blue);
}
void DrawSearchDown(Cell g) {
  DrawLens(g, 5, 6, 3.5);
  g.Fill(13, 1, 13, 7, Blue);
  g.Head(13, 9, 2, 1, Blue);
}
// 8: connection settings - a gear.
void DrawSettings(Cell g) {
  const double cx = 7.5, cy = 7;
  for (int k = 0; k < 8; ++k) {
    double a = k * 3.14159265 / 4;
    int x = int(std::lround(cx + 5.5 * std::cos(a))), y = int(std::lround(cy + 5.5 * std::sin(a)));
    g.Fill(x - 1, y - 1, x, y, Gray);
  }
  g.Disc(cx, cy, 4.6, Gray);
  g.Ring(cx, cy, 4.8, 1.0, Black);
  g.Disc(cx, cy, 1.6, Silver);
  g.Ring(cx, cy, 2.0, 0.9, Black);
}
// 9: about - a blue disc with an "i".
void DrawAbout(Cell g) {
  g.Disc(7.5, 7, 6.5, Blue);
  g.Fill(7, 3, 8, 4, White);
  g.Fill(7, 6, 8, 11, White);
  g.Fill(6, 6, 6, 6, White);
  g.Fill(6, 11, 9, 11, White);
}
// 10: convert - a capture page becoming a text page.
void DrawConvert(Cell g) {
  g.Fill(0, 1, 6, 10, White);
  g.Frame(0, 1, 6, 10, Black);
  for (int y = 3; y <= 8; y += 2) g.Line(2, y, 4, y, Blue);
  g.Fill(9, 4, 15, 14, White);
  g.Frame(9, 4, 15, 14, Black);
  for (int y = 6; y <= 12; y += 2) g.Line(11, y, 13, y, Black);
  // An arrow pointing right, from the capture to the text.
  g.Line(3, 12, 6, 12, DarkGreen);
  for (int i = 0; i <= 2; ++i) g.Line(8 - i, 12 - i, 8 - i, 12 + i, DarkGreen);
}
// 11: key emulator - the front panel: screen and keys.
void DrawKeys(Cell g) {
  g.Fill(0, 0, 15, 14, Gray);
  g.Frame(0, 0, 15, 14, Black);
  g.Fill(2, 2, 13, 5, Green);
  g.Frame(2, 2, 13, 5, DarkGreen);
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 4; ++col)
      g.Fill(2 + col * 3, 8 + row * 3, 3 + col * 3, 9 + row * 3, White);
}
// 12: save - a floppy disk.
void DrawSave(Cell g) {
  g.Fill(1, 0, 14, 14, Navy);
  g.Fill(3, 0, 12, 5, White);
  g.Line(4, 2, 11, 2, Gray);
  g.Line(4, 4, 11, 4, Gray);
  g.Fill(4, 9, 11, 14, Silver);
  g.Fill(5, 10, 6, 13, Navy);
  g.Set(14, 0, Silver);
}

}  // namespace

// An icon file of 32-bit images with alpha (and an AND mask from the alpha).
std::vector<uint8_t> Ico(const std::vector<Canvas>& images) {
  std::vector<std::vector<uint8_t>> bodies;
  for (const Canvas& c : images) {
    std::vector<uint8_t> d;
    Put32(d, 40);
    Put32(d, uint32_t(c.width));
    Put32(d, uint32_t(c.height) * 2);
    Put16(d, 1);
    Put16(d, 32);
    Put32(d, 0);
    const uint32_t maskStride = ((uint32_t(c.width) + 31) / 32) * 4;
    Put32(d, uint32_t(c.width * c.height * 4) + maskStride * uint32_t(c.height));
    Put32(d, 0);
    Put32(d, 0);
    Put32(d, 0);
    Put32(d, 0);
    for (int y = c.height - 1; y >= 0; --y)
      for (int x = 0; x < c.width; ++x) Put32(d, c.Get(x, y));
    for (int y = c.height - 1; y >= 0; --y)
      for (uint32_t i = 0; i < maskStride; ++i) {
        uint8_t bits = 0;
        for (int k = 0; k < 8; ++k) {
          int x = int(i * 8) + k;
          if (x < c.width && (c.Get(x, y) >> 24) == 0) bits |= uint8_t(0x80 >> k);
        }
        d.push_back(bits);
      }
    bodies.push_back(std::move(d));
  }
  std::vector<uint8_t> b;
  Put16(b, 0);
  Put16(b, 1);
  Put16(b, uint32_t(images.size()));
  uint32_t offset = 6 + 16 * uint32_t(images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    b.push_back(uint8_t(images[i].width));
    b.push_back(uint8_t(images[i].height));
    b.push_back(0);
    b.push_back(0);
    Put16(b, 1);
    Put16(b, 32);
    Put32(b, uint32_t(bodies[i].size()));
    Put32(b, offset);
    offset += uint32_t(bodies[i].size());
  }
  for (auto& d : bodies) b.insert(b.end(), d.begin(), d.end());
  return b;
}

namespace {

// --- The program icon: the analyzer's front with a trace on its screen ------

Canvas ProgramIcon(int size) {
  const double s = size / 32.0;
  auto px = [s](double v) { return int(std::lround(v * s)); };
  Canvas c(size, size, 0x00000000);
  const uint32_t body = 0xFF2E4A6B, edge = 0xFF10202F, screen = 0xFF9BD37A, trace = 0xFF1B4D12;
  const uint32_t key = 0xFFE8E8E8, keyHot = 0xFFE8A33A;
  c.Fill(px(1), px(3), size - 1 - px(1), size - 1 - px(3), body);
  c.Frame(px(1), px(3), size - 1 - px(1), size - 1 - px(3), edge);
  int sx0 = px(4), sy0 = px(6), sx1 = size - 1 - px(4), sy1 = px(17);
  c.Fill(sx0, sy0, sx1, sy1, screen);
  c.Frame(sx0, sy0, sx1, sy1, edge);
  // A CAN-like bit train on the screen.
  int mid = (sy0 + sy1) / 2, hi = sy0 + px(3), lo = sy1 - px(3);
  int x = sx0 + 1 + (size >= 32 ? 1 : 0), level = lo;
  const int steps[] = {2, 3, 1, 2, 2, 1, 3, 2};
  for (int i = 0; x < sx1 - 1; ++i) {
    int w = std::max(1, px(steps[i % 8]));
    int next = (i % 2 == 0) ? hi : lo;
    for (int k = 0; k < w && x < sx1 - 1; ++k, ++x) c.Set(x, level, trace);
    if (x < sx1 - 1) c.Line(x, level, x, next, trace);
    level = next;
  }
  (void)mid;
  // Two rows of keys.
  int ky0 = px(20), kh = std::max(1, px(3)), kw = std::max(2, px(4)), gap = std::max(1, px(2));
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 4; ++col) {
      int kx = px(5) + col * (kw + gap + (size >= 32 ? 1 : 0));
      int ky = ky0 + row * (kh + gap);
      c.Fill(kx, ky, kx + kw - 1, ky + kh - 1, (row == 0 && col == 3) ? keyHot : key);
    }
  return c;
}

}  // namespace
}  // namespace resgen

int main(int argc, char** argv) {
  using namespace resgen;
  if (argc != 2) {
    std::fprintf(stderr, "usage: resgen OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];

  Canvas strip(kCellW * kImages, kCellH, Silver);
  void (*const draw[kImages])(Cell) = {
      DrawConnect,    DrawDisconnect, DrawDownload, DrawStop,    DrawOpen, DrawSearch, DrawSearchUp,
      DrawSearchDown, DrawSettings,   DrawAbout,    DrawConvert, DrawKeys, DrawSave};
  for (int i = 0; i < kImages; ++i) draw[i](Cell{strip, i * kCellW});

  bool ok = WriteFile(dir + "/toolbar.bmp", BmpIndexed(strip, kPalette, 16, 4));
  ok = WriteFile(dir + "/main.ico", Ico({ProgramIcon(32), ProgramIcon(16)})) && ok;
  ok = WriteKeyEmulatorArt(dir) && ok;
  if (!ok) {
    std::fprintf(stderr, "resgen: cannot write the pictures into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
