// Settings parser: known-size bodies, blocks shorter and longer than their
// known sizes, malformed blocks (what a failure keeps), and bounds: every
// body is copied into a heap block of exactly its size so that the address
// sanitizer reports any read past it.
#include "capture/capture_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
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

Parsed Parse(const Bytes& body) {
  // Exactly body.size() bytes, no slack: an overread is a heap overflow.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[body.size()]);
  if (!body.empty()) std::memcpy(exact.get(), body.data(), body.size());
  Parsed p{false, CaptureSettings{}};
  p.ok = ParseCaptureSettings(p.settings, exact.get(), body.size());
  return p;
}

uint32_t U32(const CaptureSettings& s, int offset) {
  return LoadLE32(s.bytes + offset);
}

Bytes Image(const CaptureSettings& s) {
  return Bytes(s.bytes, s.bytes + kSettingsSize);
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
Bytes Range(const CaptureSettings& s, int from, int to) {
  return Range(Image(s), from, to);
}

// `image` with bytes [from, to) taken from `source`.
Bytes Splice(Bytes image, const Bytes& source, int from, int to) {
  std::copy(source.begin() + from, source.begin() + to, image.begin() + from);
  return image;
}

// Expected image after a failure: `kept` ranges from the known body over
// the defaults.
Bytes KeptOverDefaults(std::initializer_list<std::pair<int, int>> kept) {
  Bytes image = Defaults();
  Bytes known = KnownBody();
  for (auto [from, to] : kept) image = Splice(image, known, from, to);
  return image;
}

// ---------------------------------------------------------------------------
// Defaults and the known-size body.

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
  EXPECT_EQ(Image(s), expected);
  EXPECT_EQ(U32(s, 100), 0u);  // LIN group and LIN channel sizes stay zero
  EXPECT_EQ(U32(s, 108), 0u);
  EXPECT_EQ(s.protocol(0), 0);
  EXPECT_EQ(s.protocol(1), 0);
  EXPECT_FALSE(s.lin(0).hasLengthTable());

  s.bytes[500] = 7;
  s.Reset();
  EXPECT_EQ(Image(s), expected);
}

TEST(CaptureSettingsParse, KnownSizeBodyFillsTheImageByteForByte) {
  Bytes body = KnownBody();
  ASSERT_EQ(body.size(), 788u);
  Parsed p = Parse(body);
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(Image(p.settings), body);

  // Spot checks at the layout's positions, from the shape's contents.
  const CaptureSettings& s = p.settings;
  EXPECT_EQ(U32(s, 0), 788u);
  EXPECT_EQ(s.layoutCode(), 32);
  EXPECT_EQ(s.modeCode(), 4);
  EXPECT_EQ(s.boardCode(), 9);
  EXPECT_EQ(s.bytes[18], 0xEE);
  EXPECT_EQ(U32(s, 28), 72u);
  EXPECT_EQ(s.bytes[32], 0x12);
  EXPECT_EQ(s.bytes[34], 0x56);
  EXPECT_EQ(s.bytes[35], 2);
  EXPECT_EQ(U32(s, 36), 32u);
  EXPECT_EQ(s.bytes[40], 0x40);  // first content byte of CAN entry 1
  EXPECT_EQ(s.bytes[72], 0x60);  // first content byte of CAN entry 2
  EXPECT_EQ(U32(s, 100), 584u);
  EXPECT_EQ(s.bytes[107], 2);
  EXPECT_EQ(U32(s, 108), 288u);
  EXPECT_EQ(s.bytes[112], 0x80);
  EXPECT_EQ(U32(s, 396), 288u);
  EXPECT_EQ(s.bytes[400], 0x20);
  EXPECT_EQ(U32(s, 688), 4u);
  EXPECT_EQ(s.protocol(0), 0);
  EXPECT_EQ(s.protocol(1), 2);
  EXPECT_EQ(s.bytes[706], 0xA0);
  EXPECT_EQ(s.bytes[720], 0x10);
  EXPECT_EQ(s.bytes[728], 0x18);
  EXPECT_EQ(U32(s, 732), 12u);
  EXPECT_EQ(s.bytes[736], 0x1C);
  EXPECT_EQ(U32(s, 784), 4u);
}

