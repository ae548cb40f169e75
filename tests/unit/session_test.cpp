// Host and analyzer sessions wired together in memory, through a pipe that
// can be slowed down, cut, or made to lose and garble bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "protocol/analyzer_session.h"
#include "protocol/host_session.h"
#include "protocol/wire.h"
#include "remote/ksvwrmt.h"
#include "sim/hostile_peer.h"

namespace ksvw::proto {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMonc = 0x434E4F4D;  // "MONC" in reading order

class FakeAnalyzer : public AnalyzerModel {
 public:
  FakeAnalyzer() { screen.fill(0); }
  AnalyzerIdentity Identity() const override { return {0x10014, 2, kMonc, 0}; }
  int32_t AcceptHost() override {
    if (answer != 0) return answer;
    ++hosts;
    return 0;
  }
  void ReleaseHost() override { --hosts; }
  int32_t PressKey(uint32_t code, uint64_t) override {
    keys.push_back(code);
    // The key's code shows in the first screen row.
    screen[0] = static_cast<uint8_t>(code);
    screen[1919] = static_cast<uint8_t>(code >> 8);
    ++version;
    if ((code & 0x7F) == 0x21) flags |= 0x100;
    if ((code & 0x7F) == 0x22) flags &= ~0x100u;
    return 0;
  }
  const uint8_t* Screen() const override { return screen.data(); }
  uint32_t ScreenVersion() const override { return version; }
  uint32_t StatusFlags() const override { return flags; }
  int32_t OpenSection(uint32_t section, uint32_t, uint32_t* total) override {
    auto it = sections.find(section);
    if (it == sections.end()) return kErrInvalidArg;
    *total = static_cast<uint32_t>(it->second.size());
    return 0;
  }
  bool ReadSection(uint32_t section, uint32_t offset, uint8_t* dst, uint32_t size) override {
    const Bytes& b = sections.at(section);
    if (offset + size > b.size()) return false;
    std::memcpy(dst, b.data() + offset, size);
    return true;
  }

  int32_t answer = 0;
  int hosts = 0;
  std::vector<uint32_t> keys;
  std::array<uint8_t, kScreenSize> screen;
  uint32_t version = 1;
  uint32_t flags = 0;
  std::map<uint32_t, Bytes> sections;
};

struct Done {
  uint32_t id;
  RequestKind kind;
  int32_t result;
};

class Recorder : public HostEvents {
 public:
  void OnIdentity(const AnalyzerIdentity& id) override { identity = id; }
  void OnLinkState(int32_t s) override { states.push_back(s); }
  void OnRequestDone(uint32_t id, RequestKind kind, int32_t result) override {
    done.push_back({id, kind, result});
    if (onDone) onDone(id, kind, result);
  }
  void OnProgress(uint32_t, uint32_t position, uint32_t range) override {
    progress.push_back({position, range});
  }
  int32_t OnData(uint32_t, const uint8_t* data, uint32_t size) override {
    file.insert(file.end(), data, data + size);
    if (onData) return onData(size);
    return 0;
  }
  void OnLinkLost() override { ++linkLost; }
  void OnStatusFlags(uint32_t f) override { flags.push_back(f); }
  void OnScreenChanged() override { ++screens; }

  const Done* Find(uint32_t id) const {
    for (const auto& d : done)
      if (d.id == id) return &d;
    return nullptr;
  }

  AnalyzerIdentity identity;
  std::vector<int32_t> states;
  std::vector<Done> done;
  std::vector<std::pair<uint32_t, uint32_t>> progress;
  Bytes file;
  int linkLost = 0;
  std::vector<uint32_t> flags;
  int screens = 0;
  std::function<void(uint32_t, RequestKind, int32_t)> onDone;
  std::function<int32_t(uint32_t)> onData;
};

// One direction of the wire: limited bytes per millisecond, optional noise.
struct Wire {
  double flipRate = 0;  // chance per byte of one flipped bit
  double dropRate = 0;  // chance per byte of being lost
  bool cut = false;     // nothing gets through
  size_t bytesPerMs = 4096;
  uint32_t rng = 2463534242u;
  uint64_t flipped = 0;

