// The simulated capture memory: a DT file body served as the four transfer
// sections, so that the host's 16-byte header followed by the sections in
// request order (0x8100, 0x8102, 0x8101, 0x8103) gives back the file.
//
//   0x8100  everything between the magic and the data chunk (settings, ...)
//   0x8102  the data chunk's 8-byte header (tag and body length)
//   0x8101  the data chunk's body (the frame records)
//   0x8103  everything after the data chunk
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/analyzer.h"

namespace ksvw::sim {

struct SectionSpan {
  uint32_t offset = 0;
  uint32_t size = 0;
};

class CaptureMemory {
 public:
  // Splits a whole DT file (magic included). False with a reason when it is
  // no capture file, has no data chunk, or a section exceeds what the host
  // takes (kSectionLimitSmall bytes, kSectionLimitData for the records).
  bool Load(std::vector<uint8_t> file, std::string& error);

  bool Loaded() const { return !file_.empty(); }
  const std::vector<uint8_t>& File() const { return file_; }
  uint32_t DataTag() const { return dataTag_; }
  uint32_t RecordCount() const { return Span(kSectionData).size / 32; }
  // The span of a section in the file; size 0 for an unknown id.
  SectionSpan Span(uint32_t section) const;
  bool Known(uint32_t section) const { return section >= kSectionHead && section <= kSectionTail; }
  const uint8_t* Bytes(uint32_t section) const { return file_.data() + Span(section).offset; }

 private:
  std::vector<uint8_t> file_;
  uint32_t dataTag_ = 0;
  SectionSpan spans_[4];
};

}  // namespace ksvw::sim