TEST(CaptureSettingsParse, KnownSizeBodyFromSettingsSpecGivesItsImage) {
  build::SettingsPlan plan;
  plan.channel[0].preset = 0;
  plan.channel[0].baseFrequency = 160000000;
  plan.channel[0].pts = 5;
  plan.channel[0].pbs1 = 6;
  plan.channel[0].pbs2 = 4;
  plan.channel[0].sjw = 2;
  plan.channel[1].lin = true;
  plan.channel[1].linTable = true;
  for (int id = 0; id < 64; ++id) plan.channel[1].linTableLengths[id] = id % 9;
  // The defaults leave the auxiliary leaves' size fields zero; a body at the
  // known sizes carries them, and so does the image it gives.
  auto withAuxiliaryLeaves = [](Bytes b) {
    for (auto [offset, size] : {std::pair{732, 12u}, {748, 12u}, {764, 8u}, {776, 8u}}) {
      std::copy_n(build::Le32(size).begin(), 4, b.begin() + offset);
    }
    return b;
  };
  Parsed p = Parse(withAuxiliaryLeaves(build::KnownSizeDinf(plan)));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(Image(p.settings), withAuxiliaryLeaves(Image(build::MakeSettings(plan))));
  EXPECT_EQ(p.settings.can(0).baseFrequency(), 160000000);
  EXPECT_EQ(p.settings.protocol(1), 2);
  EXPECT_TRUE(p.settings.lin(1).hasLengthTable());
  EXPECT_EQ(p.settings.lin(1).tableLength(17), 8);
}

TEST(CaptureSettingsParse, EmptyOrTinyBodyKeepsDefaults) {
  for (size_t n : {0, 1, 3, 4, 7}) {
    Parsed p = Parse(build::Truncated(KnownBody(), n));
    EXPECT_TRUE(p.ok) << n;
    EXPECT_EQ(Image(p.settings), Defaults()) << n;
  }
}

// ---------------------------------------------------------------------------
// The settings and device blocks.

TEST(CaptureSettingsParse, SettingsBlockOfSizeSixReadsNothing) {
  Parsed small = Parse(build::Concat({build::SizeOnly(6), {0xAA, 0xBB}}));
  EXPECT_TRUE(small.ok);
  EXPECT_EQ(Image(small.settings), Defaults());

  // The same, with a whole valid tree after the field that is not counted.
  Parsed shadowed = Parse(build::WithStoredSize(KnownBody(), 6));
  EXPECT_TRUE(shadowed.ok);
  EXPECT_EQ(Image(shadowed.settings), Defaults());
}

TEST(CaptureSettingsParse, SettingsBlockClaimingMoreThanTheBodyIsReadToTheBodysEnd) {
  for (uint32_t claimed : {789u, 100000u, 0xFFFFFFFFu}) {
    Parsed p = Parse(build::WithStoredSize(KnownBody(), claimed));
    EXPECT_TRUE(p.ok) << claimed;
    EXPECT_EQ(Image(p.settings), Splice(KnownBody(), Defaults(), 0, 4)) << claimed;
  }
}

TEST(CaptureSettingsParse, SettingsBlockEndingAfterTheDeviceBlockKeepsAuxiliaryDefaults) {
  // 716 = size field + device block: the container has no room for another.
  Parsed p = Parse(build::WithStoredSize(KnownBody(), 716));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(Image(p.settings), KeptOverDefaults({{4, 716}}));
}

TEST(CaptureSettingsParse, ShortDeviceBlocks) {
  Bytes aux = build::AuxiliaryBlock();
  // 7 bytes: the layout code is not reached.
  Parsed seven = Parse(build::SettingsBlock({7, 0, 0, 0, 0, 0, 32}, aux));
  EXPECT_TRUE(seven.ok);
  EXPECT_EQ(Image(seven.settings), KeptOverDefaults({{716, 788}}));

  // 8 bytes: only the layout code (bytes 4, 5 and 7 are never taken).
  Parsed eight = Parse(build::SettingsBlock({8, 0, 0, 0, 0x11, 0x22, 32, 0x33}, aux));
  EXPECT_TRUE(eight.ok);
  Bytes expected = KeptOverDefaults({{716, 788}});
  expected[10] = 32;
  EXPECT_EQ(Image(eight.settings), expected);
}

