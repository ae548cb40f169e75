#include "keyemu/screen_image.h"

#include <cstdio>
#include <cstring>

namespace ksvw::keyemu {

namespace {

constexpr int32_t kPixelsPerMetre = 3800;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

// Rows are stored bottom row first; (x, y) has y growing downwards.
struct Raster {
  uint8_t* pixels;
  int bitsPerPixel;
  int stride;
  void Set(int x, int y, uint8_t value) {
    uint8_t* row = pixels + size_t(kImageHeight - 1 - y) * stride;
    if (bitsPerPixel == 1) {
      uint8_t bit = uint8_t(0x80 >> (x % 8));
      row[x / 8] = value ? (row[x / 8] | bit) : (row[x / 8] & ~bit);
    } else {
      uint8_t& b = row[x / 2];
      b = (x % 2) ? uint8_t((b & 0xF0) | value) : uint8_t((b & 0x0F) | (value << 4));
    }
  }
  uint8_t Get(int x, int y) const {
    const uint8_t* row = pixels + size_t(kImageHeight - 1 - y) * stride;
    if (bitsPerPixel == 1) return (row[x / 8] >> (7 - x % 8)) & 1;
    return (x % 2) ? (row[x / 2] & 0x0F) : (row[x / 2] >> 4);
  }
  void Fill(int x0, int y0, int x1, int y1, uint8_t value) {  // inclusive
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) Set(x, y, value);
  }
};

void WriteHeader(uint8_t* b, bool colour) {
  Put32(b + 0, 40);
  Put32(b + 4, kImageWidth);
  Put32(b + 8, kImageHeight);
  Put16(b + 12, 1);
  Put16(b + 14, colour ? 4 : 1);
  Put32(b + 16, 0);
  Put32(b + 20, colour ? 10240 : 2560);
  Put32(b + 24, kPixelsPerMetre);
  Put32(b + 28, kPixelsPerMetre);
  Put32(b + 32, colour ? 4 : 2);
  Put32(b + 36, 0);
  uint8_t* table = b + 40;
  if (colour) {
    const Rgb surround{237, 237, 242};
    const Rgb colours[4] = {kLcdPalette[0], kLcdPalette[1], kLcdPalette[2], surround};
    for (const Rgb& c : colours) {
      table[0] = c.blue, table[1] = c.green, table[2] = c.red, table[3] = 0;
      table += 4;
    }
  } else {
    table[0] = table[1] = table[2] = 255;  // colour 0 white, colour 1 black (zeroed)
  }
}

// The bevelled frame: surround, two-pixel outline and inner shadow at the
// top and left, one pixel at the bottom and right.
void ColourFrame(Raster& r) {
  r.Fill(0, 0, 255, 1, 3);
  r.Fill(0, 78, 255, 79, 3);
  r.Fill(0, 0, 1, 79, 3);
  r.Fill(254, 0, 255, 79, 3);
  r.Fill(2, 2, 253, 3, 2);
  r.Fill(2, 77, 253, 77, 2);
  r.Fill(2, 2, 3, 77, 2);
  r.Fill(253, 2, 253, 77, 2);
  r.Fill(4, 4, 252, 5, 1);
  r.Fill(4, 76, 252, 76, 1);
  r.Fill(4, 4, 5, 76, 1);
  r.Fill(252, 4, 252, 76, 1);
}

void MonochromeFrame(Raster& r) {
  r.Fill(6, 6, 249, 6, 1);
  r.Fill(6, 73, 249, 73, 1);
  r.Fill(6, 6, 6, 73, 1);
  r.Fill(249, 6, 249, 73, 1);
}

}  // namespace

uint32_t ImageFlagsForMode(int32_t imageMode) {
  if (imageMode == 1) return kImageFrame;
  if (imageMode == 2) return kImageFrame | kImageColour;
  return 0;
}

