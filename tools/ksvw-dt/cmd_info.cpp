// ksvw-dt info FILE
//
// Prints what the capture is, as key: value lines, e.g.
//   board: XP-RT4QX
//   tag: MDCL
//   records: 393216
//   ch1: CAN baudrate=500k
//   ch2: LIN baudrate=19200
#include <cstdio>
#include <cstring>

#include "capture/capture_reader.h"
#include "capture/channel_summary.h"
#include "tools/ksvw-dt/commands.h"

namespace ksvw::dt {

namespace {

constexpr const char kInfoUsage[] =
    "usage: ksvw-dt info FILE\n"
    "\n"
    "Prints the option board, data tag, record count and each channel's protocol\n"
    "and bit timing of a DT capture file, as 'key: value' lines.\n";

void PrintTag(uint32_t tag) {
  char text[5];
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>(tag >> (8 * i));
    text[i] = c >= 0x20 && c < 0x7F ? c : '?';
  }
  text[4] = '\0';
  std::printf("tag: %s\n", text);
}

void PrintChannel(const CaptureReader& reader, int channel) {
  ChannelSummary s = SummarizeChannel(reader.Settings(), reader.DataTag(), channel);
  std::printf("ch%d: %s baudrate=%s", channel + 1, s.lin ? "LIN" : "CAN", s.baudRate);
  if (s.customTiming) {
    std::printf(" basefreq=%s pts=%d pbs1=%d pbs2=%d sjw=%d", s.baseFrequency, s.pts, s.pbs1,
                s.pbs2, s.sjw);
  }
  std::printf("\n");
}

}  // namespace

int RunInfo(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kInfoUsage, stdout);
    return kExitOk;
  }
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs(kInfoUsage, stderr);
    return kExitUsage;
  }
  const char* path = argv[1];
  const CaptureReader* loaded = LoadCapture(path, kReaderOpenedFile);
  if (loaded == nullptr) return kExitNotCapture;
  const CaptureReader& reader = *loaded;
  std::printf("board: %s\n", BoardLabel(reader.DataTag()));
  PrintTag(reader.DataTag());
  std::printf("records: %d\n", reader.RecordCount());
  PrintChannel(reader, 0);
  PrintChannel(reader, 1);
  ReleaseCaptureImage(kReaderOpenedFile);
  return kExitOk;
}

}  // namespace ksvw::dt
