#include "sim/analyzer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/result_codes.h"

namespace ksvw::sim {
namespace {

constexpr const char* kKeyNames[] = {
    "0", "1", "2", "3", "4",    "5",     "6",  "7",    "8",     "9",    "A",    "B",
    "C", "D", "E", "F", "LEFT", "RIGHT", "UP", "DOWN", "ENTER", "PGUP", "PGDN", "M",
    "Y", "T", "H", "G", "DEL",  "INS",   "L",  "K",    "P",     "R",    "S"};
constexpr uint32_t kKeyCount = sizeof kKeyNames / sizeof kKeyNames[0];  // 0x00 .. 0x22

// CAN presets 1..8 and LIN rates, in bit/s.
constexpr uint32_t kCanRates[] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 1000000};
constexpr uint32_t kLinRates[] = {2400, 4800, 9600, 10417, 19200};
constexpr int kCanRateCount = 8;
constexpr int kLinRateCount = 5;
constexpr uint32_t kMemoryBytes = kSectionLimitData;
constexpr uint64_t kFramesPerSecond = 1850;  // a busy bus

std::string Pad(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  if (s.size() > width) s.resize(width);
  return s;
}

std::string Format(const char* fmt, auto... args) {
  char buf[96];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

std::string TagText(uint32_t tag) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>(tag >> (8 * i));
  return s;
}

}  // namespace

const char* KeyName(uint32_t base) {
  return base < kKeyCount ? kKeyNames[base] : "?";
}

const char* ModelName(uint32_t model) {
  switch (model) {
    case 0x10012:
    case 0x10022: return "KS-4100";
    case 0x10013:
    case 0x10023: return "KS-6100";
    case 0x10014:
    case 0x10024: return "KS-9100";
    default: return "KS-????";
  }
}

SimAnalyzer::SimAnalyzer(const SimIdentity& identity, const SimFaults& faults,
                         const CaptureMemory& memory)
    : identity_(identity), faults_(faults), memory_(memory) {
  bool canLin = TagText(identity_.board) == "MDCL";
  channels_[0] = {false, 6};                                     // CAN 500 kbit/s
  channels_[1] = canLin ? Channel{true, 4} : Channel{false, 5};  // LIN 19200 or CAN 250k
  Render();
}

proto::AnalyzerIdentity SimAnalyzer::Identity() const {
  return {identity_.model, identity_.detail, identity_.board, proto::kProtocolVersion};
}

int32_t SimAnalyzer::AcceptHost() {
  if (faults_.noAnswer) return proto::kIgnoreHello;
  if (faults_.refuse < 0) return faults_.refuse;
  if (held_) return kErrAnalyzerBusy;
  held_ = true;
  return kOk;
}

uint32_t SimAnalyzer::StatusFlags() const {
  return measuring_ ? kStatusMeasuring : 0;
}

int32_t SimAnalyzer::OpenSection(uint32_t section, uint32_t limit, uint32_t* total) {
  if (measuring_) return kErrAnalyzerBusy;  // the memory is being written
  if (!memory_.Known(section)) return kErrInvalidArg;
  *total = memory_.Span(section).size;
  (void)limit;  // the session checks the size against the limit
  return kOk;
}

bool SimAnalyzer::ReadSection(uint32_t section, uint32_t offset, uint8_t* dst, uint32_t size) {
  SectionSpan s = memory_.Span(section);
  if (offset > s.size || size > s.size - offset) return false;
  std::memcpy(dst, memory_.File().data() + s.offset + offset, size);
  return true;
}

uint64_t SimAnalyzer::FramesCaptured() const {
  uint64_t ms = measuring_ ? nowMs_ - runStartMs_ : runMs_;
  return ms * kFramesPerSecond / 1000;
}

