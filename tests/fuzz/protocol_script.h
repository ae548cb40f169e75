// The protocol fuzzer's input language: a script of host operations, time
// jumps, transport events and analyzer messages that are framed correctly
// (COBS, header, CRC, the peer's own numbering and acknowledgements), so the
// fuzzer's mutations reach the message handling instead of the CRC check.
// After every step the invariants of the host session are checked; a broken
// one aborts. Shared by the fuzz target and its seed-corpus writer, which
// records traffic from the simulator's analyzer session in this language.
//
// Script: a sequence of operations, each one opcode byte and its operands
// (u16 little-endian); reading past the end yields zeros and ends the run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "protocol/analyzer_session.h"
#include "protocol/frame.h"
#include "protocol/host_session.h"
#include "protocol/messages.h"
#include "protocol/wire.h"
#include "sim/analyzer.h"
#include "testsupport/capture_builder.h"

namespace ksvw::fuzz {

using namespace proto;

enum Op : uint8_t {
  kOpConnect,     //
  kOpRead,        // u8 section (0..3 of 0x8100..0x8103, else 0x8104+), u8 limit choice
  kOpKey,         // u8 low byte of the key code
  kOpCancel,      // u8 which: the section, the oldest key, or a made-up id
  kOpDisconnect,  //
  kOpMonitor,     // u8 interval (0: stop)
  kOpSend,        // u8 type, u8 mode, u16 length, body: one framed analyzer message
  kOpTime,        // u16 ms: time passes, then the host ticks
  kOpDrain,       // u8 share of the host's output the transport takes (255: all)
  kOpClose,       // the transport closes
  kOpRaw,         // u16 length, bytes straight to the host
  kOpCount
};

// kOpSend modes.
inline constexpr uint8_t kModeFixIds = 0x01;  // ids, offset and nonce of the host's live requests
inline constexpr uint8_t kModeNak = 0x02;
inline constexpr uint8_t kModeBadSeq = 0x04;  // a sequence number off by the body's first byte
inline constexpr uint8_t kModeNoAck = 0x08;   // acknowledges nothing

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// Records the host's events and checks that each request ends exactly once
// and nothing of it arrives after its end.
class Checker final : public HostEvents {
 public:
  void Opened(uint32_t id, RequestKind kind, uint32_t limit = 0) {
    Check(!open_.count(id) && !ended_.count(id));
    open_[id] = {kind, limit, 0};
  }
  void OnRequestDone(uint32_t id, RequestKind kind, int32_t result) override {
    auto it = open_.find(id);
    Check(it != open_.end() && it->second.kind == kind);
    if (kind == RequestKind::Section && result >= 0) {
      // A section that ends well delivered exactly a total it was announced.
      Check(totals_[id].count(it->second.delivered) == 1);
    }
    open_.erase(it);
    ended_.insert(id);
  }
  // Data arrives only for an open section, within its limit and the largest
  // total announced for it (the host takes one of those, none over the limit).
  int32_t OnData(uint32_t id, const uint8_t*, uint32_t size) override {
    auto it = open_.find(id);
    Check(it != open_.end() && it->second.kind == RequestKind::Section);
    it->second.delivered += size;
    const auto& totals = totals_[id];
    Check(!totals.empty() && it->second.delivered <= *totals.rbegin() &&
          *totals.begin() <= it->second.limit && it->second.delivered <= it->second.limit);
    return 0;
  }
  void OnProgress(uint32_t id, uint32_t, uint32_t) override { Check(open_.count(id) == 1); }
  void Announced(uint32_t id, uint32_t total) { totals_[id].insert(total); }
  bool NothingOpen() const { return open_.empty(); }
  bool IsOpen(uint32_t id) const { return open_.count(id) == 1; }

