// The simulated analyzer's 240 x 64 monochrome LCD and its text font.
//
// The image is the one the analyzer sends: 64 rows of 30 bytes, top row
// first, the most significant bit of a byte the leftmost pixel, a set bit a
// dark pixel. Text uses a 5 x 7 font in 6 x 8 cells, so the screen holds 8
// lines of 40 characters.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/analyzer.h"

namespace ksvw::sim {

inline constexpr int kCellWidth = 6;
inline constexpr int kCellHeight = 8;
inline constexpr int kTextColumns = kScreenWidth / kCellWidth;  // 40
inline constexpr int kTextRows = kScreenHeight / kCellHeight;   // 8

// Five column bytes of the glyph for `c` (bit 0 the top row); characters
// outside 0x20..0x7E draw as '?'.
const uint8_t* Glyph(char c);

class Lcd {
 public:
  Lcd() { Clear(); }

  void Clear() { image_.fill(0); }
  // Pixels outside the screen are ignored.
  void SetPixel(int x, int y, bool dark);
  bool Pixel(int x, int y) const;
  void FillRect(int x, int y, int w, int h, bool dark);
  void Frame(int x, int y, int w, int h);
  // Draws text with its cell's top-left corner at (x, y); `inverse` draws
  // light characters on dark cells.
  void Text(int x, int y, std::string_view text, bool inverse = false);
  // Text on a character line (0..7), starting at a character column.
  void Line(int row, int column, std::string_view text, bool inverse = false) {
    Text(column * kCellWidth, row * kCellHeight, text, inverse);
  }
  // A whole line, padded to 40 characters, dark background.
  void Bar(int row, std::string_view text);

  const uint8_t* Image() const { return image_.data(); }

 private:
  std::array<uint8_t, kScreenBytes> image_;
};

}  // namespace ksvw::sim