  double Random() {
    rng ^= rng << 13;
    rng ^= rng >> 17;
    rng ^= rng << 5;
    return rng / 4294967296.0;
  }
  template <typename From, typename To>
  void Carry(From& from, To& to, uint64_t now) {
    size_t n = std::min(from.OutputSize(), bytesPerMs);
    if (n == 0) return;
    Bytes chunk(from.OutputData(), from.OutputData() + n);
    from.ConsumeOutput(n);
    if (cut) return;
    Bytes out;
    out.reserve(n);
    for (uint8_t b : chunk) {
      if (dropRate > 0 && Random() < dropRate) continue;
      if (flipRate > 0 && Random() < flipRate) {
        b ^= static_cast<uint8_t>(1u << (rng % 8));
        ++flipped;
      }
      out.push_back(b);
    }
    to.Feed(out.data(), out.size(), now);
  }
};

struct Rig {
  explicit Rig(const HostConfig& hc = {}) : host(rec, hc), analyzer(model) {}

  void Step() {
    toAnalyzer.Carry(host, analyzer, now);
    toHost.Carry(analyzer, host, now);
    host.Tick(now);
    analyzer.Tick(now);
    ++now;
  }
  void RunFor(uint64_t ms) {
    for (uint64_t end = now + ms; now < end;) Step();
  }
  bool RunUntil(const std::function<bool()>& pred, uint64_t maxMs = 20000) {
    for (uint64_t end = now + maxMs; now < end;) {
      if (pred()) return true;
      Step();
    }
    return pred();
  }
  bool Finished(uint32_t id) {
    return RunUntil([&] { return rec.Find(id) != nullptr; });
  }
  uint32_t Connect() {
    uint32_t id = 0;
    EXPECT_EQ(host.Connect(now, &id), 0);
    EXPECT_TRUE(Finished(id));
    return id;
  }

  FakeAnalyzer model;
  Recorder rec;
  HostSession host;
  AnalyzerSession analyzer;
  Wire toAnalyzer, toHost;
  uint64_t now = 1000;
};

Bytes Pattern(size_t n, uint32_t seed) {
  Bytes b(n);
  for (auto& v : b) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<uint8_t>(seed >> 24);
  }
  return b;
}

void LoadSections(FakeAnalyzer& m, size_t dataSize) {
  m.sections[0x8100] = Pattern(3000, 1);
  m.sections[0x8102] = {'M', 'O', 'N', 'C', 0, 0, 0, 0};
  StoreLE32(m.sections[0x8102].data() + 4, static_cast<uint32_t>(dataSize));
  m.sections[0x8101] = Pattern(dataSize, 2);
  m.sections[0x8103] = Pattern(100, 3);
}

Bytes Expected(FakeAnalyzer& m) {
  Bytes all;
  for (uint32_t s : {0x8100u, 0x8102u, 0x8101u, 0x8103u})
    all.insert(all.end(), m.sections[s].begin(), m.sections[s].end());
  return all;
}

// Runs the program's download chain: each section is asked for from the
// completion of the one before, inside the callback.
int32_t Download(Rig& rig) {
  static const uint32_t order[4] = {0x8100, 0x8102, 0x8101, 0x8103};
  static const uint32_t limits[4] = {0x10000, 0x10000, 0xC00000, 0x10000};
  int step = 0;
  int32_t final = 1;
  rig.rec.onDone = [&](uint32_t, RequestKind kind, int32_t result) {
    if (kind != RequestKind::Section) return;
    if (result < 0 || ++step == 4) {
      final = result;
      return;
    }
    uint32_t id;
    EXPECT_EQ(rig.host.ReadSection(order[step], limits[step], rig.now, &id), 0);
  };
  uint32_t id;
  EXPECT_EQ(rig.host.ReadSection(order[0], limits[0], rig.now, &id), 0);
  EXPECT_TRUE(rig.RunUntil([&] { return final != 1; }, 120000));
  rig.rec.onDone = nullptr;
  return final;
}

