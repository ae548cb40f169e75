// Reliable, ordered delivery of sequenced messages over a lossy byte stream,
// shared by both ends of the link (go-back-N).
//
// Each end numbers its sequenced frames 0, 1, 2, ... (u16, wrapping) from the
// handshake on, keeps every frame until the peer acknowledges it, and has at
// most `window` of them unacknowledged. Every frame carries in its ack field
// the next sequence number its sender expects, so acknowledgements ride on
// the traffic both ways; a pure Ack frame goes out when one is owed and no
// sequenced frame carried it. The receiver takes only the next expected
// frame: a duplicate is acknowledged again, a frame from beyond a gap draws
// one NAK (an Ack with the NAK flag), which makes the sender resend all it
// has outstanding from that number. Without a NAK, a sender whose oldest
// frame stays unacknowledged for rtoMs (counted only while its own output
// queue is empty) resends likewise. Over TCP no frame is ever lost and this
// costs only the acknowledgements.
//
// The peer is not trusted: the NAK flag counts only on an Ack frame, and a
// NAK for the gap that the last one reported, within rtoMs of it, resends
// nothing, so a stream of NAKs cannot multiply the output (a new gap needs
// the acknowledgement to move, which uses up frames in flight). The output queue itself is bounded
// by its owner (the sessions end a peer whose output is over kMaxOutputBytes, or has not drained
// for their silence limit: OutputStuck).
//
// No threads, sockets or clocks: bytes in through Feed, bytes out through the
// output queue, time as a parameter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "protocol/frame.h"
#include "protocol/messages.h"

namespace ksvw::proto {

inline constexpr uint16_t kMaxWindow = 64;
// Output waiting for the transport beyond which the peer is given up: it
// does not read, or asks for more than any honest peer would.
inline constexpr size_t kMaxOutputBytes = 4u << 20;
// Output waiting beyond which the peer is behind: a session answers no
// more pings then (a pong only says that we are alive, and the bytes
// already queued say it too).
inline constexpr size_t kBackedUpBytes = 64 * 1024;

// Milliseconds from `since` to `now`; 0 when the caller's clock readings
// arrive slightly out of order (a time taken before a later Feed).
inline uint64_t Elapsed(uint64_t now, uint64_t since) {
  return now > since ? now - since : 0;
}

struct ChannelCounters {
  uint64_t framesSent = 0;
  uint64_t framesDelivered = 0;
  uint64_t retransmittedFrames = 0;
  uint64_t retransmitTimeouts = 0;
  uint64_t naksSent = 0;
  uint64_t naksReceived = 0;
  uint64_t duplicates = 0;
  uint64_t outOfOrder = 0;
  uint64_t badMessages = 0;  // valid frame, unusable body
  uint64_t bytesQueued = 0;  // bytes put into the output queue
};

class FrameChannel {
 public:
  FrameChannel();

  // Starts a new numbering both ways (after a handshake) and forgets every
  // frame outstanding or waiting. The output queue is kept.
  void Restart(uint16_t window, uint32_t rtoMs, uint64_t nowMs);
  // Ends the numbering: until the next Restart only unsequenced messages
  // are delivered, and nothing is acknowledged.
  void Deactivate() { active_ = false; }
  bool Active() const { return active_; }
  void SetWindow(uint16_t window);
  void SetRto(uint32_t rtoMs) { rtoMs_ = rtoMs; }

  // Output queue, drained by the transport.
  const uint8_t* OutputData() const { return out_.data() + outPos_; }
  size_t OutputSize() const { return out_.size() - outPos_; }
  void ConsumeOutput(size_t n);
  void ClearOutput();
  bool OutputBackedUp() const { return OutputSize() >= kBackedUpBytes; }
  // Bytes queued to go out: the output and the frames waiting for the window.
  size_t Queued() const { return OutputSize() + backlogBytes_; }
  // True when Queued() is over kMaxOutputBytes, or the output has waited without a
  // byte taken for stallMs. Call it on every tick: the drain is judged by
  // what was consumed between calls.
  bool OutputStuck(uint64_t nowMs, uint32_t stallMs);

