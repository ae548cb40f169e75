#include "protocol/cobs.h"

#include <cstring>

namespace ksvw::proto {

void CobsEncode(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  size_t base = out.size();
  out.resize(base + CobsMaxEncodedSize(size));
  uint8_t* dst = out.data() + base;
  uint8_t* code = dst++;  // code byte of the block being written
  uint8_t run = 1;
  const uint8_t* end = data + size;
  while (data < end) {
    // Copy a stretch of non-zero bytes at once, up to the block limit.
    size_t room = static_cast<size_t>(0xFF - run);
    size_t avail = static_cast<size_t>(end - data);
    size_t span = avail < room ? avail : room;
    const void* zero = std::memchr(data, 0, span);
    size_t n = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : span;
    std::memcpy(dst, data, n);
    dst += n;
    data += n;
    run = static_cast<uint8_t>(run + n);
    if (zero) {
      *code = run;
      code = dst++;
      run = 1;
      ++data;
    } else if (run == 0xFF && data < end) {
      // A full block with more to come; a full block at the very end needs
      // no empty block after it.
      *code = run;
      code = dst++;
      run = 1;
    }
  }
  *code = run;
  out.resize(static_cast<size_t>(dst - out.data()));
}

bool CobsDecode(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  out.clear();
  out.reserve(size);
  size_t i = 0;
  while (i < size) {
    uint8_t c = data[i++];
    if (c == 0) return false;
    size_t n = static_cast<size_t>(c) - 1;
    if (n > size - i) return false;
    if (std::memchr(data + i, 0, n)) return false;
    out.insert(out.end(), data + i, data + i + n);
    i += n;
    if (c != 0xFF && i < size) out.push_back(0);
  }
  return true;
}

}  // namespace ksvw::proto
