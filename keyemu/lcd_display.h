// The key emulator's copy of the analyzer's LCD: the 240 x 64 1-bit screen
// doubled into a 482 x 130 4-bit display bitmap with a drop shadow, in the
// display's three greens. Portable: the Windows LCD window paints Pixels()
// as it is, and the screen image builder asks Dark and Shadow.
#pragma once

#include <array>
#include <cstdint>

#include "common/analyzer.h"

namespace ksvw::keyemu {

inline constexpr int kDisplayWidth = 482;
inline constexpr int kDisplayHeight = 130;
inline constexpr int kDisplayStride = 244;  // 241 bytes of pixels, padded to 4
inline constexpr uint32_t kDisplayBytes = kDisplayStride * kDisplayHeight;  // 31720

// Pixel values of the display bitmap.
inline constexpr uint8_t kLcdBackground = 0;
inline constexpr uint8_t kLcdShadow = 1;
inline constexpr uint8_t kLcdDark = 2;
inline constexpr uint8_t kLcdDarkOnShadow = 3;

struct Rgb {
  uint8_t red, green, blue;
};
// The display palette, by pixel value.
extern const Rgb kLcdPalette[4];

class LcdDisplay {
 public:
  LcdDisplay() { pixels_.fill(0); }

  // Rebuilds the display bitmap from a 1920-byte screen (64 rows of 30
  // bytes, top row first, MSB leftmost, set bit dark).
  void SetImage(const uint8_t* screen);

  // Top row first, two pixels per byte, high nibble left.
  const uint8_t* Pixels() const { return pixels_.data(); }
  uint8_t DisplayPixel(int x, int y) const;

  // Questions about screen pixel (x, y), answered from display pixel
  // (2x + 1, 2y): dark is value 2 or 3, shadow is value 1.
  bool Dark(int x, int y) const;
  bool Shadow(int x, int y) const;

 private:
  std::array<uint8_t, kDisplayBytes> pixels_;
};

}  // namespace ksvw::keyemu