int32_t SimAnalyzer::PressKey(uint32_t code, uint64_t nowMs) {
  nowMs_ = std::max(nowMs_, nowMs);
  if (code == kKeyShiftOwn) {
    shiftLatched_ = true;
    lastKey_ = code;
    haveKey_ = true;
    Render();
    return kOk;
  }
  if (!(code & kKeyPressFlag)) return kOk;  // releases mean nothing to the panel
  uint32_t base = code & 0x7F;
  if (base >= kKeyCount || (code & ~0x80FFu) != 0) return kErrInvalidArg;
  bool shift = (code & kKeyShiftFlag) != 0 || shiftLatched_;
  shiftLatched_ = false;
  lastKey_ = code;
  haveKey_ = true;
  message_.clear();
  HandleKey(base, shift);
  Render();
  return kOk;
}

void SimAnalyzer::HandleKey(uint32_t base, bool shift) {
  static constexpr Page kOrder[] = {Page::Status, Page::Channels, Page::Memory, Page::Measure,
                                    Page::Help};
  auto index = [&] {
    return static_cast<int>(std::find(std::begin(kOrder), std::end(kOrder), page_) -
                            std::begin(kOrder));
  };
  switch (base) {
    case kKeyM: page_ = Page::Status; return;
    case kKeyY: page_ = Page::Memory; return;
    case kKeyT: page_ = Page::Channels; return;
    case kKeyH: page_ = Page::Help; return;
    case kKeyG: page_ = Page::Measure; return;
    case kKeyPageDown: page_ = kOrder[(index() + 1) % 5]; return;
    case kKeyPageUp: page_ = kOrder[(index() + 4) % 5]; return;
    case kKeyR:
      if (!measuring_) {
        measuring_ = true;
        runStartMs_ = nowMs_;
        message_ = "Measurement started";
      }
      page_ = Page::Measure;
      return;
    case kKeyS:
      if (measuring_) {
        measuring_ = false;
        runMs_ = nowMs_ - runStartMs_;
        message_ = "Measurement stopped";
      }
      return;
    default: break;
  }
  if (page_ == Page::Channels) {
    Channel& c = channels_[cursor_];
    int count = c.lin ? kLinRateCount : kCanRateCount;
    switch (base) {
      case kKeyUp: cursor_ = 0; return;
      case kKeyDown: cursor_ = 1; return;
      case kKeyLeft:
        if (shift && cursor_ == 1 && TagText(identity_.board) == "MDCL") {
          c = c.lin ? Channel{false, 6} : Channel{true, 4};  // CAN <-> LIN
        } else {
          c.rate = (c.rate + count - 1) % count;
        }
        return;
      case kKeyRight: c.rate = (c.rate + 1) % count; return;
      case kKeyEnter: message_ = "Settings stored"; return;
      default:
        if (base >= 1 && base <= 8 && !c.lin) {
          c.rate = static_cast<int>(base) - 1;  // CAN preset
          return;
        }
        break;
    }
  }
  if (base <= 0x0F) {
    if (entry_.size() >= 8) entry_.erase(0, 1);
    entry_ += KeyName(base);
  } else if (base == kKeyDelete) {
    if (!entry_.empty()) entry_.pop_back();
  } else if (base == kKeyEnter && !entry_.empty()) {
    message_ = "Value " + entry_ + " entered";
    entry_.clear();
  }
}

void SimAnalyzer::Advance(uint64_t nowMs) {
  nowMs_ = std::max(nowMs_, nowMs);
  // A running measurement counts frames on the screen ten times a second.
  if (measuring_ && nowMs_ - lastTickMs_ >= 100) {
    lastTickMs_ = nowMs_;
    Render();
  }
}

std::string SimAnalyzer::RateText(const Channel& c) const {
  if (c.lin) return Format("LIN %6u bit/s", kLinRates[c.rate]);
  uint32_t r = kCanRates[c.rate];
  return Format("CAN %6.1f kbit/s", r / 1000.0);
}

void SimAnalyzer::Put(int row, const std::string& text, bool inverse) {
  lines_[static_cast<size_t>(row)] = Pad(text, kTextColumns);
  inverse_[static_cast<size_t>(row)] = inverse;
}

