// Framing and messages of the analyzer link: CRC, byte stuffing, the
// incremental frame decoder and the message bodies.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/crc32.h"
#include "protocol/cobs.h"
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "protocol/screen_pack.h"
#include "protocol/wire.h"

namespace ksvw::proto {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Seq(int from, int to) {  // from..to inclusive
  Bytes b;
  for (int v = from; v <= to; ++v) b.push_back(static_cast<uint8_t>(v));
  return b;
}
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ProtocolCrc, KnownValues) {
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc32(check, 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(nullptr, 0), 0u);
  const uint8_t a[] = {'a'};
  EXPECT_EQ(Crc32(a, 1), 0xE8B7BE43u);
  // Continuing a CRC over a split buffer gives the CRC of the whole.
  EXPECT_EQ(Crc32(check + 4, 5, Crc32(check, 4)), 0xCBF43926u);
}

struct CobsCase {
  Bytes plain;
  Bytes encoded;
};

TEST(ProtocolCobs, KnownEncodings) {
  const std::vector<CobsCase> cases = {
      {{0x00}, {0x01, 0x01}},
      {{0x00, 0x00}, {0x01, 0x01, 0x01}},
      {{0x11, 0x22, 0x00, 0x33}, {0x03, 0x11, 0x22, 0x02, 0x33}},
      {{0x11, 0x22, 0x33, 0x44}, {0x05, 0x11, 0x22, 0x33, 0x44}},
      {{0x11, 0x00, 0x00, 0x00}, {0x02, 0x11, 0x01, 0x01, 0x01}},
      {{}, {0x01}},
      {Seq(1, 254), Cat({0xFF}, Seq(1, 254))},
      {Cat({0x00}, Seq(1, 254)), Cat({0x01, 0xFF}, Seq(1, 254))},
      {Seq(1, 255), Cat(Cat({0xFF}, Seq(1, 254)), {0x02, 0xFF})},
      {Cat(Seq(2, 255), {0x00}), Cat(Cat({0xFF}, Seq(2, 255)), {0x01, 0x01})},
      {Cat(Seq(3, 255), {0x00, 0x01}), Cat(Cat({0xFE}, Seq(3, 255)), {0x02, 0x01})},
  };
  for (const auto& c : cases) {
    Bytes enc, dec;
    CobsEncode(c.plain.data(), c.plain.size(), enc);
    EXPECT_EQ(enc, c.encoded) << "plain size " << c.plain.size();
    EXPECT_LE(enc.size(), CobsMaxEncodedSize(c.plain.size()));
    ASSERT_TRUE(CobsDecode(c.encoded.data(), c.encoded.size(), dec));
    EXPECT_EQ(dec, c.plain);
  }
  // A code past the end, a zero inside a block, a zero code.
  for (const Bytes& bad : {Bytes{0x05, 0x11, 0x22}, Bytes{0x03, 0x11, 0x00}, Bytes{0x00}}) {
    Bytes out;
    EXPECT_FALSE(CobsDecode(bad.data(), bad.size(), out)) << int(bad[0]);
  }
}

Bytes Encoded(uint8_t type, const Bytes& payload, uint16_t seq = 0, uint16_t ack = 0,
              uint8_t flags = 0) {
  Bytes out;
  EncodeFrame(type, flags, seq, ack, payload.data(), payload.size(), out);
  return out;
}

struct Collected {
  std::vector<Frame> frames;
  std::vector<Bytes> payloads;
};

void FeedAll(FrameDecoder& d, const Bytes& bytes, Collected& c, size_t step = 0) {
  auto sink = [&](const Frame& f) {
    c.frames.push_back(f);
    c.payloads.emplace_back(f.payload, f.payload + f.size);
  };
  if (step == 0) {
    d.Feed(bytes.data(), bytes.size(), sink);
    return;
  }
  for (size_t i = 0; i < bytes.size(); i += step)
    d.Feed(bytes.data() + i, std::min(step, bytes.size() - i), sink);
}

