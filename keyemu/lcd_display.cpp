#include "keyemu/lcd_display.h"

#include <cstddef>

namespace ksvw::keyemu {

const Rgb kLcdPalette[4] = {
    {156, 206, 106},  // background
    {107, 165, 85},   // shadow
    {52, 69, 35},     // dark pixel
    {52, 69, 35},     // dark pixel on shadow
};

void LcdDisplay::SetImage(const uint8_t* screen) {
  pixels_.fill(0);
  for (int y = 0; y < kScreenHeight; ++y) {
    const uint8_t* row = screen + y * kScreenStride;
    for (int x = 0; x < kScreenWidth; ++x) {
      if (!(row[x / 8] & (0x80 >> (x % 8)))) continue;
      pixels_[size_t(2 * y) * kDisplayStride + x] = 0x22;
      pixels_[size_t(2 * y + 1) * kDisplayStride + x] = 0x22;
    }
  }
  // Shadow one screen pixel right and down. Only dark bits (0x22) cast it,
  // and a byte it lands on is two rows further, so the pass order is free.
  for (int row = 0; row < 2 * kScreenHeight; ++row) {
    for (int column = 0; column < kScreenWidth; ++column) {
      if (pixels_[size_t(row) * kDisplayStride + column] & 0x22)
        pixels_[size_t(row + 2) * kDisplayStride + column + 1] |= 0x11;
    }
  }
}

uint8_t LcdDisplay::DisplayPixel(int x, int y) const {
  uint8_t byte = pixels_[size_t(y) * kDisplayStride + size_t(x / 2)];
  return (x % 2) ? (byte & 0x0F) : (byte >> 4);
}

bool LcdDisplay::Dark(int x, int y) const {
  uint8_t v = DisplayPixel(2 * x + 1, 2 * y);
  return v == kLcdDark || v == kLcdDarkOnShadow;
}

bool LcdDisplay::Shadow(int x, int y) const {
  return DisplayPixel(2 * x + 1, 2 * y) == kLcdShadow;
}

}  // namespace ksvw::keyemu
