// A bounds-checked reader and a writer for message bodies (little-endian
// fields, through the one set of helpers the capture files use too).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/byte_order.h"

namespace ksvw::proto {

// Reads fields in order; any read past the end sets the failed state and
// yields zeros, so a short body can never be read beyond its end.
class BodyReader {
 public:
  BodyReader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
  uint16_t U16() { return Take(2) ? LoadLE16(last_) : 0; }
  uint32_t U32() { return Take(4) ? LoadLE32(last_) : 0; }
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
    StoreLE16(b, v);
    out_.insert(out_.end(), b, b + 2);
    return *this;
  }
  BodyWriter& U32(uint32_t v) {
    uint8_t b[4];
    StoreLE32(b, v);
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
