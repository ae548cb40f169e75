#include "tools/ksvw-gen/from_candump.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "capture/capture_reader.h"
#include "capture/capture_record.h"
#include "common/byte_order.h"
#include "testsupport/capture_builder.h"

namespace ksvw::gen {

namespace {

constexpr size_t kMaxLine = 512;
constexpr size_t kMaxInterfaces = 64;
constexpr uint64_t kNanosPerTick = 200000;
constexpr uint64_t kTicksPerHour = 18000000;
constexpr uint64_t kNanosPerHour = kTicksPerHour * kNanosPerTick;
// A DT data chunk's length is a 32-bit value.
constexpr size_t kMaxRecords = 0xFFFFFFFFu / kRecordSize;
// The last whole second whose nanoseconds, fraction included, fit 64 bits.
constexpr uint64_t kMaxSeconds = (UINT64_MAX - 999999999u) / 1000000000u;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One line at a time, ended by LF, CR LF or CR; at most kMaxLine characters
// are kept, the rest of a longer line only noted.
class LineReader {
 public:
  explicit LineReader(std::FILE* file) : file_(file) {}

  bool Next() {
    length_ = 0;
    tooLong_ = hasNul_ = false;
    int c = Get();
    if (c == '\n' && afterCr_) c = Get();  // the LF of a CR LF pair
    afterCr_ = false;
    if (c == EOF) return false;
    for (; c != EOF && c != '\n' && c != '\r'; c = Get()) {
      hasNul_ = hasNul_ || c == '\0';
      if (length_ < kMaxLine) {
        line_[length_++] = static_cast<char>(c);
      } else {
        tooLong_ = true;
      }
    }
    afterCr_ = c == '\r';
    line_[length_] = '\0';
    return true;
  }
  const char* Text() const { return line_; }
  size_t Length() const { return length_; }
  bool TooLong() const { return tooLong_; }
  bool HasNul() const { return hasNul_; }

 private:
  int Get() {
    if (pos_ == end_) {
      end_ = std::fread(buffer_, 1, sizeof buffer_, file_);
      pos_ = 0;
      if (end_ == 0) return EOF;
    }
    return static_cast<unsigned char>(buffer_[pos_++]);
  }

  std::FILE* file_;
  char buffer_[65536];
  size_t pos_ = 0;
  size_t end_ = 0;
  char line_[kMaxLine + 1];
  size_t length_ = 0;
  bool tooLong_ = false;
  bool hasNul_ = false;
  bool afterCr_ = false;
};

// "(SECONDS.FRACTION)" in nanoseconds; advances `p` past it. Null, or the
// reason the line is no frame.
const char* ParseTime(const char*& p, uint64_t& nanos) {
  constexpr const char* kNoTime = "no (SECONDS.FRACTION) time stamp";
  if (*p++ != '(') return kNoTime;
  uint64_t seconds = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
    seconds = seconds * 10 + static_cast<uint64_t>(*p - '0');
    if (seconds > kMaxSeconds) return "time stamp out of range";
  }
  if (digits == 0 || *p++ != '.') return kNoTime;
  uint64_t fraction = 0;
  int places = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++places) {
    if (places < 9) fraction = fraction * 10 + static_cast<uint64_t>(*p - '0');
  }
  if (places == 0 || *p++ != ')') return kNoTime;
  for (int i = places; i < 9; ++i) fraction *= 10;
  nanos = seconds * 1000000000ull + fraction;
  return nullptr;
}

// One whitespace-separated word; advances `p` past it.
std::string Word(const char*& p) {
  while (*p == ' ' || *p == '\t') ++p;
  const char* start = p;
  while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  return std::string(start, p);
}

enum class Frame { Can, Fd, Error, Bad };

