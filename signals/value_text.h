// Texts of decoded values for files and screens.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ksvw::signals {

// Room FormatValue needs, with the NUL.
inline constexpr size_t kValueTextCapacity = 32;

// The shortest text that reads back as the same double; whole numbers
// below 2^53 without a decimal point ("3", "-40"), non-finite ones as
// "nan", "inf" and "-inf". Writes at `p` (kValueTextCapacity bytes of room),
// NUL-terminated; returns the position of the NUL.
char* FormatValue(char* p, double value);

// A CSV field: as it is, or in double quotes (inner quotes doubled) when it
// holds a comma, a quote, a line end or leading or trailing blanks.
std::string CsvField(std::string_view text);

// Glob match of `text` against `pattern`: '*' any run, '?' any one character.
bool GlobMatch(std::string_view pattern, std::string_view text);

}  // namespace ksvw::signals
