#include "testsupport/capture_builder.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "common/files.h"

namespace ksvw::build {

uint32_t TimeStamp(int minutes, int seconds, int hundredths, int fifths) {
  return static_cast<uint32_t>(minutes & 0xFF) << 24 | static_cast<uint32_t>(seconds & 0xFF) << 16 |
         static_cast<uint32_t>(hundredths & 0xFF) << 8 | static_cast<uint32_t>(fifths & 0xFF);
}

CaptureRecord Record(const RecordFields& f) {
  CaptureRecord r{};
  r.raw[0] = f.source;
  r.raw[1] = f.lineFlags;
  StoreLE16(r.raw + 2, f.status);
  StoreLE32(r.raw + 4, f.timeStamp);
  r.raw[10] = static_cast<uint8_t>(f.count);
  r.raw[11] = f.kind;
  StoreLE32(r.raw + 12, f.identifier);
  // An empty vector's data() may be null, which memcpy must not be given.
  if (!f.data.empty()) {
    std::memcpy(r.raw + 16, f.data.data(), f.data.size() < 9 ? f.data.size() : 9);
  }
  return r;
}

CaptureRecord CanData(int channel, uint32_t id, bool extended, std::initializer_list<uint8_t> data,
                      uint32_t timeStamp, int dlc) {
  RecordFields f;
  f.source = static_cast<uint8_t>(channel);
  f.timeStamp = timeStamp;
  f.count = static_cast<int8_t>(data.size());
  int dlcField = dlc >= 0 ? dlc : static_cast<int>(data.size());
  f.kind = static_cast<uint8_t>((extended ? 0x80 : 0) | (dlcField & 0x0F));
  f.identifier = extended ? (id & 0x1FFFFFFF) : (id & 0x7FF) << 18;
  f.data = data;
  return Record(f);
}

CaptureRecord CanRemoteFrame(int channel, uint32_t id, bool extended, int dlc, uint32_t timeStamp) {
  RecordFields f;
  f.source = static_cast<uint8_t>(channel);
  f.timeStamp = timeStamp;
  f.count = 0;
  f.kind = static_cast<uint8_t>((extended ? 0x80 : 0) | 0x40 | (dlc & 0x0F));
  f.identifier = extended ? (id & 0x1FFFFFFF) : (id & 0x7FF) << 18;
  return Record(f);
}

CaptureRecord Lin(int channel, uint8_t sb, uint8_t sf, uint8_t protectedId, uint8_t kind,
                  int8_t count, std::initializer_list<uint8_t> data, uint16_t status,
                  uint32_t timeStamp) {
  RecordFields f;
  f.source = static_cast<uint8_t>(channel + 2);
  f.status = status;
  f.timeStamp = timeStamp;
  f.count = count;
  f.kind = kind;
  f.identifier = static_cast<uint32_t>(sb) << 24 | static_cast<uint32_t>(sf) << 16 |
                 static_cast<uint32_t>(protectedId) << 8;
  f.data = data;
  return Record(f);
}

CaptureRecord Marker(uint8_t source, uint32_t timeStamp) {
  RecordFields f;
  f.source = source;
  f.timeStamp = timeStamp;
  return Record(f);
}

CaptureRecord WithLineFlags(CaptureRecord r, uint8_t lineFlags) {
  r.raw[1] = lineFlags;
  return r;
}

CaptureRecord WithStatus(CaptureRecord r, uint16_t status) {
  StoreLE16(r.raw + 2, status);
  return r;
}

CaptureSettings MakeSettings(const SettingsPlan& plan) {
  CaptureSettings s;  // defaults: known sizes except the LIN ones
  uint8_t* b = s.bytes;
  b[settings_offset::kLayoutCode] = plan.layoutCode;
  b[settings_offset::kModeCode] = plan.modeCode;
  b[settings_offset::kBoardCode] = plan.boardCode;
  b[35] = 2;  // CAN entries stored
  StoreLE32(b + 100, 584);
  b[107] = 2;  // LIN entries stored
  // The auxiliary block's leaves carry their sizes in a stored body.
  StoreLE32(b + 732, 12);
  StoreLE32(b + 748, 12);
  StoreLE32(b + 764, 8);
  StoreLE32(b + 776, 8);
  for (int ch = 0; ch < 2; ++ch) {
    const ChannelPlan& c = plan.channel[ch];
    uint8_t* can = b + settings_offset::kCanChannel0 + kCanChannelSize * ch;
    can[4] = c.preset;
    StoreLE32(can + 8, static_cast<uint32_t>(c.baseFrequency));
    can[12] = static_cast<uint8_t>(c.pts);
    can[13] = static_cast<uint8_t>(c.pbs1);
    can[14] = static_cast<uint8_t>(c.pbs2);
    can[15] = static_cast<uint8_t>(c.sjw);
    uint8_t* lin = b + settings_offset::kLinChannel0 + kLinChannelSize * ch;
    StoreLE32(lin, kLinChannelSize);
    StoreLE32(lin + 4, static_cast<uint32_t>(c.linBitRate));
    lin[8] = c.linTable ? 1 : 0;
    for (int id = 0; id < 64; ++id) StoreLE32(lin + 28 + 4 * id, c.linTableLengths[id]);
    b[settings_offset::kProtocol0 + ch] = c.lin ? 2 : 0;
  }
  return s;
}

std::vector<uint8_t> KnownSizeDinf(const SettingsPlan& plan) {
  CaptureSettings s = MakeSettings(plan);
  return std::vector<uint8_t>(s.bytes, s.bytes + kSettingsSize);
}

CaptureFileBuilder& CaptureFileBuilder::Magic(const std::string& sixteenBytes) {
  magic_ = sixteenBytes;
  return *this;
}

CaptureFileBuilder& CaptureFileBuilder::Chunk(uint32_t tag, const std::vector<uint8_t>& body) {
  return ChunkWithLength(tag, static_cast<uint32_t>(body.size()), body);
}

CaptureFileBuilder& CaptureFileBuilder::ChunkWithLength(uint32_t tag, uint32_t length,
                                                        const std::vector<uint8_t>& body) {
  uint8_t header[8];
  StoreLE32(header, tag);
  StoreLE32(header + 4, length);
  chunks_.insert(chunks_.end(), header, header + 8);
  chunks_.insert(chunks_.end(), body.begin(), body.end());
  return *this;
}

CaptureFileBuilder& CaptureFileBuilder::Data(uint32_t tag,
                                             const std::vector<CaptureRecord>& records) {
  std::vector<uint8_t> body(records.size() * kRecordSize);
  if (!records.empty()) std::memcpy(body.data(), records.data(), body.size());
  return Chunk(tag, body);
}

CaptureFileBuilder& CaptureFileBuilder::Raw(const std::vector<uint8_t>& bytes) {
  chunks_.insert(chunks_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::vector<uint8_t> CaptureFileBuilder::Build() const {
  std::vector<uint8_t> file(magic_.begin(), magic_.end());
  file.insert(file.end(), chunks_.begin(), chunks_.end());
  return file;
}

namespace {

// Advances a time stamp by `fifths` fifths of a millisecond, wrapping the hour.
uint32_t Advance(uint32_t ts, uint32_t fifths) {
  uint32_t total = ((ts >> 24) * 60 + ((ts >> 16) & 0xFF)) * 100 + ((ts >> 8) & 0xFF);
  total = total * 50 + (ts & 0xFF) + fifths;
  total %= 60u * 60u * 100u * 50u;
  uint32_t f = total % 50;
  total /= 50;
  uint32_t hs = total % 100;
  total /= 100;
  return TimeStamp(static_cast<int>(total / 60), static_cast<int>(total % 60), static_cast<int>(hs),
                   static_cast<int>(f));
}

CaptureRecord RandomCan(std::mt19937_64& rng, uint32_t ts, bool bothChannels) {
  int channel = bothChannels ? 1 + static_cast<int>(rng() % 2) : 1;
  bool extended = rng() % 4 == 0;
  uint32_t id =
      extended ? static_cast<uint32_t>(rng() & 0x1FFFFFFF) : static_cast<uint32_t>(rng() % 0x800);
  if (rng() % 20 == 0)
    return CanRemoteFrame(channel, id, extended, static_cast<int>(rng() % 9), ts);
  int n = static_cast<int>(rng() % 9);
  RecordFields f;
  f.source = static_cast<uint8_t>(channel);
  f.timeStamp = ts;
  f.count = static_cast<int8_t>(n);
  f.kind = static_cast<uint8_t>((extended ? 0x80 : 0) | n);
  f.identifier = extended ? id : id << 18;
  for (int i = 0; i < n; ++i) f.data.push_back(static_cast<uint8_t>(rng()));
  return Record(f);
}

CaptureRecord RandomLin(std::mt19937_64& rng, uint32_t ts) {
  RecordFields f;
  f.source = kSourceLin2;
  f.timeStamp = ts;
  uint8_t frameId = static_cast<uint8_t>(rng() % 64);
  // Protected identifier: frame id with its two parity bits.
  auto bit = [&](int i) { return (frameId >> i) & 1; };
  uint8_t p0 = static_cast<uint8_t>(bit(0) ^ bit(1) ^ bit(2) ^ bit(4));
  uint8_t p1 = static_cast<uint8_t>(!(bit(1) ^ bit(3) ^ bit(4) ^ bit(5)));
  uint8_t pid = static_cast<uint8_t>(frameId | p0 << 6 | p1 << 7);
  f.identifier = 0x55u << 24 | 0x00u << 16 | static_cast<uint32_t>(pid) << 8;
  uint32_t shape = static_cast<uint32_t>(rng() % 100);
  int n = 1 + static_cast<int>(rng() % 8);
  if (shape < 70) {  // whole frame with checksum
    f.kind = 0;
    f.count = static_cast<int8_t>(n + 1);
  } else if (shape < 78) {  // bytes without checksum counted
    f.kind = 1;
    f.count = static_cast<int8_t>(n);
  } else if (shape < 82) {  // no header
    f.kind = 2;
    f.count = static_cast<int8_t>(n);
  } else if (shape < 90) {  // header only
    f.kind = 0;
    f.count = -1;
    n = 0;
  } else {  // broken frames
    f.kind = 0;
    f.count = static_cast<int8_t>(-2 - static_cast<int>(rng() % 2));
    n = 0;
  }
  for (int i = 0; i <= n && i < 9; ++i) f.data.push_back(static_cast<uint8_t>(rng()));
  if (rng() % 10 == 0) {
    static constexpr uint16_t kCodes[] = {1, 2, 4, 8, 16, 31, 3};
    uint16_t code = kCodes[rng() % 7];
    f.status = static_cast<uint16_t>(code << 11 | (rng() % 4 == 0 ? 1u << (2 + rng() % 9) : 0u) |
                                     (rng() % 8 == 0 ? 2u : 0u));
  }
  return Record(f);
}

}  // namespace

std::vector<CaptureRecord> GenerateTraffic(uint32_t count, uint32_t dataTag, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<CaptureRecord> records;
  records.reserve(count);
  uint32_t ts = TimeStamp(12, 0, 0, 0);
  uint8_t extInput = 0;
  bool mdcl = dataTag == kTagMdcl;
  for (uint32_t i = 0; i < count; ++i) {
    ts = Advance(ts, 1 + static_cast<uint32_t>(rng() % 1500));
    uint32_t pick = static_cast<uint32_t>(rng() % 1000);
    CaptureRecord r;
    if (pick < 3) {
      r = Marker(pick == 0 ? kSourceLostData : kSourceOverrun, ts);
    } else if (mdcl && pick < 350) {
      r = RandomLin(rng, ts);
    } else {
      r = RandomCan(rng, ts, !mdcl);
    }
    if (rng() % 500 == 0) extInput ^= 0x10;
    bool trigger = rng() % 2000 == 0;
    if (mdcl) {
      r.raw[1] = static_cast<uint8_t>(extInput | (trigger ? 0x80 : 0));
    } else if (trigger && r.source() <= 2) {
      r.raw[2] |= 0x80;  // MONC: trigger in status bit 7
    }
    records.push_back(r);
  }
  return records;
}

std::vector<uint8_t> GenerateCapture(uint32_t count, uint32_t dataTag, uint64_t seed) {
  SettingsPlan plan;
  if (dataTag == kTagMdcl) {
    plan.channel[0].preset = 7;  // 500k
    plan.channel[1].lin = true;
    plan.channel[1].linBitRate = 192000;
    plan.channel[1].linTable = true;
    for (int id = 0; id < 64; ++id)
      plan.channel[1].linTableLengths[id] = static_cast<uint8_t>(1 + id % 8);
  } else {
    plan.channel[0].preset = 7;
    plan.channel[1].preset = 0;  // custom timing: 16 MHz / (5 + 6 + 4 + 1) = 1 Mbit/s
    plan.channel[1].baseFrequency = 160000000;
    plan.channel[1].pts = 5;
    plan.channel[1].pbs1 = 6;
    plan.channel[1].pbs2 = 4;
    plan.channel[1].sjw = 1;
  }
  return CaptureFileBuilder()
      .Dinf(KnownSizeDinf(plan))
      .Data(dataTag, GenerateTraffic(count, dataTag, seed))
      .Build();
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

}  // namespace ksvw::build
