#include "capture/capture_settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ksvw {

namespace {

// Size fields of the known layout that the defaults carry (offset, value).
// The LIN group and LIN channel sizes stay zero.
constexpr struct {
  int offset;
  uint32_t size;
} kDefaultSizes[] = {
    {0, 788}, {4, 712}, {12, 8},  {20, 4},   {24, 660}, {28, 72},  {36, 32}, {68, 32},
    {684, 8}, {688, 4}, {692, 4}, {696, 20}, {700, 16}, {716, 72}, {784, 4},
};

// Positions and known sizes of the blocks in the image.
constexpr int kModeBlock = 12;
constexpr uint32_t kModeKnown = 8;
constexpr int kCanGroup = 28;
constexpr uint32_t kCanGroupKnown = 72;
constexpr int kLinGroup = 100;
constexpr uint32_t kLinGroupKnown = 584;
constexpr int kChannelContentEnd = 684;  // end of the LIN group
constexpr int kExtensionNested = 688;
constexpr int kProtocolList = 700;
constexpr uint32_t kProtocolListKnown = 16;
constexpr int kAuxBlock = 716;
constexpr int kAuxNested = 784;

constexpr uint8_t kLayoutWithProtocol = 32;
constexpr uint8_t kBoardWithChannels = 9;

// A stored block whose bytes [p, p + size) are known to lie inside the body.
struct Span {
  const uint8_t* p;
  uint32_t size;
};

// Steps through the sub-blocks of a container. `remaining` counts the bytes
// of the container not yet consumed; a container too short for another size
// field ends the walk quietly (later blocks keep their defaults), while a
// sub-block that claims less than its own size field or more than is left
// is malformed.
class BlockWalk {
 public:
  enum Step { kBlock, kEnd, kBad };

  BlockWalk(const uint8_t* p, int64_t remaining) : p_(p), remaining_(remaining) {}

  Step Next(Span& block) {
    if (remaining_ < 4) return kEnd;
    uint32_t s = LoadLE32(p_);
    if (s < 4 || s > remaining_) return kBad;
    block = {p_, s};
    p_ += s;
    remaining_ -= s;
    return kBlock;
  }

 private:
  const uint8_t* p_;
  int64_t remaining_;
};

// Layout of the CAN and LIN groups: a size field, a 16-bit value, one byte,
// the entry count, then the entries.
struct GroupLayout {
  int offset;
  uint32_t known;
  uint32_t entrySize;
};
constexpr GroupLayout kCanGroupLayout{kCanGroup, kCanGroupKnown, kCanChannelSize};
constexpr GroupLayout kLinGroupLayout{kLinGroup, kLinGroupKnown, kLinChannelSize};

class SettingsParser {
 public:
  explicit SettingsParser(uint8_t* image) : image_(image) {}

  bool Settings(const uint8_t* body, size_t size) {
    if (size < 4) return true;
    // The chunk body is the outermost container: a settings block claiming
    // more than the body holds is read only as far as the body goes.
    uint32_t stored = LoadLE32(body);
    int64_t s = std::min<uint64_t>(stored, size);
    return Walk(body + 4, s - 4, {&SettingsParser::Device, &SettingsParser::Auxiliary});
  }

 private:
  using Decoder = bool (SettingsParser::*)(Span);

  template <size_t N>
  bool Walk(const uint8_t* p, int64_t remaining, const Decoder (&parts)[N]) {
    BlockWalk walk(p, remaining);
    for (Decoder decode : parts) {
      Span block;
      switch (walk.Next(block)) {
        case BlockWalk::kEnd: return true;
        case BlockWalk::kBad: return false;
        case BlockWalk::kBlock: break;
      }
      if (!(this->*decode)(block)) return false;
    }
    return true;
  }

  // Copies bytes 4 .. n-1 of a stored leaf over the same bytes of its slot,
  // n being the stored size limited to the known size and to the `avail`
  // bytes that lie inside the enclosing block. The slot's size field carries
  // the known size whatever the stored one was.
  void CopyLeaf(const uint8_t* src, uint32_t stored, int64_t avail, int dest, uint32_t known) {
    int64_t n = std::min<int64_t>({stored, known, avail});
    if (n <= 4) return;
    StoreLE32(image_ + dest, known);
    std::memcpy(image_ + dest + 4, src + 4, static_cast<size_t>(n - 4));
  }