// A raw frame's bytes with their CRC after them.
Bytes WithCrc(Bytes raw) {
  uint32_t crc = Crc32(raw.data(), raw.size());
  for (int i = 0; i < 4; ++i) raw.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  return raw;
}

// The raw frame: magic, type, flags, seq, ack, length, payload, CRC. Parsed
// back, it is taken only whole, with its magic and its length right.
TEST(ProtocolFrame, HeaderLayoutOnTheWireAndParsing) {
  Bytes out = Encoded(0x04, {0x44, 0x33, 0x22, 0x11}, 0x0A0B, 0x0102, kFlagSequenced);
  ASSERT_EQ(out.back(), 0);
  Bytes raw;
  ASSERT_TRUE(CobsDecode(out.data(), out.size() - 1, raw));
  const Bytes header = {0xB1, 0x04, 0x01, 0x00, 0x0B, 0x0A, 0x02,
                        0x01, 0x04, 0x00, 0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(raw, WithCrc(header));
  Frame f;
  ASSERT_TRUE(ParseFrame(raw.data(), raw.size(), f));
  EXPECT_EQ(f.size, 4);
  EXPECT_EQ(f.payload[3], 0x11);
  EXPECT_FALSE(ParseFrame(raw.data(), raw.size() - 1, f));
  EXPECT_FALSE(ParseFrame(raw.data(), 13, f));
  for (size_t at : {0u, 8u}) {  // another magic; a length that is not the payload's
    Bytes wrong = header;
    wrong[at] ^= 0x03;
    wrong = WithCrc(wrong);
    EXPECT_FALSE(ParseFrame(wrong.data(), wrong.size(), f)) << at;
  }
}

// The decoder takes exactly the good frames of a stream, however it is
// sliced: payloads of every length class up to the largest, without zeros,
// all zeros or mixed (every shape of the byte stuffing), with bad frames
// between them: a frame one byte over the largest payload, garbage, and a
// frame cut off by a lost connection.
TEST(ProtocolFrame, DecoderTakesTheGoodFramesWhateverTheSlicing) {
  Bytes oversize = {0xB1, 0x22, 0, 0, 0, 0, 0, 0, (kMaxPayload + 1) & 0xFF, (kMaxPayload + 1) >> 8};
  oversize.resize(kFrameHeaderSize + kMaxPayload + 1, 0x5A);
  Bytes bad;
  CobsEncode(WithCrc(oversize).data(), oversize.size() + 4, bad);
  // "37", "12 99 FF 05", "B1 03" and the cut frame are corrupt; the empty
  // frame between two delimiters is not counted.
  bad = Cat(bad, {0x00, 0x37, 0x00, 0x12, 0x99, 0xFF, 0x05, 0x00, 0x00, 0xB1, 0x03, 0x00});
  Bytes cut = Encoded(1, Seq(0, 99));
  cut.resize(40);
  bad = Cat(Cat(bad, cut), {0x00});
  Bytes stream;
  std::vector<Bytes> sent;
  for (int i = 0; i < 40; ++i) {
    Bytes p(i == 38 ? kMaxPayload : static_cast<size_t>(i * 97 % 4097));
    for (size_t k = 0; k < p.size(); ++k)
      p[k] = i % 3 == 0 ? 0 : static_cast<uint8_t>(i % 3 == 1 ? k * 7 + i : 1 + (k * 7 + i) % 255);
    sent.push_back(p);
    stream = Cat(stream, Encoded(static_cast<uint8_t>(i), p, static_cast<uint16_t>(i), 7));
    if (i % 10 == 0) stream = Cat(stream, bad);
  }
  for (size_t step : {0u, 1u, 2u, 3u, 255u, 4096u, 5000u}) {
    FrameDecoder d;
    Collected c;
    FeedAll(d, stream, c, step);
    ASSERT_EQ(c.frames.size(), sent.size()) << "step " << step;
    for (size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(c.frames[i].type, i);
      EXPECT_EQ(c.frames[i].seq, i);
      EXPECT_EQ(c.frames[i].ack, 7);
      EXPECT_EQ(c.payloads[i], sent[i]);
    }
    EXPECT_EQ(d.Counters().corrupt, 4u * 4);
    EXPECT_EQ(d.Counters().oversize, 4u);
  }
  // A decoder set up for small payloads refuses larger ones.
  FrameDecoder small(100);
  Collected c;
  FeedAll(small, Cat(Encoded(1, Bytes(101, 1)), Encoded(2, Bytes(100, 2))), c);
  ASSERT_EQ(c.frames.size(), 1u);
  EXPECT_EQ(c.frames[0].type, 2);
  EXPECT_EQ(small.Counters().oversize, 1u);
}

// A flipped bit inside a frame loses that frame only; one in its delimiter
// joins it to the next, and loses both.
TEST(ProtocolFrame, EverySingleBitFlipIsCaught) {
  Bytes good = Encoded(0x22, Seq(0, 299), 5, 9, kFlagSequenced);  // zeros and all kinds of bytes
  Bytes tail = Cat(Encoded(0x04, {1, 2, 3, 4}), Encoded(0x05, {5}));
  for (size_t i = 0; i < good.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes bad = good;
      bad[i] ^= static_cast<uint8_t>(1u << bit);
      FrameDecoder d;
      Collected c;
      FeedAll(d, Cat(bad, tail), c);
      const bool delimiter = i + 1 == good.size();
      ASSERT_EQ(c.frames.size(), delimiter ? 1u : 2u) << "byte " << i << " bit " << bit;
      EXPECT_EQ(c.frames[0].type, delimiter ? 0x05 : 0x04);
      EXPECT_GE(d.Counters().corrupt + d.Counters().oversize, 1u);
    }
  }
}

