// What a capture's settings say about one channel, as the texts the
// conversion banner and `ksvw-dt info` print.
#pragma once

#include <cstdint>

#include "capture/capture_settings.h"

namespace ksvw {

struct ChannelSummary {
  bool lin = false;        // LIN only in "MDCL" data with protocol byte 2
  char baudRate[16] = {};  // preset label, formatted rate, or "------"
  // CAN custom timing (preset 0) only:
  bool customTiming = false;
  char baseFrequency[16] = {};
  int pts = 0, pbs1 = 0, pbs2 = 0, sjw = 0;
};

// channel is 0 or 1.
ChannelSummary SummarizeChannel(const CaptureSettings& settings, uint32_t dataTag, int channel);

// The bit rate of channel 0 or 1 as its CAN or LIN settings give it, in
// bits per second: the preset's, the custom timing's or the LIN rate. 0 when
// they give none a bus runs at (no rate, or above 1 Mbit/s for CAN).
int64_t ChannelBitRate(const CaptureSettings& settings, bool lin, int channel);

}  // namespace ksvw
