// Bounded text formatting into a caller's buffer, and the formatting of the
// message texts that carry one result code.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "common/result_codes.h"

namespace ksvw {

// Formats into `buffer` of `capacity` characters, NUL included.
// 0: the whole text fitted. 0x8007007A: it did not; the buffer holds the
// text cut to capacity - 1 characters. E_INVALIDARG for a capacity of 0 or
// above 2,147,483,647 (the buffer is not touched).
int32_t SafeFormat(char* buffer, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int32_t SafeFormatV(char* buffer, size_t capacity, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));

// Where the one integer conversion of a format is: `format` consumes
// exactly one argument, an integer (d, i, u, x, X, o, c with flags, a width
// and a precision but no '*'), and otherwise holds only plain text and
// "%%". Its length modifier, if any (hh, h, l, ll, j, z, t, or Windows' I,
// I32, I64), runs from lengthBegin to lengthEnd.
struct IntegerConversion {
  size_t lengthBegin = 0;
  size_t lengthEnd = 0;
  char type = 0;
};
bool FindSingleIntegerConversion(const char* format, IntegerConversion* found);

// True when `format` consumes exactly one int-sized integer: as above,
// without a length modifier.
bool IsSingleIntegerFormat(const char* format);

// Formats a message text that carries one result code: `format` comes from
// the language library, so it is used only when it takes exactly one
// integer; anything else (a "%s", two conversions, a missing text) would
// read arguments that were never passed, so the text is then the format's
// plain words followed by the code as "0x%08X". A null format counts as
// empty. Result as SafeFormat.
int32_t FormatWithCode(char* buffer, size_t capacity, const char* format, int32_t code);

// Formats a message text that carries one count, such as "%u matching
// frames": a format with one integer conversion of any length (%u, %lu,
// %llu, %I64u...) shows the whole count, which it is handed as a 64-bit
// value read through the standard "ll" in place of the format's own length
// (so a translation's %I64u and %u print alike on every C library);
// anything else is the format's plain words followed by the count. Result
// as SafeFormat.
int32_t FormatWithCount(char* buffer, size_t capacity, const char* format, uint64_t count);

}  // namespace ksvw
