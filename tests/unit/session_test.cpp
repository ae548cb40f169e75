// The host session against the simulator's analyzer session, wired together
// in memory through a pipe that can be slowed down, cut, or made to lose and
// garble bytes; and against a scripted hostile analyzer (sim/hostile_peer.h).
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/analyzer_session.h"
#include "protocol/host_session.h"
#include "protocol/wire.h"
#include "remote/ksvwrmt.h"
#include "sim/analyzer.h"
#include "sim/hostile_peer.h"
#include "testsupport/capture_builder.h"

namespace ksvw::proto {
namespace {

using Bytes = std::vector<uint8_t>;
using sim::Hostility;

// The simulator's analyzer, with a handshake answer that can change.
class Analyzer : public sim::SimAnalyzer {
 public:
  using SimAnalyzer::SimAnalyzer;
  int32_t AcceptHost() override { return answer != 0 ? answer : SimAnalyzer::AcceptHost(); }
  int32_t answer = 0;
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
    return onData ? onData(size) : 0;
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
    for (uint8_t b : chunk) {
      if (dropRate > 0 && Random() < dropRate) continue;
      if (flipRate > 0 && Random() < flipRate) b ^= static_cast<uint8_t>(1u << (rng % 8));
      out.push_back(b);
    }
    to.Feed(out.data(), out.size(), now);
  }
};

sim::CaptureMemory Memory(uint32_t records) {
  sim::CaptureMemory m;
  std::string why;
  EXPECT_TRUE(m.Load(build::GenerateCapture(records, kTagMdcl, records), why)) << why;
  return m;
}

// The host and, one millisecond a step, either the simulator's analyzer
// holding `records` records behind the wires, or a hostile peer.
struct Rig {
  explicit Rig(uint32_t records = 10, const HostConfig& hc = {})
      : memory(Memory(records)), host(rec, hc) {}
  explicit Rig(Hostility mode) : Rig() { peer.emplace(mode); }

