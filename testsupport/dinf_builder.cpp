#include "testsupport/dinf_builder.h"

#include <algorithm>

namespace ksvw::build {

Bytes Pattern(uint8_t first, size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(first + i);
  return out;
}

Bytes Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes SizeOnly(uint32_t stored) {
  return Le32(stored);
}

Bytes Leaf(uint32_t stored, const Bytes& content) {
  Bytes out = Le32(stored);
  if (stored > 4) {
    Bytes body = content;
    body.resize(stored - 4, 0);
    out.insert(out.end(), body.begin(), body.end());
  }
  return out;
}

Bytes PatternLeaf(uint32_t stored, uint8_t first) {
  return Leaf(stored, Pattern(first, stored > 4 ? stored - 4 : 0));
}

Bytes Container(const Bytes& header, const std::vector<Bytes>& children) {
  Bytes content = header;
  for (const Bytes& child : children) content.insert(content.end(), child.begin(), child.end());
  Bytes out = Le32(static_cast<uint32_t>(content.size() + 4));
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Container(const Bytes& header, std::initializer_list<Bytes> children) {
  return Container(header, std::vector<Bytes>(children));
}

Bytes WithStoredSize(Bytes block, uint32_t stored) {
  if (block.size() < 4) block.resize(4, 0);
  Bytes size = Le32(stored);
  std::copy(size.begin(), size.end(), block.begin());
  return block;
}

Bytes Truncated(const Bytes& body, size_t n) {
  return Bytes(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(std::min(n, body.size())));
}

Bytes ModeBlock(uint8_t modeCode, uint8_t boardCode, uint32_t stored) {
  return Leaf(stored, {modeCode, boardCode, 0xEE, 0xEF});
}

Bytes ReservedBlock() {
  return SizeOnly(4);
}

Bytes CanEntry(uint8_t first, uint32_t stored) {
  return PatternLeaf(stored, first);
}

Bytes CanTimingEntry(uint8_t preset, int32_t baseFrequency, int8_t pts, int8_t pbs1, int8_t pbs2,
                     int8_t sjw, uint32_t stored) {
  Bytes content = Concat({{preset, 0, 0, 0},
                          Le32(static_cast<uint32_t>(baseFrequency)),
                          {static_cast<uint8_t>(pts), static_cast<uint8_t>(pbs1),
                           static_cast<uint8_t>(pbs2), static_cast<uint8_t>(sjw)}});
  return Leaf(stored, content);
}

Bytes LinEntry(uint8_t first, uint32_t stored) {
  return PatternLeaf(stored, first);
}

Bytes Group(const std::vector<Bytes>& entries, int announced, uint16_t value, uint8_t byte6) {
  uint8_t count = static_cast<uint8_t>(announced < 0 ? entries.size() : announced);
  Bytes header = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), byte6, count};
  return Container(header, entries);
}

Bytes ChannelBlock(const Bytes& canGroup, const Bytes& linGroup) {
  return Container({}, {canGroup, linGroup});
}

Bytes ExtensionBlock(uint32_t nested) {
  return Container({}, {SizeOnly(nested)});
}

Bytes ProtocolBlock(uint8_t protocol1, uint8_t protocol2, uint32_t listStored, uint8_t first) {
  Bytes content = Concat({{protocol1, protocol2}, Pattern(first, 10)});
  return Container({}, {Leaf(listStored, content)});
}

Bytes AuxiliaryBlock(uint8_t first) {
  auto next = [&first](size_t n) {
    Bytes out = Pattern(first, n);
    first = static_cast<uint8_t>(first + n);
    return out;
  };
  Bytes values = next(8);
  std::vector<Bytes> entries;
  for (uint32_t leaf : {12u, 12u, 8u, 8u}) {
    entries.push_back(next(4));
    entries.push_back(Leaf(leaf, next(leaf - 4)));
  }
  entries.push_back(SizeOnly(4));
  return Container(values, entries);
}

Bytes DeviceBlock(uint8_t layoutCode, const std::vector<Bytes>& parts) {
  return Container({0, 0, layoutCode, 0}, parts);
}

Bytes DeviceBlock(uint8_t layoutCode, std::initializer_list<Bytes> parts) {
  return DeviceBlock(layoutCode, std::vector<Bytes>(parts));
}

Bytes SettingsBlock(const Bytes& device, const Bytes& auxiliary) {
  return Container({}, {device, auxiliary});
}

Bytes Assemble(const DinfShape& shape) {
  return SettingsBlock(
      DeviceBlock(shape.layoutCode, {shape.mode, shape.reserved1, shape.channel, shape.extension,
                                     shape.reserved2, shape.protocol}),
      shape.auxiliary);
}

}  // namespace ksvw::build
