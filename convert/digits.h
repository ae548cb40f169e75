// Hand-written number and text pieces for the converter rows and the list
// cells. A conversion formats tens of millions of fields, so each piece is
// a table lookup and a small copy instead of a printf call; each helper
// writes at `p` and returns the position after what it wrote.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace ksvw::digits {

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// "00" .. "FF" for every byte value.
inline constexpr std::array<char, 512> kHexPairs = [] {
  std::array<char, 512> t{};
  for (int i = 0; i < 256; ++i) {
    t[2 * i] = kHexDigits[i >> 4];
    t[2 * i + 1] = kHexDigits[i & 15];
  }
  return t;
}();

// "00" .. "99".
inline constexpr std::array<char, 200> kDecimalPairs = [] {
  std::array<char, 200> t{};
  for (int i = 0; i < 100; ++i) {
    t[2 * i] = static_cast<char>('0' + i / 10);
    t[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return t;
}();

// "%02X" of a byte.
inline char* Hex2(char* p, uint8_t v) {
  std::memcpy(p, &kHexPairs[2u * v], 2);
  return p + 2;
}
// "%04X" of a 16-bit value.
inline char* Hex4(char* p, uint16_t v) {
  p = Hex2(p, static_cast<uint8_t>(v >> 8));
  return Hex2(p, static_cast<uint8_t>(v));
}
// "%08X" of a 32-bit value.
inline char* Hex8(char* p, uint32_t v) {
  p = Hex4(p, static_cast<uint16_t>(v >> 16));
  return Hex4(p, static_cast<uint16_t>(v));
}
// "%03X" of a value below 0x1000 (an 11-bit CAN identifier).
inline char* Hex3(char* p, uint32_t v) {
  *p++ = kHexDigits[(v >> 8) & 15];
  return Hex2(p, static_cast<uint8_t>(v));
}

// printf "%0*d": at least `width` characters, zeros after the sign.
inline char* DecimalSlow(char* p, int v, int width) {
  char tmp[12];
  int n = 0;
  unsigned u = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
  do {
    tmp[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) {
    *p++ = '-';
    --width;
  }
  for (; width > n; --width) *p++ = '0';
  while (n > 0) *p++ = tmp[--n];
  return p;
}
// "%02d".
inline char* Dec02(char* p, int v) {
  if (static_cast<unsigned>(v) < 100u) {
    std::memcpy(p, &kDecimalPairs[2u * static_cast<unsigned>(v)], 2);
    return p + 2;
  }
  return DecimalSlow(p, v, 2);
}
// "%d".
inline char* Dec(char* p, int v) {
  if (static_cast<unsigned>(v) < 10u) {
    *p = static_cast<char>('0' + v);
    return p + 1;
  }
  return DecimalSlow(p, v, 1);
}
// "%2d".
inline char* Dec2Space(char* p, int v) {
  if (static_cast<unsigned>(v) < 10u) {
    p[0] = ' ';
    p[1] = static_cast<char>('0' + v);
    return p + 2;
  }
  if (static_cast<unsigned>(v) < 100u) return Dec02(p, v);
  return DecimalSlow(p, v, 1);
}

// A string literal without its NUL.
template <size_t N>
inline char* Text(char* p, const char (&s)[N]) {
  std::memcpy(p, s, N - 1);
  return p + (N - 1);
}
inline char* Spaces(char* p, int n) {
  if (n <= 0) return p;
  std::memset(p, ' ', static_cast<size_t>(n));
  return p + n;
}
inline char* Commas(char* p, int n) {
  if (n <= 0) return p;
  std::memset(p, ',', static_cast<size_t>(n));
  return p + n;
}

}  // namespace ksvw::digits