uint32_t ScreenImageBuilder(const LcdDisplay& lcd, uint32_t flags, uint8_t* buffer,
                            uint32_t capacity) {
  const bool colour = (flags & kImageColour) != 0;
  const uint32_t size = colour ? kColourImageBytes : kMonochromeImageBytes;
  if (!buffer || capacity < size) return size;
  std::memset(buffer, 0, capacity);
  WriteHeader(buffer, colour);
  const uint32_t offset = colour ? kColourPixelOffset : kMonochromePixelOffset;
  Raster r{buffer + offset, colour ? 4 : 1, colour ? 128 : 32};
  if ((flags & kImageFrame) && !colour) MonochromeFrame(r);
  for (int y = kScreenHeight - 1; y >= 0; --y) {
    for (int x = 0; x < kScreenWidth; ++x) {
      uint8_t v = 0;
      if (lcd.Dark(x, y)) {
        v = colour ? kLcdDark : 1;
      } else if (colour && lcd.Shadow(x, y)) {
        v = kLcdShadow;
      }
      if (v) r.Set(kImageScreenOrigin + x, kImageScreenOrigin + y, v);
    }
  }
  if ((flags & kImageFrame) && colour) ColourFrame(r);
  return offset;
}

void WriteBmpFileHeader(uint8_t* out, uint32_t imageBytes, uint32_t pixelOffset) {
  out[0] = 'B';
  out[1] = 'M';
  Put32(out + 2, imageBytes + kBmpFileHeaderBytes);
  Put32(out + 6, 0);
  Put32(out + 10, pixelOffset + kBmpFileHeaderBytes);
}

std::vector<uint8_t> BuildScreenBmp(const LcdDisplay& lcd, int32_t imageMode) {
  const uint32_t flags = ImageFlagsForMode(imageMode);
  const uint32_t size = ScreenImageBuilder(lcd, flags, nullptr, 0);
  std::vector<uint8_t> file(kBmpFileHeaderBytes + size);
  const uint32_t offset = ScreenImageBuilder(lcd, flags, file.data() + kBmpFileHeaderBytes, size);
  WriteBmpFileHeader(file.data(), size, offset);
  return file;
}

bool ScreenFromBmp(const std::vector<uint8_t>& file, uint8_t* screen, int32_t* imageMode) {
  for (int32_t mode = 0; mode <= 2; ++mode) {
    const bool colour = mode == 2;
    const uint32_t size = colour ? kColourImageBytes : kMonochromeImageBytes;
    if (file.size() != kBmpFileHeaderBytes + size) continue;
    const uint32_t offset = colour ? kColourPixelOffset : kMonochromePixelOffset;
    // Only read: Get never writes through the pointer.
    const Raster r{const_cast<uint8_t*>(file.data()) + kBmpFileHeaderBytes + offset, colour ? 4 : 1,
                   colour ? 128 : 32};
    std::memset(screen, 0, kScreenBytes);
    for (int y = 0; y < kScreenHeight; ++y) {
      for (int x = 0; x < kScreenWidth; ++x) {
        if (r.Get(kImageScreenOrigin + x, kImageScreenOrigin + y) == (colour ? kLcdDark : 1))
          screen[y * kScreenStride + x / 8] |= uint8_t(0x80 >> (x % 8));
      }
    }
    LcdDisplay lcd;
    lcd.SetImage(screen);
    if (BuildScreenBmp(lcd, mode) == file) {
      *imageMode = mode;
      return true;
    }
  }
  return false;
}

std::string ScreenImageFileName(const ImageTime& t, int n) {
  char name[96];
  int length = std::snprintf(name, sizeof name, "KS%04d%02d%02d%02d%02d%02d", t.year, t.month,
                             t.day, t.hour, t.minute, t.second);
  if (n > 1 && length > 0) std::snprintf(name + length, sizeof name - length, "-%d", n);
  return std::string(name) + ".bmp";
}

}  // namespace ksvw::keyemu
