// ksvw-gen: writes a believable DT capture file made by the capture builder,
// or the DT capture of a real candump log.
//
//   ksvw-gen --records 393216 --board MDCL --seed 7 -o capture.DT
//   ksvw-gen --from-candump traffic.log [-o traffic.DT]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "testsupport/capture_builder.h"
#include "tools/ksvw-gen/from_candump.h"

namespace {

constexpr const char kUsage[] =
    "usage: ksvw-gen [--records N] [--board MONC|MDCL] [--seed S] -o FILE\n"
    "       ksvw-gen --from-candump LOG [-o FILE]\n"
    "\n"
    "Writes a DT capture file of N generated records (default 1000) from the\n"
    "given option board (default MDCL: CAN on CH1, LIN on CH2; MONC: CAN on both).\n"
    "The same seed always gives the same file.\n"
    "\n"
    "With --from-candump, writes the CAN frames of a candump log as a \"MONC\"\n"
    "capture (default output: LOG with the extension .DT). The log's interfaces in\n"
    "sorted order are CH1 and CH2 (can0 and can1 stay can0 and can1 through\n"
    "ksvw-dt export); times count from the first frame, rounded to 0.2 ms, and\n"
    "wrap every hour as DT times do. CAN FD frames, error frames and the frames of\n"
    "a third interface are left out and counted.\n";

int FromCandump(const char* log, const char* output) {
  std::FILE* file = std::fopen(log, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "ksvw-gen: cannot open '%s': %s\n", log, std::strerror(errno));
    return 1;
  }
  ksvw::gen::CandumpImport import;
  bool ok = ksvw::gen::ReadCandumpLog(file, import);
  std::fclose(file);
  if (!ok) {
    std::fprintf(stderr, "ksvw-gen: '%s' %s\n", log, import.error.c_str());
    return 1;
  }
  if (import.leftOutFd + import.leftOutErrors + import.leftOutInterfaces != 0) {
    std::fprintf(stderr,
                 "ksvw-gen: left out %lld CAN FD frame(s), %lld error frame(s) and %lld "
                 "frame(s) of a third interface\n",
                 static_cast<long long>(import.leftOutFd),
                 static_cast<long long>(import.leftOutErrors),
                 static_cast<long long>(import.leftOutInterfaces));
  }
  if (import.timeFaults != 0) {
    std::fprintf(stderr,
                 "ksvw-gen: %lld frame(s) come before the frame above them or an hour or more "
                 "after it; DT times cannot show that\n",
                 static_cast<long long>(import.timeFaults));
  }
  std::string path = output != nullptr ? output : std::string(log);
  if (output == nullptr) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
      path.resize(dot);
    path += ".DT";
  }
  auto bytes = ksvw::build::CaptureFileBuilder().Data(ksvw::kTagMonc, import.records).Build();
  if (!ksvw::build::WriteFile(path, bytes)) {
    std::fprintf(stderr, "ksvw-gen: cannot write '%s': %s\n", path.c_str(), std::strerror(errno));
    return 3;
  }
  return 0;
}

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
  const char* candumpLog = nullptr;
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
    } else if (arg == "--from-candump" && hasValue) {
      candumpLog = argv[++i];
    } else if (arg == "-o" && hasValue) {
      output = argv[++i];
    } else {
      std::fprintf(stderr, "ksvw-gen: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (candumpLog != nullptr) return FromCandump(candumpLog, output);
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
