// Vector ASC export: a header with the date, then one line per frame in
// a trigger block, time stamps in seconds from the first record (ASC's
// "timestamps absolute"), identifiers and data in hex, CR LF line ends.
//
//   CAN:  "   1.234400 1  123             Rx   d 8 11 22 33 44 55 66 77 88"
//         extended identifiers end in "x", remote frames read "r" and the DLC
//   LIN:  "   1.234400 L2 3C              Rx     2 10 20  checksum = 30 ..."
//         a checksum error reads "CSErr"; other LIN records (errors, no
//         response, no header) and the markers and triggers are "//" comments
#include <cstdio>

#include "convert/capture_export.h"
#include "convert/export_walk.h"

namespace ksvw {

namespace {

using namespace digits;
using namespace exporting;

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// "Mon Dec 07 01:05:12.000 am 2026", the date form ASC readers parse.
void FormatDate(const std::tm& t, char* out, size_t size) {
  int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
  std::snprintf(out, size, "%s %s %02d %02d:%02d:%02d.000 %s %d",
                kDays[static_cast<unsigned>(t.tm_wday) % 7],
                kMonths[static_cast<unsigned>(t.tm_mon) % 12], t.tm_mday, hour12, t.tm_min,
                t.tm_sec, t.tm_hour < 12 ? "am" : "pm", t.tm_year + 1900);
}

// Seconds with six decimals, right-aligned in 11 characters ("%11.6f").
inline char* AscTime(char* p, uint64_t ticks) {
  uint64_t seconds = ticks / kTicksPerSecond;
  if (seconds < 10)
    p = Spaces(p, 3);
  else if (seconds < 100)
    p = Spaces(p, 2);
  else if (seconds < 1000)
    p = Spaces(p, 1);
  p = DecimalPadded(p, seconds, 1);
  *p++ = '.';
  return Micros6(p, static_cast<uint32_t>(ticks % kTicksPerSecond));
}

inline char* HexBytes(char* p, const uint8_t* bytes, int n) {
  for (int i = 0; i < n; ++i) {
    *p++ = ' ';
    p = Hex2(p, bytes[i]);
  }
  return p;
}

inline char* LineEnd(char* p) {
  *p++ = '\r';
  *p++ = '\n';
  return p;
}

class AscWriter {
 public:
  AscWriter(ExportTally& tally, const std::tm& date, uint32_t dataTag)
      : dataTag_(dataTag), tally_(tally) {
    FormatDate(date, date_, sizeof date_);
  }

  void Begin(OutputWriter& out) {
    char head[256];
    int n = std::snprintf(head, sizeof head,
                          "date %s\r\nbase hex  timestamps absolute\r\ninternal events logged\r\n"
                          "Begin Triggerblock %s\r\n   0.000000 Start of measurement\r\n",
                          date_, date_);
    if (n > 0) out.WriteBytes(head, static_cast<size_t>(n));
  }
  void End(OutputWriter& out) { out.WriteBytes("End TriggerBlock\r\n", 18); }

  void Put(OutputWriter& out, const CaptureRecord& r, uint64_t ticks) {
    char line[256];  // a trigger line and the longest LIN comment take about 150
    char* p = line;
    switch (ClassOf(r)) {
      case RecordClass::Overrun:
      case RecordClass::LostData:
        p = Comment(p, ticks);
        p = r.source() == kSourceOverrun ? Text(p, " overrun: records were lost here")
                                         : Text(p, " lost data: records were lost here");
        break;
      case RecordClass::Can:
        p = Trigger(p, r, ticks);
        p = CanLine(p, r, ticks);
        ++tally_.canFrames;
        break;
      case RecordClass::Lin:
        p = Trigger(p, r, ticks);
        p = LinLine(p, r, ticks);
        break;
    }
    p = LineEnd(p);
    out.WriteBytes(line, static_cast<size_t>(p - line));
  }

