// The simulated analyzer: identity, front panel (LCD pages driven by the 36
// panel keys), measurement run/stop and capture memory, behind the model
// interface the link session talks to. Portable and clock-free: time comes
// in as milliseconds.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/analyzer_session.h"
#include "sim/capture_sections.h"
#include "sim/lcd.h"

namespace ksvw::sim {

struct SimIdentity {
  uint32_t model = 0x10024;
  uint32_t detail = 0;
  uint32_t board = 0x4C43444D;  // "MDCL" in reading order
};

// Fault choices for the handshake.
struct SimFaults {
  int32_t refuse = 0;     // a refusal code for every hello, or 0
  bool noAnswer = false;  // hellos go unanswered
};

// Panel key codes (low seven bits of a press).
enum Key : uint32_t {
  kKeyLeft = 0x10,
  kKeyRight = 0x11,
  kKeyUp = 0x12,
  kKeyDown = 0x13,
  kKeyEnter = 0x14,
  kKeyPageUp = 0x15,
  kKeyPageDown = 0x16,
  kKeyM = 0x17,  // status page
  kKeyY = 0x18,  // capture memory page
  kKeyT = 0x19,  // channel settings page
  kKeyH = 0x1A,  // key help page
  kKeyG = 0x1B,  // measurement page
  kKeyDelete = 0x1C,
  kKeyInsert = 0x1D,
  kKeyL = 0x1E,
  kKeyK = 0x1F,
  kKeyP = 0x20,
  kKeyR = 0x21,  // run a measurement
  kKeyS = 0x22,  // stop it
};
inline constexpr uint32_t kKeyPressFlag = 0x8000;
inline constexpr uint32_t kKeyShiftFlag = 0x80;
inline constexpr uint32_t kKeyShiftOwn = 0xFFFFFFFFu;

const char* KeyName(uint32_t base);     // "0".."F", "LEFT", ..., "S"; "?" beyond
const char* ModelName(uint32_t model);  // "KS-9100" etc., "KS-????" for others

class SimAnalyzer : public proto::AnalyzerModel {
 public:
  enum class Page { Status, Channels, Memory, Measure, Help };

  SimAnalyzer(const SimIdentity& identity, const SimFaults& faults, const CaptureMemory& memory);

  proto::AnalyzerIdentity Identity() const override;
  int32_t AcceptHost() override;
  void ReleaseHost() override { held_ = false; }
  int32_t PressKey(uint32_t code, uint64_t nowMs) override;
  void Advance(uint64_t nowMs) override;
  const uint8_t* Screen() const override { return lcd_.Image(); }
  uint32_t ScreenVersion() const override { return version_; }
  uint32_t StatusFlags() const override;
  int32_t OpenSection(uint32_t section, uint32_t limit, uint32_t* total) override;
  bool ReadSection(uint32_t section, uint32_t offset, uint8_t* dst, uint32_t size) override;

  Page CurrentPage() const { return page_; }
  bool Measuring() const { return measuring_; }
  bool HostHeld() const { return held_; }
  // The text of a screen line as last drawn (for tests and logs).
  const std::string& TextLine(int row) const { return lines_[static_cast<size_t>(row)]; }

 private:
  struct Channel {
    bool lin = false;
    int rate = 0;  // index into the CAN or LIN rate list
  };
  void HandleKey(uint32_t base, bool shift);
  void Render();
  void Put(int row, const std::string& text, bool inverse = false);
  std::string RateText(const Channel& c) const;
  uint64_t FramesCaptured() const;

  SimIdentity identity_;
  SimFaults faults_;
  const CaptureMemory& memory_;
  Lcd lcd_;
  std::array<std::string, kTextRows> lines_;
  std::array<bool, kTextRows> inverse_{};
  uint32_t version_ = 1;
  bool held_ = false;
  Page page_ = Page::Status;
  bool shiftLatched_ = false;
  uint32_t lastKey_ = 0;
  bool haveKey_ = false;
  std::string entry_;    // digits typed on pages without a digit meaning
  std::string message_;  // one-line note ("Settings stored")
  Channel channels_[2];
  int cursor_ = 0;
  bool measuring_ = false;
  uint64_t nowMs_ = 0;
  uint64_t runStartMs_ = 0;
  uint64_t runMs_ = 0;  // length of the last finished run
  uint64_t lastTickMs_ = 0;
};

}  // namespace ksvw::sim
