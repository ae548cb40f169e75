// A scripted analyzer that answers the handshake like a real one and then
// misbehaves: the hostile peer of the host session's tests and of
// `ksvw-sim --hostile`. Portable; bytes in through Feed, out through the
// output queue, like the sessions.
//
//   nak-flood     never acknowledges, never reads again, sends NAKs
//   ping-flood    never reads again, sends Pings
//   stall         acknowledges and answers pings, answers no request
//                 (the simulator's stall-section and stall-key)
//   status-flood  keeps reading and acknowledging, sends Status and packed
//                 Screen reports as fast as the transport takes them
// The modes that read answer a Goodbye and stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "protocol/messages.h"

namespace ksvw::sim {

enum class Hostility { NakFlood, PingFlood, Stall, StatusFlood };

// The simulator's names: nak-flood, ping-flood, stall-section, stall-key,
// status-flood. False for any other.
bool ParseHostility(const std::string& name, Hostility* out);

class HostilePeer {
 public:
  explicit HostilePeer(Hostility mode) : mode_(mode) {}

  // Bytes from the host: a Hello is welcomed (a new numbering each time).
  void Feed(const uint8_t* data, size_t size);
  // After the handshake the flooding modes stop reading the host.
  bool ReadsHost() const;
  // Has traffic of its own to send whenever the link takes it.
  bool Floods() const { return connected_ && mode_ != Hostility::Stall; }
  bool Connected() const { return connected_; }

  // Queues the mode's traffic until the output holds `budget` bytes.
  void Flood(size_t budget);
  // Queues one message, numbered when its type is sequenced.
  void Send(const proto::Message& m, uint8_t flags = 0);

  const uint8_t* OutputData() const { return out_.data() + outPos_; }
  size_t OutputSize() const { return out_.size() - outPos_; }
  void ConsumeOutput(size_t n);
  uint64_t MessagesSent() const { return sent_; }

 private:
  void OnFrame(const proto::Frame& f);

  Hostility mode_;
  proto::FrameDecoder decoder_;
  std::vector<uint8_t> out_;
  size_t outPos_ = 0;
  std::vector<uint8_t> body_;
  bool connected_ = false;
  uint16_t seq_ = 0;       // our next sequenced frame
  uint16_t hostNext_ = 0;  // the host's next sequenced frame we take
  uint32_t token_ = 0;
  uint64_t sent_ = 0;
  uint8_t screen_[kScreenBytes] = {};
};

}  // namespace ksvw::sim
