#include "sim/capture_sections.h"

#include <cstring>

#include "capture/capture_reader.h"
#include "common/byte_order.h"

namespace ksvw::sim {
namespace {

bool IsDataTag(const uint8_t* p) {
  return LoadLE32(p) == kTagMonc || LoadLE32(p) == kTagMdcl;
}

}  // namespace

bool CaptureMemory::Load(std::vector<uint8_t> file, std::string& error) {
  file_.clear();
  if (file.size() < kMagicSize || std::memcmp(file.data(), kCaptureMagic, kMagicSize) != 0) {
    error = "not a DT capture file (no magic)";
    return false;
  }
  // The last data chunk is the data, as the viewer reads it.
  size_t pos = 16;
  size_t dataAt = 0;
  while (pos < file.size()) {
    if (file.size() - pos < 8) {
      error = "chunk header cut short at offset " + std::to_string(pos);
      return false;
    }
    uint32_t length = LoadLE32(file.data() + pos + 4);
    if (length > file.size() - pos - 8) {
      error = "chunk at offset " + std::to_string(pos) + " runs past the end of the file";
      return false;
    }
    if (IsDataTag(file.data() + pos)) dataAt = pos;
    pos += 8 + static_cast<size_t>(length);
  }
  if (dataAt == 0) {
    error = "no MONC or MDCL data chunk";
    return false;
  }
  uint32_t body = LoadLE32(file.data() + dataAt + 4);
  SectionSpan head{16, static_cast<uint32_t>(dataAt - 16)};
  SectionSpan header{static_cast<uint32_t>(dataAt), 8};
  SectionSpan data{static_cast<uint32_t>(dataAt + 8), body};
  uint32_t tailAt = data.offset + body;
  SectionSpan tail{tailAt, static_cast<uint32_t>(file.size() - tailAt)};
  if (head.size > kSectionLimitSmall) {
    error = "the chunks before the data chunk take " + std::to_string(head.size) +
            " bytes, more than the 65536 a transfer section holds";
    return false;
  }
  if (data.size > kSectionLimitData) {
    error = "the data chunk holds " + std::to_string(data.size) +
            " bytes, more than the 12582912 (393216 records) the data section holds";
    return false;
  }
  if (tail.size > kSectionLimitSmall) {
    error = "the chunks after the data chunk take " + std::to_string(tail.size) +
            " bytes, more than the 65536 a transfer section holds";
    return false;
  }
  file_ = std::move(file);
  dataTag_ = LoadLE32(file_.data() + dataAt);
  spans_[0] = head;
  spans_[1] = data;
  spans_[2] = header;
  spans_[3] = tail;
  return true;
}

SectionSpan CaptureMemory::Span(uint32_t section) const {
  if (!Loaded() || !Known(section)) return {};
  return spans_[section - kSectionHead];
}

}  // namespace ksvw::sim