 private:
  struct Open {
    RequestKind kind;
    uint32_t limit;
    uint64_t delivered;
  };
  std::map<uint32_t, Open> open_;
  std::set<uint32_t> ended_;
  std::map<uint32_t, std::set<uint64_t>> totals_;
};

// A sticky reader over the script.
class Script {
 public:
  Script(const uint8_t* data, size_t size) : p_(data), left_(size) {}
  bool More() const { return left_ > 0; }
  const uint8_t* Pos() const { return p_; }
  uint8_t U8() { return left_ ? (--left_, *p_++) : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
  const uint8_t* Bytes(size_t& n) {
    n = std::min(n, left_);
    const uint8_t* r = p_;
    p_ += n;
    left_ -= n;
    return r;
  }

 private:
  const uint8_t* p_;
  size_t left_;
};

// Runs one script against a host session. The host's output, as the
// transport takes it, also goes to an analyzer session (whose answers are
// dropped), so both message handlers see well-formed frames.
class Runner {
 public:
  Runner() : Runner(nullptr, nullptr) {}
  // Recording (the seed writer): `model` is the analyzer behind the session,
  // every frame it answers with is sent to the host as a kOpSend operation,
  // and the script as run, those operations included, goes to `record`.
  Runner(AnalyzerModel* model, std::vector<uint8_t>* record)
      : host_(checker_), analyzer_(model ? *model : model_), record_(record) {}
  // The analyzer behind the fuzzed session: the simulator's, a small capture in it.
  static const sim::CaptureMemory& Memory() {
    static const sim::CaptureMemory memory = [] {
      sim::CaptureMemory m;
      std::string why;
      Check(m.Load(build::GenerateCapture(24, kTagMdcl, 5), why));
      return m;
    }();
    return memory;
  }

  void Run(const uint8_t* data, size_t size) {
    Script s(data, size);
    for (int steps = 0; s.More() && steps < 4096; ++steps) {
      const uint8_t* at = s.Pos();
      Step(s);
      if (!record_) continue;
      record_->insert(record_->end(), at, s.Pos());
      record_->insert(record_->end(), sends_.begin(), sends_.end());
      sends_.clear();
    }
    host_.TransportClosed(now_);
    Check(checker_.NothingOpen());
  }

 private:
  void Step(Script& s) {
    uint32_t id = 0;
    const uint8_t op = s.U8() % kOpCount;
    switch (op) {
      case kOpConnect:
        if (host_.Connect(now_, &id) == 0) checker_.Opened(id, RequestKind::Connect);
        break;
      case kOpRead: {
        uint8_t which = s.U8();
        uint32_t section = 0x8100 + which % 8;
        uint32_t limit = s.U8() & 1 ? 0xC00000 : 0x10000;
        if (host_.ReadSection(section, limit, now_, &id) == 0) {
          checker_.Opened(id, RequestKind::Section, limit);
          section_ = id;
        }
        break;
      }
      case kOpKey:
        if (host_.PressKey(0x8000 | s.U8(), now_, &id) == 0) {
          checker_.Opened(id, RequestKind::KeyPress);
          keys_.push_back(id);
        }
        break;
      case kOpCancel: {
        uint8_t which = s.U8();
        uint32_t target = which % 3 == 0                     ? section_
                          : which % 3 == 1 && !keys_.empty() ? keys_[0]
                                                             : which;
        host_.Cancel(target, now_);
        break;
      }
      case kOpDisconnect:
        if (host_.Disconnect(now_, &id) == 0) checker_.Opened(id, RequestKind::Disconnect);
        break;
      case kOpMonitor: host_.SetMonitorInterval(s.U8() * 10, now_); break;
      case kOpSend: Send(s); break;
      case kOpTime:
        now_ += s.U16();
        host_.Tick(now_);
        break;
      case kOpDrain: Drain(s.U8()); break;
      case kOpClose:
        host_.TransportClosed(now_);
        Check(checker_.NothingOpen());
        break;
      case kOpRaw: {
        size_t n = s.U16();
        const uint8_t* p = s.Bytes(n);
        host_.Feed(p, n, now_);
        break;
      }
    }
    // The output stays bounded whatever the analyzer does.
    Check(host_.OutputSize() <= kMaxOutputBytes + 2 * kMaxFrameSize);
    // A session that is over holds no request once its events are out (the
    // operations from kOpSend on end in Feed, Tick or TransportClosed).
    if (op >= kOpSend && host_.GetState() == HostSession::State::Idle)
      Check(checker_.NothingOpen());
    std::erase_if(keys_, [&](uint32_t k) { return !checker_.IsOpen(k); });
  }