  // A hostile peer takes the host's output only while it reads, and floods
  // up to `budget` bytes of its own.
  void Step(size_t budget = 0) {
    if (peer) {
      if (peer->ReadsHost()) {
        peer->Feed(host.OutputData(), host.OutputSize());
        host.ConsumeOutput(host.OutputSize());
      }
      peer->Flood(budget);
      FeedHost();
    } else {
      toAnalyzer.Carry(host, analyzer, now);
      toHost.Carry(analyzer, host, now);
    }
    host.Tick(now);
    if (!peer) analyzer.Tick(now);
    maxOutput = std::max(maxOutput, host.OutputSize());
    ++now;
  }
  void FeedHost() {
    host.Feed(peer->OutputData(), peer->OutputSize(), now);
    peer->ConsumeOutput(peer->OutputSize());
  }
  void RunFor(uint64_t ms, size_t budget = 0) {
    for (uint64_t end = now + ms; now < end;) Step(budget);
  }
  bool RunUntil(const std::function<bool()>& pred, uint64_t maxMs = 20000, size_t budget = 0) {
    for (uint64_t end = now + maxMs; now < end && !pred();) Step(budget);
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
  int32_t Result(uint32_t id) const {
    const Done* d = rec.Find(id);
    return d ? d->result : 1;
  }
  Bytes Section(uint32_t s) const {
    return Bytes(memory.Bytes(s), memory.Bytes(s) + memory.Span(s).size);
  }

  sim::CaptureMemory memory;
  Analyzer model{sim::SimIdentity{}, sim::SimFaults{}, memory};
  Recorder rec;
  HostSession host;
  AnalyzerSession analyzer{model};
  std::optional<sim::HostilePeer> peer;
  Wire toAnalyzer, toHost;
  uint64_t now = 1000;
  size_t maxOutput = 0;
};

// The program's download: the sections in order, and the size each may have.
constexpr uint32_t kOrder[4] = {kSectionHead, kSectionDataHeader, kSectionData, kSectionTail};
constexpr uint32_t kLimits[4] = {0x10000, 0x10000, 0xC00000, 0x10000};

// Runs the program's download chain: each section is asked for from the
// completion of the one before, inside the callback.
int32_t Download(Rig& rig) {
  int step = 0;
  int32_t final = 1;
  rig.rec.onDone = [&](uint32_t, RequestKind kind, int32_t result) {
    if (kind != RequestKind::Section) return;
    if (result < 0 || ++step == 4) {
      final = result;
      return;
    }
    uint32_t id;
    EXPECT_EQ(rig.host.ReadSection(kOrder[step], kLimits[step], rig.now, &id), 0);
  };
  uint32_t id;
  EXPECT_EQ(rig.host.ReadSection(kOrder[0], kLimits[0], rig.now, &id), 0);
  EXPECT_TRUE(rig.RunUntil([&] { return final != 1; }, 120000));
  rig.rec.onDone = nullptr;
  return final;
}

// Appends a host's unsequenced message, framed, to `wire`.
void Framed(const Message& m, Bytes& wire) {
  Bytes body;
  uint8_t type = EncodeBody(m, body);
  EncodeFrame(type, 0, 0, 0, body.data(), body.size(), wire);
}

TEST(SessionConnect, HandshakeReportsIdentityStateAndFlags) {
  Rig rig;
  rig.model.PressKey(0x8021, rig.now);  // a measurement runs
  uint32_t id = rig.Connect();
  EXPECT_EQ(rig.Result(id), 0);
  EXPECT_EQ(rig.rec.identity.model, 0x10024u);
  EXPECT_EQ(rig.rec.identity.board, kTagMdcl);
  EXPECT_EQ(rig.rec.states, std::vector<int32_t>{1});
  EXPECT_EQ(rig.host.LinkState(), 1);
  EXPECT_EQ(rig.host.StatusFlags(), 0x100u);
  EXPECT_EQ(rig.rec.flags, std::vector<uint32_t>{0x100});
  EXPECT_TRUE(rig.analyzer.Connected());
  EXPECT_TRUE(rig.model.HostHeld());
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
    EXPECT_EQ(rig.Result(rig.Connect()), silent ? kErrTimeout : answer);
    EXPECT_EQ(rig.host.LinkState(), 0);
    EXPECT_TRUE(rig.host.TransportDone());
    EXPECT_TRUE(rig.rec.states.empty());
    EXPECT_FALSE(rig.analyzer.Connected());
    if (silent) {
      EXPECT_GE(rig.now - start, 3000u);
      EXPECT_GE(rig.host.Counters().framesSent, 6u);  // the hello went again while waiting
    }
    rig.model.answer = 0;
    EXPECT_EQ(rig.Result(rig.Connect()), 0) << answer;
  }
}

TEST(SessionConnect, AnalyzerRefusesAnotherProtocolVersion) {
  Rig rig;
  Bytes wire;
  Framed(Hello{7, 5, 42}, wire);
  rig.analyzer.Feed(wire.data(), wire.size(), 0);
  FrameDecoder d;
  Message m;
  int answers = 0;
  d.Feed(rig.analyzer.OutputData(), rig.analyzer.OutputSize(),
         [&](const Frame& f) { answers += ParseMessage(f, m); });
  ASSERT_EQ(answers, 1);
  ASSERT_TRUE(std::holds_alternative<Refuse>(m));
  EXPECT_EQ(std::get<Refuse>(m).code, kErrVersionMismatch);
  EXPECT_EQ(std::get<Refuse>(m).nonce, 42u);
  EXPECT_FALSE(rig.model.HostHeld());
}

TEST(SessionKeys, KeyPressesPushScreensWhileMonitoringAndStatusAlways) {
  Rig rig;
  rig.Connect();
  EXPECT_EQ(rig.host.SetMonitorInterval(300, rig.now), 0);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.rec.screens == 1; }));
  uint32_t id;
  ASSERT_EQ(rig.host.PressKey(0x8085, rig.now, &id), 0);  // SHIFT+5
  ASSERT_TRUE(rig.Finished(id));
  EXPECT_EQ(rig.Result(id), 0);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.rec.screens == 2; }));
  Bytes screen(kScreenBytes);
  EXPECT_EQ(rig.host.CopyScreen(screen.data(), kScreenBytes), 0);
  EXPECT_EQ(screen, Bytes(rig.model.Screen(), rig.model.Screen() + kScreenBytes));
  EXPECT_NE(rig.model.TextLine(7).find("KEY SHIFT+5"), std::string::npos);
  // SHIFT's own press travels as all ones.
  ASSERT_EQ(rig.host.PressKey(0xFFFFFFFFu, rig.now, &id), 0);
  ASSERT_TRUE(rig.Finished(id));
  EXPECT_NE(rig.model.TextLine(7).find("KEY SHIFT "), std::string::npos);
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
  rig.host.PressKey(0x8022, rig.now, &id);  // stops it
  ASSERT_TRUE(rig.RunUntil([&] { return rig.host.StatusFlags() == 0; }));
  // A change made while not monitoring shows once monitoring starts again.
  rig.host.SetMonitorInterval(300, rig.now);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.rec.screens == screens + 1; }));
  rig.host.CopyScreen(screen.data(), kScreenBytes);
  EXPECT_EQ(screen, Bytes(rig.model.Screen(), rig.model.Screen() + kScreenBytes));
}