 private:
  char* Comment(char* p, uint64_t ticks) {
    ++tally_.comments;
    p = Text(p, "//");
    return AscTime(p, ticks);
  }
  // A trigger mark: a comment line before its frame.
  char* Trigger(char* p, const CaptureRecord& r, uint64_t ticks) {
    if (!TriggerMark(r, dataTag_)) return p;
    p = Comment(p, ticks);
    p = Text(p, " trigger");
    return LineEnd(p);
  }

  static char* CanLine(char* p, const CaptureRecord& r, uint64_t ticks) {
    p = AscTime(p, ticks);
    *p++ = ' ';
    *p++ = static_cast<char>('0' + ChannelNumber(r));
    p = Spaces(p, 2);
    if (CanExtended(r)) {
      p = Hex8(p, CanIdentifier(r));
      *p++ = 'x';
      p = Spaces(p, 6);
    } else {
      p = Hex3(p, CanIdentifier(r));
      p = Spaces(p, 12);
    }
    p = Text(p, " Rx   ");
    *p++ = CanRemote(r) ? 'r' : 'd';
    *p++ = ' ';
    *p++ = kHexDigits[CanDlc(r)];
    return HexBytes(p, r.data(), CanShownDataCount(r));
  }

  char* LinLine(char* p, const CaptureRecord& r, uint64_t ticks) {
    const int n = LinDataCount(r);
    const char letter = StatusLetter(r);
    const bool response = LinIsFrame(r) && LinBodyShape(r) == LinBody::Response;
    // A good frame, or one whose only fault is its checksum.
    if (response && (r.status() == 0 || (LinErrorCode(r) == 8 && letter == 'C'))) {
      ++tally_.linFrames;
      p = AscTime(p, ticks);
      p = Text(p, " L");
      *p++ = static_cast<char>('0' + ChannelNumber(r));
      *p++ = ' ';
      p = Hex2(p, LinFrameId(r));
      p = r.status() == 0 ? Text(p, "              Rx     ") : Text(p, " CSErr Rx  ");
      p = Dec(p, n);
      p = HexBytes(p, r.data(), n);
      p = Text(p, "  checksum = ");
      p = Hex2(p, LinFrameChecksum(r));
      return Text(p, "   header time =   0, full time =   0");
    }
    // Anything else is shown as the list shows it, in a comment.
    p = Comment(p, ticks);
    p = Text(p, " L");
    *p++ = static_cast<char>('0' + ChannelNumber(r));
    p = Text(p, " LIN ");
    const char* type = FrameTypeText(r);
    p = *type != '\0' ? Text(p, type, std::strlen(type)) : Text(p, "BYTES");
    if (letter != 0) {
      p = Text(p, " status ");
      *p++ = letter;
    }
    const LinHeader header = LinHeaderShape(r);
    if (header != LinHeader::None) {
      p = Text(p, " SB ");
      p = Hex2(p, LinSb(r));
      if (header != LinHeader::Sb) {
        p = Text(p, " SF ");
        p = Hex2(p, LinSf(r));
      }
      if (header == LinHeader::Full) {
        p = Text(p, " PID ");
        p = Hex2(p, LinProtectedId(r));
      }
    }
    if (r.count() > 0) {
      p = Text(p, " data");
      p = HexBytes(p, r.data(), n);
      if (LinFrameChecksumIndex(r) >= 0) {
        p = Text(p, " checksum ");
        p = Hex2(p, LinFrameChecksum(r));
      }
    }
    return p;
  }

  static char* Text(char* p, const char* s, size_t n) {
    std::memcpy(p, s, n);
    return p + n;
  }
  template <size_t N>
  static char* Text(char* p, const char (&s)[N]) {
    return digits::Text(p, s);
  }

  const uint32_t dataTag_;
  ExportTally& tally_;
  char date_[64] = {};
};

}  // namespace

ConvertResult ExportAsc(const CaptureReader& reader, const ExportOptions& options,
                        const std::string& path, ProgressSink* progress, ExportTally& tally) {
  AscWriter writer(tally, options.date, reader.DataTag());
  return RunExport(reader, options, path, progress, tally, writer);
}

}  // namespace ksvw
