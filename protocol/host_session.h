// The host end of the analyzer link: what the remote library runs for one
// device, with no threads, sockets or clocks of its own.
//
// Use: the transport feeds every received byte to Feed(), sends whatever
// OutputData()/OutputSize() holds and then calls ConsumeOutput(), calls
// Tick() every few tens of milliseconds (50 ms is plenty), and calls
// TransportClosed() when the connection or port goes away. Times are
// milliseconds from any monotonic clock.
//
// Requests (Connect, Disconnect, PressKey, ReadSection) return 0 and an id,
// or a negative code when they cannot start (nothing is sent then). Each id
// later ends with exactly one OnRequestDone. The request operations never
// call back themselves: events are reported only from inside Feed(), Tick()
// and TransportClosed() (what an operation causes is reported by the next of
// these), and a callback may call any operation of the session; events that
// such a call causes are delivered before the outer Feed/Tick returns.
// OnData is called as the data arrives; every other event is reported after
// the bytes or the tick that caused it have been handled.
//
// Connect: Hello is sent at once and repeated every helloRetryMs; Welcome
// completes the request with 0 (after OnIdentity and OnLinkState(1)); a
// refusal completes it with the analyzer's code (0xA0000001 busy,
// 0xA0000004 version mismatch, 0xA0000009 no option board); no answer
// within connectTimeoutMs completes it with 0x80070102.
//
// While connected: silence from the analyzer for pingIntervalMs makes the
// session send a Ping; silence for linkTimeoutMs, an analyzer Goodbye, a
// closed transport, or output that is over kMaxOutputBytes or has not
// drained for linkTimeoutMs (an analyzer that sends but never reads) is a
// lost link: OnLinkState(0), OnLinkLost(), then every outstanding request
// ends with 0x800708CA, and the output is dropped so that the transport can
// close. No Pong goes out while the output is backed up.
//
// Sections: ReadSection(section, limit) delivers the section's bytes in
// order through OnData and the analyzer's progress reports through
// OnProgress, and ends with the analyzer's result. A section larger than its
// limit ends with 0x8007007A; an OnData that returns a negative code ends
// the section with that code; Cancel() ends it with 0x800704C7 at once (the
// analyzer is told to stop; its late data is dropped). One section runs at a
// time.
//
// Deadlines: a section with no data for requestIdleMs, and a key press not
// completed within requestIdleMs of being sent (or of the key before it
// completing), end with 0x80070102 even while the analyzer keeps the link
// alive. A key press can be cancelled like a section.
//
// Back-pressure: status and screen reports that arrive together are
// delivered once, with the latest value; progress is delivered at most once
// per kProgressIntervalMs per section, plus the last report before the
// section ends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/result_codes.h"
#include "protocol/frame_channel.h"
#include "protocol/messages.h"

namespace ksvw::proto {

struct AnalyzerIdentity {
  uint32_t model = 0;
  uint32_t detail = 0;
  uint32_t board = 0;  // "MONC" or "MDCL" as a tag (reading order)
  uint16_t version = 0;
};

enum class RequestKind { Connect, Disconnect, KeyPress, Section };

class HostEvents {
 public:
  virtual void OnIdentity(const AnalyzerIdentity&) {}
  virtual void OnLinkState(int32_t /*state*/) {}
  virtual void OnRequestDone(uint32_t /*requestId*/, RequestKind, int32_t /*result*/) {}
  virtual void OnProgress(uint32_t /*requestId*/, uint32_t /*position*/, uint32_t /*range*/) {}
  // Section bytes in order; a negative return ends the section with it.
  virtual int32_t OnData(uint32_t /*requestId*/, const uint8_t* /*data*/, uint32_t /*size*/) {
    return 0;
  }
  virtual void OnLinkLost() {}
  virtual void OnStatusFlags(uint32_t /*flags*/) {}
  virtual void OnScreenChanged() {}

 protected:
  ~HostEvents() = default;
};

// Least time between two progress events of one section.
inline constexpr uint32_t kProgressIntervalMs = 20;

struct HostConfig {
  uint16_t maxPayload = kMaxPayload;  // largest payload the host takes from the analyzer
  uint16_t window = 16;               // analyzer frames unacknowledged at most
  uint16_t hostWindow = 16;           // host frames unacknowledged at most
  uint32_t rtoMs = 1000;              // host retransmission timeout
  uint32_t analyzerRtoMs = 1000;      // analyzer retransmission timeout
  uint32_t pingIntervalMs = 1000;
  uint32_t linkTimeoutMs = 3000;
  uint32_t helloRetryMs = 500;
  uint32_t connectTimeoutMs = 3000;
  uint32_t disconnectTimeoutMs = 1000;
  uint32_t requestIdleMs = 5000;       // a section or key press that sees nothing ends
  uint32_t analyzerSilenceMs = 10000;  // the analyzer drops a host silent this long
};

// Settings for a serial line of the given bit rate (10 bits per byte): frames
// short enough to arrive every half second at most, a window that keeps the
// line busy, timeouts that allow for a full window in the line.
HostConfig SerialHostConfig(uint32_t bitsPerSecond);

class HostSession {
 public:
  enum class State { Idle, Connecting, Connected, Disconnecting };

