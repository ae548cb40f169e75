// ksvw-gen: writes a believable DT capture file made by the capture builder,
// or the DT capture of a real candump log.
//
//   ksvw-gen --records 393216 --board MDCL --seed 7 -o capture.DT
//   ksvw-gen --from-candump traffic.log [-o traffic.DT]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/output_file.h"
#include "convert/output_writer.h"
#include "sim/capture_sections.h"
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
    "a third interface are left out and counted, as are lines that are no frame\n"
    "(blank lines and lines starting with # are comments). A log without a frame\n"
    "is refused. An existing output is replaced once the new file is whole.\n"
    "\n"
    "Exit status: 0 written; 1 the log cannot be read or holds no frame; 2 usage\n"
    "error; 3 the output cannot be written (the file it would replace is kept as\n"
    "it was), would overwrite the log, or memory ran out.\n";

constexpr int64_t kAnalyzerRecords = ksvw::kSectionLimitData / ksvw::kRecordSize;

std::string DefaultCaptureName(const char* log) {
  std::string path = log;
  size_t dot = path.rfind('.');
  size_t slash = path.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) path.resize(dot);
  return path + ".DT";
}

void ReportImport(const char* log, const ksvw::gen::CandumpImport& in) {
  auto n = [](int64_t v) { return static_cast<long long>(v); };
  if (in.badLines != 0) {
    std::fprintf(stderr,
                 "ksvw-gen: '%s': %lld line(s) are no candump -l frame and were left out; the "
                 "first, line %lld (%s): %s\n",
                 log, n(in.badLines), n(in.firstBadLine), in.firstBadReason,
                 in.firstBadText.c_str());
  }
  if (in.leftOutFd + in.leftOutErrors + in.leftOutInterfaces != 0) {
    std::fprintf(stderr,
                 "ksvw-gen: '%s': left out %lld CAN FD frame(s), %lld error frame(s) and %lld "
                 "frame(s) of a third interface (or one past the 64th)\n",
                 log, n(in.leftOutFd), n(in.leftOutErrors), n(in.leftOutInterfaces));
  }
  if (in.backwardSteps != 0) {
    std::fprintf(stderr,
                 "ksvw-gen: '%s': %lld frame(s) come before the frame above them; DT times "
                 "keep them, but one earlier than the first frame shows the first frame's time\n",
                 log, n(in.backwardSteps));
  }
  if (in.longGaps != 0) {
    std::fprintf(stderr,
                 "ksvw-gen: '%s': %lld frame(s) come an hour or more after the frame above "
                 "them; DT times wrap every hour and cannot show that\n",
                 log, n(in.longGaps));
  }
}

int FromCandump(const char* log, const char* output) {
  const std::string path = output != nullptr ? output : DefaultCaptureName(log);
  if (ksvw::WouldOverwrite(path, log)) {
    std::fprintf(stderr, "ksvw-gen: the output '%s' would overwrite the log '%s'\n", path.c_str(),
                 log);
    return 3;
  }
  std::FILE* file = std::fopen(log, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "ksvw-gen: cannot open '%s': %s\n", log, std::strerror(errno));
    return 1;
  }
  // Opened first, so that an output that cannot be written is said before
  // a long log is read; the old file stays until the new one is whole.
  ksvw::OutputWriter out;
  if (out.OpenOutput(path.c_str()) == 0) {
    std::fclose(file);
    std::fprintf(stderr, "ksvw-gen: cannot create '%s': %s\n", path.c_str(),
                 ksvw::OutputErrorText(out.Error()).c_str());
    return 3;
  }
  ksvw::gen::CandumpImport in;
  bool ok = false;
  try {
    ok = ksvw::gen::ReadCandumpLog(file, in);
  } catch (const std::bad_alloc&) {
    std::fclose(file);
    std::fprintf(stderr, "ksvw-gen: out of memory reading '%s'; '%s' was not written\n", log,
                 path.c_str());
    return 3;
  }
  std::fclose(file);
  if (!ok) {
    std::fprintf(stderr, "ksvw-gen: '%s': %s\n", log, in.error.c_str());
    return 1;
  }
  const int64_t records = ksvw::gen::CaptureRecordCount(in);
  if (records == 0) {
    ReportImport(log, in);
    std::fprintf(stderr,
                 "ksvw-gen: '%s' holds no CAN frame for a capture; expected candump -l lines "
                 "such as '(1700000000.000100) can0 123#11223344'\n",
                 log);
    return 1;
  }
  if (records > kAnalyzerRecords) {
    std::fprintf(stderr,
                 "ksvw-gen: warning: %lld records are more than the analyzer's 12 MiB capture "
                 "memory holds (%lld); ksvw-sim --capture will refuse '%s'\n",
                 static_cast<long long>(records), static_cast<long long>(kAnalyzerRecords),
                 path.c_str());
  }
  ksvw::gen::WriteCandumpCapture(in, out);
  ReportImport(log, in);
  if (out.CloseOutput() != 0) {
    std::fprintf(stderr, "ksvw-gen: cannot write '%s': %s (nothing was replaced)\n", path.c_str(),
                 ksvw::OutputErrorText(out.Error()).c_str());
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
  std::vector<uint8_t> file;
  try {
    file = ksvw::build::GenerateCapture(static_cast<uint32_t>(records), tag, seed);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "ksvw-gen: out of memory making '%s'; it was not written\n", output);
    return 3;
  }
  if (int error = ksvw::WriteOutputFile(output, file.data(), file.size())) {
    std::fprintf(stderr, "ksvw-gen: cannot write '%s': %s (nothing was replaced)\n", output,
                 ksvw::OutputErrorText(error).c_str());
    return 3;
  }
  return 0;
}