  bool Device(Span b) {
    if (b.size <= 7) return true;
    image_[settings_offset::kLayoutCode] = b.p[6];
    if (b.size <= 8) return true;
    return Walk(b.p + 8, int64_t{b.size} - 8,
                {&SettingsParser::Mode, &SettingsParser::Reserved, &SettingsParser::Channel,
                 &SettingsParser::Extension, &SettingsParser::Reserved, &SettingsParser::Protocol});
  }

  // Only a mode the reader understands is taken; a stored block too short to
  // hold a code leaves that code at its default.
  bool Mode(Span b) {
    if (b.size >= 5 && b.p[4] != 0 && b.p[4] != 4) return false;
    if (b.size >= 6 && b.p[5] != kBoardWithChannels) return false;
    CopyLeaf(b.p, b.size, b.size, kModeBlock, kModeKnown);
    return true;
  }

  bool Reserved(Span) { return true; }

  bool Channel(Span b) {
    if (b.size < 8) return true;
    uint32_t canSize = LoadLE32(b.p + 4);
    if (canSize < 4 || canSize > b.size - 4) return false;
    std::memset(image_ + kCanGroup, 0, kChannelContentEnd - kCanGroup);
    if (image_[settings_offset::kBoardCode] != kBoardWithChannels) return true;
    StoreLE32(image_ + kCanGroup, kCanGroupKnown);
    StoreLE32(image_ + kLinGroup, kLinGroupKnown);
    if (!Group({b.p + 4, canSize}, kCanGroupLayout)) return false;
    uint32_t linSpace = b.size - 4 - canSize;
    if (linSpace < 4) return false;
    uint32_t linSize = LoadLE32(b.p + 4 + canSize);
    if (linSize > linSpace) return false;
    return Group({b.p + 4 + canSize, linSize}, kLinGroupLayout);
  }

  // Only the first two entries have a slot; later ones are stepped over.
  // Everything read lies within the group's stored size limited to its
  // known size.
  bool Group(Span b, const GroupLayout& g) {
    int64_t r = int64_t{std::min(b.size, g.known)} - 4;
    if (r <= 0) return true;
    if (r < 4) {
      std::memcpy(image_ + g.offset + 4, b.p + 4, static_cast<size_t>(r));
      return true;
    }
    // The 16-bit value, the byte after it and the entry count.
    std::memcpy(image_ + g.offset + 4, b.p + 4, 4);
    int entries = b.p[7];
    r -= 4;
    const uint8_t* p = b.p + 8;
    for (int i = 0; i < entries; ++i) {
      if (r < 4) return false;
      uint32_t s = LoadLE32(p);
      if (i < 2) CopyLeaf(p, s, r, g.offset + 8 + i * static_cast<int>(g.entrySize), g.entrySize);
      if (s > r) return false;
      p += s;
      r -= s;
    }
    return true;
  }

  // Holds only an empty nested block, which exists in the image for the
  // modes the reader understands.
  bool Extension(Span b) {
    if (b.size < 8) return true;
    uint32_t nested = LoadLE32(b.p + 4);
    if (nested < 4 || nested > b.size - 4) return false;
    StoreLE32(image_ + kExtensionNested, ModeNestedSize());
    return true;
  }

  bool Protocol(Span b) {
    if (b.size < 8) return true;
    uint32_t list = LoadLE32(b.p + 4);
    if (list < 4 || list > b.size - 4) return false;
    std::memset(image_ + kProtocolList, 0, kProtocolListKnown);
    if (image_[settings_offset::kLayoutCode] != kLayoutWithProtocol) return true;
    StoreLE32(image_ + kProtocolList, kProtocolListKnown);
    CopyLeaf(b.p + 4, list, list, kProtocolList, kProtocolListKnown);
    return true;
  }

  // Two plain values, two (value, 12-byte leaf) entries, two (value, 8-byte
  // leaf) entries and an empty nested block. Carried, never interpreted.
  bool Auxiliary(Span b) {
    int64_t remaining = int64_t{b.size} - 4;
    const uint8_t* p = b.p + 4;
    int dest = kAuxBlock + 4;
    for (int i = 0; i < 2; ++i) {
      if (remaining < 4) return true;
      std::memcpy(image_ + dest, p, 4);
      p += 4, dest += 4, remaining -= 4;
    }
    constexpr uint32_t kLeafKnown[] = {12, 12, 8, 8};
    for (uint32_t known : kLeafKnown) {
      if (remaining < 4) return true;
      std::memcpy(image_ + dest, p, 4);
      p += 4, dest += 4, remaining -= 4;
      if (remaining < 4) return true;
      uint32_t s = LoadLE32(p);
      if (s < 4 || s > remaining) return false;
      CopyLeaf(p, s, s, dest, known);
      p += s, dest += static_cast<int>(known), remaining -= s;
    }
    if (remaining >= 4) {
      uint32_t nested = LoadLE32(p);
      if (nested < 4 || nested > remaining) return false;
      StoreLE32(image_ + kAuxNested, ModeNestedSize());
    }
    return true;
  }

