#include "convert/fixed_deflate.h"

#include <array>
#include <bit>

#include "common/byte_order.h"

namespace ksvw {

namespace {

// A code as the bit writer stores it: Huffman codes go out most significant
// bit first, so they are kept reversed; extra bits follow as they are.
struct Codeword {
  uint32_t bits = 0;
  uint8_t count = 0;
};

constexpr uint32_t Reversed(uint32_t code, int count) {
  uint32_t r = 0;
  for (int i = 0; i < count; ++i, code >>= 1) r = r << 1 | (code & 1);
  return r;
}

// The fixed literal/length codes 0 to 287.
constexpr std::array<Codeword, 288> kSymbols = [] {
  std::array<Codeword, 288> t{};
  for (uint32_t v = 0; v < 288; ++v) {
    if (v < 144)
      t[v] = {Reversed(0x30 + v, 8), 8};
    else if (v < 256)
      t[v] = {Reversed(0x190 + v - 144, 9), 9};
    else if (v < 280)
      t[v] = {Reversed(v - 256, 7), 7};
    else
      t[v] = {Reversed(0xC0 + v - 280, 8), 8};
  }
  return t;
}();

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

// Each copy length 3 to 258: its length code with the extra bits after it.
constexpr std::array<Codeword, 259> kLengths = [] {
  std::array<Codeword, 259> t{};
  int s = 0;
  for (uint32_t length = 3; length <= 258; ++length) {
    while (s < 28 && kLengthBase[s + 1] <= length) ++s;
    const Codeword symbol = kSymbols[257 + s];
    t[length] = {symbol.bits | (length - kLengthBase[s]) << symbol.count,
                 static_cast<uint8_t>(symbol.count + kLengthExtra[s])};
  }
  return t;
}();

constexpr size_t kMaxCopy = 258;

// Bit k set where byte k of the n bytes at a (64 at most) equals byte k at
// b, eight bytes at a time: a byte of a ^ b is zero exactly where the sum
// below leaves its top bit clear, and the multiply gathers the eight top
// bits into one byte.
uint64_t EqualBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  uint64_t equal = 0;
  size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const uint64_t x = LoadLE64(a + k) ^ LoadLE64(b + k);
    const uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);  // 0x80 where x has a zero byte
    equal |= ((zero >> 7) * 0x0102040810204080ull >> 56) << k;
  }
  for (; k < n; ++k) equal |= static_cast<uint64_t>(a[k] == b[k]) << k;
  return equal;
}

}  // namespace

void FixedDeflater::Start(uint8_t* out) {
  start_ = out;
  out_ = out;
  *out_++ = 0x78;  // deflate with a 32 KiB window
  *out_++ = 0x01;  // no dictionary, fastest; (0x78 << 8 | 0x01) % 31 == 0
  bits_ = 0;
  count_ = 0;
  Put(0x3, 3);  // the last block, fixed codes (BTYPE 01)
}

void FixedDeflater::Spill() {
  StoreLE32(out_, static_cast<uint32_t>(bits_));
  out_ += 4;
  bits_ >>= 32;
  count_ -= 32;
}

void FixedDeflater::Literals(const uint8_t* bytes, size_t n) {
  size_t i = 0;
  for (; i + 2 <= n; i += 2) {  // two codes at a time: 18 bits at most
    const Codeword first = kSymbols[bytes[i]];
    const Codeword second = kSymbols[bytes[i + 1]];
    Put(first.bits | second.bits << first.count, first.count + second.count);
  }
  if (i < n) Put(kSymbols[bytes[i]].bits, kSymbols[bytes[i]].count);
}

void FixedDeflater::Copy(size_t length) {
  while (length > 0) {
    size_t take = length < kMaxCopy ? length : kMaxCopy;
    // Never leave one or two bytes: no copy is that short.
    if (length - take != 0 && length - take < 3) take = length - 3;
    const Codeword code = kLengths[take];
    Put(code.bits | distanceBits_ << code.count, code.count + distanceCount_);
    length -= take;
  }
}

void FixedDeflater::Code(const uint8_t* bytes, size_t n, size_t distance) {
  if (distance == 0 || distance > kWindow) {
    Literals(bytes, n);
    return;
  }
  if (distance != distance_) {  // the same distance object after object: looked up once
    int c = 29;
    while (kDistanceBase[c] > distance) --c;
    // Five bits of code, then c / 2 - 1 extra bits from code 4 on.
    distance_ = distance;
    distanceCount_ = 5 + (c < 4 ? 0 : c / 2 - 1);
    distanceBits_ = Reversed(static_cast<uint32_t>(c), 5) |
                    static_cast<uint32_t>(distance - kDistanceBase[c]) << 5;
  }
  const uint8_t* before = bytes - distance;
  size_t run = 0;  // equal bytes just before bytes + i + k, not yet coded
  for (size_t i = 0; i < n; i += 64) {
    const size_t m = n - i < 64 ? n - i : 64;
    const uint64_t equal = EqualBytes(bytes + i, before + i, m);
    for (size_t k = 0; k < m;) {
      const uint64_t rest = equal >> k;
      if ((rest & 1) != 0) {  // no bit of `equal` lies past m
        const auto ones = static_cast<size_t>(std::countr_one(rest));
        run += ones;
        k += ones;
        continue;
      }
      EndRun(bytes + i + k, run);
      run = 0;
      const auto zeros = static_cast<size_t>(std::countr_zero(rest));
      const size_t literals = zeros < m - k ? zeros : m - k;
      Literals(bytes + i + k, literals);
      k += literals;
    }
  }
  EndRun(bytes + n, run);
}

void FixedDeflater::EndRun(const uint8_t* end, size_t run) {
  if (run >= 3) {
    Copy(run);
  } else {
    Literals(end - run, run);
  }
}

size_t FixedDeflater::Finish(const uint8_t* input, size_t n) {
  Put(kSymbols[256].bits, kSymbols[256].count);  // end of block
  while (count_ > 0) {
    *out_++ = static_cast<uint8_t>(bits_);
    bits_ >>= 8;
    count_ -= 8;
  }
  count_ = 0;
  const uint32_t adler = Adler32(input, n);
  for (int shift = 24; shift >= 0; shift -= 8) *out_++ = static_cast<uint8_t>(adler >> shift);
  return static_cast<size_t>(out_ - start_);
}

uint32_t Adler32(const uint8_t* bytes, size_t n) {
  constexpr uint32_t kBase = 65521;
  // The most bytes whose sums cannot overflow 32 bits before the modulo.
  constexpr size_t kRun = 5552;
  uint32_t a = 1, b = 0;
  while (n > 0) {
    const size_t take = n < kRun ? n : kRun;
    size_t i = 0;
    for (; i + 8 <= take; i += 8) {  // eight at a time: the compiler unrolls the inner loop
      for (size_t j = i; j < i + 8; ++j) {
        a += bytes[j];
        b += a;
      }
    }
    for (; i < take; ++i) {
      a += bytes[i];
      b += a;
    }
    a %= kBase;
    b %= kBase;
    bytes += take;
    n -= take;
  }
  return b << 16 | a;
}

}  // namespace ksvw
