// Settings parser: known-size bodies, blocks shorter and longer than their
// known sizes, malformed blocks (what a failure keeps), and bounds: every
// body is copied into a heap block of exactly its size so that the address
// sanitizer reports any read past it.
#include "capture/capture_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "testsupport/capture_builder.h"
#include "testsupport/dinf_builder.h"

namespace ksvw {
namespace {

using build::Bytes;
using build::DinfShape;

struct Parsed {
  bool ok;
  CaptureSettings settings;
};

uint32_t U32(const CaptureSettings& s, int offset) {
  return LoadLE32(s.bytes + offset);
}
Bytes Image(const CaptureSettings& s) {
  return Bytes(s.bytes, s.bytes + kSettingsSize);
}

Parsed Parse(const Bytes& body) {
  // Exactly body.size() bytes, no slack: an overread is a heap overflow.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[body.size()]);
  std::copy(body.begin(), body.end(), exact.get());
  Parsed p{false, CaptureSettings{}};
  p.ok = ParseCaptureSettings(p.settings, exact.get(), body.size());
  // The same body at an odd address (where an aligned load would be
  // undefined) gives the same result.
  std::unique_ptr<uint8_t[]> odd(new uint8_t[body.size() + 1]);
  std::copy(body.begin(), body.end(), odd.get() + 1);
  CaptureSettings s;
  EXPECT_EQ(ParseCaptureSettings(s, odd.get() + 1, body.size()), p.ok);
  EXPECT_EQ(Image(s), Image(p.settings));
  return p;
}
Bytes Defaults() {
  return Image(CaptureSettings{});
}

// The image a fully parsed known-size body gives: the body itself.
Bytes KnownBody() {
  return build::Assemble(DinfShape{});
}

// Bytes [from, to) of an image.
Bytes Range(const Bytes& image, int from, int to) {
  return Bytes(image.begin() + from, image.begin() + to);
}

// `image` with bytes [from, to) taken from `source`.
Bytes Splice(Bytes image, const Bytes& source, int from, int to) {
  std::copy(source.begin() + from, source.begin() + to, image.begin() + from);
  return image;
}

// Expected image: `kept` ranges from the known body over the defaults.
Bytes KeptOverDefaults(std::initializer_list<std::pair<int, int>> kept) {
  Bytes image = Defaults();
  Bytes known = KnownBody();
  for (auto [from, to] : kept) image = Splice(image, known, from, to);
  return image;
}

// `image` with bytes [from, to) zero, or with `bytes` written at `at`.
Bytes Zero(Bytes image, int from, int to) {
  std::fill(image.begin() + from, image.begin() + to, 0);
  return image;
}
Bytes Put(Bytes image, int at, const Bytes& bytes) {
  std::copy(bytes.begin(), bytes.end(), image.begin() + at);
  return image;
}

// Images that failures keep: the layout code alone; the mode block (and the
// layout code) before a malformed block; the CAN group as well, with the LIN
// group's size set and its content cleared.
Bytes LayoutOnly() {
  return Put(Defaults(), 10, {32});
}
Bytes ModeKept() {
  return Put(KeptOverDefaults({{16, 20}}), 10, {32});
}
Bytes CanGroupKept() {
  return Put(Put(KeptOverDefaults({{16, 20}, {28, 100}}), 10, {32}), 100, build::Le32(584));
}

// The known shape with one block replaced by `edit`.
template <typename Edit>
Bytes Shape(Edit edit) {
  DinfShape shape;
  edit(shape);
  return build::Assemble(shape);
}
Bytes WithMode(const Bytes& mode) {
  return Shape([&](DinfShape& s) { s.mode = mode; });
}
Bytes WithChannel(const Bytes& channel) {
  return Shape([&](DinfShape& s) { s.channel = channel; });
}
Bytes WithCanGroup(const Bytes& canGroup) {
  return WithChannel(build::ChannelBlock(
      canGroup, build::Group({build::LinEntry(0x80), build::LinEntry(0x20)}, -1, 0x7856, 0x9A)));
}
Bytes WithAuxiliary(const Bytes& auxiliary) {
  return build::SettingsBlock(Range(KnownBody(), 4, 716), auxiliary);
}

TEST(CaptureSettingsDefaults, SizeFieldsOfTheKnownLayoutAndZeroElsewhere) {
  CaptureSettings s;
  const std::pair<int, uint32_t> sizes[] = {
      {0, 788}, {4, 712}, {12, 8},  {20, 4},   {24, 660}, {28, 72},  {36, 32}, {68, 32},
      {684, 8}, {688, 4}, {692, 4}, {696, 20}, {700, 16}, {716, 72}, {784, 4},
  };
  Bytes expected(kSettingsSize, 0);
  for (auto [offset, size] : sizes) {
    expected[offset] = static_cast<uint8_t>(size);
    expected[offset + 1] = static_cast<uint8_t>(size >> 8);
  }
  EXPECT_EQ(Image(s), expected);  // LIN group and LIN channel sizes zero among the rest
  EXPECT_FALSE(s.lin(0).hasLengthTable());
  s.bytes[500] = 7;
  s.Reset();
  EXPECT_EQ(Image(s), expected);
}

// Bodies that differ from the known one in one block, with what the parse
// returns and the whole image it leaves.
struct BodyCase {
  std::string what;
  Bytes body;
  bool ok;
  Bytes image;
};

std::vector<BodyCase> UnusualBodies() {
  using build::CanEntry;
  using build::Group;
  using build::LinEntry;
  const Bytes known = KnownBody();
  const Bytes can = Group({CanEntry(0x40), CanEntry(0x60)});
  const Bytes lin = Group({LinEntry(0x80), LinEntry(0x20)}, -1, 0x7856, 0x9A);
  const Bytes aux = build::AuxiliaryBlock();
  const DinfShape shape;
  auto canGroupHeader = [&](const Bytes& header) { return Put(Zero(known, 28, 100), 28, header); };
  std::vector<BodyCase> cases = {
      // The settings block and the device block.
      {"settings block of 6", build::Concat({build::SizeOnly(6), {0xAA, 0xBB}}), true, Defaults()},
      {"6 before a whole tree", build::WithStoredSize(known, 6), true, Defaults()},
      {"settings block of 789", build::WithStoredSize(known, 789), true, known},
      {"settings block of 2^32-1", build::WithStoredSize(known, 0xFFFFFFFF), true, known},
      {"settings block ending after the device block", build::WithStoredSize(known, 716), true,
       KeptOverDefaults({{4, 716}})},
      {"device block of 7", build::SettingsBlock({7, 0, 0, 0, 0, 0, 32}, aux), true,
       KeptOverDefaults({{716, 788}})},
      {"device block of 8: the layout code only",
       build::SettingsBlock({8, 0, 0, 0, 0x11, 0x22, 32, 0x33}, aux), true,
       Put(KeptOverDefaults({{716, 788}}), 10, {32})},
      {"device block of mode and reserved only",
       build::SettingsBlock(build::DeviceBlock(32, {shape.mode, shape.reserved1}), aux), true,
       Put(KeptOverDefaults({{16, 20}, {716, 788}}), 10, {32})},
      {"reserved block of 3", Shape([](DinfShape& s) { s.reserved1 = build::SizeOnly(3); }), false,
       ModeKept()},
      {"channel block beyond the device block",
       WithChannel(build::WithStoredSize(shape.channel, 5000)), false, ModeKept()},
      // The mode block.
      {"mode code 0", WithMode(build::ModeBlock(0, 9)), true, Splice(known, Defaults(), 16, 17)},
      {"mode block without board code: channel block cleared", WithMode(build::ModeBlock(4, 9, 5)),
       true, Zero(Zero(known, 17, 20), 28, 684)},
      {"mode block of 4: no codes", WithMode(build::ModeBlock(4, 9, 4)), true,
       Zero(Zero(known, 16, 20), 28, 684)},
      {"mode block of 12, cut", WithMode(build::Leaf(12, {4, 9, 0xEE, 0xEF, 0x77, 0x77, 0x77})),
       true, known},
      // The CAN group: entries cut to 32 bytes and stepped by their stored size.
      {"CAN entries of 48 and 16", WithCanGroup(Group({CanEntry(0x40, 48), CanEntry(0x60, 16)})),
       true, Zero(known, 84, 100)},
      {"CAN entries of 16 and 32", WithCanGroup(Group({CanEntry(0x40, 16), CanEntry(0x60)})), true,
       Zero(known, 52, 68)},
      {"third entry that fits is skipped",
       WithCanGroup(Group({CanEntry(0x40, 16), CanEntry(0x60, 16), CanEntry(0xC0, 32)})), true,
       Put(Zero(Zero(known, 52, 68), 84, 100), 35, {3})},
      {"third entry without room", WithCanGroup(Group({CanEntry(0x40), CanEntry(0x60)}, 3)), false,
       Put(CanGroupKept(), 35, {3})},
      {"third entry with 2 bytes of room",
       WithCanGroup(Group({CanEntry(0x40), CanEntry(0x60, 30)}, 3)), false,
       Zero(Put(CanGroupKept(), 35, {3}), 98, 100)},
      {"entries beyond the known group size",
       WithCanGroup(Group({CanEntry(0x40), CanEntry(0x60), CanEntry(0xC0)})), false,
       Put(CanGroupKept(), 35, {3})},
      {"entry longer than what is left", WithCanGroup(Group({CanEntry(0x40, 48), CanEntry(0x60)})),
       false, Zero(CanGroupKept(), 84, 100)},
      {"CAN group of 7", WithCanGroup({7, 0, 0, 0, 0xA1, 0xA2, 0xA3}), true,
       canGroupHeader({72, 0, 0, 0, 0xA1, 0xA2, 0xA3})},
      {"CAN group of 4", WithCanGroup(build::SizeOnly(4)), true, canGroupHeader({72})},
      {"CAN group of no entries", WithCanGroup(Group({}, 0)), true,
       canGroupHeader({72, 0, 0, 0, 0x12, 0x34, 0x56, 0})},
      {"CAN group of 0", Put(known, 28, build::Le32(0)), false, ModeKept()},
      {"CAN group of 3", Put(known, 28, build::Le32(3)), false, ModeKept()},
      {"CAN group beyond the channel block", Put(known, 28, build::Le32(657)), false, ModeKept()},
      // The LIN group must lie inside the channel block.
      {"no LIN group", WithChannel(build::Container({}, {can})), false, CanGroupKept()},
      {"2 bytes of a LIN size", WithChannel(build::Container({}, {can, {0x48, 0x02}})), false,
       CanGroupKept()},
      {"LIN group one byte short",
       WithChannel(build::WithStoredSize(build::ChannelBlock(can, lin), 659)), false,
       CanGroupKept()},
      {"LIN size field as the body's last bytes",
       build::Container({}, {build::DeviceBlock(32, {shape.mode, shape.reserved1,
                                                     build::Container({}, {can, {0x48, 0x02}})})}),
       false, CanGroupKept()},
      {"channel block of 4", WithChannel(build::Leaf(4)), true, Splice(known, Defaults(), 28, 684)},
      {"channel block of 7", WithChannel(build::Leaf(7, {0xFF, 0xFF, 0xFF})), true,
       Splice(known, Defaults(), 28, 684)},
      {"LIN entries of 100 and 300",
       WithChannel(build::ChannelBlock(
           can, Group({LinEntry(0x80, 100), LinEntry(0x20, 300)}, -1, 0x7856, 0x9A))),
       true, Zero(known, 208, 396)},
      // Extension, protocol and auxiliary blocks.
      {"layout code 0x21: no protocol list", Shape([](DinfShape& s) { s.layoutCode = 0x21; }), true,
       Put(Zero(known, 700, 716), 10, {0x21})},
      {"protocol list of 8",
       Shape([](DinfShape& s) { s.protocol = build::ProtocolBlock(2, 2, 8); }), true,
       Put(known, 700, {16, 0, 0, 0, 2, 2, 0xA0, 0xA1, 0, 0, 0, 0, 0, 0, 0, 0})},
      {"protocol list of 24",
       Shape([](DinfShape& s) { s.protocol = build::ProtocolBlock(2, 0, 24); }), true,
       Put(known, 700, build::Concat({{16, 0, 0, 0, 2, 0}, build::Pattern(0xA0, 10)}))},
      {"protocol list of 0",
       Shape([](DinfShape& s) { s.protocol = build::Container({}, {build::SizeOnly(0)}); }), false,
       Splice(known, Defaults(), 696, 788)},
      {"protocol list of 3",
       Shape([](DinfShape& s) { s.protocol = build::Container({}, {build::SizeOnly(3)}); }), false,
       Splice(known, Defaults(), 696, 788)},
      {"no protocol list", Shape([](DinfShape& s) { s.protocol = build::SizeOnly(4); }), true,
       Splice(known, Defaults(), 700, 716)},
      {"extension nested block of 0",
       Shape([](DinfShape& s) { s.extension = build::ExtensionBlock(0); }), false,
       Splice(known, Defaults(), 684, 788)},
      {"extension nested block of 5",
       Shape([](DinfShape& s) { s.extension = build::ExtensionBlock(5); }), false,
       Splice(known, Defaults(), 684, 788)},
      {"auxiliary leaf of 3", WithAuxiliary(Put(aux, 32, {3})), false,
       Splice(known, Defaults(), 748, 788)},
      {"auxiliary nested block of 0", WithAuxiliary(Put(aux, 68, {0})), false, known},
      {"auxiliary nested block of 5", WithAuxiliary(Put(aux, 68, {5})), false, known},
  };
  // Board codes other than 9, mode codes other than 0 and 4.
  for (auto [mode, board] : {std::pair{4, 8}, {4, 0}, {4, 10}, {1, 9}, {3, 9}, {5, 9}, {255, 9}}) {
    cases.push_back({"mode code " + std::to_string(mode) + ", board code " + std::to_string(board),
                     WithMode(build::ModeBlock(uint8_t(mode), uint8_t(board))), false,
                     LayoutOnly()});
  }
  return cases;
}

TEST(CaptureSettingsParse, UnusualAndMalformedBlocks) {
  for (const BodyCase& c : UnusualBodies()) {
    Parsed p = Parse(c.body);
    EXPECT_EQ(p.ok, c.ok) << c.what;
    EXPECT_EQ(Image(p.settings), c.image) << c.what;
  }
}

TEST(CaptureSettingsAuxiliary, ShortBlocksKeepWhatTheyHold) {
  // Block layout: size, two values (4, 8), value 12, leaf 16..27, value 28,
  // leaf 32..43, value 44, leaf 48..55, value 56, leaf 60..67, nested 68.
  struct Case {
    uint32_t size;
    int keptUpTo;  // image bytes from 720 up to here come from the block
    bool ok;
  } cases[] = {
      {4, 720, true},   {7, 720, true},   {8, 724, true},  {12, 728, true},  {16, 732, true},
      {19, 732, true},  {20, 732, false}, {28, 744, true}, {32, 748, true},  {35, 748, true},
      {36, 748, false}, {44, 760, true},  {48, 764, true}, {52, 764, false}, {56, 772, true},
      {60, 776, true},  {68, 784, true},  {71, 784, true}, {72, 788, true},
  };
  Bytes device = Range(KnownBody(), 4, 716);
  for (const Case& c : cases) {
    Bytes aux = build::WithStoredSize(build::Truncated(build::AuxiliaryBlock(), c.size), c.size);
    Parsed p = Parse(build::SettingsBlock(device, aux));
    EXPECT_EQ(p.ok, c.ok) << c.size;
    EXPECT_EQ(Image(p.settings), Splice(KnownBody(), Defaults(), c.keptUpTo, 788)) << c.size;
  }
}

TEST(CaptureSettingsAuxiliary, LeavesAreCutToTheirKnownSizesAndSteppedByTheirStoredOnes) {
  using build::Le32;
  using build::Pattern;
  using build::PatternLeaf;
  Bytes aux = build::Container(Pattern(0x10, 8),
                               {Pattern(0x20, 4), PatternLeaf(16, 0x30), Pattern(0x40, 4),
                                PatternLeaf(6, 0x50), Pattern(0x60, 4), PatternLeaf(8, 0x70),
                                Pattern(0x80, 4), PatternLeaf(20, 0x90), build::SizeOnly(4)});
  Parsed p = Parse(build::SettingsBlock(Range(KnownBody(), 4, 716), aux));
  EXPECT_TRUE(p.ok);
  // At 716 the size and two values, then by turns a value and a leaf whose
  // size field carries its known size: the first 8 of 12 bytes, 2 of 2 and
  // zeros, 4 of 4, the first 4 of 16; the nested block last.
  Bytes expected = build::Concat({Le32(72), Pattern(0x10, 8), Pattern(0x20, 4), Le32(12),
                                  Pattern(0x30, 8), Pattern(0x40, 4), Le32(12), Pattern(0x50, 2),
                                  Bytes(6, 0), Pattern(0x60, 4), Le32(8), Pattern(0x70, 4),
                                  Pattern(0x80, 4), Le32(8), Pattern(0x90, 4), Le32(4)});
  EXPECT_EQ(Range(Image(p.settings), 716, 788), expected);
}

// ---------------------------------------------------------------------------
// Bounds: nothing outside [body, body + size) is read, whatever the sizes say.

// Size fields the parser never writes: whatever the body says, they keep
// the known sizes.
void ExpectFixedSizeFields(const CaptureSettings& s) {
  const std::pair<int, uint32_t> fixed[] = {{0, 788}, {4, 712}, {12, 8},   {20, 4},  {24, 660},
                                            {684, 8}, {692, 4}, {696, 20}, {716, 72}};
  for (auto [offset, size] : fixed) EXPECT_EQ(U32(s, offset), size) << offset;
}

// Offsets of every size field in the known-size body.
constexpr int kSizeFields[] = {0,   4,   12,  20,  24,  28,  36,  68,  100, 108, 396,
                               684, 688, 692, 696, 700, 716, 732, 748, 764, 776, 784};

TEST(CaptureSettingsBounds, EveryTruncationOfTheKnownBodyUpToTheWhole) {
  Bytes known = KnownBody();
  ASSERT_EQ(known.size(), 788u);
  Bytes deviceOnly = KeptOverDefaults({{4, 716}});
  for (size_t n = 0; n <= known.size(); ++n) {
    Parsed p = Parse(build::Truncated(known, n));
    // The settings block is read only as far as the body goes: the device
    // block (712 bytes) and the auxiliary block (72) either fit whole or fail,
    // and a tail too short for another size field ends the walk quietly.
    bool ok = n < 8 || (n >= 716 && n < 720) || n == 788;
    const Bytes& image = n < 716 ? Defaults() : n < 788 ? deviceOnly : known;
    EXPECT_EQ(p.ok, ok) << n;
    EXPECT_EQ(Image(p.settings), image) << n;
  }
  // The whole body fills the image byte for byte; the accessors read the
  // layout's positions.
  Parsed p = Parse(known);
  EXPECT_EQ(p.settings.layoutCode(), 32);
  EXPECT_EQ(p.settings.modeCode(), 4);
  EXPECT_EQ(p.settings.boardCode(), 9);
  EXPECT_EQ(p.settings.protocol(0), 0);
  EXPECT_EQ(p.settings.protocol(1), 2);
}

TEST(CaptureSettingsBounds, TruncationsOfUnusualBodiesKeepOnlyDefaultsOrFullParseValues) {
  const Bytes defaults = Defaults();
  for (const BodyCase& c : UnusualBodies()) {
    for (size_t n = 0; n < c.body.size(); ++n) {
      Parsed p = Parse(build::Truncated(c.body, n));
      for (int i = 0; i < kSettingsSize; ++i) {
        if (p.settings.bytes[i] != defaults[i] && p.settings.bytes[i] != c.image[i]) {
          ADD_FAILURE() << c.what << " cut to " << n << ": byte " << i;
          break;
        }
      }
    }
  }
}

TEST(CaptureSettingsBounds, SizeFieldsClaimingMoreThanTheBody) {
  for (int offset : kSizeFields) {
    for (uint32_t claimed : {789u, 0x10000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      Bytes body = KnownBody();
      std::copy_n(build::Le32(claimed).begin(), 4, body.begin() + offset);
      Parsed p = Parse(body);
      // Only the outermost block is limited to the body; any inner block
      // claiming more than its container holds is malformed.
      EXPECT_EQ(p.ok, offset == 0) << offset << " " << claimed;
      ExpectFixedSizeFields(p.settings);
    }
  }
}

}  // namespace
}  // namespace ksvw