  // A lone delimiter: ends whatever garbage the peer's decoder holds.
  void SendDelimiter();
  void SendUnsequenced(const Message& m);
  // Sends at once when the window has room, otherwise queues behind it.
  void SendSequenced(const Message& m);
  // Sends a sequenced message whose body the caller has built.
  void SendSequencedBody(uint8_t type, const uint8_t* body, size_t size);
  // Room for one more sequenced frame now, with nothing waiting.
  bool WindowOpen() const { return backlog_.empty() && InFlight() < window_; }
  uint16_t InFlight() const { return static_cast<uint16_t>(sndNext_ - sndUna_); }

  // Decodes `size` bytes and calls sink(const Frame&, const Message&) for
  // every message to deliver: sequenced ones once each and in order,
  // unsequenced ones as they come (pure Acks are consumed here). Owed
  // acknowledgements are sent at the end.
  template <typename Sink>
  void Feed(const uint8_t* data, size_t size, uint64_t nowMs, Sink&& sink) {
    nowMs_ = nowMs;
    decoder_.Feed(data, size, [&](const Frame& f) {
      Message m;
      if (!ParseMessage(f, m)) {
        ++counters_.badMessages;
        return;
      }
      lastRxMs_ = nowMs;
      if (!Accept(f, nowMs)) return;
      ++counters_.framesDelivered;
      sink(f, static_cast<const Message&>(m));
    });
    FlushAck();
  }

  // Retransmission timer; also sends an owed acknowledgement.
  void Tick(uint64_t nowMs);
  void FlushAck();

  // The current time for frames sent outside Feed and Tick.
  void Touch(uint64_t nowMs) { nowMs_ = nowMs; }
  uint64_t LastRxMs() const { return lastRxMs_; }
  void SetLastRxMs(uint64_t nowMs) { lastRxMs_ = nowMs; }
  const ChannelCounters& Counters() const { return counters_; }
  const DecoderCounters& DecoderStats() const { return decoder_.Counters(); }
  void ResetDecoder() { decoder_.Reset(); }

 private:
  struct Stored {
    uint8_t type = 0;
    std::vector<uint8_t> body;
  };

  // Handles the ack/NAK and sequence fields; true when the message is to be
  // delivered.
  bool Accept(const Frame& f, uint64_t nowMs);
  void ProcessAck(uint16_t ack, bool nak, uint64_t nowMs);
  void Transmit(uint16_t seq);
  void Emit(uint8_t type, uint8_t flags, uint16_t seq, const uint8_t* body, size_t size);
  void PromoteBacklog();
  void ResendAll();

  FrameDecoder decoder_;
  std::vector<uint8_t> out_;
  size_t outPos_ = 0;
  uint64_t consumedTotal_ = 0;  // bytes ever taken by the transport
  uint64_t consumedSeen_ = 0;   // ... at the last OutputStuck
  uint64_t drainedMs_ = 0;      // when the output last drained or moved
  std::vector<uint8_t> scratch_;

  std::array<Stored, kMaxWindow> ring_;  // outstanding frames, by seq % kMaxWindow
  std::deque<Stored> backlog_;
  size_t backlogBytes_ = 0;
  bool nakAnswered_ = false;  // a NAK has had frames resent in this numbering
  uint16_t lastNakAck_ = 0;   // ... for this gap
  uint64_t lastNakMs_ = 0;    // ... at this time
  uint16_t window_ = 16;
  uint32_t rtoMs_ = 1000;
  uint16_t sndUna_ = 0;   // oldest unacknowledged
  uint16_t sndNext_ = 0;  // next to assign
  uint16_t rcvNext_ = 0;  // next expected from the peer
  bool active_ = false;
  bool ackOwed_ = false;
  bool nakSent_ = false;  // a NAK for rcvNext_ is out
  uint64_t lastProgressMs_ = 0;
  uint64_t lastRxMs_ = 0;
  uint64_t nowMs_ = 0;
  ChannelCounters counters_;
};

}  // namespace ksvw::proto