TEST(CaptureSettingsParse, DeviceBlockHoldingModeAndReservedOnly) {
  DinfShape shape;
  Bytes device = build::DeviceBlock(32, {shape.mode, shape.reserved1});
  Parsed p = Parse(build::SettingsBlock(device, shape.auxiliary));
  EXPECT_TRUE(p.ok);
  Bytes expected = KeptOverDefaults({{16, 20}, {716, 788}});
  expected[10] = 32;
  EXPECT_EQ(Image(p.settings), expected);
}

TEST(CaptureSettingsParse, SubBlockSizeBelowFourOrBeyondItsContainerFails) {
  // Reserved block claiming 3 bytes: the mode block before it stays.
  DinfShape shape;
  shape.reserved1 = build::SizeOnly(3);
  Parsed small = Parse(build::Assemble(shape));
  EXPECT_FALSE(small.ok);
  Bytes expected = KeptOverDefaults({{16, 20}});
  expected[10] = 32;
  EXPECT_EQ(Image(small.settings), expected);

  // Channel block claiming more than the device block holds: not cleared.
  shape = DinfShape{};
  shape.channel = build::WithStoredSize(shape.channel, 5000);
  Parsed big = Parse(build::Assemble(shape));
  EXPECT_FALSE(big.ok);
  EXPECT_EQ(Image(big.settings), expected);
}

// ---------------------------------------------------------------------------
// The mode block.

TEST(CaptureSettingsParse, BoardCodeOtherThanNineFailsKeepingOnlyLayoutCode) {
  for (uint8_t board : {8, 0, 10}) {
    DinfShape shape;
    shape.mode = build::ModeBlock(4, board);
    Parsed p = Parse(build::Assemble(shape));
    EXPECT_FALSE(p.ok) << int{board};
    Bytes expected = Defaults();
    expected[10] = 32;
    EXPECT_EQ(Image(p.settings), expected) << int{board};
  }
}

TEST(CaptureSettingsParse, ModeCodeMustBeZeroOrFour) {
  for (uint8_t mode : {1, 2, 3, 5, 0xFF}) {
    DinfShape shape;
    shape.mode = build::ModeBlock(mode, 9);
    Parsed p = Parse(build::Assemble(shape));
    EXPECT_FALSE(p.ok) << int{mode};
    EXPECT_EQ(p.settings.modeCode(), 0) << int{mode};
    EXPECT_EQ(p.settings.layoutCode(), 32) << int{mode};
  }
  DinfShape zero;
  zero.mode = build::ModeBlock(0, 9);
  Parsed p = Parse(build::Assemble(zero));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(Image(p.settings), Splice(KnownBody(), Defaults(), 16, 17));
}

TEST(CaptureSettingsParse, ModeBlockWithoutBoardCodeClearsTheChannelBlock) {
  DinfShape shape;
  shape.mode = build::ModeBlock(4, 9, 5);  // modeCode only
  Parsed p = Parse(build::Assemble(shape));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.settings.modeCode(), 4);
  EXPECT_EQ(p.settings.boardCode(), 0);
  EXPECT_EQ(Range(p.settings, 28, 684), Bytes(656, 0)) << "groups and entries, sizes included";
  // Everything else is read as usual.
  Bytes expected = Splice(KnownBody(), Bytes(kSettingsSize, 0), 17, 20);
  expected = Splice(expected, Bytes(kSettingsSize, 0), 28, 684);
  EXPECT_EQ(Image(p.settings), expected);
}

TEST(CaptureSettingsParse, ModeBlockOfFourBytesTakesNoCodes) {
  DinfShape shape;
  shape.mode = build::ModeBlock(4, 9, 4);
  Parsed p = Parse(build::Assemble(shape));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(Range(p.settings, 16, 20), Bytes(4, 0));
  EXPECT_EQ(Range(p.settings, 28, 684), Bytes(656, 0));
  EXPECT_EQ(U32(p.settings, 688), 4u) << "mode 0 keeps the nested block";
  EXPECT_EQ(Range(p.settings, 696, 788), Range(KnownBody(), 696, 788));
}

