// Little-endian loads and stores on raw bytes.
//
// Capture files, the settings image and the link protocol's frames and
// message bodies are little-endian byte layouts that may sit at any alignment, so fields are read
// through memcpy (one plain load on x86) rather than through typed pointers.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace ksvw {

static_assert(std::endian::native == std::endian::little,
              "capture files and link frames are read as little-endian layouts in place");

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
inline uint64_t LoadLE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void StoreLE16(uint8_t* p, uint16_t v) {
  std::memcpy(p, &v, sizeof v);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, sizeof v);
}
inline void StoreLE64(uint8_t* p, uint64_t v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace ksvw