TEST(SessionConnect, HandshakeReportsIdentityStateAndFlags) {
  Rig rig;
  rig.model.flags = 0x100;
  uint32_t id = rig.Connect();
  EXPECT_EQ(rig.rec.Find(id)->kind, RequestKind::Connect);
  EXPECT_EQ(rig.rec.Find(id)->result, 0);
  EXPECT_EQ(rig.rec.identity.model, 0x10014u);
  EXPECT_EQ(rig.rec.identity.detail, 2u);
  EXPECT_EQ(rig.rec.identity.board, kMonc);
  EXPECT_EQ(rig.rec.states, std::vector<int32_t>{1});
  EXPECT_EQ(rig.host.LinkState(), 1);
  EXPECT_EQ(rig.host.StatusFlags(), 0x100u);
  EXPECT_EQ(rig.rec.flags, std::vector<uint32_t>{0x100});
  EXPECT_TRUE(rig.analyzer.Connected());
  EXPECT_EQ(rig.model.hosts, 1);
  // A second connect while connected is refused locally.
  EXPECT_LT(rig.host.Connect(rig.now, &id), 0);
}

// A refusal ends the connect with the analyzer's code; an analyzer that
// does not answer is asked again and times out. Either way the session
// connects once the analyzer takes hosts again.
TEST(SessionConnect, RefusalsAndSilenceEndTheConnectAndTheNextOneWorks) {
  for (int32_t answer : {kErrAnalyzerBusy, kErrVersionMismatch, kErrNoOptionBoard, kIgnoreHello}) {
    const bool silent = answer == kIgnoreHello;
    Rig rig;
    rig.model.answer = answer;
    uint64_t start = rig.now;
    uint32_t id = rig.Connect();
    EXPECT_EQ(rig.rec.Find(id)->result, silent ? kErrTimeout : answer);
    EXPECT_EQ(rig.host.LinkState(), 0);
    EXPECT_TRUE(rig.host.TransportDone());
    EXPECT_TRUE(rig.rec.states.empty());
    EXPECT_FALSE(rig.analyzer.Connected());
    if (silent) {
      EXPECT_GE(rig.now - start, 3000u);
      EXPECT_GE(rig.host.Counters().framesSent, 6u);  // the hello went again while waiting
    }
    rig.model.answer = 0;
    EXPECT_EQ(rig.rec.Find(rig.Connect())->result, 0) << answer;
  }
}

// Appends a host's unsequenced message, framed, to `wire`.
void Framed(const Message& m, Bytes& wire) {
  Bytes body;
  uint8_t type = EncodeBody(m, body);
  EncodeFrame(type, 0, 0, 0, body.data(), body.size(), wire);
}

TEST(SessionConnect, AnalyzerRefusesAnotherProtocolVersion) {
  FakeAnalyzer model;
  AnalyzerSession a(model);
  Bytes wire;
  Framed(Hello{7, 5, 42}, wire);
  a.Feed(wire.data(), wire.size(), 0);
  FrameDecoder d;
  int refusals = 0;
  d.Feed(a.OutputData(), a.OutputSize(), [&](const Frame& f) {
    Message m;
    ASSERT_TRUE(ParseMessage(f, m));
    ASSERT_TRUE(std::holds_alternative<Refuse>(m));
    EXPECT_EQ(std::get<Refuse>(m).code, kErrVersionMismatch);
    EXPECT_EQ(std::get<Refuse>(m).nonce, 42u);
    ++refusals;
  });
  EXPECT_EQ(refusals, 1);
  EXPECT_EQ(model.hosts, 0);
}

TEST(SessionConnect, HandshakeSurvivesANoisyLine) {
  Rig rig;
  rig.toHost.flipRate = rig.toAnalyzer.flipRate = 0.01;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(rig.rec.Find(rig.Connect())->result, 0) << i;
    uint32_t bye;
    ASSERT_EQ(rig.host.Disconnect(rig.now, &bye), 0);
    ASSERT_TRUE(rig.Finished(bye));
    rig.RunFor(10);
  }
}

