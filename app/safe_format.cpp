#include "app/safe_format.h"

#include <climits>
#include <cstdio>
#include <cstring>

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

bool IsSingleIntegerFormat(const char* format) {
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
    if (!*p || !std::strchr("diuxXoc", *p)) return false;
    ++conversions;
  }
  return conversions == 1;
}

int32_t FormatWithCode(char* buffer, size_t capacity, const char* format, int32_t code) {
  if (IsSingleIntegerFormat(format)) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return SafeFormat(buffer, capacity, format, code);
#pragma GCC diagnostic pop
  }
  if (capacity == 0 || capacity > static_cast<size_t>(INT32_MAX)) return kErrInvalidArg;
  // The words of the text without its conversions, then the code.
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
  return SafeFormat(buffer + n, capacity - n, "%s0x%08X", n > 0 ? " " : "",
                    static_cast<uint32_t>(code));
}

}  // namespace ksvw
