// A zlib stream (RFC 1950) of one deflate block with the fixed codes
// (RFC 1951, 3.2.6), for input made of records that repeat a layout, such
// as a BLF log container's objects: each piece of input is compared byte
// for byte with the bytes a given distance before it, runs of equal bytes
// become copies and the rest literals. Any inflater (zlib, python's zlib
// module, Wireshark) reads it.
//
// Why not zlib's deflate: even at its fastest level its match search takes
// about 300 ns per 56-byte object, several times what the rest of an
// export costs per record. Here nothing is searched: the caller names the
// one distance worth trying (the object before, when it has the same size).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ksvw {

class FixedDeflater {
 public:
  // Farthest a copy may reach back.
  static constexpr size_t kWindow = 32768;

  // Room a stream of n input bytes may take: 9 bits per literal at most,
  // the block's end, the two-byte head and the four-byte checksum.
  static constexpr size_t MaxSize(size_t n) { return n + n / 8 + 16; }

  // Starts a stream at `out`, which has room for MaxSize of its whole input.
  void Start(uint8_t* out);
  // Codes the n bytes at `bytes`, which follow the stream's earlier input in
  // memory. Runs of three or more bytes equal to those `distance` before
  // them (1 to kWindow, within this stream's input) are coded as copies; a
  // distance of 0 codes literals only.
  void Code(const uint8_t* bytes, size_t n, size_t distance);
  // Ends the block and the stream with the Adler-32 checksum of the whole
  // input (the n bytes at `input`); returns the stream's size in bytes.
  size_t Finish(const uint8_t* input, size_t n);

 private:
  void Put(uint32_t bits, int count) {
    bits_ |= static_cast<uint64_t>(bits) << count_;
    count_ += count;
    if (count_ >= 32) Spill();
  }
  void Spill();
  void Literals(const uint8_t* bytes, size_t n);
  void Copy(size_t length);  // at distance_
  // Codes the `run` equal bytes before `end`: a copy, or literals when too few.
  void EndRun(const uint8_t* end, size_t run);

  uint8_t* start_ = nullptr;
  uint8_t* out_ = nullptr;
  uint64_t bits_ = 0;  // not yet stored, the first in the low bits
  int count_ = 0;
  size_t distance_ = 0;  // of the last copies, and its code
  uint32_t distanceBits_ = 0;
  int distanceCount_ = 0;
};

// Adler-32 of n bytes (RFC 1950), as zlib's adler32(1, bytes, n).
uint32_t Adler32(const uint8_t* bytes, size_t n);

}  // namespace ksvw