TEST(CaptureSettingsParse, LongModeBlockIsCutToItsKnownSize) {
  DinfShape shape;
  shape.mode = build::Leaf(12, {4, 9, 0xEE, 0xEF, 0x77, 0x77, 0x77, 0x77});
  Parsed p = Parse(build::Assemble(shape));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(Image(p.settings), KnownBody());
}

// ---------------------------------------------------------------------------
// The channel block and its groups.

// The known shape with the CAN group replaced.
Parsed WithCanGroup(const Bytes& canGroup) {
  DinfShape shape;
  shape.channel = build::ChannelBlock(
      canGroup, build::Group({build::LinEntry(0x80), build::LinEntry(0x20)}, -1, 0x7856, 0x9A));
  return Parse(build::Assemble(shape));
}

TEST(CaptureSettingsGroups, CanEntryOf48BytesIsCutAndTheNextFollows48On) {
  Parsed p = WithCanGroup(build::Group({build::CanEntry(0x40, 48), build::CanEntry(0x60, 16)}));
  EXPECT_TRUE(p.ok);
  // Entry 1: its first 32 bytes; entry 2: bytes 4 to 15, the rest zero.
  Bytes expected = KnownBody();
  std::fill(expected.begin() + 68 + 16, expected.begin() + 100, 0);
  EXPECT_EQ(Image(p.settings), expected);
  EXPECT_EQ(p.settings.bytes[72], 0x60) << "entry 2 found 48 bytes after entry 1";
}

TEST(CaptureSettingsGroups, CanEntryOf16BytesLeavesTheRestOfItsSlotZero) {
  Parsed p = WithCanGroup(build::Group({build::CanEntry(0x40, 16), build::CanEntry(0x60)}));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(U32(p.settings, 36), 32u);
  EXPECT_EQ(Range(p.settings, 40, 52), build::Pattern(0x40, 12));
  EXPECT_EQ(Range(p.settings, 52, 68), Bytes(16, 0));
  EXPECT_EQ(Range(p.settings, 68, 100), Range(KnownBody(), 68, 100));
  EXPECT_EQ(Range(p.settings, 100, 788), Range(KnownBody(), 100, 788));
}

TEST(CaptureSettingsGroups, ThirdEntryThatFitsIsSkipped) {
  Bytes group = build::Group(
      {build::CanEntry(0x40, 16), build::CanEntry(0x60, 16), build::CanEntry(0xC0, 32)});
  ASSERT_EQ(group.size(), 72u);
  Parsed p = WithCanGroup(group);
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.settings.bytes[35], 3);
  EXPECT_EQ(Range(p.settings, 40, 52), build::Pattern(0x40, 12));
  EXPECT_EQ(Range(p.settings, 52, 68), Bytes(16, 0));
  EXPECT_EQ(Range(p.settings, 72, 84), build::Pattern(0x60, 12));
  EXPECT_EQ(Range(p.settings, 84, 100), Bytes(16, 0));
  EXPECT_EQ(Range(p.settings, 100, 788), Range(KnownBody(), 100, 788));
}

TEST(CaptureSettingsGroups, ThirdEntryWithoutRoomFailsAfterTheFirstTwo) {
  // Two full entries fill the 72 known bytes; announcing 3 leaves nothing.
  Parsed p = WithCanGroup(build::Group({build::CanEntry(0x40), build::CanEntry(0x60)}, 3));
  EXPECT_FALSE(p.ok);
  Bytes expected = KeptOverDefaults({{16, 20}, {28, 100}});
  expected[10] = 32;
  expected[35] = 3;
  expected[100] = 0x48, expected[101] = 0x02;  // LIN group size set to 584, content cleared
  EXPECT_EQ(Image(p.settings), expected);

  // Fewer than 4 bytes left (2): a failure as well.
  Parsed two = WithCanGroup(build::Group({build::CanEntry(0x40), build::CanEntry(0x60, 30)}, 3));
  EXPECT_FALSE(two.ok);
  EXPECT_EQ(Range(two.settings, 72, 98), build::Pattern(0x60, 26));
  EXPECT_EQ(Range(two.settings, 98, 100), Bytes(2, 0));
}

