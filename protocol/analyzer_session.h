// The analyzer end of the link, for the simulator (and any device-side
// implementation): answers the handshake, runs key presses and section reads
// against an AnalyzerModel, pushes screen and status changes, and streams
// sections. No threads, sockets or clocks: the transport feeds received bytes
// to Feed(), sends the output queue, and calls Tick() often (every few ms
// while it has room to send, so data keeps flowing).
//
// Flow control: section data is cut into frames of the host's payload size
// and produced only while the link's window (the host's Hello sets it) has
// room and fewer than lowWaterBytes wait in the output queue, so replies,
// screens and pings never queue behind more than a frame or two of data,
// even on a slow serial line.
//
// A host is given up (as if silent) when the output for it is over
// kMaxOutputBytes or has not drained for its silence limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/frame_channel.h"
#include "protocol/host_session.h"
#include "protocol/messages.h"

namespace ksvw::proto {

// AcceptHost's answer for a hello that is to be ignored altogether.
inline constexpr int32_t kIgnoreHello = 1;

class AnalyzerModel {
 public:
  virtual AnalyzerIdentity Identity() const = 0;
  // 0 to take the host, a negative refusal code, or kIgnoreHello.
  virtual int32_t AcceptHost() = 0;
  virtual void ReleaseHost() = 0;
  virtual int32_t PressKey(uint32_t code, uint64_t nowMs) = 0;
  // Lets time pass (a running measurement, a blinking cursor).
  virtual void Advance(uint64_t /*nowMs*/) {}
  virtual const uint8_t* Screen() const = 0;  // kScreenBytes bytes
  // Changes whenever the screen does.
  virtual uint32_t ScreenVersion() const = 0;
  virtual uint32_t StatusFlags() const = 0;
  // 0 and the section's size, or a negative code.
  virtual int32_t OpenSection(uint32_t section, uint32_t limit, uint32_t* total) = 0;
  // Copies `size` bytes from `offset` of an opened section.
  virtual bool ReadSection(uint32_t section, uint32_t offset, uint8_t* dst, uint32_t size) = 0;

 protected:
  ~AnalyzerModel() = default;
};

struct AnalyzerConfig {
  uint16_t maxPayload = kMaxPayload;  // largest payload the analyzer takes
  uint16_t window = 16;               // host frames unacknowledged at most
  uint32_t progressStep = 64 * 1024;  // bytes between progress reports
  size_t lowWaterBytes = 2 * (kMaxFrameSize + 32);
};

class AnalyzerSession {
 public:
  explicit AnalyzerSession(AnalyzerModel& model, const AnalyzerConfig& config = {});
  AnalyzerSession(const AnalyzerSession&) = delete;
  AnalyzerSession& operator=(const AnalyzerSession&) = delete;

  void Feed(const uint8_t* data, size_t size, uint64_t nowMs);
  void Tick(uint64_t nowMs);
  // The connection is gone: the host is released, output dropped.
  void TransportClosed(uint64_t nowMs);

  const uint8_t* OutputData() const { return channel_.OutputData(); }
  size_t OutputSize() const { return channel_.OutputSize(); }
  void ConsumeOutput(size_t n) { channel_.ConsumeOutput(n); }

  bool Connected() const { return connected_; }
  // The host left, was refused or fell silent: a connection-based transport
  // closes once the output is sent. Cleared by the next Feed.
  bool WantsClose() const { return wantsClose_; }

  uint32_t ActiveSection() const { return sectionActive_ ? section_ : 0; }
  uint32_t SectionSent() const { return sent_; }
  uint32_t SectionTotal() const { return total_; }
  int32_t MonitorInterval() const { return monitorMs_; }
  const ChannelCounters& Counters() const { return channel_.Counters(); }
  const DecoderCounters& DecoderStats() const { return channel_.DecoderStats(); }

  // Called with a line for each event of note (host taken or dropped,
  // sections, refusals); with perMessage also for every message received.
  void SetLogger(std::function<void(const std::string&)> log, bool perMessage = false) {
    log_ = std::move(log);
    logMessages_ = perMessage;
  }

 private:
  void OnMessage(const Message& m, uint64_t nowMs);
  void OnHello(const Hello& h, uint64_t nowMs);
  void SendWelcome();
  void DropHost();
  // Ends a host that floods or does not read: dropped, output discarded.
  void GiveUpHost(const char* why);
  void EndSection(int32_t result);
  void PushScreen();
  void Service(uint64_t nowMs);
  void Pump();
  void Log(const std::string& line);

  AnalyzerModel& model_;
  AnalyzerConfig config_;
  FrameChannel channel_;
  bool connected_ = false;
  bool wantsClose_ = false;
  uint32_t nonce_ = 0;
  uint16_t payload_ = kMaxPayload;
  uint32_t silenceMs_ = 10000;
  int32_t monitorMs_ = -1;
  uint64_t nextScreenCheckMs_ = 0;
  uint32_t pushedScreenVersion_ = 0;
  uint32_t pushedFlags_ = 0;
  bool sectionActive_ = false;
  uint32_t sectionId_ = 0;
  uint32_t section_ = 0;
  uint32_t total_ = 0;
  uint32_t sent_ = 0;
  uint32_t lastProgress_ = 0;
  std::vector<uint8_t> body_;
  std::vector<uint8_t> packed_;
  std::function<void(const std::string&)> log_;
  bool logMessages_ = false;
};

}  // namespace ksvw::proto
