// What the program, the remote library, the link protocol and the simulated
// analyzer agree on about the analyzer: its LCD, the transfer sections of its
// capture memory, its status flags and its front-panel monitoring.
#pragma once

#include <cstdint>

namespace ksvw {

// LCD screen: 240 x 64 pixels, 1 bit per pixel, rows of 30 bytes, top row
// first, the most significant bit the leftmost pixel, a set bit dark.
inline constexpr int kScreenWidth = 240;
inline constexpr int kScreenHeight = 64;
inline constexpr int kScreenStride = kScreenWidth / 8;
inline constexpr uint32_t kScreenBytes = kScreenStride * kScreenHeight;  // 1920

// Transfer sections of the capture memory, in the order the program
// requests them (0x8100, 0x8102, 0x8101, 0x8103), and the most bytes each
// may deliver.
//   0x8100  everything between the DT file's magic and its data chunk
//   0x8102  the data chunk's 8-byte header (tag and body length)
//   0x8101  the data chunk's body (the frame records)
//   0x8103  everything after the data chunk
inline constexpr int32_t kSectionHead = 0x8100;
inline constexpr int32_t kSectionData = 0x8101;
inline constexpr int32_t kSectionDataHeader = 0x8102;
inline constexpr int32_t kSectionTail = 0x8103;
inline constexpr int32_t kSectionLimitSmall = 0x10000;
inline constexpr int32_t kSectionLimitData = 0xC00000;  // the 12 MiB capture memory

// Status flag: a measurement runs, so the capture memory cannot be downloaded.
inline constexpr uint32_t kStatusMeasuring = 0x100;

// Front-panel monitoring: the interval (ms) that starts it while the key
// emulator shows a connected analyzer, and the value that stops it.
inline constexpr int32_t kMonitorStart = 300;
inline constexpr int32_t kMonitorStop = -1;

}  // namespace ksvw
