// libFuzzer target over the link protocol: the incremental frame decoder fed
// in slices, the message parser on every frame it yields, and both session
// state machines fed the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/analyzer_session.h"
#include "protocol/frame.h"
#include "protocol/host_session.h"
#include "protocol/messages.h"

namespace {

using namespace ksvw::proto;

class Model : public AnalyzerModel {
 public:
  AnalyzerIdentity Identity() const override { return {0x10024, 0, 0x4C43444D, 1}; }
  int32_t AcceptHost() override { return 0; }
  void ReleaseHost() override {}
  int32_t PressKey(uint32_t, uint64_t) override {
    ++version_;
    return 0;
  }
  const uint8_t* Screen() const override { return screen_; }
  uint32_t ScreenVersion() const override { return version_; }
  uint32_t StatusFlags() const override { return 0; }
  int32_t OpenSection(uint32_t, uint32_t, uint32_t* total) override {
    *total = sizeof data_;
    return 0;
  }
  bool ReadSection(uint32_t, uint32_t offset, uint8_t* dst, uint32_t size) override {
    if (offset > sizeof data_ || size > sizeof data_ - offset) return false;
    std::memcpy(dst, data_ + offset, size);
    return true;
  }

 private:
  uint8_t screen_[kScreenSize] = {};
  uint8_t data_[10000] = {};
  uint32_t version_ = 1;
};

class Events : public HostEvents {};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t slice = 1 + data[0] % 64;
  ++data;
  --size;

  FrameDecoder decoder;
  for (size_t i = 0; i < size; i += slice) {
    decoder.Feed(data + i, std::min(slice, size - i), [](const Frame& f) {
      Message m;
      if (ParseMessage(f, m)) {
        std::vector<uint8_t> body;
        EncodeBody(m, body);
      }
    });
  }

  Model model;
  AnalyzerSession analyzer(model);
  Events events;
  HostSession host(events);
  uint32_t id;
  host.Connect(0, &id);
  uint64_t now = 0;
  for (size_t i = 0; i < size; i += slice, now += 7) {
    size_t n = std::min(slice, size - i);
    analyzer.Feed(data + i, n, now);
    host.Feed(data + i, n, now);
    analyzer.Tick(now);
    host.Tick(now);
    analyzer.ConsumeOutput(analyzer.OutputSize());
    host.ConsumeOutput(host.OutputSize());
  }
  return 0;
}