TEST(SessionDownload, FourSectionsArriveWholeOnACleanAndOnANoisyLine) {
  for (bool noisy : {false, true}) {
    const uint32_t records = noisy ? 1875 : 9375;
    Rig rig(records, noisy ? SerialHostConfig(230400) : HostConfig{});
    if (noisy) {
      rig.toHost.bytesPerMs = rig.toAnalyzer.bytesPerMs = 23;  // 230400 bit/s
      rig.toHost.flipRate = rig.toAnalyzer.flipRate = 1e-4;
      rig.toHost.dropRate = rig.toAnalyzer.dropRate = 2e-5;
    }
    rig.Connect();
    EXPECT_EQ(Download(rig), 0);
    EXPECT_EQ(rig.rec.file, Bytes(rig.memory.File().begin() + 16, rig.memory.File().end()));
    EXPECT_EQ(rig.rec.linkLost, 0);
    // Progress of the data section climbs to its size.
    uint32_t last = 0;
    for (auto [pos, range] : rig.rec.progress) {
      if (range != records * 32) continue;
      EXPECT_GE(pos, last);
      last = pos;
    }
    EXPECT_EQ(last, records * 32);
    if (!noisy) {
      EXPECT_EQ(rig.host.Counters().retransmittedFrames, 0u);
      EXPECT_EQ(rig.analyzer.Counters().retransmittedFrames, 0u);
      continue;
    }
    EXPECT_GT(rig.analyzer.Counters().retransmittedFrames, 0u);
    EXPECT_GT(rig.host.DecoderStats().corrupt, 0u);
  }
}

// Sections at the edges of what the analyzer holds and the host allows.
TEST(SessionDownload, SectionSizesAtTheEdges) {
  Rig rig;
  const uint32_t head = rig.memory.Span(kSectionHead).size;
  const struct {
    uint32_t section, limit;
    int32_t result;
  } cases[] = {{kSectionTail, 0x10000, 0},  // empty
               {kSectionHead, head, 0},     // exactly at the limit
               {kSectionHead, head - 1, kErrInsufficientBuffer},
               {0x8105, 0x10000, kErrInvalidArg}};
  rig.Connect();
  for (const auto& c : cases) {
    rig.rec.file.clear();
    uint32_t id;
    ASSERT_EQ(rig.host.ReadSection(c.section, c.limit, rig.now, &id), 0);
    ASSERT_TRUE(rig.Finished(id));
    EXPECT_EQ(rig.Result(id), c.result) << c.limit;
    EXPECT_EQ(rig.rec.file, c.result == 0 ? rig.Section(c.section) : Bytes{}) << c.limit;
  }
}