TEST(SessionKeys, KeyPressesPushScreensWhileMonitoringAndStatusAlways) {
  Rig rig;
  rig.Connect();
  EXPECT_EQ(rig.host.SetMonitorInterval(300, rig.now), 0);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.rec.screens == 1; }));
  uint32_t id;
  ASSERT_EQ(rig.host.PressKey(0x8085, rig.now, &id), 0);
  ASSERT_TRUE(rig.Finished(id));
  EXPECT_EQ(rig.rec.Find(id)->result, 0);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.rec.screens == 2; }));
  uint8_t screen[kScreenSize];
  EXPECT_EQ(rig.host.CopyScreen(screen, kScreenSize), 0);
  EXPECT_EQ(screen[0], 0x85);
  EXPECT_EQ(screen[1919], 0x80);
  // SHIFT's own press travels as all ones.
  ASSERT_EQ(rig.host.PressKey(0xFFFFFFFFu, rig.now, &id), 0);
  ASSERT_TRUE(rig.Finished(id));
  EXPECT_EQ(rig.model.keys, (std::vector<uint32_t>{0x8085, 0xFFFFFFFFu}));
  // Monitoring stopped: no screens, but the status still follows.
  rig.host.SetMonitorInterval(-1, rig.now);
  rig.RunFor(50);
  int screens = rig.rec.screens;
  rig.host.PressKey(0x8021, rig.now, &id);  // starts a measurement
  ASSERT_TRUE(rig.Finished(id));
  rig.RunFor(1000);
  EXPECT_EQ(rig.rec.screens, screens);
  EXPECT_EQ(rig.host.StatusFlags(), 0x100u);
  EXPECT_EQ(rig.rec.flags.back(), 0x100u);
  // A change made while not monitoring shows once monitoring starts again.
  rig.host.SetMonitorInterval(300, rig.now);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.rec.screens == screens + 1; }));
  rig.host.CopyScreen(screen, kScreenSize);
  EXPECT_EQ(screen[0], 0x21);
}

TEST(SessionDownload, FourSectionsArriveWholeOnACleanAndOnANoisyLine) {
  for (bool noisy : {false, true}) {
    Rig rig(noisy ? SerialHostConfig(230400) : HostConfig{});
    if (noisy) {
      rig.toHost.bytesPerMs = rig.toAnalyzer.bytesPerMs = 23;  // 230400 bit/s
      rig.toHost.flipRate = rig.toAnalyzer.flipRate = 1e-4;
      rig.toHost.dropRate = rig.toAnalyzer.dropRate = 2e-5;
    }
    const uint32_t size = noisy ? 60000 : 300000;
    LoadSections(rig.model, size);
    rig.Connect();
    EXPECT_EQ(Download(rig), 0);
    EXPECT_EQ(rig.rec.file, Expected(rig.model));
    EXPECT_EQ(rig.rec.linkLost, 0);
    // Progress of the data section climbs to its size.
    uint32_t last = 0;
    for (auto [pos, range] : rig.rec.progress) {
      if (range != size) continue;
      EXPECT_GE(pos, last);
      last = pos;
    }
    EXPECT_EQ(last, size);
    if (!noisy) {
      EXPECT_EQ(rig.host.Counters().retransmittedFrames, 0u);
      EXPECT_EQ(rig.analyzer.Counters().retransmittedFrames, 0u);
      continue;
    }
    EXPECT_GT(rig.toHost.flipped, 0u);
    EXPECT_GT(rig.analyzer.Counters().retransmittedFrames, 0u);
    EXPECT_GT(rig.host.DecoderStats().corrupt, 0u);
  }
}

// Sections at the edges of what the analyzer holds and the host allows.
TEST(SessionDownload, SectionSizesAtTheEdges) {
  struct Case {
    uint32_t section;  // 0x8100 holds `size` bytes; 0x8105 is unknown
    size_t size;
    int32_t result;
  } cases[] = {{0x8100, 0, 0},
               {0x8100, 0x10000, 0},  // exactly at the limit
               {0x8100, 0x10001, kErrSectionTooLarge},
               {0x8105, 0, kErrInvalidArg}};
  for (const Case& c : cases) {
    Rig rig;
    rig.model.sections[0x8100] = Pattern(c.size, 9);
    rig.Connect();
    uint32_t id;
    ASSERT_EQ(rig.host.ReadSection(c.section, 0x10000, rig.now, &id), 0);
    ASSERT_TRUE(rig.Finished(id));
    EXPECT_EQ(rig.rec.Find(id)->result, c.result) << c.size;
    EXPECT_EQ(rig.rec.file.size(), c.result == 0 ? c.size : 0) << c.size;
  }
}