  uint32_t ModeNestedSize() const {
    uint8_t mode = image_[settings_offset::kModeCode];
    return mode == 0 || mode == 4 ? 4 : 0;
  }

  uint8_t* image_;
};

// Writes the positive number d with a point before its last `fraction`
// digits, trailing zeros of the fraction (and the point, when nothing is
// left after it) dropped, followed by `unit`.
char* Decimal(long d, int fraction, const char* unit, char* out) {
  char digits[16];
  int len = std::snprintf(digits, sizeof digits, "%ld", d);
  int whole = len - fraction;
  int end = len;
  while (end > whole && digits[end - 1] == '0') --end;
  int o = 0;
  for (int i = 0; i < whole; ++i) out[o++] = digits[i];
  if (end > whole) {
    out[o++] = '.';
    for (int i = whole; i < end; ++i) out[o++] = digits[i];
  }
  for (const char* u = unit; *u; ++u) out[o++] = *u;
  out[o] = '\0';
  return out;
}

}  // namespace

void CaptureSettings::Reset() {
  std::memset(bytes, 0, sizeof bytes);
  for (const auto& field : kDefaultSizes) StoreLE32(bytes + field.offset, field.size);
}

bool ParseCaptureSettings(CaptureSettings& settings, const uint8_t* body, size_t size) {
  if (body == nullptr) return size == 0;
  return SettingsParser(settings.bytes).Settings(body, size);
}

const char* CanPresetLabel(int preset) {
  static constexpr const char* kLabels[] = {"33.3k", "50k",  "83.3k", "100k",
                                            "125k",  "250k", "500k",  "1M"};
  if (preset < 1 || preset > 8) return nullptr;
  return kLabels[preset - 1];
}

int32_t ComputeCanBitRate(const CanChannelSettings& channel) {
  // The segment lengths are signed bytes, so a damaged entry can sum to
  // zero or less; the synchronisation segment is the "+ 1".
  int divisor = channel.pts() + channel.pbs1() + channel.pbs2() + 1;
  if (divisor <= 0) return -1;
  return channel.baseFrequency() / divisor;
}

// Rounds to the shown precision. Where rounding carries into a fifth digit
// the value moves up to the next unit (999,960 is "100k", not "100.00k").
char* FormatRate(int32_t tenths, char* out) {
  long v = tenths;
  if (v == 0 || v > 10000000) {
    std::snprintf(out, 16, "--");
    return out;
  }
  if (v < 100000) {
    std::snprintf(out, 16, "%ld", (v + 5) / 10);
    return out;
  }
  if (v < 1000000 && (v + 50) / 100 < 10000) return Decimal((v + 50) / 100, 2, "k", out);
  if (v < 10000000 && (v + 500) / 1000 < 10000) return Decimal((v + 500) / 1000, 1, "k", out);
  std::snprintf(out, 16, "1M");
  return out;
}

// Truncates to the shown precision, never rounds.
char* FormatTenths(int32_t tenths, char* out) {
  long v = tenths;
  if (v == 0) {
    std::snprintf(out, 16, "--");
    return out;
  }
  if (v < 100000 && v % 10 != 0) {
    std::snprintf(out, 16, "%ld.%1ld", v / 10, v % 10);
    return out;
  }
  if (v <= 999999) {
    std::snprintf(out, 16, "%ld", v / 10);
    return out;
  }
  if (v <= 9999999) return Decimal(v / 1000, 1, "k", out);
  if (v <= 99999999) return Decimal(v / 10000, 3, "M", out);
  // From 10 MHz on, in units of 10 kHz with the point before the last two
  // digits: two digits before the point up to 99.99 MHz, and three from
  // 100 MHz on, so the magnitude stays right for any 32-bit value.
  return Decimal(v / 100000, 2, "M", out);
}

}  // namespace ksvw
