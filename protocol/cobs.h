// Consistent Overhead Byte Stuffing: rewrites a block so that it contains no
// 0x00 byte, which then marks frame ends on the wire. The cost is at most one
// byte per 254 bytes of data plus one, so a serial link keeps more than 99%
// of its line rate for payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ksvw::proto {

// Largest encoded size of `size` bytes (without the 0x00 delimiter).
constexpr size_t CobsMaxEncodedSize(size_t size) {
  return size + size / 254 + 1;
}

// Appends the encoding of `size` bytes to `out` (no delimiter).
void CobsEncode(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

// Decodes one encoded block (no delimiter) into `out` (cleared first). False
// when the block holds a 0x00, or a code byte points past its end.
bool CobsDecode(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

}  // namespace ksvw::proto