// "ID#DATA", "ID#R", "ID#R5", "ID#1122334455667788_C", "ID#R8_C". An
// identifier is 3 hex digits up to 7FF, or 8 up to 1FFFFFFF; 8 digits with
// bit 29 (CAN_ERR_FLAG) and no higher bit are an error frame, as candump
// writes those.
Frame ParseFrame(const std::string& text, PendingFrame& f) {
  size_t hash = text.find('#');
  if (hash != 3 && hash != 8) return Frame::Bad;
  uint32_t id = 0;
  for (size_t i = 0; i < hash; ++i) {
    int v = HexValue(text[i]);
    if (v < 0) return Frame::Bad;
    id = id << 4 | static_cast<uint32_t>(v);
  }
  const bool extended = hash == 8;
  if (extended && (id & 0xC0000000u) != 0) return Frame::Bad;
  if (extended && (id & 0x20000000u) != 0) return Frame::Error;
  if (!extended && id > 0x7FF) return Frame::Bad;
  size_t i = hash + 1;
  if (i < text.size() && text[i] == '#') return Frame::Fd;
  bool remote = false;
  int length = 0;
  std::memset(f.data, 0, sizeof f.data);
  if (i < text.size() && (text[i] == 'R' || text[i] == 'r')) {
    remote = true;
    ++i;
    if (i < text.size() && text[i] != '_') {
      length = HexValue(text[i++]);
      if (length < 0 || length > kMaxDataBytes) return Frame::Bad;
    }
  } else {
    while (i < text.size() && text[i] != '_') {
      if (text[i] == '.') {
        ++i;
        continue;
      }
      int hi = HexValue(text[i]);
      int lo = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
      if (hi < 0 || lo < 0 || length == kMaxDataBytes) return Frame::Bad;
      f.data[length++] = static_cast<uint8_t>(hi << 4 | lo);
      i += 2;
    }
  }
  int dlc = length;
  if (i < text.size()) {  // "_X": the DLC field 9..15 of an 8-byte frame
    if (length != kMaxDataBytes || i + 2 != text.size()) return Frame::Bad;
    dlc = HexValue(text[i + 1]);
    if (dlc <= kMaxDataBytes) return Frame::Bad;
  }
  f.count = static_cast<int8_t>(remote ? 0 : length);
  f.kind = static_cast<uint8_t>((extended ? 0x80 : 0) | (remote ? 0x40 : 0) | dlc);
  f.identifier = extended ? id : id << 18;
  return Frame::Can;
}

// Null when the line is a frame, stored in `f` (or one left out and
// counted); else the reason it is none.
const char* ReadLine(const char* line, CandumpImport& in, PendingFrame& f, bool& isFrame) {
  isFrame = false;
  const char* p = line;
  uint64_t nanos = 0;
  if (const char* why = ParseTime(p, nanos)) return why;
  std::string name = Word(p);
  std::string frame = Word(p);
  if (name.empty() || frame.empty()) return "no interface and frame";
  switch (ParseFrame(frame, f)) {
    case Frame::Bad: return "not a CAN frame (ID#DATA)";
    case Frame::Fd: ++in.leftOutFd; return nullptr;
    case Frame::Error: ++in.leftOutErrors; return nullptr;
    case Frame::Can: break;
  }
  size_t which =
      std::find(in.interfaces.begin(), in.interfaces.end(), name) - in.interfaces.begin();
  if (which == in.interfaces.size()) {
    if (in.interfaces.size() == kMaxInterfaces) {
      ++in.leftOutInterfaces;
      return nullptr;
    }
    in.interfaces.push_back(name);
    in.framesPerInterface.push_back(0);
  }
  ++in.framesPerInterface[which];
  f.interface = static_cast<uint8_t>(which);
  f.nanos = nanos;
  isFrame = true;
  return nullptr;
}

