// The key emulator's pictures: the analyzer's front panel (bitmap 111), the
// sheet of key pictures in four states (bitmap 112), the key emulator's
// toolbar strip (bitmap 116) and its window icon (139). Key wells and key
// cells come from the same tables the program lays its keys out with.
#include <cstring>

#include "keyemu/key_tables.h"
#include "sim/lcd.h"
#include "tools/resgen/canvas.h"

namespace resgen {
namespace {

using ksvw::keyemu::KeyLayoutRow;
using ksvw::keyemu::KeyLayoutTable;
namespace ke = ksvw::keyemu;

// Text in the analyzer's own 5 x 7 font, each font pixel `scale` wide.
void Text(Canvas& c, int x, int y, const char* text, uint32_t colour, int scale = 1) {
  for (; *text; ++text, x += 6 * scale) {
    const uint8_t* g = ksvw::sim::Glyph(*text);
    for (int col = 0; col < 5; ++col)
      for (int row = 0; row < 7; ++row)
        if (g[col] & (1 << row))
          c.Fill(x + col * scale, y + row * scale, x + col * scale + scale - 1,
                 y + row * scale + scale - 1, colour);
  }
}
int TextWidth(const char* text, int scale) {
  return int(std::strlen(text)) * 6 * scale - scale;
}

// A raised (or, swapped, recessed) edge of `width` pixels.
void Bevel(Canvas& c, int x0, int y0, int x1, int y1, uint32_t light, uint32_t dark, int width) {
  for (int i = 0; i < width; ++i) {
    c.Line(x0 + i, y0 + i, x1 - i, y0 + i, light);
    c.Line(x0 + i, y0 + i, x0 + i, y1 - i, light);
    c.Line(x0 + i, y1 - i, x1 - i, y1 - i, dark);
    c.Line(x1 - i, y0 + i, x1 - i, y1 - i, dark);
  }
}

// --- Bitmap 111: the front panel, 16 colours -------------------------------

enum PanelColour : uint32_t {
  PBody,
  PBodyLight,
  PHighlight,
  PShadow,
  PBlack,
  PBezel,
  PLcd,
  PLabel,
  PAccent,
  PBlue,
  PWell,
  PLed,
  PLine,
  PDimLabel,
  PWhite,
  PRed
};
const uint32_t kPanelPalette[16] = {0x3A3F45, 0x474D54, 0x737A82, 0x1E2124, 0x0B0C0D, 0x2A2E33,
                                    0x9CCE6A, 0xD8DCE0, 0xE8A33A, 0x4A90C8, 0x151719, 0x47D05A,
                                    0x5A6067, 0x9AA1A8, 0xFFFFFF, 0xC8463C};

Canvas FrontPanel() {
  Canvas c(ke::kPanelWidth, ke::kPanelHeight, PBody);
  const int w = ke::kPanelWidth, h = ke::kPanelHeight;
  // Brushed body with a raised rim.
  for (int y = 4; y < h - 4; y += 4) c.Line(4, y, w - 5, y, PBodyLight);
  Bevel(c, 0, 0, w - 1, h - 1, PHighlight, PShadow, 3);
  c.Frame(3, 3, w - 4, h - 4, PBlack);
  // The display: a recessed bezel around the LCD window.
  const int lx = ke::kLcdWindowX, ly = ke::kLcdWindowY, lw = 482, lh = 130;
  c.Fill(lx - 12, ly - 10, lx + lw + 11, ly + lh + 9, PBezel);
  Bevel(c, lx - 12, ly - 10, lx + lw + 11, ly + lh + 9, PShadow, PHighlight, 2);
  c.Fill(lx - 4, ly - 4, lx + lw + 3, ly + lh + 3, PBlack);
  c.Fill(lx, ly, lx + lw - 1, ly + lh - 1, PLcd);
  Text(c, lx - 10, 10, "CAN/LIN PROTOCOL ANALYZER", PLabel);
  Text(c, lx + lw - 60, 10, "POWER", PDimLabel);
  c.Disc(lx + lw - 22 + 0.5, 13.5, 3.2, PLed);
  c.Set(lx + lw - 23, 12, PWhite);
  // Key fields: the hexadecimal block and the function block, each on a
  // recessed plate with its caption.
  struct Field {
    int x0, x1;
    const char* caption;
  } fields[] = {{15, 248, "DATA"}, {275, 566, "FUNCTION"}};
  for (const Field& f : fields) {
    c.Fill(f.x0, 186, f.x1, 359, PBody);
    Bevel(c, f.x0, 186, f.x1, 359, PShadow, PHighlight, 1);
    Text(c, f.x0 + 8, 189, f.caption, PDimLabel);
    c.Line(f.x0 + 8 + TextWidth(f.caption, 1) + 6, 192, f.x1 - 8, 192, PLine);
  }
  // A well under every key, one pixel larger than the key on each side,
  // deeper at the top and left.
  for (const KeyLayoutRow& k : KeyLayoutTable) {
    c.Fill(k.x - 2, k.y - 2, k.x + ke::kKeyWidth + 1, k.y + ke::kKeyHeight + 1, PWell);
    c.Line(k.x - 2, k.y + ke::kKeyHeight + 2, k.x + ke::kKeyWidth + 2, k.y + ke::kKeyHeight + 2,
           PHighlight);
    c.Line(k.x + ke::kKeyWidth + 2, k.y - 2, k.x + ke::kKeyWidth + 2, k.y + ke::kKeyHeight + 2,
           PHighlight);
  }
  // The SHIFT key's accent under its well.
  c.Line(285, 352, 285 + ke::kKeyWidth - 1, 352, PAccent);
  return c;
}

// --- Bitmap 112: the key sheet, 256 colours (24 used) -----------------------

enum SheetColour : uint32_t {
  SWell,
  SEdge,
  SLegendDark,
  SLegendLight,
  SLampOff,
  SLampOn,
  SLampGlow,
  // Three faces, each as face, highlight, shadow, pressed face.
  SHex = 8,
  SFunction = 12,
  SShift = 16,
  SEnter = 20,
};
const uint32_t kSheetPalette[24] = {
    0x151719, 0x0E0F10, 0x1A1C1E, 0xF2F2F2, 0x5A3A10, 0x5CFF3A,
    0xD8FFC8, 0x000000, 0xD9DCDF, 0xF6F7F8, 0x8E949A, 0xBFC3C7,  // hexadecimal keys
    0x59616A, 0x7D868F, 0x353B41, 0x4C535B,                      // function keys
    0xE08A2E, 0xF3B366, 0xA65F17, 0xC77824,                      // SHIFT
    0x3E7CC0, 0x6FA3DC, 0x2A5686, 0x356CA8,                      // Enter
};

struct KeyLook {
  int id;
  const char* legend;  // empty for the arrows
  int arrow;           // 0 none, 1 left, 2 up, 3 down, 4 right
};
const KeyLook kLooks[] = {
    {20000, "0", 0},     {20001, "1", 0},   {20002, "2", 0},    {20003, "3", 0},
    {20004, "4", 0},     {20005, "5", 0},   {20006, "6", 0},    {20007, "7", 0},
    {20008, "8", 0},     {20009, "9", 0},   {20010, "A", 0},    {20011, "B", 0},
    {20012, "C", 0},     {20013, "D", 0},   {20014, "E", 0},    {20015, "F", 0},
    {20016, "M", 0},     {20017, "Y", 0},   {20018, "T", 0},    {20019, "S", 0},
    {20020, "R", 0},     {20021, "DEL", 0}, {20022, "INS", 0},  {20023, "SHIFT", 0},
    {20024, "G", 0},     {20025, "H", 0},   {20026, "", 1},     {20027, "", 2},
    {20028, "", 3},      {20029, "", 4},    {20030, "PGUP", 0}, {20031, "PGDN", 0},
    {20032, "ENTER", 0}, {20033, "L", 0},   {20034, "K", 0},    {20035, "P", 0},
};

void Arrow(Canvas& c, int cx, int cy, int dir, uint32_t colour) {
  for (int i = 0; i <= 5; ++i) {
    switch (dir) {
      case 1: c.Line(cx - 4 + i, cy - i, cx - 4 + i, cy + i, colour); break;
      case 2: c.Line(cx - i, cy - 3 + i, cx + i, cy - 3 + i, colour); break;
      case 3: c.Line(cx - i, cy + 3 - i, cx + i, cy + 3 - i, colour); break;
      default: c.Line(cx + 4 - i, cy - i, cx + 4 - i, cy + i, colour); break;
    }
  }
}

void DrawKeyCell(Canvas& c, int x, int y, const KeyLook& look, bool pressed, bool latched) {
  const bool hex = look.id < 20016;
  const bool shift = look.id == ke::kShiftKeyId;
  const uint32_t base = shift ? SShift : look.id == 20032 ? SEnter : hex ? SHex : SFunction;
  const uint32_t legend = hex || shift ? SLegendDark : SLegendLight;
  const int kw = ke::kKeyWidth, kh = ke::kKeyHeight;
  c.Fill(x, y, x + kw - 1, y + kh - 1, SWell);
  const int d = pressed ? 1 : 0;  // a pressed key sinks one pixel
  const int x0 = x + 1 + d, y0 = y + 1 + d, x1 = x + kw - 2 - (pressed ? 0 : 1) + d,
            y1 = y + kh - 2 - (pressed ? 0 : 1) + d;
  c.Fill(x0, y0, x1, y1, pressed ? base + 3 : base);
  if (pressed) {
    Bevel(c, x0, y0, x1, y1, base + 2, base, 1);
  } else {
    Bevel(c, x0, y0, x1, y1, base + 1, base + 2, 1);
    c.Line(x0 + 1, y1 + 1, x1 + 1, y1 + 1, SEdge);
    c.Line(x1 + 1, y0 + 1, x1 + 1, y1 + 1, SEdge);
  }
  c.Frame(x0, y0, x1, y1, SEdge);
  const int cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  if (look.arrow) {
    Arrow(c, cx, cy, look.arrow, legend);
  } else {
    const int scale = std::strlen(look.legend) == 1 ? 2 : 1;
    const int tw = TextWidth(look.legend, scale), th = 7 * scale;
    Text(c, cx - tw / 2, cy - th / 2 + (shift ? 2 : 0), look.legend, legend, scale);
  }
  if (shift) {  // the latch lamp
    c.Fill(x1 - 10, y0 + 2, x1 - 3, y0 + 4, latched ? SLampOn : SLampOff);
    c.Frame(x1 - 11, y0 + 1, x1 - 2, y0 + 5, SEdge);
    if (latched) c.Fill(x1 - 9, y0 + 2, x1 - 7, y0 + 2, SLampGlow);
  }
}

Canvas KeySheet() {
  Canvas c(390, 200, SWell);
  for (const KeyLook& look : kLooks) {
    for (int variant = 0; variant < 4; ++variant) {
      const bool pressed = variant & 1, latched = variant & 2;
      if (latched && look.id != ke::kShiftKeyId) continue;  // only SHIFT latches
      int32_t x = 0, y = 0;
      ke::KeySpriteCorner(look.id, pressed, latched, &x, &y);
      DrawKeyCell(c, x, y, look, pressed, latched);
    }
  }
  return c;
}

// --- Bitmap 116: the key emulator's toolbar, 64 images of 16 x 15 -----------

// A little LCD with a trace: the screen part of the image-mode pictures.
void MiniScreen(Cell t, int x0, int y0, int x1, int y1, uint32_t paper, uint32_t ink) {
  t.Fill(x0, y0, x1, y1, paper);
  const int high = y0 + 2, low = y1 - 2;
  int level = low;
  for (int x = x0 + 1; x < x1; ++x) {
    if ((x - x0) % 3 == 0) {
      int next = level == low ? high : low;
      t.Line(x, level, x, next, ink);
      level = next;
    }
    t.Set(x, level, ink);
  }
}
void DrawPlainMono(Cell t) {
  MiniScreen(t, 1, 3, 14, 11, White, Black);
}
void DrawFramedMono(Cell t) {
  t.Fill(0, 1, 15, 13, White);
  t.Frame(0, 1, 15, 13, Black);
  MiniScreen(t, 2, 3, 13, 11, White, Black);
}
void DrawFramedColour(Cell t) {
  t.Fill(0, 1, 15, 13, Silver);
  t.Frame(0, 1, 15, 13, DarkGreen);
  t.Line(1, 2, 14, 2, DarkGreen);
  t.Line(1, 2, 1, 12, DarkGreen);
  MiniScreen(t, 2, 3, 13, 11, Green, DarkGreen);
}
void DrawSaveImage(Cell t) {
  t.Fill(1, 0, 14, 14, Navy);
  t.Fill(3, 0, 12, 5, White);
  t.Line(4, 2, 11, 2, Gray);
  t.Line(4, 4, 11, 4, Gray);
  t.Fill(4, 9, 11, 14, Silver);
  t.Fill(5, 10, 6, 13, Navy);
}
void DrawCopyImage(Cell t) {
  t.Fill(0, 0, 9, 10, White);
  t.Frame(0, 0, 9, 10, Black);
  t.Fill(2, 2, 7, 6, Green);
  t.Fill(6, 4, 15, 14, White);
  t.Frame(6, 4, 15, 14, Black);
  t.Fill(8, 6, 13, 10, Green);
  t.Line(8, 12, 13, 12, Gray);
}
void DrawMainWindow(Cell t) {
  t.Fill(0, 1, 15, 14, White);
  t.Frame(0, 1, 15, 14, Black);
  t.Fill(1, 2, 14, 3, Navy);
  for (int y = 5; y <= 12; y += 2) {
    t.Line(2, y, 5, y, Blue);
    t.Line(7, y, 13, y, Gray);
  }
}

Canvas KeyEmulatorToolbar() {
  Canvas c(1024, 15, Silver);
  struct Picture {
    int index;
    void (*draw)(Cell);
  } pictures[] = {{8, DrawPlainMono},  {9, DrawFramedMono}, {10, DrawFramedColour},
                  {14, DrawSaveImage}, {16, DrawCopyImage}, {18, DrawMainWindow}};
  for (const Picture& p : pictures) p.draw(Cell{c, p.index * kCellW});
  return c;
}

// --- Icon 139: the key emulator's window ------------------------------------

Canvas KeyEmulatorIcon(int size) {
  Canvas c(size, size, 0x00000000);
  const double s = size / 32.0;
  auto px = [s](double v) { return int(std::lround(v * s)); };
  const uint32_t body = 0xFF3A3F45, edge = 0xFF0B0C0D, lcd = 0xFF9CCE6A, ink = 0xFF34452A;
  const uint32_t key = 0xFFD9DCDF, fkey = 0xFF7D868F, accent = 0xFFE08A2E;
  c.Fill(px(2), px(2), size - 1 - px(2), size - 1 - px(2), body);
  c.Frame(px(2), px(2), size - 1 - px(2), size - 1 - px(2), edge);
  c.Fill(px(5), px(5), size - 1 - px(5), px(13), lcd);
  c.Frame(px(5), px(5), size - 1 - px(5), px(13), edge);
  // A bit train across the display.
  int level = px(11), x = px(6) + 1;
  for (int i = 0; x < size - 1 - px(5); ++i) {
    int next = level == px(11) ? px(7) : px(11);
    for (int k = 0; k < std::max(1, px(3)) && x < size - 1 - px(5); ++k, ++x) c.Set(x, level, ink);
    if (x < size - 1 - px(5)) c.Line(x, level, x, next, ink);
    level = next;
  }
  const int kw = std::max(2, px(4)), kh = std::max(1, px(3)), gx = std::max(1, px(5)),
            gy = std::max(1, px(4));
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col) {
      int x = px(6) + col * gx, y = px(16) + row * gy;
      uint32_t colour = col == 3 ? fkey : key;
      if (row == 2 && col == 3) colour = accent;
      c.Fill(x, y, x + kw - 1, y + kh - 1, colour);
    }
  return c;
}

}  // namespace

bool WriteKeyEmulatorArt(const std::string& dir) {
  bool ok = WriteFile(dir + "/panel.bmp", BmpIndexed(FrontPanel(), kPanelPalette, 16, 4));
  uint32_t sheetPalette[256] = {};
  std::copy(std::begin(kSheetPalette), std::end(kSheetPalette), sheetPalette);
  ok = WriteFile(dir + "/keys.bmp", BmpIndexed(KeySheet(), sheetPalette, 256, 8)) && ok;
  ok = WriteFile(dir + "/keyemu_toolbar.bmp", BmpIndexed(KeyEmulatorToolbar(), kPalette, 16, 4)) &&
       ok;
  ok = WriteFile(dir + "/keyemu.ico", Ico({KeyEmulatorIcon(32), KeyEmulatorIcon(16)})) && ok;
  return ok;
}

}  // namespace resgen
