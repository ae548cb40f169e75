#include "sim/capture_sections.h"

#include <cstring>

namespace ksvw::sim {
namespace {

constexpr char kMagic[16] = {'K', 'E', 'S', 'T', 'R', 'I', 'N', ' ',
                             'D', 'A', 'T', 'A', ' ', ' ', ' ', '\0'};
constexpr uint32_t kSmallLimit = 0x10000;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
bool IsDataTag(const uint8_t* p) {
  return std::memcmp(p, "MONC", 4) == 0 || std::memcmp(p, "MDCL", 4) == 0;
}

}  // namespace

bool CaptureMemory::Load(std::vector<uint8_t> file, std::string& error) {
  file_.clear();
  if (file.size() < 16 || std::memcmp(file.data(), kMagic, 16) != 0) {
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
    uint32_t length = Le32(file.data() + pos + 4);
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
  uint32_t body = Le32(file.data() + dataAt + 4);
  SectionSpan head{16, static_cast<uint32_t>(dataAt - 16)};
  SectionSpan header{static_cast<uint32_t>(dataAt), 8};
  SectionSpan data{static_cast<uint32_t>(dataAt + 8), body};
  uint32_t tailAt = data.offset + body;
  SectionSpan tail{tailAt, static_cast<uint32_t>(file.size() - tailAt)};
  if (head.size > kSmallLimit) {
    error = "the chunks before the data chunk take " + std::to_string(head.size) +
            " bytes, more than the 65536 a transfer section holds";
    return false;
  }
  if (data.size > kDataSectionLimit) {
    error = "the data chunk holds " + std::to_string(data.size) +
            " bytes, more than the 12582912 (393216 records) the data section holds";
    return false;
  }
  if (tail.size > kSmallLimit) {
    error = "the chunks after the data chunk take " + std::to_string(tail.size) +
            " bytes, more than the 65536 a transfer section holds";
    return false;
  }
  file_ = std::move(file);
  dataTag_ = Le32(file_.data() + dataAt);
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
