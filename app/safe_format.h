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

// True when `format` consumes exactly one argument, an int-sized integer
// (d, i, u, x, X, o, c with flags, a width and a precision but no '*' and
// no length modifier), and otherwise holds only plain text and "%%".
bool IsSingleIntegerFormat(const char* format);

// Formats a message text that carries one result code: `format` comes from
// the language library, so it is used only when it takes exactly one
// integer; anything else (a "%s", two conversions, a missing text) would
// read arguments that were never passed, so the text is then the format's
// plain words followed by the code as "0x%08X". A null format counts as
// empty. Result as SafeFormat.
int32_t FormatWithCode(char* buffer, size_t capacity, const char* format, int32_t code);

}  // namespace ksvw
