// Reading a candump log ("(SECONDS.FRACTION) IFACE ID#DATA" lines, as
// can-utils' candump -l and python-can write them) into capture records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/capture_record.h"

namespace ksvw::gen {

struct CandumpImport {
  std::vector<CaptureRecord> records;
  // The log's interfaces in sorted order: the first is channel 1, the second
  // channel 2; frames of any further interface are left out.
  std::vector<std::string> interfaces;
  int64_t leftOutFd = 0;          // CAN FD frames ("ID##...")
  int64_t leftOutErrors = 0;      // error frames (CAN_ERR_FLAG in the identifier)
  int64_t leftOutInterfaces = 0;  // frames of a third or later interface
  int64_t timeFaults = 0;         // frames earlier than the one before, or an hour or more after it
  std::string error;              // why the log could not be read ("line N: ...")
};

// Reads the whole log. False (with `error` set) at the first line that is
// no candump frame; lines that do not start with "(" are comments, as
// canplayer takes them. Times become DT time stamps from the first frame on,
// rounded to the nearest fifth of a millisecond.
bool ReadCandumpLog(std::FILE* file, CandumpImport& out);

}  // namespace ksvw::gen
