#include "keyemu/key_tables.h"

#include <cctype>

namespace ksvw::keyemu {

const KeyLayoutRow KeyLayoutTable[kKeyCount] = {
    {20023, 285, 324, kLatchingKey, -1}, {20000, 25, 324, 0, 0x00},  {20001, 83, 324, 0, 0x01},
    {20002, 141, 324, 0, 0x02},          {20003, 199, 324, 0, 0x03}, {20004, 25, 283, 0, 0x04},
    {20005, 83, 283, 0, 0x05},           {20006, 141, 283, 0, 0x06}, {20007, 199, 283, 0, 0x07},
    {20008, 25, 242, 0, 0x08},           {20009, 83, 242, 0, 0x09},  {20010, 141, 242, 0, 0x0A},
    {20011, 199, 242, 0, 0x0B},          {20012, 25, 201, 0, 0x0C},  {20013, 83, 201, 0, 0x0D},
    {20014, 141, 201, 0, 0x0E},          {20015, 199, 201, 0, 0x0F}, {20016, 285, 201, 0, 0x17},
    {20017, 343, 201, 0, 0x18},          {20018, 401, 201, 0, 0x19}, {20019, 459, 201, 0, 0x22},
    {20020, 517, 201, 0, 0x21},          {20021, 285, 242, 0, 0x1C}, {20022, 285, 283, 0, 0x1D},
    {20024, 343, 242, 0, 0x1B},          {20025, 343, 324, 0, 0x1A}, {20026, 343, 283, 0, 0x10},
    {20027, 401, 242, 0, 0x12},          {20028, 401, 324, 0, 0x13}, {20029, 459, 283, 0, 0x11},
    {20030, 459, 242, 0, 0x15},          {20031, 459, 324, 0, 0x16}, {20032, 401, 283, 0, 0x14},
    {20033, 517, 242, 0, 0x1E},          {20034, 517, 283, 0, 0x1F}, {20035, 517, 324, 0, 0x20},
};

const KeySprite KeySpriteTable[kKeyCount] = {
    {0, 75},   {39, 75},  {78, 75},  {117, 75},  // 20000..20003: 0 1 2 3
    {0, 50},   {39, 50},  {78, 50},  {117, 50},  // 4 5 6 7
    {0, 25},   {39, 25},  {78, 25},  {117, 25},  // 8 9 A B
    {0, 0},    {39, 0},   {78, 0},   {117, 0},   // C D E F
    {156, 0},  {195, 0},  {234, 0},  {273, 0},   // 20016..20019: M Y T S
    {312, 0},                                    // 20020: R
    {156, 25}, {156, 50}, {156, 75},             // 20021 Delete, 20022 Insert, 20023 SHIFT
    {195, 25}, {195, 75}, {195, 50},             // 20024 G, 20025 H, 20026 Left
    {234, 25}, {234, 75}, {273, 50},             // 20027 Up, 20028 Down, 20029 Right
    {273, 25}, {273, 75}, {234, 50},             // 20030 PgUp, 20031 PgDn, 20032 Enter
    {312, 25}, {312, 50}, {312, 75},             // 20033 L, 20034 K, 20035 P
};

const KeyboardMapEntry KeyboardMap[kKeyboardMapSize] = {
    {0x30, 20000}, {0x60, 20000}, {0x31, 20001}, {0x61, 20001}, {0x32, 20002}, {0x62, 20002},
    {0x33, 20003}, {0x63, 20003}, {0x34, 20004}, {0x64, 20004}, {0x35, 20005}, {0x65, 20005},
    {0x36, 20006}, {0x66, 20006}, {0x37, 20007}, {0x67, 20007}, {0x38, 20008}, {0x68, 20008},
    {0x39, 20009}, {0x69, 20009}, {0x41, 20010}, {0x42, 20011}, {0x43, 20012}, {0x44, 20013},
    {0x45, 20014}, {0x46, 20015}, {0x4D, 20016}, {0x59, 20017}, {0x54, 20018}, {0x53, 20019},
    {0x52, 20020}, {0x2E, 20021}, {0x2D, 20022}, {0x10, 20023}, {0xA1, 20023}, {0xA0, 20023},
    {0x47, 20024}, {0x48, 20025}, {0x25, 20026}, {0x26, 20027}, {0x28, 20028}, {0x27, 20029},
    {0x21, 20030}, {0x22, 20031}, {0x0D, 20032}, {0x4C, 20033}, {0x4B, 20034}, {0x50, 20035},
    {-1, -1},
};

namespace {

// By id, 20000 on.
constexpr const char* kKeyPanelNames[kKeyCount] = {
    "0", "1", "2",    "3",  "4",    "5",     "6",    "7",    "8",     "9",   "A",   "B",
    "C", "D", "E",    "F",  "M",    "Y",     "T",    "S",    "R",     "DEL", "INS", "SHIFT",
    "G", "H", "LEFT", "UP", "DOWN", "RIGHT", "PGUP", "PGDN", "ENTER", "L",   "K",   "P",
};

}  // namespace

int32_t KeyIdForVirtualKey(int32_t virtualKey) {
  for (const KeyboardMapEntry& e : KeyboardMap) {
    if (e.virtualKey == -1) break;
    if (e.virtualKey == virtualKey) return e.keyId;
  }
  return -1;
}

bool KeyboardStillHolds(int32_t keyId, bool (*down)(int32_t virtualKey)) {
  for (const KeyboardMapEntry& e : KeyboardMap) {
    if (e.virtualKey == -1) break;
    if (e.keyId == keyId && down(e.virtualKey)) return true;
  }
  return false;
}

bool KeySpriteCorner(int32_t id, bool pressed, bool latched, int32_t* x, int32_t* y) {
  if (id < kFirstKeyId || id >= kFirstKeyId + kKeyCount) return false;
  const KeySprite& s = KeySpriteTable[id - kFirstKeyId];
  *x = s.x + (latched ? kLatchedSpriteOffsetX : 0);
  *y = s.y + (pressed ? kPressedSpriteOffsetY : 0);
  return true;
}

const KeyLayoutRow* FindKeyRow(int32_t id) {
  for (const KeyLayoutRow& row : KeyLayoutTable)
    if (row.id == id) return &row;
  return nullptr;
}

const char* KeyPanelName(int32_t id) {
  if (id < kFirstKeyId || id >= kFirstKeyId + kKeyCount) return nullptr;
  return kKeyPanelNames[id - kFirstKeyId];
}

int32_t KeyIdForPanelName(std::string_view name) {
  for (int32_t i = 0; i < kKeyCount; ++i) {
    std::string_view known = kKeyPanelNames[i];
    bool same = known.size() == name.size();
    for (size_t k = 0; same && k < name.size(); ++k)
      same = std::toupper(static_cast<unsigned char>(name[k])) == known[k];
    if (same) return kFirstKeyId + i;
  }
  return -1;
}

}  // namespace ksvw::keyemu