// A section ended early by a cancel or by a write that fails: its code, no
// byte after its end, the analyzer stops sending, and the next read is clean.
TEST(SessionDownload, CancelOrAFailedWriteEndsTheSectionAndTheNextReadIsClean) {
  for (bool cancel : {true, false}) {
    Rig rig(62500);  // 2,000,000 bytes of data
    rig.Connect();
    if (!cancel)  // disk full
      rig.rec.onData = [&](uint32_t) {
        return rig.rec.file.size() > 100000 ? ResultFromSystemError(112) : 0;
      };
    uint32_t id, other;
    ASSERT_EQ(rig.host.ReadSection(kSectionData, 0xC00000, rig.now, &id), 0);
    EXPECT_LT(rig.host.ReadSection(kSectionHead, 0x10000, rig.now, &other),
              0);  // one at a time
    ASSERT_TRUE(rig.RunUntil([&] { return rig.rec.file.size() > 100000; }));
    if (cancel) {
      EXPECT_EQ(rig.host.Cancel(id, rig.now), 0);
      EXPECT_EQ(rig.host.Cancel(id, rig.now), 1);  // nothing left to cancel
    }
    ASSERT_TRUE(rig.Finished(id));
    EXPECT_EQ(rig.Result(id), cancel ? kErrCancelled : static_cast<int32_t>(0x80070070u));
    size_t kept = rig.rec.file.size();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.analyzer.ActiveSection() == 0; }));
    EXPECT_LT(rig.analyzer.SectionSent(), 2000000u);
    rig.RunFor(100);
    EXPECT_EQ(rig.rec.file.size(), kept);  // late data is dropped
    const Bytes data = rig.Section(kSectionData);
    EXPECT_TRUE(std::equal(rig.rec.file.begin(), rig.rec.file.end(), data.begin()));
    rig.rec.file.clear();
    rig.rec.onData = nullptr;
    ASSERT_EQ(rig.host.ReadSection(kSectionHead, 0x10000, rig.now, &id), 0);
    ASSERT_TRUE(rig.Finished(id));
    EXPECT_EQ(rig.Result(id), 0);
    EXPECT_EQ(rig.rec.file, rig.Section(kSectionHead));
  }
}

