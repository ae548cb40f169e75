// The LCD image the key emulator saves as a BMP file and puts on the
// clipboard: a 256 x 80 device-independent bitmap (header, colours, pixels)
// rendered from the LCD display, monochrome or in the display's colours,
// with or without a frame. Portable, so the program, ksvw-dt lcd-image and
// the tests make the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "keyemu/lcd_display.h"

namespace ksvw::keyemu {

inline constexpr uint32_t kImageFrame = 0x1;   // draw the frame
inline constexpr uint32_t kImageColour = 0x2;  // the display's colours
inline constexpr int kImageWidth = 256;
inline constexpr int kImageHeight = 80;
inline constexpr int kImageScreenOrigin = 8;  // screen pixel (0, 0) in the image
inline constexpr uint32_t kMonochromeImageBytes = 2608;
inline constexpr uint32_t kColourImageBytes = 10296;
inline constexpr uint32_t kMonochromePixelOffset = 48;
inline constexpr uint32_t kColourPixelOffset = 56;
inline constexpr uint32_t kBmpFileHeaderBytes = 14;

// Image mode 1 draws the frame, mode 2 the frame in colour; 0 and anything
// else give a plain monochrome image.
uint32_t ImageFlagsForMode(int32_t imageMode);

// Without a buffer, or with less capacity than the image needs, returns
// the image's size and writes nothing. Otherwise zeroes `capacity` bytes,
// writes the image and returns its pixel offset.
uint32_t ScreenImageBuilder(const LcdDisplay& lcd, uint32_t flags, uint8_t* buffer,
                            uint32_t capacity);

// The 14-byte BMP file header in front of an image of `imageBytes` whose
// pixels start at `pixelOffset` within it.
void WriteBmpFileHeader(uint8_t* out, uint32_t imageBytes, uint32_t pixelOffset);

// The whole BMP file (file header + image) of an image mode.
std::vector<uint8_t> BuildScreenBmp(const LcdDisplay& lcd, int32_t imageMode);

// The screen (kScreenBytes) and image mode of a whole BMP file. True only
// for a file that BuildScreenBmp makes byte for byte from that screen in
// that mode (an image this program saved), so that no other picture passes
// for a screen.
bool ScreenFromBmp(const std::vector<uint8_t>& file, uint8_t* screen, int32_t* imageMode);

// A saved image's name from the local time: "KSyyyymmddhhmmss.bmp" for the
// first image of a second, "KSyyyymmddhhmmss-N.bmp" for the N-th (N from
// 2), so that no save replaces an earlier one.
struct ImageTime {
  int year, month, day, hour, minute, second;
};
std::string ScreenImageFileName(const ImageTime& time, int n);
// Images of one second that are told apart; one more finds no name.
inline constexpr int kImagesPerSecond = 999;

}  // namespace ksvw::keyemu
