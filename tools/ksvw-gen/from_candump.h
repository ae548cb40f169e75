// Reading a candump log ("(SECONDS.FRACTION) IFACE ID#DATA" lines, as
// can-utils' candump -l and python-can write them) into a "MONC" capture.
//
// The log is streamed: each frame is kept in 24 bytes (less than its 32-byte
// record) until the last line has named every interface, since channels go
// by sorted interface name; then the records are written out in file order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "convert/output_writer.h"

namespace ksvw::gen {

// A frame as read, before its channel and DT time are known.
struct PendingFrame {
  uint64_t nanos;       // the log's time
  uint32_t identifier;  // as the record stores it (standard ids in bits 18..28)
  uint8_t data[8];
  uint8_t interface;  // index into CandumpImport::interfaces
  uint8_t kind;       // the record's kind byte: extended, remote, DLC field
  int8_t count;       // data bytes
};
static_assert(sizeof(PendingFrame) == 24);

struct CandumpImport {
  std::deque<PendingFrame> frames;
  // Interfaces in order of first appearance (at most 64) and their frame
  // counts. The first two in sorted order become channels 1 and 2.
  std::vector<std::string> interfaces;
  std::vector<int64_t> framesPerInterface;
  int64_t leftOutFd = 0;          // CAN FD frames ("ID##...")
  int64_t leftOutErrors = 0;      // error frames (CAN_ERR_FLAG in the identifier)
  int64_t leftOutInterfaces = 0;  // frames of a third interface, or of one past the 64th
  int64_t backwardSteps = 0;      // frames earlier than the frame written before them
  int64_t longGaps = 0;           // frames an hour or more after it (DT times wrap hourly)
  // Lines that are neither frames nor comments: how many, and the first.
  int64_t badLines = 0;
  int64_t firstBadLine = 0;
  std::string firstBadText;
  const char* firstBadReason = "";
  std::string error;  // why the log could not be read at all
};

// Reads the whole log. Blank lines and lines starting with "#" are comments;
// a line that is no frame is counted and skipped. Lines may end in LF, CR LF
// or CR. False, with `error`, on a read error or more frames than a DT file
// holds; an allocation failure throws std::bad_alloc.
bool ReadCandumpLog(std::FILE* file, CandumpImport& in);

// The number of records the capture gets: frames of the two interfaces
// first in sorted order.
int64_t CaptureRecordCount(const CandumpImport& in);

// Writes the DT file: the magic, then one "MONC" chunk of the records in
// file order, times from the first record on, rounded to 0.2 ms. Counts
// leftOutInterfaces, backwardSteps and longGaps.
void WriteCandumpCapture(CandumpImport& in, OutputWriter& out);

}  // namespace ksvw::gen
