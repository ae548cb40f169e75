#include "sim/hostile_peer.h"

#include <algorithm>

#include "protocol/screen_pack.h"

namespace ksvw::sim {

using namespace proto;

bool ParseHostility(const std::string& name, Hostility* out) {
  if (name == "nak-flood") {
    *out = Hostility::NakFlood;
  } else if (name == "ping-flood") {
    *out = Hostility::PingFlood;
  } else if (name == "stall-section" || name == "stall-key") {
    *out = Hostility::Stall;
  } else if (name == "status-flood") {
    *out = Hostility::StatusFlood;
  } else {
    return false;
  }
  return true;
}

bool HostilePeer::ReadsHost() const {
  return !connected_ || mode_ == Hostility::Stall || mode_ == Hostility::StatusFlood;
}

void HostilePeer::ConsumeOutput(size_t n) {
  outPos_ += std::min(n, OutputSize());
  if (outPos_ == out_.size()) {
    out_.clear();
    outPos_ = 0;
  }
}

void HostilePeer::Send(const Message& m, uint8_t flags) {
  uint8_t type = EncodeBody(m, body_);
  uint16_t seq = 0;
  if (IsSequencedType(type)) {
    flags |= kFlagSequenced;
    seq = seq_++;
  }
  // The NAK flood never acknowledges: the host keeps all it sent in flight.
  uint16_t ack = mode_ == Hostility::NakFlood ? 0 : hostNext_;
  EncodeFrame(type, flags, seq, ack, body_.data(), body_.size(), out_);
  ++sent_;
}

void HostilePeer::Feed(const uint8_t* data, size_t size) {
  decoder_.Feed(data, size, [&](const Frame& f) { OnFrame(f); });
}

void HostilePeer::OnFrame(const Frame& f) {
  Message m;
  if (!ParseMessage(f, m)) return;
  if (const auto* h = std::get_if<Hello>(&m)) {
    Welcome w;
    w.nonce = h->nonce;
    w.model = 0x10024;
    w.board = 0x4C43444D;  // "MDCL"
    Send(w);
    connected_ = true;
    seq_ = hostNext_ = 0;
    return;
  }
  if (!connected_) return;
  if ((f.flags & kFlagSequenced) && f.seq == hostNext_) {
    ++hostNext_;
    if (mode_ != Hostility::NakFlood) Send(AckOnly{});
  }
  if (const auto* p = std::get_if<Ping>(&m)) Send(Pong{p->token});
  if (std::holds_alternative<Goodbye>(m)) {  // the modes that read let the host go
    Send(Goodbye{0});
    connected_ = false;
  }
}

void HostilePeer::Flood(size_t budget) {
  if (!connected_) return;
  while (OutputSize() < budget) {
    switch (mode_) {
      case Hostility::NakFlood: Send(AckOnly{}, kFlagNak); break;
      case Hostility::PingFlood: Send(Ping{++token_}); break;
      case Hostility::Stall: return;
      case Hostility::StatusFlood: {
        Send(Status{static_cast<uint32_t>(sent_) & kStatusMeasuring});  // toggles the flag
        screen_[0] = static_cast<uint8_t>(sent_);  // a new screen each time, small packed
        std::vector<uint8_t> packed;
        PackScreen(screen_, kScreenBytes, packed);
        Send(ScreenPacked{packed.data(), static_cast<uint32_t>(packed.size())});
        break;
      }
    }
  }
}

}  // namespace ksvw::sim
