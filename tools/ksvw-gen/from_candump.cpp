#include "tools/ksvw-gen/from_candump.h"

#include <algorithm>
#include <cstring>

#include "testsupport/capture_builder.h"

namespace ksvw::gen {

namespace {

constexpr size_t kMaxLine = 512;
constexpr size_t kMaxInterfaces = 64;
constexpr uint64_t kNanosPerTick = 200000;
constexpr uint64_t kTicksPerHour = 18000000;
// A DT data chunk's length is a 32-bit value.
constexpr size_t kMaxRecords = 0xFFFFFFFFu / kRecordSize;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "(SECONDS.FRACTION)" in nanoseconds; advances `p` past it.
bool ParseTime(const char*& p, uint64_t& nanos) {
  if (*p++ != '(') return false;
  uint64_t seconds = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
    if (digits == 12) return false;
    seconds = seconds * 10 + static_cast<uint64_t>(*p - '0');
  }
  if (digits == 0 || *p++ != '.') return false;
  uint64_t fraction = 0;
  int places = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++places) {
    if (places < 9) fraction = fraction * 10 + static_cast<uint64_t>(*p - '0');
  }
  if (places == 0 || *p++ != ')') return false;
  for (int i = places; i < 9; ++i) fraction *= 10;
  nanos = seconds * 1000000000ull + fraction;
  return true;
}

// One whitespace-separated word; advances `p` past it.
std::string Word(const char*& p) {
  while (*p == ' ' || *p == '\t') ++p;
  const char* start = p;
  while (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') ++p;
  return std::string(start, p);
}

enum class Frame { Can, Fd, Error, Bad };

// "ID#DATA", "ID#R", "ID#R5", "ID#1122334455667788_C", "ID#R8_C".
Frame ParseFrame(const std::string& text, build::RecordFields& f) {
  size_t hash = text.find('#');
  if (hash != 3 && hash != 8) return Frame::Bad;
  uint32_t id = 0;
  for (size_t i = 0; i < hash; ++i) {
    int v = HexValue(text[i]);
    if (v < 0) return Frame::Bad;
    id = id << 4 | static_cast<uint32_t>(v);
  }
  const bool extended = hash == 8;
  if (extended && (id & 0x20000000u) != 0) return Frame::Error;
  if (!extended && id > 0x7FF) return Frame::Bad;
  size_t i = hash + 1;
  if (i < text.size() && text[i] == '#') return Frame::Fd;
  bool remote = false;
  int length = 0;
  f.data.clear();
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
      if (hi < 0 || lo < 0 || f.data.size() == kMaxDataBytes) return Frame::Bad;
      f.data.push_back(static_cast<uint8_t>(hi << 4 | lo));
      i += 2;
    }
    length = static_cast<int>(f.data.size());
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

uint32_t DtTimeStamp(uint64_t ticks) {
  uint64_t inHour = ticks % kTicksPerHour;
  auto fifths = static_cast<int>(inHour % 50);
  auto hundredths = static_cast<int>(inHour / 50 % 100);
  auto seconds = static_cast<int>(inHour / 5000 % 60);
  auto minutes = static_cast<int>(inHour / 300000);
  return build::TimeStamp(minutes, seconds, hundredths, fifths);
}

}  // namespace

bool ReadCandumpLog(std::FILE* file, CandumpImport& out) {
  struct Read {
    uint64_t nanos;
    size_t interface;
  };
  std::vector<Read> reads;  // parallel to out.records until the channels are known
  std::vector<std::string> names;
  char line[kMaxLine];
  int64_t number = 0;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    ++number;
    auto fail = [&](const char* why) {
      out.error = "line " + std::to_string(number) + ": " + why;
      return false;
    };
    if (std::strchr(line, '\n') == nullptr && !std::feof(file)) return fail("line too long");
    if (line[0] != '(') continue;  // a comment, as canplayer reads it
    const char* p = line;
    uint64_t nanos = 0;
    if (!ParseTime(p, nanos)) return fail("no (SECONDS.FRACTION) time stamp");
    std::string name = Word(p);
    std::string frame = Word(p);
    if (name.empty() || frame.empty()) return fail("no interface and frame");
    build::RecordFields f;
    switch (ParseFrame(frame, f)) {
      case Frame::Bad: return fail("not a CAN frame (ID#DATA)");
      case Frame::Fd: ++out.leftOutFd; continue;
      case Frame::Error: ++out.leftOutErrors; continue;
      case Frame::Can: break;
    }
    size_t which = std::find(names.begin(), names.end(), name) - names.begin();
    if (which == names.size()) {
      if (names.size() == kMaxInterfaces) return fail("too many interfaces");
      names.push_back(name);
    }
    if (out.records.size() == kMaxRecords) return fail("more frames than a capture holds");
    reads.push_back({nanos, which});
    out.records.push_back(build::Record(f));
  }
  if (std::ferror(file)) {
    out.error = "read error";
    return false;
  }

  // Channels by sorted interface name; then the time stamps, from the first
  // frame kept on.
  out.interfaces = names;
  std::sort(out.interfaces.begin(), out.interfaces.end());
  std::vector<uint8_t> channel(names.size(), 0);
  for (size_t k = 0; k < names.size(); ++k) {
    size_t rank =
        std::find(out.interfaces.begin(), out.interfaces.end(), names[k]) - out.interfaces.begin();
    channel[k] = rank < 2 ? static_cast<uint8_t>(rank + 1) : 0;
  }
  size_t kept = 0;
  uint64_t first = 0;
  uint64_t previous = 0;
  for (size_t k = 0; k < out.records.size(); ++k) {
    uint8_t source = channel[reads[k].interface];
    if (source == 0) {
      ++out.leftOutInterfaces;
      continue;
    }
    uint64_t nanos = reads[k].nanos;
    if (kept == 0) first = nanos;
    uint64_t ticks = nanos < first ? 0 : (nanos - first + kNanosPerTick / 2) / kNanosPerTick;
    if (kept != 0 && (ticks < previous || ticks - previous >= kTicksPerHour)) ++out.timeFaults;
    previous = ticks;
    CaptureRecord r = out.records[k];
    r.raw[0] = source;
    StoreLE32(r.raw + 4, DtTimeStamp(ticks));
    out.records[kept++] = r;
  }
  out.records.resize(kept);
  return true;
}

}  // namespace ksvw::gen