TEST(CaptureSettingsGroups, EntriesBeyondTheKnownGroupSizeAreNotRead) {
  // A stored group of 104 bytes with three full entries: only its first 72
  // bytes count, so the third entry has no room.
  Bytes group = build::Group({build::CanEntry(0x40), build::CanEntry(0x60), build::CanEntry(0xC0)});
  ASSERT_EQ(group.size(), 104u);
  Parsed p = WithCanGroup(group);
  EXPECT_FALSE(p.ok);
  Bytes expectedGroup = Range(KnownBody(), 28, 100);
  expectedGroup[7] = 3;
  EXPECT_EQ(Range(p.settings, 28, 100), expectedGroup);
  EXPECT_EQ(U32(p.settings, 100), 584u);
  EXPECT_EQ(Range(p.settings, 104, 684), Bytes(580, 0));
}

TEST(CaptureSettingsGroups, EntryLongerThanWhatIsLeftFailsAfterCopyingWhatFits) {
  // 48-byte entry followed by a full one: only 16 bytes of the group remain.
  Parsed p = WithCanGroup(build::Group({build::CanEntry(0x40, 48), build::CanEntry(0x60)}));
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(Range(p.settings, 40, 68), build::Pattern(0x40, 28));
  EXPECT_EQ(U32(p.settings, 68), 32u);
  EXPECT_EQ(Range(p.settings, 72, 84), build::Pattern(0x60, 12));
  EXPECT_EQ(Range(p.settings, 84, 100), Bytes(16, 0));
  EXPECT_EQ(Range(p.settings, 104, 684), Bytes(580, 0));
  EXPECT_EQ(Range(p.settings, 684, 788), Range(Defaults(), 684, 788));
}

TEST(CaptureSettingsGroups, GroupShorterThanItsHeader) {
  // 7 bytes: the three bytes after the size field are copied raw.
  Parsed p = WithCanGroup({7, 0, 0, 0, 0xA1, 0xA2, 0xA3});
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(Range(p.settings, 28, 36), Bytes({72, 0, 0, 0, 0xA1, 0xA2, 0xA3, 0}));
  EXPECT_EQ(Range(p.settings, 36, 100), Bytes(64, 0)) << "entry slots cleared";
  EXPECT_EQ(Range(p.settings, 100, 788), Range(KnownBody(), 100, 788));

  // 4 bytes: nothing after the size field.
  Parsed empty = WithCanGroup(build::SizeOnly(4));
  EXPECT_TRUE(empty.ok);
  Bytes sizeOnly(72, 0);
  sizeOnly[0] = 72;
  EXPECT_EQ(Range(empty.settings, 28, 100), sizeOnly);
  EXPECT_EQ(Range(empty.settings, 100, 788), Range(KnownBody(), 100, 788));

  // 8 bytes announcing no entries.
  Parsed none = WithCanGroup(build::Group({}, 0));
  EXPECT_TRUE(none.ok);
  EXPECT_EQ(Range(none.settings, 28, 36), Bytes({72, 0, 0, 0, 0x12, 0x34, 0x56, 0}));
  EXPECT_EQ(Range(none.settings, 100, 788), Range(KnownBody(), 100, 788));
}

TEST(CaptureSettingsGroups, CanGroupSizeOutsideTheChannelBlockFailsBeforeClearing) {
  for (uint32_t size : {0u, 3u, 657u, 0xFFFFFFFFu}) {
    DinfShape shape;
    Bytes channel = shape.channel;
    channel[4] = static_cast<uint8_t>(size), channel[5] = static_cast<uint8_t>(size >> 8);
    channel[6] = static_cast<uint8_t>(size >> 16), channel[7] = static_cast<uint8_t>(size >> 24);
    shape.channel = channel;
    Parsed p = Parse(build::Assemble(shape));
    EXPECT_FALSE(p.ok) << size;
    Bytes expected = KeptOverDefaults({{16, 20}});
    expected[10] = 32;
    EXPECT_EQ(Image(p.settings), expected) << size;
  }
}

