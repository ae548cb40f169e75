// Builders of "DINF" bodies with blocks at any stored size, for tests of the
// settings parser on shapes a well-behaved analyzer never writes: entries
// longer or shorter than the known sizes, groups that announce more entries
// than they hold, blocks that claim more bytes than there are.
//
// Every block is a byte vector that starts with its stored size. Content
// bytes default to a running pattern (first, first + 1, ...) so a test can
// tell from any byte of the parsed image where it came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace ksvw::build {

using Bytes = std::vector<uint8_t>;

// n bytes first, first + 1, ... (wrapping at 256).
Bytes Pattern(uint8_t first, size_t n);
Bytes Le32(uint32_t v);
Bytes Concat(std::initializer_list<Bytes> parts);

// Just a size field holding `stored`, whatever it claims.
Bytes SizeOnly(uint32_t stored);
// A leaf: the size field, then `content` cut or zero-padded to stored - 4
// bytes (nothing after the size field when stored is 4 or less).
Bytes Leaf(uint32_t stored, const Bytes& content = {});
// A leaf whose content is Pattern(first, stored - 4).
Bytes PatternLeaf(uint32_t stored, uint8_t first);
// A container: size field (4 + header + children unless `stored` is given),
// header bytes, then the children back to back.
Bytes Container(const Bytes& header, std::initializer_list<Bytes> children);
Bytes Container(const Bytes& header, const std::vector<Bytes>& children);
// The block with its size field replaced by `stored` (content unchanged).
Bytes WithStoredSize(Bytes block, uint32_t stored);
// The first n bytes of `body` (all of it when shorter).
Bytes Truncated(const Bytes& body, size_t n);

// ---- Blocks of the settings tree ----

// Mode block: modeCode, boardCode and two more bytes, cut to `stored`.
Bytes ModeBlock(uint8_t modeCode, uint8_t boardCode, uint32_t stored = 8);
Bytes ReservedBlock();
// CAN entry (known size 32) with content from the running pattern.
Bytes CanEntry(uint8_t first, uint32_t stored = 32);
// CAN entry with the fields the program reads; `stored` cuts or pads it.
Bytes CanTimingEntry(uint8_t preset, int32_t baseFrequency, int8_t pts, int8_t pbs1, int8_t pbs2,
                     int8_t sjw, uint32_t stored = 32);
// LIN entry (known size 288) with content from the running pattern.
Bytes LinEntry(uint8_t first, uint32_t stored = 288);
// CAN or LIN group: the 16-bit value, a byte, the entry count (`announced`,
// the number of entries given when negative), then the entries.
Bytes Group(const std::vector<Bytes>& entries, int announced = -1, uint16_t value = 0x3412,
            uint8_t byte6 = 0x56);
Bytes ChannelBlock(const Bytes& canGroup, const Bytes& linGroup);
// Extension block holding one empty nested block of size `nested`.
Bytes ExtensionBlock(uint32_t nested = 4);
// Protocol block: a list (known size 16) with the two channels' protocol
// bytes followed by the pattern from `first`, cut to `listStored`.
Bytes ProtocolBlock(uint8_t protocol1, uint8_t protocol2, uint32_t listStored = 16,
                    uint8_t first = 0xA0);
// Auxiliary block at the known sizes: every value and leaf byte from the
// running pattern (values too), nested block of size 4.
Bytes AuxiliaryBlock(uint8_t first = 0x10);
// Device block: the header (layoutCode at byte 6), then the parts in order.
Bytes DeviceBlock(uint8_t layoutCode, std::initializer_list<Bytes> parts);
Bytes DeviceBlock(uint8_t layoutCode, const std::vector<Bytes>& parts);
Bytes SettingsBlock(const Bytes& device, const Bytes& auxiliary);

// The pieces of a whole body, each at its known size by default; a test
// replaces the one it is about and calls Assemble.
struct DinfShape {
  uint8_t layoutCode = 32;
  Bytes mode = ModeBlock(4, 9);
  Bytes reserved1 = ReservedBlock();
  Bytes channel = ChannelBlock(Group({CanEntry(0x40), CanEntry(0x60)}),
                               Group({LinEntry(0x80), LinEntry(0x20)}, -1, 0x7856, 0x9A));
  Bytes extension = ExtensionBlock();
  Bytes reserved2 = ReservedBlock();
  Bytes protocol = ProtocolBlock(0, 2);
  Bytes auxiliary = AuxiliaryBlock();
};
Bytes Assemble(const DinfShape& shape);

}  // namespace ksvw::build