// A section ended early by a cancel or by a write that fails: its code, no
// byte after its end, the analyzer stops sending, and the next read is clean.
TEST(SessionDownload, CancelOrAFailedWriteEndsTheSectionAndTheNextReadIsClean) {
  for (bool cancel : {true, false}) {
    Rig rig;
    LoadSections(rig.model, 2000000);
    rig.Connect();
    if (!cancel)  // disk full
      rig.rec.onData = [&](uint32_t) {
        return rig.rec.file.size() > 100000 ? ResultFromSystemError(112) : 0;
      };
    uint32_t id, other;
    ASSERT_EQ(rig.host.ReadSection(0x8101, 0xC00000, rig.now, &id), 0);
    EXPECT_LT(rig.host.ReadSection(0x8103, 0x10000, rig.now, &other), 0);  // one at a time
    ASSERT_TRUE(rig.RunUntil([&] { return rig.rec.file.size() > 100000; }));
    if (cancel) {
      EXPECT_EQ(rig.host.Cancel(id, rig.now), 0);
      EXPECT_EQ(rig.host.Cancel(id, rig.now), 1);  // nothing left to cancel
    }
    ASSERT_TRUE(rig.Finished(id));
    EXPECT_EQ(rig.rec.Find(id)->result, cancel ? kErrCancelled : static_cast<int32_t>(0x80070070u));
    size_t kept = rig.rec.file.size();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.analyzer.ActiveSection() == 0; }));
    EXPECT_LT(rig.analyzer.SectionSent(), 2000000u);
    rig.RunFor(100);
    EXPECT_EQ(rig.rec.file.size(), kept);  // late data is dropped
    EXPECT_TRUE(
        std::equal(rig.rec.file.begin(), rig.rec.file.end(), rig.model.sections[0x8101].begin()));
    rig.rec.file.clear();
    rig.rec.onData = nullptr;
    ASSERT_EQ(rig.host.ReadSection(0x8103, 0x10000, rig.now, &id), 0);
    ASSERT_TRUE(rig.Finished(id));
    EXPECT_EQ(rig.rec.Find(id)->result, 0);
    EXPECT_EQ(rig.rec.file, rig.model.sections[0x8103]);
  }
}

