// libFuzzer target over the link protocol's host session: each input is a
// script (protocol_script.h) of host operations, well-framed analyzer
// messages, time jumps and transport events, with the session's invariants
// checked after every step.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/protocol_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ksvw::fuzz::Runner().Run(data, size);
  return 0;
}
