// libFuzzer target: the search's fast matcher against the plain reading of
// its rules (search_check.h); a disagreement aborts, naming where.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/search_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string difference = ksvw::searchcheck::CheckSearchInput(data, size);
  if (!difference.empty()) {
    std::fprintf(stderr, "search_fuzz: %s\n", difference.c_str());
    std::abort();
  }
  return 0;
}