void CountBadLine(CandumpImport& in, int64_t number, const LineReader& line, const char* why) {
  if (in.badLines++ != 0) return;
  in.firstBadLine = number;
  in.firstBadReason = why;
  // Shown on a terminal: printable ASCII only, and not all of a long line.
  for (size_t i = 0; i < line.Length() && i < 80; ++i) {
    unsigned char c = static_cast<unsigned char>(line.Text()[i]);
    in.firstBadText += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
}

// Channel 1 or 2 for the first two interfaces in sorted order, else 0.
std::vector<uint8_t> Channels(const CandumpImport& in) {
  std::vector<std::string> sorted = in.interfaces;
  std::sort(sorted.begin(), sorted.end());
  std::vector<uint8_t> channel(in.interfaces.size(), 0);
  for (size_t k = 0; k < in.interfaces.size(); ++k) {
    size_t rank = std::find(sorted.begin(), sorted.end(), in.interfaces[k]) - sorted.begin();
    channel[k] = rank < 2 ? static_cast<uint8_t>(rank + 1) : 0;
  }
  return channel;
}

uint32_t DtTimeStamp(uint64_t ticks) {
  uint64_t inHour = ticks % kTicksPerHour;
  auto fifths = static_cast<int>(inHour % 50);
  auto hundredths = static_cast<int>(inHour / 50 % 100);
  auto seconds = static_cast<int>(inHour / 5000 % 60);
  auto minutes = static_cast<int>(inHour / 300000);
  return build::TimeStamp(minutes, seconds, hundredths, fifths);
}

}  // namespace

bool ReadCandumpLog(std::FILE* file, CandumpImport& in) {
  LineReader line(file);
  int64_t number = 0;
  PendingFrame f{};
  while (line.Next()) {
    ++number;
    const char* text = line.Text();
    while (*text == ' ' || *text == '\t') ++text;
    if (line.HasNul()) {
      CountBadLine(in, number, line, "a NUL byte in the line");
    } else if (line.TooLong()) {
      CountBadLine(in, number, line, "line too long");
    } else if (*text == '\0' || *text == '#') {
      continue;  // blank, or a comment
    } else {
      bool isFrame = false;
      if (const char* why = ReadLine(text, in, f, isFrame)) {
        CountBadLine(in, number, line, why);
      } else if (isFrame) {
        if (in.frames.size() == kMaxRecords) {
          in.error = "line " + std::to_string(number) + ": more frames than a DT capture holds";
          return false;
        }
        in.frames.push_back(f);
      }
    }
  }
  if (std::ferror(file)) {
    in.error = std::string("read error: ") + std::strerror(errno);
    return false;
  }
  return true;
}

int64_t CaptureRecordCount(const CandumpImport& in) {
  std::vector<uint8_t> channel = Channels(in);
  int64_t count = 0;
  for (size_t k = 0; k < channel.size(); ++k) {
    if (channel[k] != 0) count += in.framesPerInterface[k];
  }
  return count;
}

void WriteCandumpCapture(CandumpImport& in, OutputWriter& out) {
  const std::vector<uint8_t> channel = Channels(in);
  uint8_t header[kMagicSize + 8];
  std::memcpy(header, kCaptureMagic, kMagicSize);
  StoreLE32(header + kMagicSize, kTagMonc);
  StoreLE32(header + kMagicSize + 4, static_cast<uint32_t>(CaptureRecordCount(in) * kRecordSize));
  out.WriteBytes(header, sizeof header);
  bool started = false;
  uint64_t first = 0;
  uint64_t previous = 0;
  for (const PendingFrame& f : in.frames) {
    const uint8_t source = channel[f.interface];
    if (source == 0) {
      ++in.leftOutInterfaces;
      continue;
    }
    if (!started) first = previous = f.nanos;
    started = true;
    if (f.nanos < previous) ++in.backwardSteps;
    if (f.nanos >= previous && f.nanos - previous >= kNanosPerHour) ++in.longGaps;
    previous = f.nanos;
    // A frame before the first one shows the first one's time.
    const uint64_t ticks =
        f.nanos < first ? 0 : (f.nanos - first + kNanosPerTick / 2) / kNanosPerTick;
    CaptureRecord r{};
    r.raw[0] = source;
    StoreLE32(r.raw + 4, DtTimeStamp(ticks));
    r.raw[10] = static_cast<uint8_t>(f.count);
    r.raw[11] = f.kind;
    StoreLE32(r.raw + 12, f.identifier);
    std::memcpy(r.raw + 16, f.data, sizeof f.data);
    out.WriteBytes(r.raw, sizeof r.raw);
  }
}

}  // namespace ksvw::gen