TEST(CaptureSettingsGroups, LinGroupMustLieInsideTheChannelBlock) {
  Bytes can = build::Group({build::CanEntry(0x40), build::CanEntry(0x60)});
  Bytes lin = build::Group({build::LinEntry(0x80), build::LinEntry(0x20)}, -1, 0x7856, 0x9A);
  for (const Bytes& channel : {
           build::Container({}, {can}),                                // no LIN group at all
           build::Container({}, {can, {0x48, 0x02}}),                  // 2 bytes of a size field
           build::WithStoredSize(build::ChannelBlock(can, lin), 659),  // one byte short
       }) {
    DinfShape shape;
    shape.channel = channel;
    // Followed by the rest of the body, and as the last bytes of the body
    // (where a LIN size field read regardless would lie past its end).
    Bytes followed = build::Assemble(shape);
    Bytes last = build::Container(
        {}, {build::DeviceBlock(shape.layoutCode, {shape.mode, shape.reserved1, channel})});
    for (const Bytes& body : {followed, last}) {
      Parsed p = Parse(body);
      EXPECT_FALSE(p.ok);
      EXPECT_EQ(Range(p.settings, 28, 100), Range(KnownBody(), 28, 100));
      EXPECT_EQ(U32(p.settings, 100), 584u);
      EXPECT_EQ(Range(p.settings, 104, 684), Bytes(580, 0));
      EXPECT_EQ(Range(p.settings, 684, 788), Range(Defaults(), 684, 788));
    }
  }
}

TEST(CaptureSettingsGroups, ShortChannelBlockIsNotRead) {
  for (uint32_t size : {4u, 7u}) {
    DinfShape shape;
    shape.channel = build::Leaf(size, {0xFF, 0xFF, 0xFF});
    Parsed p = Parse(build::Assemble(shape));
    EXPECT_TRUE(p.ok) << size;
    Bytes expected = Splice(KnownBody(), Defaults(), 28, 684);
    EXPECT_EQ(Image(p.settings), expected) << size;
  }
}

TEST(CaptureSettingsGroups, LinEntriesShorterAndLongerThanTheKnownSize) {
  DinfShape shape;
  Bytes lin =
      build::Group({build::LinEntry(0x80, 100), build::LinEntry(0x20, 300)}, -1, 0x7856, 0x9A);
  ASSERT_EQ(lin.size(), 408u);
  shape.channel =
      build::ChannelBlock(build::Group({build::CanEntry(0x40), build::CanEntry(0x60)}), lin);
  Parsed p = Parse(build::Assemble(shape));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(U32(p.settings, 100), 584u);
  EXPECT_EQ(Range(p.settings, 104, 108), Bytes({0x56, 0x78, 0x9A, 2}));
  EXPECT_EQ(U32(p.settings, 108), 288u);
  EXPECT_EQ(Range(p.settings, 112, 208), build::Pattern(0x80, 96));
  EXPECT_EQ(Range(p.settings, 208, 396), Bytes(188, 0));
  EXPECT_EQ(U32(p.settings, 396), 288u);
  EXPECT_EQ(Range(p.settings, 400, 684), build::Pattern(0x20, 284));
  EXPECT_EQ(Range(p.settings, 684, 788), Range(KnownBody(), 684, 788));
  EXPECT_EQ(Range(p.settings, 0, 100), Range(KnownBody(), 0, 100));
}

// ---------------------------------------------------------------------------
// Extension, protocol and auxiliary blocks.

TEST(CaptureSettingsParse, LayoutCodeOtherThan32LeavesTheProtocolListClear) {
  DinfShape shape;
  shape.layoutCode = 0x21;
  Parsed p = Parse(build::Assemble(shape));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.settings.layoutCode(), 0x21);
  EXPECT_EQ(Range(p.settings, 700, 716), Bytes(16, 0)) << "size field included";
  EXPECT_EQ(p.settings.protocol(1), 0) << "both channels read as CAN";
  Bytes expected = Splice(KnownBody(), Bytes(kSettingsSize, 0), 700, 716);
  expected[10] = 0x21;
  EXPECT_EQ(Image(p.settings), expected);
}

