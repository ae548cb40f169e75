#include "app/safe_format.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

namespace ksvw {

int32_t SafeFormatV(char* buffer, size_t capacity, const char* format, va_list arguments) {
  if (capacity == 0 || capacity > static_cast<size_t>(INT32_MAX)) return kErrInvalidArg;
  int n = std::vsnprintf(buffer, capacity, format, arguments);
  if (n < 0) {
    // An encoding error leaves the buffer's content undefined: keep nothing.
    buffer[0] = '\0';
    buffer[capacity - 1] = '\0';
    return kErrInsufficientBuffer;
  }
  if (static_cast<size_t>(n) > capacity - 1) {
    buffer[capacity - 1] = '\0';
    return kErrInsufficientBuffer;
  }
  return 0;
}

int32_t SafeFormat(char* buffer, size_t capacity, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int32_t result = SafeFormatV(buffer, capacity, format, arguments);
  va_end(arguments);
  return result;
}

namespace {

// The length modifiers of an integer conversion, longest first so that
// "ll" is not taken for "l".
constexpr const char* kIntegerLengths[] = {"I64", "I32", "hh", "ll", "h", "l", "j", "z", "t", "I"};

size_t LengthModifier(const char* p) {
  for (const char* length : kIntegerLengths) {
    size_t n = std::strlen(length);
    if (std::strncmp(p, length, n) == 0) return n;
  }
  return 0;
}

// The format's words without its conversions ("%%" is one '%'), cut to
// capacity - 1 characters; returns their length.
size_t PlainWords(char* buffer, size_t capacity, const char* format) {
  size_t n = 0;
  for (const char* p = format ? format : ""; *p && n + 1 < capacity; ++p) {
    if (*p == '%') {
      if (p[1] == '%') {
        buffer[n++] = '%';
        ++p;
        continue;
      }
      // Skip the whole conversion (flags, width, precision, length, type).
      ++p;
      while (*p && !std::strchr("diouxXcsSpnfFeEgGaA", *p)) ++p;
      if (!*p) break;
      continue;
    }
    buffer[n++] = *p;
  }
  buffer[n] = '\0';
  return n;
}

}  // namespace

bool FindSingleIntegerConversion(const char* format, IntegerConversion* found) {
  if (!format) return false;
  int conversions = 0;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p && std::strchr("-+ #0", *p)) ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '.') {
      ++p;
      while (*p >= '0' && *p <= '9') ++p;
    }
    IntegerConversion conversion;
    conversion.lengthBegin = static_cast<size_t>(p - format);
    p += LengthModifier(p);
    conversion.lengthEnd = static_cast<size_t>(p - format);
    if (!*p || !std::strchr("diuxXoc", *p)) return false;
    // A wide character is no integer.
    if (*p == 'c' && conversion.lengthEnd > conversion.lengthBegin) return false;
    conversion.type = *p;
    if (found) *found = conversion;
    ++conversions;
  }
  return conversions == 1;
}

bool IsSingleIntegerFormat(const char* format) {
  IntegerConversion conversion;
  return FindSingleIntegerConversion(format, &conversion) &&
         conversion.lengthEnd == conversion.lengthBegin;
}

int32_t FormatWithCode(char* buffer, size_t capacity, const char* format, int32_t code) {
  if (IsSingleIntegerFormat(format)) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return SafeFormat(buffer, capacity, format, code);
#pragma GCC diagnostic pop
  }
  if (capacity == 0 || capacity > static_cast<size_t>(INT32_MAX)) return kErrInvalidArg;
  size_t n = PlainWords(buffer, capacity, format);
  return SafeFormat(buffer + n, capacity - n, "%s0x%08X", n > 0 ? " " : "",
                    static_cast<uint32_t>(code));
}

int32_t FormatWithCount(char* buffer, size_t capacity, const char* format, uint64_t count) {
  IntegerConversion conversion;
  if (FindSingleIntegerConversion(format, &conversion) && conversion.type != 'c') {
    std::string wide(format, conversion.lengthBegin);
    wide += "ll";
    wide += format + conversion.lengthEnd;
    const auto value = static_cast<unsigned long long>(count);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (conversion.type == 'd' || conversion.type == 'i')
      return SafeFormat(buffer, capacity, wide.c_str(), static_cast<long long>(value));
    return SafeFormat(buffer, capacity, wide.c_str(), value);
#pragma GCC diagnostic pop
  }
  if (capacity == 0 || capacity > static_cast<size_t>(INT32_MAX)) return kErrInvalidArg;
  size_t n = PlainWords(buffer, capacity, format);
  return SafeFormat(buffer + n, capacity - n, "%s%llu", n > 0 ? " " : "",
                    static_cast<unsigned long long>(count));
}

}  // namespace ksvw
