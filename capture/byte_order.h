// Little-endian loads and stores on raw bytes.
//
// Capture files and the settings image are little-endian byte layouts that may
// sit at any alignment inside a file image, so fields are read through memcpy
// (one plain load on x86) rather than through typed pointers.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace ksvw {

static_assert(std::endian::native == std::endian::little,
              "the capture core reads little-endian layouts in place");

inline uint16_t LoadLE16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint32_t LoadLE32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void StoreLE16(uint8_t* p, uint16_t v) {
  std::memcpy(p, &v, sizeof v);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace ksvw