TEST(CaptureSettingsParse, ProtocolListAtOtherSizes) {
  DinfShape shape;
  shape.protocol = build::ProtocolBlock(2, 2, 8);
  Parsed shortList = Parse(build::Assemble(shape));
  EXPECT_TRUE(shortList.ok);
  EXPECT_EQ(Range(shortList.settings, 700, 716),
            Bytes({16, 0, 0, 0, 2, 2, 0xA0, 0xA1, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Range(shortList.settings, 716, 788), Range(KnownBody(), 716, 788));

  shape.protocol = build::ProtocolBlock(2, 0, 24);
  Parsed longList = Parse(build::Assemble(shape));
  EXPECT_TRUE(longList.ok);
  EXPECT_EQ(Range(longList.settings, 700, 716),
            build::Concat({{16, 0, 0, 0, 2, 0}, build::Pattern(0xA0, 10)}));
  EXPECT_EQ(Range(longList.settings, 716, 788), Range(KnownBody(), 716, 788));

  for (uint32_t bad : {0u, 3u}) {
    shape.protocol = build::Container({}, {build::Leaf(16, {2, 2})});
    shape.protocol[4] = static_cast<uint8_t>(bad);
    Parsed p = Parse(build::Assemble(shape));
    EXPECT_FALSE(p.ok) << bad;
    EXPECT_EQ(Range(p.settings, 696, 788), Range(Defaults(), 696, 788)) << bad;
  }

  shape.protocol = build::SizeOnly(4);  // no list: nothing cleared
  Parsed none = Parse(build::Assemble(shape));
  EXPECT_TRUE(none.ok);
  EXPECT_EQ(Range(none.settings, 700, 716), Range(Defaults(), 700, 716));
}

TEST(CaptureSettingsParse, ExtensionNestedBlockMustFit) {
  for (uint32_t nested : {0u, 3u, 5u}) {
    DinfShape shape;
    shape.extension = build::ExtensionBlock(nested);
    Parsed p = Parse(build::Assemble(shape));
    EXPECT_FALSE(p.ok) << nested;
    EXPECT_EQ(Range(p.settings, 0, 684), Splice(Range(KnownBody(), 0, 684), Defaults(), 0, 4))
        << nested;
    EXPECT_EQ(Range(p.settings, 684, 788), Range(Defaults(), 684, 788)) << nested;
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
  Bytes aux = build::Container(
      build::Pattern(0x10, 8),
      {build::Pattern(0x20, 4), build::PatternLeaf(16, 0x30), build::Pattern(0x40, 4),
       build::PatternLeaf(6, 0x50), build::Pattern(0x60, 4), build::PatternLeaf(8, 0x70),
       build::Pattern(0x80, 4), build::PatternLeaf(20, 0x90), build::SizeOnly(4)});
  Parsed p = Parse(build::SettingsBlock(Range(KnownBody(), 4, 716), aux));
  EXPECT_TRUE(p.ok);
  Bytes expected = build::Concat({
      build::Le32(72),
      build::Pattern(0x10, 8),  // 716: size, two values
      build::Pattern(0x20, 4),
      build::Le32(12),
      build::Pattern(0x30, 8),  // first 8 of 12
      build::Pattern(0x40, 4),
      build::Le32(12),
      build::Pattern(0x50, 2),
      Bytes(6, 0),
      build::Pattern(0x60, 4),
      build::Le32(8),
      build::Pattern(0x70, 4),
      build::Pattern(0x80, 4),
      build::Le32(8),
      build::Pattern(0x90, 4),  // first 4 of 16
      build::Le32(4),
  });
  EXPECT_EQ(Range(p.settings, 716, 788), expected);
}

TEST(CaptureSettingsAuxiliary, MalformedLeafOrNestedBlockFailsKeepingWhatCameBefore) {
  Bytes device = Range(KnownBody(), 4, 716);
  // Second 12-byte leaf claiming 3 bytes.
  Bytes badLeaf = build::AuxiliaryBlock();
  badLeaf[32] = 3;
  Parsed leaf = Parse(build::SettingsBlock(device, badLeaf));
  EXPECT_FALSE(leaf.ok);
  EXPECT_EQ(Image(leaf.settings), Splice(KnownBody(), Defaults(), 748, 788));

  // Nested block claiming 0 bytes, or more than is left.
  for (uint8_t nested : {0, 3, 5}) {
    Bytes badNested = build::AuxiliaryBlock();
    badNested[68] = nested;
    Parsed p = Parse(build::SettingsBlock(device, badNested));
    EXPECT_FALSE(p.ok) << int{nested};
    EXPECT_EQ(Image(p.settings), KnownBody()) << int{nested};
  }
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

TEST(CaptureSettingsBounds, EveryTruncationOfTheKnownBody) {
  Bytes known = KnownBody();
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
}

TEST(CaptureSettingsBounds, TruncationsOfUnusualShapesKeepOnlyDefaultsOrFullParseValues) {
  std::vector<Bytes> bodies;
  {
    DinfShape shape;
    shape.channel = build::ChannelBlock(
        build::Group({build::CanEntry(0x40, 48), build::CanEntry(0x60, 16)}),
        build::Group({build::LinEntry(0x80, 100), build::LinEntry(0x20, 300), build::LinEntry(1)}));
    shape.mode = build::Leaf(12, {4, 9, 1, 2, 3});
    shape.protocol = build::ProtocolBlock(2, 2, 24);
    bodies.push_back(build::Assemble(shape));
  }
  {
    DinfShape shape;
    shape.mode = build::ModeBlock(0, 9, 5);
    shape.layoutCode = 7;
    bodies.push_back(build::Assemble(shape));
  }
  {
    DinfShape shape;
    shape.channel = build::ChannelBlock(
        build::Group({build::CanEntry(0x40, 16), build::CanEntry(0x60, 16), build::CanEntry(1)}),
        build::Group({build::LinEntry(0x80)}, 5));
    bodies.push_back(build::Assemble(shape));
  }
  bodies.push_back(build::WithStoredSize(KnownBody(), 0xFFFFFFFF));

  Bytes defaults = Defaults();
  for (size_t b = 0; b < bodies.size(); ++b) {
    Bytes full = Image(Parse(bodies[b]).settings);
    for (size_t n = 0; n < bodies[b].size(); ++n) {
      Parsed p = Parse(build::Truncated(bodies[b], n));
      for (int i = 0; i < kSettingsSize; ++i) {
        if (p.settings.bytes[i] != defaults[i] && p.settings.bytes[i] != full[i]) {
          ADD_FAILURE() << "body " << b << " cut to " << n << ": byte " << i;
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

TEST(CaptureSettingsBounds, RandomDamageToTheKnownBody) {
  // Damage aimed at the size fields half of the time, anywhere otherwise,
  // and a random cut now and then; the parse must stay inside the body.
  std::mt19937 rng(20240611);
  const Bytes known = KnownBody();
  for (int round = 0; round < 3000; ++round) {
    Bytes body = known;
    int hits = 1 + static_cast<int>(rng() % 4);
    for (int h = 0; h < hits; ++h) {
      size_t at =
          rng() % 2 ? kSizeFields[rng() % std::size(kSizeFields)] + rng() % 4 : rng() % body.size();
      body[at] = static_cast<uint8_t>(rng());
    }
    if (rng() % 4 == 0) body.resize(rng() % body.size());
    Parsed p = Parse(body);
    ExpectFixedSizeFields(p.settings);
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "round " << round;
      break;
    }
  }
}

TEST(CaptureSettingsBounds, BodyAtAnOddAddress) {
  Bytes known = KnownBody();
  std::unique_ptr<uint8_t[]> block(new uint8_t[known.size() + 1]);
  std::memcpy(block.get() + 1, known.data(), known.size());
  CaptureSettings s;
  EXPECT_TRUE(ParseCaptureSettings(s, block.get() + 1, known.size()));
  EXPECT_EQ(Image(s), known);
}

}  // namespace
}  // namespace ksvw
