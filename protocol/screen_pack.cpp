#include "protocol/screen_pack.h"

#include <cstring>

namespace ksvw::proto {

void PackScreen(const uint8_t* image, size_t size, std::vector<uint8_t>& out) {
  out.clear();
  size_t i = 0;
  size_t literalStart = 0;
  auto flushLiterals = [&](size_t end) {
    while (literalStart < end) {
      size_t n = end - literalStart < 128 ? end - literalStart : 128;
      out.push_back(static_cast<uint8_t>(n - 1));
      out.insert(out.end(), image + literalStart, image + literalStart + n);
      literalStart += n;
    }
  };
  while (i < size) {
    size_t run = 1;
    while (i + run < size && run < 129 && image[i + run] == image[i]) ++run;
    if (run >= 3 || (run == 2 && literalStart == i)) {
      flushLiterals(i);
      out.push_back(static_cast<uint8_t>(0x80 + run - 2));
      out.push_back(image[i]);
      i += run;
      literalStart = i;
    } else {
      i += run;
    }
  }
  flushLiterals(size);
}

bool UnpackScreen(const uint8_t* packed, size_t packedSize, uint8_t* image, size_t size) {
  size_t in = 0, out = 0;
  while (in < packedSize) {
    uint8_t c = packed[in++];
    if (c < 0x80) {
      size_t n = static_cast<size_t>(c) + 1;
      if (n > packedSize - in || n > size - out) return false;
      std::memcpy(image + out, packed + in, n);
      in += n;
      out += n;
    } else {
      size_t n = static_cast<size_t>(c) - 0x80 + 2;
      if (in >= packedSize || n > size - out) return false;
      std::memset(image + out, packed[in++], n);
      out += n;
    }
  }
  return out == size;
}

}  // namespace ksvw::proto
