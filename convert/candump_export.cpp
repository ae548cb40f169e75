// candump log export: "(SECONDS.MICROS) canN ID#DATA" lines as can-utils'
// candump -l writes them (canplayer, log2asc and python-can read them), CH1
// as can0 and CH2 as can1. Times are seconds since 1970: the export's start
// plus the record's time (can-utils before 2023 takes a time of 0 seconds
// for "not started" and shifts every frame of the first second).
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
  CandumpWriter(ExportTally& tally, const ExportOptions& options)
      : tally_(tally),
        startTicks_(static_cast<uint64_t>(options.start.seconds) * kTicksPerSecond),
        len8Dlc_(options.len8Dlc) {}

  void Begin(OutputWriter&) {}
  void End(OutputWriter&) {}

  void Put(OutputWriter& out, const CaptureRecord& r, uint64_t sinceFirst) {
    if (ClassOf(r) != RecordClass::Can) {
      ++(IsMarker(r) ? tally_.leftOutMarkers : tally_.leftOutLin);
      return;
    }
    char line[80];  // the longest line, with a 13-digit second count, takes 56
    char* p = line;
    const uint64_t ticks = startTicks_ + sinceFirst;
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
    // with -8 a DLC field of 9 to 15 with 8 bytes follows as "_" and its
    // hex digit. Without it candump shows 8 bytes, and so do we: python-can
    // refuses the whole file at the first "_".
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
    if (len8Dlc_ && length == kMaxDataBytes && dlc > kMaxDataBytes) {
      *p++ = '_';
      *p++ = kHexDigits[dlc];
    }
    *p++ = '\n';
    out.WriteBytes(line, static_cast<size_t>(p - line));
  }

 private:
  ExportTally& tally_;
  const uint64_t startTicks_;
  const bool len8Dlc_;
};

}  // namespace

ConvertResult ExportCandump(const CaptureReader& reader, const ExportOptions& options,
                            const std::string& path, ProgressSink* progress, ExportTally& tally) {
  CandumpWriter writer(tally, options);
  return RunExport(reader, options, path, progress, tally, writer);
}

}  // namespace ksvw