  explicit HostSession(HostEvents& events, const HostConfig& config = {});
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  int32_t Connect(uint64_t nowMs, uint32_t* requestId);
  int32_t Disconnect(uint64_t nowMs, uint32_t* requestId);
  int32_t PressKey(uint32_t code, uint64_t nowMs, uint32_t* requestId);
  int32_t ReadSection(uint32_t section, uint32_t limit, uint64_t nowMs, uint32_t* requestId);
  // 0 when the running section or a pending key press was cancelled, 1 when
  // there was nothing to cancel.
  int32_t Cancel(uint32_t requestId, uint64_t nowMs);
  // > 0 asks for screen changes, <= 0 stops them (sent as -1). Kept across
  // connects and sent again after each handshake.
  int32_t SetMonitorInterval(int32_t intervalMs, uint64_t nowMs);

  void Feed(const uint8_t* data, size_t size, uint64_t nowMs);
  void Tick(uint64_t nowMs);
  void TransportClosed(uint64_t nowMs);

  const uint8_t* OutputData() const { return channel_.OutputData(); }
  size_t OutputSize() const { return channel_.OutputSize(); }
  void ConsumeOutput(size_t n) { channel_.ConsumeOutput(n); }
  // The session is over (refused, timed out, lost, disconnected) and its
  // transport may be closed once the output is sent; cleared by Connect.
  bool TransportDone() const { return transportDone_; }

  State GetState() const { return state_; }
  int32_t LinkState() const { return state_ == State::Connected ? 1 : 0; }
  uint32_t StatusFlags() const { return statusFlags_; }
  // Copies the last screen (zeros before the first); returns 0, or
  // 0x80070057 for a missing buffer.
  int32_t CopyScreen(uint8_t* buffer, uint32_t length) const;
  const AnalyzerIdentity& Identity() const { return identity_; }
  const ChannelCounters& Counters() const { return channel_.Counters(); }
  const DecoderCounters& DecoderStats() const { return channel_.DecoderStats(); }

 private:
  struct Event {
    enum Kind { Identity, LinkState, Done, Progress, LinkLost, Status, Screen } kind;
    uint32_t id = 0;
    RequestKind request = RequestKind::Connect;
    int32_t value = 0;                 // LinkState: the state; Done: the result
    uint32_t position = 0, range = 0;  // Progress
    uint32_t flags = 0;                // Status
  };
  struct SectionState {
    bool active = false;
    bool begun = false;
    uint32_t id = 0;
    uint32_t section = 0;
    uint32_t limit = 0;
    uint32_t total = 0;
    uint32_t received = 0;
    uint64_t lastDataMs = 0;      // request sent, begun, or data arrived
    uint64_t lastProgressMs = 0;  // last progress event queued
    bool progressSent = false;
    bool progressHeld = false;  // a report waits for its interval
    uint32_t heldPosition = 0, heldRange = 0;
  };

  void OnMessage(const Message& m, uint64_t nowMs);
  void OnSectionData(const SectionData& d, uint64_t nowMs);
  void OnProgress(const Progress& p, uint64_t nowMs);
  void QueueProgress(uint64_t nowMs);
  void QueueLatest(int* slot, const Event& e);
  void CheckDeadlines(uint64_t nowMs);
  void SendHello(uint64_t nowMs);
  void Finish(uint32_t id, RequestKind kind, int32_t result);
  void FailSection(int32_t result, bool tellAnalyzer);
  void FailOutstanding(int32_t result);
  void LoseLink();
  void EndSession();
  void Dispatch();
  uint32_t NextId();

  HostEvents& events_;
  HostConfig config_;
  FrameChannel channel_;
  State state_ = State::Idle;
  bool transportDone_ = false;
  uint32_t lastId_ = 0;
  uint32_t nonce_ = 0;
  uint32_t connectId_ = 0;
  uint32_t disconnectId_ = 0;
  uint64_t phaseStartMs_ = 0;
  uint64_t lastHelloMs_ = 0;
  uint64_t lastPingMs_ = 0;
  uint32_t pingToken_ = 0;
  int32_t monitorMs_ = -1;
  std::vector<uint32_t> pendingKeys_;  // in the order sent; completed in order
  uint64_t keyClockMs_ = 0;            // the oldest pending key's deadline runs from here
  SectionState section_;
  AnalyzerIdentity identity_;
  uint32_t statusFlags_ = 0;
  std::array<uint8_t, kScreenBytes> screen_{};
  std::vector<Event> eventQueue_;
  int statusEvent_ = -1;  // index in eventQueue_ of the queued status, or -1
  int screenEvent_ = -1;
  bool dispatching_ = false;
};

}  // namespace ksvw::proto
