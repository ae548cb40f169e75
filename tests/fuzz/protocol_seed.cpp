// Writes the protocol fuzzer's seed corpus: traffic recorded from the
// simulator's analyzer (a generated capture behind it) answering a host
// session, as scripts of protocol_script.h: a handshake with monitoring and
// key presses, a whole download, a cancelled section and a close, and an
// analyzer that never answers. Each script is replayed once through the
// fuzzer's runner before it is written.
//   ksvw_protocol_seed_corpus DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/analyzer.h"
#include "tests/fuzz/protocol_script.h"
#include "testsupport/capture_builder.h"

namespace {

using namespace ksvw;
using namespace ksvw::fuzz;
using Bytes = std::vector<uint8_t>;

// One host operation of a scenario, then `pumpMs` milliseconds in each of
// which the transport takes all the host's output and the analyzer answers.
struct Step {
  uint8_t op;
  std::vector<uint8_t> operands;
  int pumpMs;
};

Bytes HostScript(const std::vector<Step>& steps) {
  Bytes ops;
  for (const Step& s : steps) {
    ops.push_back(s.op);
    ops.insert(ops.end(), s.operands.begin(), s.operands.end());
    for (int i = 0; i < s.pumpMs; ++i) ops.insert(ops.end(), {kOpDrain, 255, kOpTime, 1, 0});
  }
  return ops;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ksvw_protocol_seed_corpus DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  sim::CaptureMemory small, larger;  // larger: a data section longer than a millisecond's frames
  std::string why;
  if (!small.Load(build::GenerateCapture(24, kTagMdcl, 5), why) ||
      !larger.Load(build::GenerateCapture(400, kTagMonc, 6), why)) {
    std::fprintf(stderr, "ksvw_protocol_seed_corpus: %s\n", why.c_str());
    return 1;
  }
  sim::SimFaults silent;
  silent.noAnswer = true;
  struct Seed {
    const char* name;
    const sim::CaptureMemory& memory;
    sim::SimFaults faults;
    std::vector<Step> host;
  } seeds[] = {
      {"keys",
       small,
       {},
       {{kOpConnect, {}, 5},
        {kOpMonitor, {30}, 40},
        {kOpKey, {0x16}, 10},
        {kOpKey, {0x21}, 10},
        {kOpKey, {0x22}, 10},
        {kOpDisconnect, {}, 10}}},
      {"download",
       small,
       {},
       {{kOpConnect, {}, 5},
        {kOpRead, {0, 0}, 10},
        {kOpRead, {2, 0}, 10},
        {kOpRead, {1, 1}, 20},
        {kOpRead, {3, 0}, 10},
        {kOpDisconnect, {}, 5}}},
      {"cancel_close",
       larger,
       {},
       {{kOpConnect, {}, 5}, {kOpRead, {1, 1}, 1}, {kOpCancel, {0}, 10}, {kOpClose, {}, 0}}},
      {"silent", small, silent, {{kOpConnect, {}, 5}, {kOpTime, {0xB8, 0x0B}, 1}}},  // 3 s on
  };
  for (const Seed& seed : seeds) {
    sim::SimAnalyzer model(sim::SimIdentity{}, seed.faults, seed.memory);
    Bytes host = HostScript(seed.host), script;
    Runner(&model, &script).Run(host.data(), host.size());
    Runner().Run(script.data(), script.size());  // aborts on a broken invariant
    std::filesystem::path path = dir / (std::string("recorded_") + seed.name);
    std::ofstream out(path, std::ios::binary);
    if (!out.write(reinterpret_cast<const char*>(script.data()), std::streamsize(script.size())) ||
        !out.flush()) {
      std::fprintf(stderr, "ksvw_protocol_seed_corpus: cannot write %s\n", path.string().c_str());
      return 1;
    }
    std::printf("%s: %zu bytes\n", path.string().c_str(), script.size());
  }
  return 0;
}
