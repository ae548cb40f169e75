// candump log export: "(SECONDS.MICROS) canN ID#DATA" lines as can-utils'
// candump -l writes them (canplayer, log2asc and python-can read them).
//
// The format holds CAN frames only and has no comment lines that every
// reader skips (python-can's reader fails on them), so LIN records and
// markers are left out and counted.
#include "convert/capture_export.h"
#include "convert/export_walk.h"

namespace ksvw {

namespace {

using namespace digits;
using namespace exporting;

class CandumpWriter {
 public:
  explicit CandumpWriter(ExportTally& tally) : tally_(tally) {}

  void Begin(OutputWriter&) {}
  void End(OutputWriter&) {}

  void Put(OutputWriter& out, const CaptureRecord& r, uint64_t ticks) {
    if (ClassOf(r) != RecordClass::Can) {
      ++(IsMarker(r) ? tally_.leftOutMarkers : tally_.leftOutLin);
      return;
    }
    char line[80];  // the longest line, with a 13-digit second count, takes 56
    char* p = line;
    *p++ = '(';
    p = DecimalPadded(p, ticks / kTicksPerSecond, 10);
    *p++ = '.';
    p = Micros6(p, static_cast<uint32_t>(ticks % kTicksPerSecond));
    p = Text(p, ") can");
    *p++ = static_cast<char>('0' + ChannelNumber(r) - 1);
    *p++ = ' ';
    p = CanExtended(r) ? Hex8(p, CanIdentifier(r)) : Hex3(p, CanIdentifier(r));
    *p++ = '#';
    // can-utils' rules: a remote frame shows its length when it is 1 to 8;
    // a DLC field of 9 to 15 with 8 bytes follows as "_" and its hex digit.
    const int dlc = CanDlc(r);
    int length;
    if (CanRemote(r)) {
      *p++ = 'R';
      length = dlc > kMaxDataBytes ? kMaxDataBytes : dlc;
      if (length != 0) *p++ = kHexDigits[length];
    } else {
      length = CanShownDataCount(r);
      for (int i = 0; i < length; ++i) p = Hex2(p, r.data()[i]);
    }
    if (length == kMaxDataBytes && dlc > kMaxDataBytes) {
      *p++ = '_';
      *p++ = kHexDigits[dlc];
    }
    *p++ = '\n';
    out.WriteBytes(line, static_cast<size_t>(p - line));
    ++tally_.canFrames;
  }

 private:
  ExportTally& tally_;
};

}  // namespace

ConvertResult ExportCandump(const CaptureReader& reader, const ExportOptions& options,
                            const std::string& path, ProgressSink* progress, ExportTally& tally) {
  CandumpWriter writer(tally);
  return RunExport(reader, options, path, progress, tally, writer);
}

}  // namespace ksvw
