// Run-length packing of LCD images for the link: a text screen is mostly
// runs of 0x00 (and 0xFF in inverse bars), so it packs to a fraction of its
// 1920 bytes, which keeps a key press's new screen quick on a serial line.
//
// Packed form: a sequence of runs, each a control byte c followed by
//   c < 0x80:  c + 1 literal bytes
//   c >= 0x80: one byte, repeated c - 0x80 + 2 times (2 .. 129)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ksvw::proto {

void PackScreen(const uint8_t* image, size_t size, std::vector<uint8_t>& out);
// Unpacks into exactly `size` bytes; false when the packed form is broken or
// does not give exactly that many bytes.
bool UnpackScreen(const uint8_t* packed, size_t packedSize, uint8_t* image, size_t size);

}  // namespace ksvw::proto