// A message through body encoding and a frame, then parsed back. Byte runs
// in the parsed message point into the decoder, which outlives the test.
FrameDecoder roundTripDecoder;
bool RoundTrip(const Message& m, Message& out, int cut = 0, int extra = 0, bool flip = false) {
  Bytes body;
  uint8_t type = EncodeBody(m, body);
  if (cut) body.resize(body.size() - static_cast<size_t>(cut));
  for (int i = 0; i < extra; ++i) body.push_back(0x77);
  Bytes enc = Encoded(type, body, 0, 0, IsSequencedType(type) != flip ? kFlagSequenced : 0);
  bool ok = false;
  roundTripDecoder.Feed(enc.data(), enc.size(), [&](const Frame& f) { ok = ParseMessage(f, out); });
  return ok;
}

// Every message with every field distinct (and -1 where signed) comes back
// as it went; one byte short or long, or sequenced when its type is not
// (requests and their answers are, link upkeep is not), it is refused whole.
TEST(ProtocolMessages, BodiesRoundTripAndWrongLengthsAreRejected) {
  Message out;
  Bytes screen(kScreenBytes, 0x81);
  uint8_t data[3] = {1, 2, 3};
  const std::vector<Message> all = {Hello{1, 1, 0xDEADBEEF, 1024, 3, 1500, 9000},
                                    Welcome{1, 5, 0x10014, 3, 0x434E4F4D, 0x100, 512, 7},
                                    Refuse{1, 9, static_cast<int32_t>(0xA0000009u)},
                                    Ping{1},
                                    Pong{2},
                                    Goodbye{-1},
                                    KeyPress{7, 0xFFFFFFFFu},
                                    KeyDone{1, -1},
                                    Monitor{-1},
                                    Screen{screen.data()},
                                    Status{0x100},
                                    SectionRead{3, 0x8101, 0xC00000},
                                    SectionBegin{1, 2, 3},
                                    SectionData{4, 4096, data, 3},
                                    Progress{1, 2, 3},
                                    SectionEnd{3, static_cast<int32_t>(0x800704C7u), 77},
                                    Cancel{1}};
  for (const auto& m : all) {
    Bytes sent, back;
    EncodeBody(m, sent);
    ASSERT_TRUE(RoundTrip(m, out)) << m.index();
    EXPECT_EQ(out.index(), m.index());
    EncodeBody(out, back);
    EXPECT_EQ(back, sent) << m.index();  // every field read from where it was written
    // Data takes any length from one byte: short means into its header there.
    bool data = std::holds_alternative<SectionData>(m);
    EXPECT_FALSE(RoundTrip(m, out, data ? 4 : 1)) << m.index();
    EXPECT_TRUE(data || !RoundTrip(m, out, 0, 1)) << m.index();
    EXPECT_FALSE(RoundTrip(m, out, 0, 0, true)) << m.index();
  }
  // An Ack carries nothing; a data message needs at least one data byte.
  EXPECT_TRUE(RoundTrip(AckOnly{}, out));
  EXPECT_FALSE(RoundTrip(AckOnly{}, out, 0, 1));
  EXPECT_FALSE(RoundTrip(SectionData{1, 0, data, 0}, out));
  EXPECT_FALSE(RoundTrip(ScreenPacked{data, 0}, out));
  ASSERT_TRUE(RoundTrip(ScreenPacked{data, 3}, out));
  EXPECT_EQ(std::get<ScreenPacked>(out).size, 3u);
  EXPECT_FALSE(RoundTrip(SectionData{1, 0, data, 3}, out, 4));
  EXPECT_FALSE(ParseMessage(Frame{.type = 0x7F, .payload = data, .size = 3}, out));  // unknown
}

