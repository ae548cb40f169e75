// The picture generator's drawing surface and file writers, shared by the
// main program's pictures (resgen.cpp) and the key emulator's (keyemu_art.cpp).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace resgen {

// --- A small raster canvas --------------------------------------------------

struct Canvas {
  int width, height;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB, or a palette index for the toolbar
  Canvas(int w, int h, uint32_t fill) : width(w), height(h), pixels(size_t(w) * h, fill) {}

  void Set(int x, int y, uint32_t c) {
    if (x >= 0 && y >= 0 && x < width && y < height) pixels[size_t(y) * width + x] = c;
  }
  uint32_t Get(int x, int y) const { return pixels[size_t(y) * width + x]; }
  void Fill(int x0, int y0, int x1, int y1, uint32_t c) {  // inclusive corners
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) Set(x, y, c);
  }
  void Frame(int x0, int y0, int x1, int y1, uint32_t c) {
    for (int x = x0; x <= x1; ++x) Set(x, y0, c), Set(x, y1, c);
    for (int y = y0; y <= y1; ++y) Set(x0, y, c), Set(x1, y, c);
  }
  void Line(int x0, int y0, int x1, int y1, uint32_t c) {
    int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
      Set(x0, y0, c);
      if (x0 == x1 && y0 == y1) break;
      int e2 = 2 * err;
      if (e2 >= dy) err += dy, x0 += sx;
      if (e2 <= dx) err += dx, y0 += sy;
    }
  }
  // Disc or ring around (cx, cy) in pixel centres.
  void Disc(double cx, double cy, double r, uint32_t c) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (std::hypot(x - cx, y - cy) <= r) Set(x, y, c);
  }
  void Ring(double cx, double cy, double r, double thickness, uint32_t c) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        double d = std::hypot(x - cx, y - cy);
        if (d <= r && d > r - thickness) Set(x, y, c);
      }
  }
  // Arrow head pointing up (dir -1) or down (dir 1) with its tip at (x, y).
  void Head(int x, int y, int half, int dir, uint32_t c) {
    for (int i = 0; i <= half; ++i) Line(x - i, y - dir * i, x + i, y - dir * i, c);
  }
};

// One toolbar image of 16 x 15 inside a strip: both toolbars draw through it.
constexpr int kCellW = 16, kCellH = 15;
struct Cell {
  Canvas& c;
  int ox;
  void Set(int x, int y, uint32_t v) { c.Set(ox + x, y, v); }
  void Fill(int x0, int y0, int x1, int y1, uint32_t v) { c.Fill(ox + x0, y0, ox + x1, y1, v); }
  void Frame(int x0, int y0, int x1, int y1, uint32_t v) { c.Frame(ox + x0, y0, ox + x1, y1, v); }
  void Line(int x0, int y0, int x1, int y1, uint32_t v) { c.Line(ox + x0, y0, ox + x1, y1, v); }
  void Head(int x, int y, int half, int dir, uint32_t v) { c.Head(ox + x, y, half, dir, v); }
  // Round shapes are drawn apart and copied in, so they stay inside the cell.
  void Ring(double cx, double cy, double r, double t, uint32_t v) {
    Canvas tmp(kCellW, kCellH, 0xFFFFFFFF);
    tmp.Ring(cx, cy, r, t, v);
    Blit(tmp);
  }
  void Disc(double cx, double cy, double r, uint32_t v) {
    Canvas tmp(kCellW, kCellH, 0xFFFFFFFF);
    tmp.Disc(cx, cy, r, v);
    Blit(tmp);
  }
  void Blit(const Canvas& tmp) {
    for (int y = 0; y < kCellH; ++y)
      for (int x = 0; x < kCellW; ++x)
        if (tmp.Get(x, y) != 0xFFFFFFFF) Set(x, y, tmp.Get(x, y));
  }
};

// The toolbars' 16 colours (the classic Windows palette); silver is the
// background the toolbar turns into the button face.
enum : uint32_t {
  Black,
  DarkRed,
  DarkGreen,
  Olive,
  Navy,
  Purple,
  Teal,
  Gray,
  Silver,
  Red,
  Green,
  Yellow,
  Blue,
  Magenta,
  Cyan,
  White
};
inline constexpr uint32_t kPalette[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0x808080,
    0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// --- File writers -------------------------------------------------------------

inline void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

inline bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// A 4- or 8-bit bottom-up BMP of palette indices; the palette's entries are
// 0xRRGGBB (stored as B, G, R, 0).
inline std::vector<uint8_t> BmpIndexed(const Canvas& c, const uint32_t* palette, int colours,
                                       int bits) {
  const uint32_t stride = ((uint32_t(c.width) * uint32_t(bits) + 31) / 32) * 4;
  const uint32_t imageSize = stride * uint32_t(c.height);
  const uint32_t offset = 14 + 40 + uint32_t(colours) * 4;
  std::vector<uint8_t> b;
  b.push_back('B');
  b.push_back('M');
  Put32(b, offset + imageSize);
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, 40);
  Put32(b, uint32_t(c.width));
  Put32(b, uint32_t(c.height));
  Put16(b, 1);
  Put16(b, uint32_t(bits));
  Put32(b, 0);
  Put32(b, imageSize);
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, uint32_t(colours));
  Put32(b, 0);
  for (int i = 0; i < colours; ++i) Put32(b, palette[i]);
  for (int y = c.height - 1; y >= 0; --y) {
    std::vector<uint8_t> row(stride, 0);
    for (int x = 0; x < c.width; ++x) {
      uint32_t v = c.Get(x, y);
      if (bits == 8) {
        row[size_t(x)] = uint8_t(v);
      } else {
        row[size_t(x) / 2] |= (x % 2 == 0) ? uint8_t((v & 0x0F) << 4) : uint8_t(v & 0x0F);
      }
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

// An icon file of 32-bit images with alpha.
std::vector<uint8_t> Ico(const std::vector<Canvas>& images);

// The key emulator's pictures (keyemu_art.cpp): panel.bmp (bitmap 111),
// keys.bmp (bitmap 112), keyemu_toolbar.bmp (bitmap 116), keyemu.ico (139).
bool WriteKeyEmulatorArt(const std::string& dir);

}  // namespace resgen