TEST(SessionLink, SilenceIsALostLinkAndSoIsAClosedTransport) {
  Rig rig(93750);  // 3,000,000 bytes of data
  rig.Connect();
  rig.toHost.bytesPerMs = 100;
  uint32_t key, section;
  ASSERT_EQ(rig.host.ReadSection(kSectionData, 0xC00000, rig.now, &section), 0);
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
  EXPECT_EQ(rig.Result(key), kErrNotConnected);
  EXPECT_EQ(rig.Result(section), kErrNotConnected);
  EXPECT_TRUE(rig.host.TransportDone());
  // The analyzer drops the silent host too and takes a new one.
  rig.toHost.cut = false;
  ASSERT_TRUE(rig.RunUntil([&] { return !rig.analyzer.Connected(); }));
  EXPECT_FALSE(rig.model.HostHeld());
  EXPECT_EQ(rig.Result(rig.Connect()), 0);
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
  EXPECT_EQ(rig.Result(id), 0);
  EXPECT_FALSE(rig.analyzer.Connected());
  EXPECT_FALSE(rig.model.HostHeld());
  EXPECT_EQ(rig.rec.states, (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(rig.rec.linkLost, 0);
  EXPECT_EQ(rig.host.PressKey(1, rig.now, &id), kErrNotConnected);
  // Reconnecting resumes the monitoring that was asked for.
  int before = rig.rec.screens;
  rig.Connect();
  EXPECT_TRUE(rig.RunUntil([&] { return rig.rec.screens > before; }));
  EXPECT_EQ(rig.analyzer.MonitorInterval(), 300);
  // A disconnect the analyzer never hears completes after its timeout; the
  // analyzer drops the host it still holds when the next hello comes.
  rig.toAnalyzer.cut = true;
  ASSERT_EQ(rig.host.Disconnect(rig.now, &id), 0);
  uint64_t start = rig.now;
  ASSERT_TRUE(rig.Finished(id));
  EXPECT_EQ(rig.Result(id), 0);
  EXPECT_GE(rig.now - start, 1000u);
  rig.toAnalyzer.cut = false;
  EXPECT_TRUE(rig.analyzer.Connected());
  EXPECT_EQ(rig.Result(rig.Connect()), 0);
}

// ---- A scripted hostile analyzer against the host ----

class SessionFlood : public ::testing::TestWithParam<Hostility> {};

// The peer floods and never reads: the host's queue stays small and the
// link is lost once, when its output has not drained for the silence limit.
TEST_P(SessionFlood, UnreadOutputIsBoundedAndLosesTheLinkOnce) {
  Rig rig(GetParam());
  rig.Connect();
  uint32_t keys[3];
  for (uint32_t& k : keys) ASSERT_EQ(rig.host.PressKey(0x8001, rig.now, &k), 0);  // in flight
  uint64_t start = rig.now;
  rig.RunUntil([&] { return rig.rec.linkLost > 0 || rig.maxOutput > 2 * kMaxOutputBytes; }, 8000,
               256);
  EXPECT_EQ(rig.rec.linkLost, 1);
  EXPECT_LE(rig.now - start, HostConfig{}.linkTimeoutMs + 100);
  EXPECT_LT(rig.maxOutput, kBackedUpBytes + 4096);
  rig.RunFor(1000, 256);  // the flood goes on
  EXPECT_EQ(rig.rec.linkLost, 1);
  EXPECT_EQ(rig.host.OutputSize(), 0u);  // dropped: the transport can close
  EXPECT_TRUE(rig.host.TransportDone());
  for (uint32_t k : keys) EXPECT_EQ(rig.Result(k), kErrNotConnected);
}

INSTANTIATE_TEST_SUITE_P(Hostile, SessionFlood,
                         ::testing::Values(Hostility::NakFlood, Hostility::PingFlood));

// The peer keeps the link alive (acknowledges, answers pings) but answers
// no request: each ends with 0x80070102 after its idle deadline.
TEST(SessionHostile, StalledRequestsEndAtTheirDeadlineAndGoodbyeEndsTheRest) {
  Rig rig(Hostility::Stall);
  rig.Connect();
  uint32_t section, key, cancelled;
  ASSERT_EQ(rig.host.ReadSection(0x8101, 0xC00000, rig.now, &section), 0);
  ASSERT_EQ(rig.host.PressKey(0x8001, rig.now, &key), 0);
  ASSERT_EQ(rig.host.PressKey(0x8002, rig.now, &cancelled), 0);
  EXPECT_EQ(rig.host.Cancel(cancelled, rig.now), 0);  // a key press cancels like a transfer
  uint64_t start = rig.now;
  rig.Step();
  EXPECT_EQ(rig.Result(cancelled), kErrCancelled);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.rec.Find(section) && rig.rec.Find(key); }, 30000));
  EXPECT_EQ(rig.Result(section), kErrTimeout);
  EXPECT_EQ(rig.Result(key), kErrTimeout);
  EXPECT_GE(rig.now - start, HostConfig{}.requestIdleMs);
  EXPECT_LE(rig.now - start, HostConfig{}.requestIdleMs + 100);
  EXPECT_EQ(rig.rec.linkLost, 0);
  EXPECT_EQ(rig.host.LinkState(), 1);
  // The analyzer's goodbye is a lost link that ends what is still open.
  ASSERT_EQ(rig.host.PressKey(0x8001, rig.now, &key), 0);
  rig.Step();
  rig.peer->Send(Goodbye{0});
  rig.Step();
  EXPECT_EQ(rig.rec.linkLost, 1);
  EXPECT_EQ(rig.Result(key), kErrNotConnected);
}

