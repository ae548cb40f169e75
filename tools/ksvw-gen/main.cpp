// ksvw-gen: writes a believable DT capture file made by the capture builder.
//
//   ksvw-gen --records 393216 --board MDCL --seed 7 -o capture.DT
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "testsupport/capture_builder.h"

namespace {

constexpr const char kUsage[] =
    "usage: ksvw-gen [--records N] [--board MONC|MDCL] [--seed S] -o FILE\n"
    "\n"
    "Writes a DT capture file of N generated records (default 1000) from the\n"
    "given option board (default MDCL: CAN on CH1, LIN on CH2; MONC: CAN on both).\n"
    "The same seed always gives the same file.\n";

bool ParseNumber(const char* text, unsigned long long max, unsigned long long& value) {
  errno = 0;
  char* end = nullptr;
  value = std::strtoull(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && text[0] != '-' && value <= max;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long records = 1000;
  unsigned long long seed = 1;
  uint32_t tag = ksvw::kTagMdcl;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--records" && hasValue) {
      // The record count is a signed 32-bit index, and a chunk length is 32-bit.
      if (!ParseNumber(argv[++i], 0xFFFFFFFFull / ksvw::kRecordSize, records)) {
        std::fprintf(stderr, "ksvw-gen: bad record count '%s'\n", argv[i]);
        return 2;
      }
    } else if (arg == "--seed" && hasValue) {
      if (!ParseNumber(argv[++i], ~0ull, seed)) {
        std::fprintf(stderr, "ksvw-gen: bad seed '%s'\n", argv[i]);
        return 2;
      }
    } else if (arg == "--board" && hasValue) {
      std::string board = argv[++i];
      if (board == "MONC") {
        tag = ksvw::kTagMonc;
      } else if (board == "MDCL") {
        tag = ksvw::kTagMdcl;
      } else {
        std::fprintf(stderr, "ksvw-gen: board must be MONC or MDCL, not '%s'\n", board.c_str());
        return 2;
      }
    } else if (arg == "-o" && hasValue) {
      output = argv[++i];
    } else {
      std::fprintf(stderr, "ksvw-gen: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (!output) {
    std::fprintf(stderr, "ksvw-gen: no output file (-o FILE)\n%s", kUsage);
    return 2;
  }
  auto file = ksvw::build::GenerateCapture(static_cast<uint32_t>(records), tag, seed);
  if (!ksvw::build::WriteFile(output, file)) {
    std::fprintf(stderr, "ksvw-gen: cannot write '%s': %s\n", output, std::strerror(errno));
    return 3;
  }
  return 0;
}
