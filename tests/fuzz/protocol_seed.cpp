// Writes the protocol fuzzer's seed corpus: traffic recorded from the
// simulator's analyzer session (a generated capture behind it) with a host
// session, as scripts of protocol_script.h: a handshake with monitoring and
// key presses, a whole download, a cancelled section, a closed transport and
// an analyzer that never answers. Each script is replayed once through the
// fuzzer's runner before it is written.
//   ksvw_protocol_seed_corpus DIR
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/analyzer.h"
#include "tests/fuzz/protocol_script.h"
#include "testsupport/capture_builder.h"

namespace {

using namespace ksvw;
using namespace ksvw::fuzz;
using Bytes = std::vector<uint8_t>;

class Quiet final : public HostEvents {};

// A host and the simulator's analyzer, wired in memory, writing down what
// happens as a script.
class Recording {
 public:
  explicit Recording(const sim::CaptureMemory& memory)
      : model_(sim::SimIdentity{}, sim::SimFaults{}, memory), host_(quiet_), analyzer_(model_) {}

  void Connect() {
    Op(kOpConnect);
    uint32_t id;
    host_.Connect(now_, &id);
  }
  uint32_t Read(uint8_t section, bool big) {
    Op(kOpRead);
    script_.push_back(section);
    script_.push_back(big ? 1 : 0);
    uint32_t id = 0;
    host_.ReadSection(0x8100u + section, big ? 0xC00000 : 0x10000, now_, &id);
    return id;
  }
  void Key(uint8_t code) {
    Op(kOpKey);
    script_.push_back(code);
    uint32_t id;
    host_.PressKey(0x8000u | code, now_, &id);
  }
  void CancelSection(uint32_t id) {
    Op(kOpCancel);
    script_.push_back(0);  // the section
    host_.Cancel(id, now_);
  }
  void Monitor(uint8_t tens) {
    Op(kOpMonitor);
    script_.push_back(tens);
    host_.SetMonitorInterval(tens * 10, now_);
  }
  void Disconnect() {
    Op(kOpDisconnect);
    uint32_t id;
    host_.Disconnect(now_, &id);
  }
  void Close() {
    Op(kOpClose);
    host_.TransportClosed(now_);
  }
  // Lets `ms` pass, one millisecond at a time: the host's output goes to
  // the analyzer, every frame of the analyzer's answer is written down as a
  // message to send and fed to the host, then the host ticks.
  void Pump(int ms, bool analyzerAnswers = true) {
    for (int i = 0; i < ms; ++i) {
      Op(kOpDrain);
      script_.push_back(255);
      if (analyzerAnswers) analyzer_.Feed(host_.OutputData(), host_.OutputSize(), now_);
      host_.ConsumeOutput(host_.OutputSize());
      analyzer_.Tick(now_);
      if (!analyzerAnswers) analyzer_.ConsumeOutput(analyzer_.OutputSize());
      decoder_.Feed(analyzer_.OutputData(), analyzer_.OutputSize(), [&](const Frame& f) {
        Op(kOpSend);
        script_.push_back(f.type);
        script_.push_back(kModeFixIds);
        Runner::Put16(script_, f.size);
        script_.insert(script_.end(), f.payload, f.payload + f.size);
        frame_.clear();
        EncodeFrame(f.type, f.flags, f.seq, f.ack, f.payload, f.size, frame_);
        host_.Feed(frame_.data(), frame_.size(), now_);
      });
      analyzer_.ConsumeOutput(analyzer_.OutputSize());
      Op(kOpTime);
      Runner::Put16(script_, 1);
      ++now_;
      host_.Tick(now_);
    }
  }
  // A jump in time with nothing on the line.
  void Wait(uint16_t ms) {
    Op(kOpTime);
    Runner::Put16(script_, ms);
    now_ += ms;
    host_.Tick(now_);
  }
  bool Busy() const { return analyzer_.ActiveSection() != 0; }
  const Bytes& Script() const { return script_; }

 private:
  void Op(uint8_t op) { script_.push_back(op); }

  sim::SimAnalyzer model_;
  Quiet quiet_;
  HostSession host_;
  AnalyzerSession analyzer_;
  FrameDecoder decoder_;
  Bytes script_, frame_;
  uint64_t now_ = 1000;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ksvw_protocol_seed_corpus DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  sim::CaptureMemory memory;
  std::string why;
  if (!memory.Load(build::GenerateCapture(24, 0x4C43444D, 5), why)) {
    std::fprintf(stderr, "ksvw_protocol_seed_corpus: %s\n", why.c_str());
    return 1;
  }

  std::vector<std::pair<std::string, Bytes>> seeds;
  {
    Recording r(memory);
    r.Connect();
    r.Pump(5);
    r.Monitor(30);
    r.Pump(40);
    for (uint8_t key : {0x16, 0x21, 0x22}) {
      r.Key(key);
      r.Pump(10);
    }
    r.Disconnect();
    r.Pump(10);
    seeds.emplace_back("keys", r.Script());
  }
  {
    Recording r(memory);
    r.Connect();
    r.Pump(5);
    for (uint8_t section : {0, 2, 1, 3}) {
      r.Read(section, section == 1);
      r.Pump(3);
      for (int i = 0; i < 200 && r.Busy(); ++i) r.Pump(1);
      r.Pump(3);
    }
    r.Disconnect();
    r.Pump(5);
    seeds.emplace_back("download", r.Script());
  }
  sim::CaptureMemory bigger;  // a data section longer than one millisecond's frames
  if (!bigger.Load(build::GenerateCapture(400, 0x434E4F4D, 6), why)) return 1;
  {
    Recording r(bigger);
    r.Connect();
    r.Pump(5);
    uint32_t id = r.Read(1, true);
    r.Pump(1);
    r.CancelSection(id);
    r.Pump(10);
    r.Close();
    seeds.emplace_back("cancel_close", r.Script());
  }
  {
    Recording r(memory);
    r.Connect();
    r.Pump(5, false);  // no answer: the hello is repeated, then the connect times out
    for (int i = 0; i < 8; ++i) {
      r.Wait(500);
      r.Pump(1, false);
    }
    seeds.emplace_back("silent", r.Script());
  }

  for (const auto& [name, script] : seeds) {
    Runner().Run(script.data(), script.size());  // aborts on a broken invariant
    std::filesystem::path path = dir / ("recorded_" + name);
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (!f || std::fwrite(script.data(), 1, script.size(), f) != script.size()) {
      std::fprintf(stderr, "ksvw_protocol_seed_corpus: cannot write %s\n", path.string().c_str());
      if (f) std::fclose(f);
      return 1;
    }
    std::fclose(f);
    std::printf("%s: %zu bytes\n", path.string().c_str(), script.size());
  }
  return 0;
}
