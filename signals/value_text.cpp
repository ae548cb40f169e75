#include "signals/value_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace ksvw::signals {

char* FormatValue(char* p, double value) {
  char* const end = p + kValueTextCapacity - 1;
  if (std::isnan(value)) {
    std::memcpy(p, "nan", 4);
    return p + 3;
  }
  // Whole numbers in integer form: the shortest round-trip form would write
  // 1000000 as "1e+06".
  constexpr double kExact = 9007199254740992.0;  // 2^53
  if (std::fabs(value) < kExact && value == std::trunc(value)) {
    p = std::to_chars(p, end, static_cast<long long>(value)).ptr;
  } else {
    p = std::to_chars(p, end, value).ptr;  // shortest round trip; "inf" and "-inf" too
  }
  *p = '\0';
  return p;
}

std::string CsvField(std::string_view text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

bool GlobMatch(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0;
  size_t starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starT = t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace ksvw::signals