  // The host's output as the transport takes it: seen by this peer (for
  // the nonce and its acknowledgements) and by the analyzer session.
  void Drain(uint8_t share) {
    size_t n = share == 255 ? host_.OutputSize() : host_.OutputSize() * share / 255;
    const uint8_t* p = host_.OutputData();
    decoder_.Feed(p, n, [&](const Frame& f) {
      Message m;
      if (!ParseMessage(f, m)) return;
      if (const auto* h = std::get_if<Hello>(&m)) {
        nonce_ = h->nonce;
        seq_ = hostNext_ = 0;
      } else if ((f.flags & kFlagSequenced) && f.seq == hostNext_) {
        ++hostNext_;
      }
    });
    analyzer_.Feed(p, n, now_);
    analyzer_.Tick(now_);
    host_.ConsumeOutput(n);
    if (record_) {
      answers_.Feed(analyzer_.OutputData(), analyzer_.OutputSize(), [&](const Frame& f) {
        uint8_t op[5] = {kOpSend, f.type, kModeFixIds, static_cast<uint8_t>(f.size),
                         static_cast<uint8_t>(f.size >> 8)};
        sends_.insert(sends_.end(), op, op + 5);
        sends_.insert(sends_.end(), f.payload, f.payload + f.size);
        SendBody(f.type, kModeFixIds, f.payload, f.size);
      });
    }
    analyzer_.ConsumeOutput(analyzer_.OutputSize());
  }

  void Send(Script& s) {
    uint8_t type = s.U8();
    uint8_t mode = s.U8();
    size_t n = s.U16();
    const uint8_t* p = s.Bytes(n);
    SendBody(type, mode, p, n);
  }

  void SendBody(uint8_t type, uint8_t mode, const uint8_t* p, size_t n) {
    body_.assign(p, p + n);
    if (mode & kModeFixIds) FixIds(type);
    if (type == kMsgSectionBegin && body_.size() == 12)
      checker_.Announced(LoadLE32(body_.data()), LoadLE32(body_.data() + 8));
    uint8_t flags = mode & kModeNak ? kFlagNak : 0;
    uint16_t seq = 0;
    if (IsSequencedType(type)) {
      flags |= kFlagSequenced;
      seq = seq_++;
      if (mode & kModeBadSeq && !body_.empty()) seq = static_cast<uint16_t>(seq + body_[0]);
    }
    uint16_t ack = mode & kModeNoAck ? 0 : hostNext_;
    frame_.clear();
    size_t size = std::min<size_t>(body_.size(), kMaxPayload);
    EncodeFrame(type, flags, seq, ack, body_.data(), size, frame_);
    host_.Feed(frame_.data(), frame_.size(), now_);
  }

  // Points a message at what the host has open, so that it is taken.
  void FixIds(uint8_t type) {
    auto put = [&](size_t at, uint32_t v) {
      if (body_.size() >= at + 4) StoreLE32(body_.data() + at, v);
    };
    switch (type) {
      case kMsgWelcome:
      case kMsgRefuse: put(4, nonce_); break;
      case kMsgKeyDone: put(0, keys_.empty() ? 0 : keys_.front()); break;
      case kMsgSectionData:
        put(0, section_);
        put(4, delivered_[section_]);
        if (body_.size() > kSectionDataPrefix)
          delivered_[section_] += static_cast<uint32_t>(body_.size() - kSectionDataPrefix);
        break;
      case kMsgSectionBegin:
      case kMsgProgress:
      case kMsgSectionEnd: put(0, section_); break;
      default: break;
    }
  }

  Checker checker_;
  HostSession host_;
  sim::SimAnalyzer model_{sim::SimIdentity{}, sim::SimFaults{}, Memory()};
  AnalyzerSession analyzer_;
  std::vector<uint8_t>* record_;
  std::vector<uint8_t> sends_;  // recorded answers of the step
  FrameDecoder decoder_;
  FrameDecoder answers_;
  uint64_t now_ = 1000;
  uint32_t nonce_ = 0;
  uint16_t seq_ = 0;
  uint16_t hostNext_ = 0;
  uint32_t section_ = 0;
  std::vector<uint32_t> keys_;
  std::map<uint32_t, uint32_t> delivered_;
  std::vector<uint8_t> body_, frame_;
};

}  // namespace ksvw::fuzz
