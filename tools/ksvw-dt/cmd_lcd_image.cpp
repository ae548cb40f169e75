// ksvw-dt lcd-image [--mode 0|1|2] SCREEN [-o OUT.bmp]
//
// Renders a raw 1920-byte analyzer screen (as CopyScreen delivers it) into
// the BMP file the key emulator saves in that image mode, through the same
// builder the program uses.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "keyemu/lcd_display.h"
#include "keyemu/screen_image.h"
#include "tools/ksvw-dt/commands.h"

namespace ksvw::dt {

namespace {

constexpr const char kLcdImageUsage[] =
    "usage: ksvw-dt lcd-image [--mode 0|1|2] SCREEN [-o OUT.bmp]\n"
    "\n"
    "Renders a raw 1920-byte analyzer screen (64 rows of 30 bytes, top row first)\n"
    "into the BMP file the key emulator saves: mode 0 monochrome (default), 1\n"
    "monochrome with a frame, 2 the display's colours with a bevelled frame.\n"
    "The output defaults to SCREEN with its extension replaced by .bmp.\n";

// The screen's bytes; reads one byte past a screen so that a longer file is
// told apart without reading it all. Returns -1 when the file cannot be read.
long ReadScreen(const char* path, uint8_t* screen) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return -1;
  size_t n = std::fread(screen, 1, kScreenBytes + 1, f);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  return failed ? -1 : static_cast<long>(n);
}

std::string DefaultOutput(const std::string& input) {
  size_t slash = input.find_last_of("/\\");
  size_t dot = input.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return input + ".bmp";
  return input.substr(0, dot) + ".bmp";
}

}  // namespace

int RunLcdImage(int argc, char** argv) {
  const char* input = nullptr;
  const char* output = nullptr;
  int mode = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kLcdImageUsage, stdout);
      return kExitOk;
    } else if (std::strcmp(arg, "--mode") == 0 && i + 1 < argc) {
      const char* m = argv[++i];
      if (std::strlen(m) != 1 || m[0] < '0' || m[0] > '2') {
        std::fprintf(stderr, "ksvw-dt: --mode takes 0, 1 or 2\n");
        return kExitUsage;
      }
      mode = m[0] - '0';
    } else if (std::strcmp(arg, "-o") == 0 && i + 1 < argc) {
      output = argv[++i];
    } else if (arg[0] != '-' && !input) {
      input = arg;
    } else {
      std::fputs(kLcdImageUsage, stderr);
      return kExitUsage;
    }
  }
  if (!input) {
    std::fputs(kLcdImageUsage, stderr);
    return kExitUsage;
  }
  uint8_t screen[kScreenBytes + 1];
  long n = ReadScreen(input, screen);
  if (n < 0) {
    std::fprintf(stderr, "ksvw-dt: cannot read '%s'\n", input);
    return kExitNotCapture;
  }
  if (n != static_cast<long>(kScreenBytes)) {
    std::fprintf(stderr, "ksvw-dt: '%s' is not a screen of %u bytes\n", input, kScreenBytes);
    return kExitUsage;
  }
  keyemu::LcdDisplay lcd;
  lcd.SetImage(screen);
  std::vector<uint8_t> bmp = keyemu::BuildScreenBmp(lcd, mode);
  std::string path = output ? output : DefaultOutput(input);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f && std::fwrite(bmp.data(), 1, bmp.size(), f) == bmp.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "ksvw-dt: cannot write '%s'\n", path.c_str());
    if (f) std::remove(path.c_str());
    return kExitIo;
  }
  return kExitOk;
}

}  // namespace ksvw::dt