TEST(ProtocolScreenPack, KnownPackingRoundTripsAndBrokenPackingIsRejected) {
  // Runs of three or more repeat; shorter stretches go as literals.
  Bytes image = {0, 0, 0, 0, 0, 7, 8, 9, 9, 0xFF, 0xFF, 0xFF};
  Bytes packed;
  PackScreen(image.data(), image.size(), packed);
  EXPECT_EQ(packed, (Bytes{0x83, 0x00, 0x03, 7, 8, 9, 9, 0x81, 0xFF}));
  Bytes back(image.size());
  ASSERT_TRUE(UnpackScreen(packed.data(), packed.size(), back.data(), back.size()));
  EXPECT_EQ(back, image);

  // A blank screen: 1920 zeros in runs of 129.
  Bytes blank(kScreenBytes, 0);
  PackScreen(blank.data(), blank.size(), packed);
  EXPECT_EQ(packed.size(), 30u);  // 14 runs of 129 and one of 114
  Bytes noisy(kScreenBytes);
  uint32_t x = 99;
  for (auto& b : noisy) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  for (const Bytes* img : {&blank, &noisy}) {
    PackScreen(img->data(), img->size(), packed);
    Bytes out(kScreenBytes);
    ASSERT_TRUE(UnpackScreen(packed.data(), packed.size(), out.data(), out.size()));
    EXPECT_EQ(out, *img);
  }
  EXPECT_LE(packed.size(), kScreenBytes + kScreenBytes / 128 + 1);

  // Into four bytes: a literal of four with two given, a run without its
  // byte, six bytes, two bytes.
  for (const Bytes& b : {Bytes{0x03, 1, 2}, Bytes{0x82}, Bytes{0x84, 0}, Bytes{0x80, 0}})
    EXPECT_FALSE(UnpackScreen(b.data(), b.size(), back.data(), 4));
  const uint8_t exact[] = {0x82, 5};
  EXPECT_TRUE(UnpackScreen(exact, 2, back.data(), 4));
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 4), (Bytes{5, 5, 5, 5}));
}

TEST(ProtocolWire, ReaderNeverReadsPastTheEnd) {
  uint8_t b[6] = {1, 2, 3, 4, 5, 6};
  BodyReader r(b, 6);
  EXPECT_EQ(r.U32(), 0x04030201u);
  EXPECT_EQ(r.U32(), 0u);  // only two bytes left
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(r.U16(), 0u);  // stays failed
  BodyReader r2(b, 6);
  r2.U32();
  EXPECT_EQ(r2.U16(), 0x0605);
  EXPECT_TRUE(r2.Done());
}

}  // namespace
}  // namespace ksvw::proto
