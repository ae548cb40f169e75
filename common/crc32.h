// CRC-32 (the IEEE 802.3 polynomial, reflected, initial value and final XOR
// 0xFFFFFFFF) over frame headers and payloads. It detects every error burst
// of up to 32 bits, so any single flipped bit on a serial line is caught.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ksvw {

// CRC of `size` bytes, continuing from `crc` (pass 0 to start).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

}  // namespace ksvw
