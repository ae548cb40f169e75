// Little-endian field access and a bounds-checked reader for message bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ksvw::proto {

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Reads fields in order; any read past the end sets the failed state and
// yields zeros, so a short body can never be read beyond its end.
class BodyReader {
 public:
  BodyReader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
  uint16_t U16() { return Take(2) ? GetU16(last_) : 0; }
  uint32_t U32() { return Take(4) ? GetU32(last_) : 0; }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  // The next n bytes in place (null when they are not there).
  const uint8_t* Bytes(size_t n) { return Take(n) ? last_ : nullptr; }
  // Everything not yet read.
  const uint8_t* Rest(size_t& n) {
    n = left_;
    const uint8_t* r = p_;
    p_ += left_;
    left_ = 0;
    return r;
  }
  bool Ok() const { return ok_; }
  // The whole body was read, no more and no less.
  bool Done() const { return ok_ && left_ == 0; }

 private:
  bool Take(size_t n) {
    if (!ok_ || n > left_) {
      ok_ = false;
      return false;
    }
    last_ = p_;
    p_ += n;
    left_ -= n;
    return true;
  }
  const uint8_t* p_;
  const uint8_t* last_ = nullptr;
  size_t left_;
  bool ok_ = true;
};

// Appends fields to a body.
class BodyWriter {
 public:
  explicit BodyWriter(std::vector<uint8_t>& out) : out_(out) { out_.clear(); }
  BodyWriter& U16(uint16_t v) {
    uint8_t b[2];
    PutU16(b, v);
    out_.insert(out_.end(), b, b + 2);
    return *this;
  }
  BodyWriter& U32(uint32_t v) {
    uint8_t b[4];
    PutU32(b, v);
    out_.insert(out_.end(), b, b + 4);
    return *this;
  }
  BodyWriter& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  BodyWriter& Bytes(const uint8_t* p, size_t n) {
    out_.insert(out_.end(), p, p + n);
    return *this;
  }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace ksvw::proto
