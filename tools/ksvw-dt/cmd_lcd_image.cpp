// ksvw-dt lcd-image [--mode 0|1|2] SCREEN [-o OUT.bmp]
//
// Renders a raw 1920-byte analyzer screen (as CopyScreen delivers it) into
// the BMP file the key emulator saves in that image mode, through the same
// builder the program uses.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/output_file.h"
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
    "The output defaults to SCREEN with its extension replaced by .bmp; an\n"
    "existing one is replaced once the new image is whole.\n"
    "\n"
    "Exit status: 0 written; 1 SCREEN cannot be read or is not a screen of 1920\n"
    "bytes; 2 usage error; 3 the output could not be written (the file it would\n"
    "replace is kept as it was) or would overwrite SCREEN.\n";

// The screen's bytes; reads one byte past a screen so that a longer file is
// told apart without reading it all. Returns -1 (errno set) when the file
// cannot be read.
long ReadScreen(const char* path, uint8_t* screen) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return -1;
  size_t n = std::fread(screen, 1, kScreenBytes + 1, f);
  // A directory opens on POSIX systems and fails here (EISDIR).
  const int error = std::ferror(f) == 0 ? 0 : errno != 0 ? errno : EIO;
  std::fclose(f);
  errno = error;
  return error != 0 ? -1 : static_cast<long>(n);
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
    std::fprintf(stderr, "ksvw-dt: cannot read '%s': %s\n", input, std::strerror(errno));
    return kExitNotCapture;
  }
  if (n != static_cast<long>(kScreenBytes)) {
    std::fprintf(stderr, "ksvw-dt: '%s' is not a screen of %u bytes\n", input, kScreenBytes);
    return kExitNotCapture;
  }
  std::string path = output ? output : DefaultOutput(input);
  if (WouldOverwrite(path, input)) {
    std::fprintf(stderr, "ksvw-dt: '%s': the output would overwrite its source\n", input);
    return kExitIo;
  }
  keyemu::LcdDisplay lcd;
  lcd.SetImage(screen);
  std::vector<uint8_t> bmp = keyemu::BuildScreenBmp(lcd, mode);
  if (int error = WriteOutputFile(path, bmp.data(), bmp.size())) {
    std::fprintf(stderr, "ksvw-dt: cannot write '%s': %s (nothing was replaced)\n", path.c_str(),
                 OutputErrorText(error).c_str());
    return kExitIo;
  }
  return kExitOk;
}

}  // namespace ksvw::dt