TEST(SessionLink, SilenceIsALostLinkAndSoIsAClosedTransport) {
  Rig rig;
  LoadSections(rig.model, 3000000);
  rig.Connect();
  rig.toHost.bytesPerMs = 100;
  uint32_t key, section;
  ASSERT_EQ(rig.host.ReadSection(0x8101, 0xC00000, rig.now, &section), 0);
  rig.RunFor(200);
  rig.toHost.cut = true;
  rig.host.PressKey(0x8001, rig.now, &key);
  uint64_t cutAt = rig.now;
  ASSERT_TRUE(rig.RunUntil([&] { return rig.rec.linkLost == 1; }));
  // Three seconds after the last frame got through (one was under way).
  EXPECT_GE(rig.now - cutAt, 2900u);
  EXPECT_LE(rig.now - cutAt, 3100u);
  EXPECT_EQ(rig.host.LinkState(), 0);
  EXPECT_EQ(rig.rec.states, (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(rig.rec.Find(key)->result, kErrNotConnected);
  EXPECT_EQ(rig.rec.Find(section)->result, kErrNotConnected);
  EXPECT_TRUE(rig.host.TransportDone());
  // The analyzer drops the silent host too and takes a new one.
  rig.toHost.cut = false;
  ASSERT_TRUE(rig.RunUntil([&] { return !rig.analyzer.Connected(); }));
  EXPECT_EQ(rig.model.hosts, 0);
  EXPECT_EQ(rig.rec.Find(rig.Connect())->result, 0);
  rig.host.TransportClosed(rig.now);
  EXPECT_EQ(rig.rec.linkLost, 2);
  EXPECT_EQ(rig.host.LinkState(), 0);
}

TEST(SessionLink, QuietLinkStaysUpAndDisconnectEndsBothSides) {
  Rig rig;
  rig.Connect();
  rig.host.SetMonitorInterval(300, rig.now);
  rig.RunFor(20000);  // pings keep it up
  EXPECT_EQ(rig.host.LinkState(), 1);
  uint32_t id;
  ASSERT_EQ(rig.host.Disconnect(rig.now, &id), 0);
  ASSERT_TRUE(rig.Finished(id));
  EXPECT_EQ(rig.rec.Find(id)->result, 0);
  EXPECT_EQ(rig.rec.Find(id)->kind, RequestKind::Disconnect);
  EXPECT_FALSE(rig.analyzer.Connected());
  EXPECT_EQ(rig.model.hosts, 0);
  EXPECT_EQ(rig.rec.states, (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(rig.rec.linkLost, 0);
  EXPECT_EQ(rig.host.PressKey(1, rig.now, &id), kErrNotConnected);
  // Reconnecting resumes the monitoring that was asked for.
  int before = rig.rec.screens;
  rig.Connect();
  EXPECT_TRUE(rig.RunUntil([&] { return rig.rec.screens > before; }));
  EXPECT_EQ(rig.analyzer.MonitorInterval(), 300);
  // A disconnect the analyzer never answers completes after its timeout.
  rig.toAnalyzer.cut = true;
  ASSERT_EQ(rig.host.Disconnect(rig.now, &id), 0);
  uint64_t start = rig.now;
  ASSERT_TRUE(rig.Finished(id));
  EXPECT_EQ(rig.rec.Find(id)->result, 0);
  EXPECT_GE(rig.now - start, 1000u);
}

// ---- A scripted hostile analyzer (sim/hostile_peer.h) against the host ----

using sim::HostilePeer;
using sim::Hostility;

struct HostileRig {
  explicit HostileRig(Hostility mode) : peer(mode), host(rec) {}

  // One millisecond: the host's output goes to the peer while the peer
  // reads; the peer's flood of `budget` bytes goes to the host.
  void Step(size_t budget = 0) {
    if (peer.ReadsHost()) {
      peer.Feed(host.OutputData(), host.OutputSize());
      host.ConsumeOutput(host.OutputSize());
    }
    peer.Flood(budget);
    FeedHost();
    host.Tick(now);
    maxOutput = std::max(maxOutput, host.OutputSize());
    ++now;
  }
  void FeedHost() {
    host.Feed(peer.OutputData(), peer.OutputSize(), now);
    peer.ConsumeOutput(peer.OutputSize());
  }
  bool RunUntil(const std::function<bool()>& pred, uint64_t maxMs, size_t budget = 0) {
    for (uint64_t end = now + maxMs; now < end && !pred();) Step(budget);
    return pred();
  }
  void Connect() {
    uint32_t id;
    ASSERT_EQ(host.Connect(now, &id), 0);
    ASSERT_TRUE(RunUntil([&] { return rec.Find(id); }, 100));
    ASSERT_EQ(rec.Find(id)->result, 0);
  }

  Recorder rec;
  HostilePeer peer;
  HostSession host;
  uint64_t now = 1000;
  size_t maxOutput = 0;
};

class SessionFlood : public ::testing::TestWithParam<Hostility> {};

// The peer floods and never reads: the host's queue stays small and the
// link is lost once, when its output has not drained for the silence limit.
TEST_P(SessionFlood, UnreadOutputIsBoundedAndLosesTheLinkOnce) {
  HostileRig rig(GetParam());
  rig.Connect();
  uint32_t keys[3];
  for (uint32_t& k : keys) ASSERT_EQ(rig.host.PressKey(0x8001, rig.now, &k), 0);  // in flight
  uint64_t start = rig.now;
  rig.RunUntil([&] { return rig.rec.linkLost > 0 || rig.maxOutput > 2 * kMaxOutputBytes; }, 8000,
               256);
  EXPECT_EQ(rig.rec.linkLost, 1);
  EXPECT_LE(rig.now - start, HostConfig{}.linkTimeoutMs + 100);
  EXPECT_LT(rig.maxOutput, kBackedUpBytes + 4096);
  rig.RunUntil([] { return false; }, 1000, 256);  // the flood goes on
  EXPECT_EQ(rig.rec.linkLost, 1);
  EXPECT_EQ(rig.host.OutputSize(), 0u);  // dropped: the transport can close
  EXPECT_TRUE(rig.host.TransportDone());
  for (uint32_t k : keys) {
    ASSERT_NE(rig.rec.Find(k), nullptr);
    EXPECT_EQ(rig.rec.Find(k)->result, kErrNotConnected);
  }
}

INSTANTIATE_TEST_SUITE_P(Hostile, SessionFlood,
                         ::testing::Values(Hostility::NakFlood, Hostility::PingFlood));

// The peer keeps the link alive (acknowledges, answers pings) but answers
// no request: each ends with 0x80070102 after its idle deadline.
TEST(SessionHostile, StalledRequestsEndAtTheirDeadlineAndGoodbyeEndsTheRest) {
  HostileRig rig(Hostility::Stall);
  rig.Connect();
  uint32_t section, key, cancelled;
  ASSERT_EQ(rig.host.ReadSection(0x8101, 0xC00000, rig.now, &section), 0);
  ASSERT_EQ(rig.host.PressKey(0x8001, rig.now, &key), 0);
  ASSERT_EQ(rig.host.PressKey(0x8002, rig.now, &cancelled), 0);
  EXPECT_EQ(rig.host.Cancel(cancelled, rig.now), 0);  // a key press cancels like a transfer
  uint64_t start = rig.now;
  rig.Step();
  ASSERT_NE(rig.rec.Find(cancelled), nullptr);
  EXPECT_EQ(rig.rec.Find(cancelled)->result, kErrCancelled);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.rec.Find(section) && rig.rec.Find(key); }, 30000));
  EXPECT_EQ(rig.rec.Find(section)->result, kErrTimeout);
  EXPECT_EQ(rig.rec.Find(key)->result, kErrTimeout);
  EXPECT_GE(rig.now - start, HostConfig{}.requestIdleMs);
  EXPECT_LE(rig.now - start, HostConfig{}.requestIdleMs + 100);
  EXPECT_EQ(rig.rec.linkLost, 0);
  EXPECT_EQ(rig.host.LinkState(), 1);
  EXPECT_EQ(rig.rec.done.size(), 4u);  // the connect and three requests, once each
  // The analyzer's goodbye is a lost link that ends what is still open.
  ASSERT_EQ(rig.host.PressKey(0x8001, rig.now, &key), 0);
  rig.Step();
  rig.peer.Send(Goodbye{0});
  rig.Step();
  EXPECT_EQ(rig.rec.linkLost, 1);
  ASSERT_NE(rig.rec.Find(key), nullptr);
  EXPECT_EQ(rig.rec.Find(key)->result, kErrNotConnected);
}

// A burst of reports costs the program one delivery of the latest value per
// read of the transport, and progress one event per interval plus the last.
TEST(SessionHostile, ReportBurstsAreCoalesced) {
  HostileRig rig(Hostility::StatusFlood);
  rig.Connect();
  size_t before = rig.rec.flags.size();
  while (rig.peer.MessagesSent() < 10000) rig.peer.Flood(rig.peer.OutputSize() + 1);
  std::vector<uint8_t> burst(rig.peer.OutputData(), rig.peer.OutputData() + rig.peer.OutputSize());
  rig.peer.ConsumeOutput(burst.size());
  size_t reads = 0;
  for (size_t at = 0; at < burst.size(); at += 256 * 1024, ++reads) {  // the library's reads
    rig.host.Feed(burst.data() + at, std::min<size_t>(256 * 1024, burst.size() - at), rig.now);
  }
  size_t deliveries = rig.rec.flags.size() - before + static_cast<size_t>(rig.rec.screens);
  EXPECT_LE(deliveries, 2 * reads);
  EXPECT_LE(deliveries, 6u);
  EXPECT_EQ(rig.rec.flags.back(), rig.host.StatusFlags());

  uint32_t id;
  ASSERT_EQ(rig.host.ReadSection(0x8103, 0x10000, rig.now, &id), 0);
  rig.Step();
  const uint8_t byte = 0x5A;
  rig.peer.Send(SectionBegin{id, 0x8103, 500});
  for (uint32_t i = 0; i < 500; ++i) {
    rig.peer.Send(SectionData{id, i, &byte, 1});
    rig.peer.Send(Progress{id, i + 1, 500});
    if (i == 250) rig.FeedHost();
  }
  rig.FeedHost();
  EXPECT_EQ(rig.rec.progress.size(), 1u);  // same millisecond: one event, the rest held
  rig.RunUntil([] { return false; }, kProgressIntervalMs + 1);
  ASSERT_EQ(rig.rec.progress.size(), 2u);
  EXPECT_EQ(rig.rec.progress.back(), (std::pair<uint32_t, uint32_t>{500, 500}));
  rig.peer.Send(SectionEnd{id, 0, 500});
  rig.Step();
  EXPECT_EQ(rig.rec.Find(id)->result, 0);
  EXPECT_EQ(rig.rec.file.size(), 500u);
}

// The simulator's side: a host that floods pings and NAKs and never reads
// is given up within the analyzer's silence limit, its output dropped.
TEST(SessionHostile, AnalyzerGivesUpAHostThatDoesNotRead) {
  FakeAnalyzer model;
  AnalyzerSession a(model);
  Bytes wire;
  Framed(Hello{}, wire);
  a.Feed(wire.data(), wire.size(), 0);
  ASSERT_TRUE(a.Connected());
  a.ConsumeOutput(a.OutputSize());
  ASSERT_EQ(a.Counters().framesSent, 1u);
  size_t maxOutput = 0;
  uint64_t now = 0;
  for (; now < 12000 && a.Connected(); ++now) {
    wire.clear();
    for (uint32_t i = 0; i < 8; ++i) {
      Framed(Ping{i}, wire);
      EncodeFrame(kMsgAck, kFlagNak, 0, 0, nullptr, 0, wire);
    }
    a.Feed(wire.data(), wire.size(), now);
    a.Tick(now);
    maxOutput = std::max(maxOutput, a.OutputSize());
  }
  EXPECT_FALSE(a.Connected());
  EXPECT_LE(now, 10001u);  // the host's silence limit, as its hello set it
  EXPECT_LT(maxOutput, kBackedUpBytes + 4096);
  EXPECT_EQ(a.OutputSize(), 0u);
  EXPECT_TRUE(a.WantsClose());
  EXPECT_EQ(model.hosts, 0);
}

// What a hostile analyzer may claim about a section: each claim ends the
// read once, with the right code, and nothing arrives after it ends.
struct SectionClaim {
  const char* name;
  uint32_t total;
  std::vector<std::pair<uint32_t, uint32_t>> data;  // offset, size
  int32_t expected;
};

TEST(SessionHostile, SectionClaimsEndTheReadOnce) {
  const std::vector<SectionClaim> claims = {
      {"4 GiB claim", 0xFFFFFFFFu, {}, kErrSectionTooLarge},
      {"data past the total", 100, {{0, 60}, {60, 41}}, kErrFail},
      {"gap", 100, {{0, 40}, {50, 50}}, kErrFail},
      {"overlap", 100, {{0, 60}, {50, 50}}, kErrFail},
      {"short section", 100, {{0, 99}}, kErrFail},
      {"whole", 100, {{0, 30}, {30, 70}}, 0},
  };
  for (const auto& c : claims) {
    HostileRig rig(Hostility::Stall);
    rig.Connect();
    uint32_t id;
    ASSERT_EQ(rig.host.ReadSection(0x8100, 0x10000, rig.now, &id), 0);
    rig.Step();
    std::vector<uint8_t> bytes(200, 0x33);
    rig.peer.Send(SectionBegin{id, 0x8100, c.total});
    for (auto [offset, size] : c.data) rig.peer.Send(SectionData{id, offset, bytes.data(), size});
    rig.peer.Send(SectionEnd{id, 0, c.total});
    rig.peer.Send(SectionData{id, c.total, bytes.data(), 10});  // late
    rig.Step();
    rig.Step();
    ASSERT_NE(rig.rec.Find(id), nullptr) << c.name;
    EXPECT_EQ(rig.rec.Find(id)->result, c.expected) << c.name;
    EXPECT_EQ(rig.rec.done.size(), 2u) << c.name;
    // Only bytes that fit the claim in order reach the sink; all of them
    // when the section is whole.
    EXPECT_LE(rig.rec.file.size(), c.expected == 0 ? c.total : c.total - 1) << c.name;
  }
}

}  // namespace
}  // namespace ksvw::proto
