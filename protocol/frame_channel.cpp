#include "protocol/frame_channel.h"

#include <algorithm>

namespace ksvw::proto {

FrameChannel::FrameChannel() {
  out_.reserve(64 * 1024);
}

void FrameChannel::Restart(uint16_t window, uint32_t rtoMs, uint64_t nowMs) {
  SetWindow(window);
  rtoMs_ = rtoMs;
  sndUna_ = sndNext_ = rcvNext_ = 0;
  ackOwed_ = nakSent_ = false;
  active_ = true;
  backlog_.clear();
  backlogBytes_ = 0;
  lastNakAck_ = 0;
  lastNakMs_ = 0;
  nakAnswered_ = false;
  lastProgressMs_ = nowMs;
  lastRxMs_ = nowMs;
  nowMs_ = nowMs;
  drainedMs_ = nowMs;
}

void FrameChannel::SetWindow(uint16_t window) {
  window_ = std::clamp<uint16_t>(window, 1, kMaxWindow);
}

void FrameChannel::ConsumeOutput(size_t n) {
  n = std::min(n, OutputSize());
  consumedTotal_ += n;
  outPos_ += n;
  if (outPos_ == out_.size()) {
    out_.clear();
    outPos_ = 0;
  } else if (outPos_ >= 256 * 1024 && outPos_ * 2 >= out_.size()) {
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outPos_));
    outPos_ = 0;
  }
}

void FrameChannel::ClearOutput() {
  out_.clear();
  outPos_ = 0;
}

bool FrameChannel::OutputStuck(uint64_t nowMs, uint32_t stallMs) {
  if (OutputSize() == 0 || consumedTotal_ != consumedSeen_) drainedMs_ = nowMs;
  consumedSeen_ = consumedTotal_;
  return Queued() > kMaxOutputBytes || Elapsed(nowMs, drainedMs_) >= stallMs;
}

void FrameChannel::SendDelimiter() {
  out_.push_back(0);
  ++counters_.bytesQueued;
}

void FrameChannel::Emit(uint8_t type, uint8_t flags, uint16_t seq, const uint8_t* body,
                        size_t size) {
  size_t before = out_.size();
  EncodeFrame(type, flags, seq, rcvNext_, body, size, out_);
  counters_.bytesQueued += out_.size() - before;
  ++counters_.framesSent;
  ackOwed_ = false;  // every frame carries the acknowledgement
}

void FrameChannel::SendUnsequenced(const Message& m) {
  uint8_t type = EncodeBody(m, scratch_);
  Emit(type, 0, 0, scratch_.data(), scratch_.size());
}

void FrameChannel::SendSequenced(const Message& m) {
  uint8_t type = EncodeBody(m, scratch_);
  SendSequencedBody(type, scratch_.data(), scratch_.size());
}

void FrameChannel::SendSequencedBody(uint8_t type, const uint8_t* body, size_t size) {
  if (!WindowOpen()) {
    Stored s;
    s.type = type;
    s.body.assign(body, body + size);
    backlogBytes_ += size;
    backlog_.push_back(std::move(s));
    return;
  }
  Stored& s = ring_[sndNext_ % kMaxWindow];
  s.type = type;
  s.body.assign(body, body + size);
  if (InFlight() == 0) lastProgressMs_ = nowMs_;
  Transmit(sndNext_++);
}

void FrameChannel::Transmit(uint16_t seq) {
  const Stored& s = ring_[seq % kMaxWindow];
  Emit(s.type, kFlagSequenced, seq, s.body.data(), s.body.size());
}

void FrameChannel::PromoteBacklog() {
  while (!backlog_.empty() && InFlight() < window_) {
    Stored& s = ring_[sndNext_ % kMaxWindow];
    s.type = backlog_.front().type;
    s.body.swap(backlog_.front().body);
    backlogBytes_ -= s.body.size();
    backlog_.pop_front();
    Transmit(sndNext_++);
  }
}

void FrameChannel::ResendAll() {
  for (uint16_t seq = sndUna_; seq != sndNext_; ++seq) {
    Transmit(seq);
    ++counters_.retransmittedFrames;
  }
}

void FrameChannel::ProcessAck(uint16_t ack, bool nak, uint64_t nowMs) {
  uint16_t acked = static_cast<uint16_t>(ack - sndUna_);
  if (acked > InFlight()) return;  // stale or from another numbering
  if (acked > 0) {
    sndUna_ = ack;
    lastProgressMs_ = nowMs;
  }
  if (nak) {
    ++counters_.naksReceived;
    // One resend per gap the peer reports: the same NAK again within rtoMs
    // (a flood, or a copy) resends nothing.
    bool repeat = nakAnswered_ && ack == lastNakAck_ && Elapsed(nowMs, lastNakMs_) < rtoMs_;
    if (InFlight() > 0 && !repeat) {
      ResendAll();
      nakAnswered_ = true;
      lastNakAck_ = ack;
      lastNakMs_ = nowMs;
      lastProgressMs_ = nowMs;
    }
  }
  PromoteBacklog();
}

bool FrameChannel::Accept(const Frame& f, uint64_t nowMs) {
  // Handshake frames belong to no numbering yet.
  if (f.type == kMsgHello || f.type == kMsgWelcome || f.type == kMsgRefuse) return true;
  if (!active_) return !(f.flags & kFlagSequenced) && f.type != kMsgAck;
  // Only an Ack asks for a resend: a NAK flag on anything else is noise.
  ProcessAck(f.ack, f.type == kMsgAck && (f.flags & kFlagNak) != 0, nowMs);
  if (!(f.flags & kFlagSequenced)) return f.type != kMsgAck;
  int16_t ahead = static_cast<int16_t>(f.seq - rcvNext_);
  if (ahead == 0) {
    ++rcvNext_;
    ackOwed_ = true;
    nakSent_ = false;
    return true;
  }
  if (ahead < 0) {
    ++counters_.duplicates;
    ackOwed_ = true;
    return false;
  }
  ++counters_.outOfOrder;
  if (!nakSent_) {
    nakSent_ = true;
    ++counters_.naksSent;
    Emit(kMsgAck, kFlagNak, 0, nullptr, 0);
  }
  return false;
}

void FrameChannel::FlushAck() {
  if (ackOwed_) Emit(kMsgAck, 0, 0, nullptr, 0);
}

void FrameChannel::Tick(uint64_t nowMs) {
  nowMs_ = nowMs;
  if (OutputSize() > 0 || InFlight() == 0) {
    // Frames still waiting for the transport cannot have been lost yet.
    lastProgressMs_ = nowMs;
  } else if (Elapsed(nowMs, lastProgressMs_) >= rtoMs_) {
    ++counters_.retransmitTimeouts;
    ResendAll();
    lastProgressMs_ = nowMs;
  }
  FlushAck();
}

}  // namespace ksvw::proto