// A burst of reports costs the program one delivery of the latest value per
// read of the transport, and progress one event per interval plus the last.
TEST(SessionHostile, ReportBurstsAreCoalesced) {
  Rig rig(Hostility::StatusFlood);
  rig.Connect();
  sim::HostilePeer& peer = *rig.peer;
  size_t before = rig.rec.flags.size();
  while (peer.MessagesSent() < 10000) peer.Flood(peer.OutputSize() + 1);
  Bytes burst(peer.OutputData(), peer.OutputData() + peer.OutputSize());
  peer.ConsumeOutput(burst.size());
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
  peer.Send(SectionBegin{id, 0x8103, 500});
  for (uint32_t i = 0; i < 500; ++i) {
    peer.Send(SectionData{id, i, &byte, 1});
    peer.Send(Progress{id, i + 1, 500});
    if (i == 250) rig.FeedHost();
  }
  rig.FeedHost();
  EXPECT_EQ(rig.rec.progress.size(), 1u);  // same millisecond: one event, the rest held
  rig.RunFor(kProgressIntervalMs + 1);
  ASSERT_EQ(rig.rec.progress.size(), 2u);
  EXPECT_EQ(rig.rec.progress.back(), (std::pair<uint32_t, uint32_t>{500, 500}));
  peer.Send(SectionEnd{id, 0, 500});
  rig.Step();
  EXPECT_EQ(rig.Result(id), 0);
  EXPECT_EQ(rig.rec.file.size(), 500u);
}

// The simulator's side: a host that floods pings and NAKs and never reads
// is given up within the analyzer's silence limit, its output dropped.
TEST(SessionHostile, AnalyzerGivesUpAHostThatDoesNotRead) {
  Rig rig;
  AnalyzerSession& a = rig.analyzer;
  Bytes wire;
  Framed(Hello{}, wire);
  a.Feed(wire.data(), wire.size(), 0);
  ASSERT_TRUE(a.Connected());
  a.ConsumeOutput(a.OutputSize());
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
  EXPECT_FALSE(rig.model.HostHeld());
}

// What a hostile analyzer may claim about a section: each claim ends the
// read once, with the right code, and nothing arrives after it ends. The
// gap and the overlap add up to the total, so only the offsets betray them.
// (Data past the total and a short section are the protocol fuzzer's.)
TEST(SessionHostile, SectionClaimsEndTheReadOnce) {
  const struct {
    const char* name;
    uint32_t total;
    std::vector<std::pair<uint32_t, uint32_t>> data;  // offset, size
    int32_t expected;
  } claims[] = {
      {"4 GiB claim", 0xFFFFFFFFu, {}, kErrInsufficientBuffer},
      {"gap", 100, {{0, 40}, {50, 60}}, kErrFail},
      {"overlap", 100, {{0, 60}, {50, 40}}, kErrFail},
      {"whole", 100, {{0, 30}, {30, 70}}, 0},
  };
  for (const auto& c : claims) {
    Rig rig(Hostility::Stall);
    rig.Connect();
    uint32_t id;
    ASSERT_EQ(rig.host.ReadSection(0x8100, 0x10000, rig.now, &id), 0);
    rig.Step();
    Bytes bytes(200, 0x33);
    rig.peer->Send(SectionBegin{id, 0x8100, c.total});
    for (auto [offset, size] : c.data) rig.peer->Send(SectionData{id, offset, bytes.data(), size});
    rig.peer->Send(SectionEnd{id, 0, c.total});
    rig.peer->Send(SectionData{id, c.total, bytes.data(), 10});  // late
    rig.Step();
    rig.Step();
    EXPECT_EQ(rig.Result(id), c.expected) << c.name;
    EXPECT_EQ(rig.rec.done.size(), 2u) << c.name;
    // Only bytes that fit the claim in order reach the sink; all of them
    // when the section is whole.
    EXPECT_LE(rig.rec.file.size(), c.expected == 0 ? c.total : c.total - 1) << c.name;
  }
}

}  // namespace
}  // namespace ksvw::proto
