// Vector ASC export: a header with the date, then one line per frame in
// a trigger block, time stamps in seconds from the first record (ASC's
// "timestamps absolute"), identifiers and data in hex, CR LF line ends.
//
//   CAN:  "   1.234400 1  123             Rx   d 8 11 22 33 44 55 66 77 88"
//         extended identifiers end in "x", remote frames read "r" and the DLC
//   LIN:  "   1.234400 L2 3C              Rx     2 10 20  checksum = 30 ..."
//         a checksum error reads "CSErr", a header without slave response
//         is ASC's "TransmErr" event; other LIN records (other errors, no
//         header) and the markers and triggers are "//" comments
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

inline char* LineEnd(char* p) {
  *p++ = '\r';
  *p++ = '\n';
  return p;
}

class AscWriter {
 public:
  AscWriter(const std::tm& date, uint32_t dataTag) : dataTag_(dataTag) {
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
      case RecordClass::LostData: p = MarkerText(Comment(p, ticks), r); break;
      case RecordClass::Can:
        p = Trigger(p, r, ticks);
        p = CanLine(p, r, ticks);
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
  // "//", the time and a space: the start of a comment line.
  static char* Comment(char* p, uint64_t ticks) {
    p = AscTime(Text(p, "//"), ticks);
    *p++ = ' ';
    return p;
  }
  // A trigger mark: a comment line before its frame.
  char* Trigger(char* p, const CaptureRecord& r, uint64_t ticks) {
    if (!TriggerMark(r, dataTag_)) return p;
    return LineEnd(Text(Comment(p, ticks), "trigger"));
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

  static char* LinLine(char* p, const CaptureRecord& r, uint64_t ticks) {
    static constexpr char kTimes[] = "header time =   0, full time =   0";
    const uint8_t errors = LinErrorFlags(r);
    const bool noResponse = (errors & kLinNoSlaveResponse) != 0;
    // A response that is good, or whose only fault is its checksum.
    const bool response =
        LinBodyShape(r) == LinBody::Response && (errors & ~kLinChecksumError) == 0;
    if (!LinIsFrame(r) || !(noResponse || response)) return LinRecordText(Comment(p, ticks), r);
    p = Text(AscTime(p, ticks), " L");
    *p++ = static_cast<char>('0' + ChannelNumber(r));
    *p++ = ' ';
    p = Hex2(p, LinFrameId(r));
    if (noResponse) return Text(Text(p, "              TransmErr "), kTimes);
    const int n = LinDataCount(r);
    p = errors == 0 ? Text(p, "              Rx     ") : Text(p, " CSErr Rx  ");
    p = HexBytes(Dec(p, n), r.data(), n);
    p = Hex2(Text(p, "  checksum = "), LinFrameChecksum(r));
    return Text(Text(p, "   "), kTimes);
  }

  const uint32_t dataTag_;
  char date_[64] = {};
};

}  // namespace

ConvertResult ExportAsc(const CaptureReader& reader, const ExportOptions& options,
                        const std::string& path, ProgressSink* progress, ExportTally& tally) {
  AscWriter writer(options.start.shown, reader.DataTag());
  return RunExport(reader, options, path, progress, tally, writer);
}

}  // namespace ksvw