void SimAnalyzer::Render() {
  static const char* kPageNames[] = {"STATUS", "CHANNELS", "MEMORY", "MEASURE", "KEYS"};
  std::string board = TagText(identity_.board) == "MDCL" ? "XP-RT4QX" : "XP-RT4Q";
  std::string title = Format(" %s %-8s %-9s %s", ModelName(identity_.model), board.c_str(),
                             kPageNames[static_cast<int>(page_)], measuring_ ? " RUN" : "STOP");
  Put(0, title, true);
  for (int r = 1; r < 7; ++r) Put(r, "");
  uint32_t records = memory_.RecordCount();
  uint32_t used = memory_.Span(kSectionData).size;
  int percent = static_cast<int>(static_cast<uint64_t>(used) * 100 / kMemoryBytes);
  switch (page_) {
    case Page::Status:
      Put(1, Format("CH1 %s", RateText(channels_[0]).c_str()));
      Put(2, Format("CH2 %s", RateText(channels_[1]).c_str()));
      Put(3, Format("Memory %u frames, %d%% used", records, percent));
      Put(4, measuring_ ? Format("Measuring: %llu frames",
                                 static_cast<unsigned long long>(FramesCaptured()))
                        : std::string("Ready. R runs, S stops."));
      Put(5, Format("Input: %s", entry_.c_str()));
      break;
    case Page::Channels:
      Put(1, "Channel settings   UP/DOWN LEFT/RIGHT");
      Put(2, Format("%c CH1 %s", cursor_ == 0 ? '>' : ' ', RateText(channels_[0]).c_str()),
          cursor_ == 0);
      Put(3, Format("%c CH2 %s", cursor_ == 1 ? '>' : ' ', RateText(channels_[1]).c_str()),
          cursor_ == 1);
      Put(4, "1-8: CAN preset   ENTER: store");
      break;
    case Page::Memory:
      Put(1, Format("Records %u  (%s)", records, TagText(memory_.DataTag()).c_str()));
      Put(2, Format("Data %u of %u bytes", used, kMemoryBytes));
      Put(5, Format("Settings %u bytes, tail %u bytes", memory_.Span(kSectionHead).size,
                    memory_.Span(kSectionTail).size));
      break;
    case Page::Measure: {
      uint64_t ms = measuring_ ? nowMs_ - runStartMs_ : runMs_;
      Put(1, measuring_ ? "Measurement RUNNING" : "Measurement STOPPED");
      Put(2, Format("Time %02llu:%02llu.%llu", static_cast<unsigned long long>(ms / 60000 % 100),
                    static_cast<unsigned long long>(ms / 1000 % 60),
                    static_cast<unsigned long long>(ms / 100 % 10)));
      Put(3, Format("Frames %llu", static_cast<unsigned long long>(FramesCaptured())));
      Put(4, "R: run   S: stop");
      break;
    }
    case Page::Help:
      Put(1, "M status  T channels  Y memory");
      Put(2, "G measure  H keys  PGUP/PGDN pages");
      Put(3, "R run  S stop  0-F input  DEL erase");
      Put(4, "SHIFT+LEFT on CH2: CAN/LIN");
      break;
  }
  if (!message_.empty()) Put(6, message_);
  std::string key = "-";
  if (haveKey_) {
    key = lastKey_ == kKeyShiftOwn
              ? std::string("SHIFT")
              : std::string((lastKey_ & kKeyShiftFlag) ? "SHIFT+" : "") + KeyName(lastKey_ & 0x7F);
  }
  Put(7, Format("M T Y G H  R:RUN S:STOP  KEY %-8s", key.c_str()), true);

  uint8_t before[kScreenBytes];
  std::memcpy(before, lcd_.Image(), kScreenBytes);
  lcd_.Clear();
  for (int r = 0; r < kTextRows; ++r) {
    if (inverse_[static_cast<size_t>(r)]) {
      lcd_.Bar(r, lines_[static_cast<size_t>(r)]);
    } else {
      lcd_.Line(r, 0, lines_[static_cast<size_t>(r)]);
    }
  }
  if (page_ == Page::Memory) {
    // Memory use as a bar across lines 3 and 4.
    lcd_.Frame(6, 26, 228, 12);
    lcd_.FillRect(8, 28, static_cast<int>(224ull * used / kMemoryBytes), 8, true);
  }
  if (std::memcmp(before, lcd_.Image(), kScreenBytes) != 0) ++version_;
}

}  // namespace ksvw::sim
