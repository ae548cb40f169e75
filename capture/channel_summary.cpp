#include "capture/channel_summary.h"

#include <cstring>

#include "capture/capture_record.h"

namespace ksvw {

namespace {

void CopyText(char (&out)[16], const char* text) {
  std::strncpy(out, text, sizeof out - 1);
  out[sizeof out - 1] = '\0';
}

}  // namespace

ChannelSummary SummarizeChannel(const CaptureSettings& settings, uint32_t dataTag, int channel) {
  ChannelSummary summary;
  // The CAN-only board has no LIN channels, whatever the protocol bytes say.
  summary.lin = settings.protocol(channel) == 2 && dataTag != kTagMonc;
  if (summary.lin) {
    FormatTenths(settings.lin(channel).bitRate(), summary.baudRate);
    return summary;
  }
  CanChannelSettings can = settings.can(channel);
  if (can.preset() != 0) {
    // Presets above 8 have no label; they show as an empty rate.
    const char* label = CanPresetLabel(can.preset());
    CopyText(summary.baudRate, label ? label : "");
    return summary;
  }
  summary.customTiming = true;
  int32_t rate = ComputeCanBitRate(can);
  // A rate above 1 Mbit/s cannot be on the bus, and a damaged timing whose
  // divisor is not positive has no rate at all: both show dashes.
  if (rate < 0 || rate > 10000000) {
    CopyText(summary.baudRate, "------");
  } else {
    FormatRate(rate, summary.baudRate);
  }
  FormatTenths(can.baseFrequency(), summary.baseFrequency);
  summary.pts = can.pts();
  summary.pbs1 = can.pbs1();
  summary.pbs2 = can.pbs2();
  summary.sjw = can.sjw();
  return summary;
}

int64_t ChannelBitRate(const CaptureSettings& settings, bool lin, int channel) {
  // The presets "33.3k" to "1M" in tenths of a bit per second.
  static constexpr int32_t kPresets[] = {333333,  500000,  833333,  1000000,
                                         1250000, 2500000, 5000000, 10000000};
  int32_t tenths = 0;
  if (lin) {
    tenths = settings.lin(channel).bitRate();
  } else if (CanChannelSettings can = settings.can(channel); can.preset() == 0) {
    tenths = ComputeCanBitRate(can);
    if (tenths > 10000000) tenths = 0;
  } else if (can.preset() <= 8) {
    tenths = kPresets[can.preset() - 1];
  }
  return tenths > 0 ? (static_cast<int64_t>(tenths) + 5) / 10 : 0;
}

}  // namespace ksvw
