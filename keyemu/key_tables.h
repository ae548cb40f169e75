// The key emulator's constant tables: where each of the 36 keys sits on the
// panel, where its picture sits in the key sheet (bitmap 112), and which PC
// keyboard keys drive it. Portable: the Windows panel and the picture
// generator read the same rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ksvw::keyemu {

inline constexpr int kKeyCount = 36;
inline constexpr int kKeyWidth = 39;  // one key window and one sheet cell
inline constexpr int kKeyHeight = 25;
inline constexpr int kFirstKeyId = 20000;
inline constexpr int kShiftKeyId = 20023;
inline constexpr uint32_t kLatchingKey = 0x2;
// Offsets of the other picture variants in the key sheet.
inline constexpr int kLatchedSpriteOffsetX = 195;
inline constexpr int kPressedSpriteOffsetY = 100;

// Panel geometry (bitmap 111) and the LCD window in it.
inline constexpr int kPanelWidth = 581;
inline constexpr int kPanelHeight = 371;
inline constexpr int kLcdWindowX = 50;
inline constexpr int kLcdWindowY = 31;

struct KeyLayoutRow {
  int32_t id;
  int32_t x, y;  // key window in the panel's client area
  uint32_t flags;
  int32_t code;  // reported to the panel on a press
};

struct KeySprite {
  int32_t x, y;  // normal picture's corner in the key sheet
};

struct KeyboardMapEntry {
  int32_t virtualKey;
  int32_t keyId;
};

// Row order = key slot in the key emulator; slot 0 is SHIFT.
extern const KeyLayoutRow KeyLayoutTable[kKeyCount];
// Ordered by id: KeySpriteTable[id - kFirstKeyId].
extern const KeySprite KeySpriteTable[kKeyCount];
// 48 pairs and the end mark (-1, -1).
inline constexpr int kKeyboardMapSize = 49;
extern const KeyboardMapEntry KeyboardMap[kKeyboardMapSize];

// The key id a virtual-key code drives (first match), or -1.
int32_t KeyIdForVirtualKey(int32_t virtualKey);
// Whether another PC key mapped to `keyId` is still down (`down` answers
// for a virtual-key code): a key-up of left Shift while right Shift is held
// leaves SHIFT pressed, as does one of '5' while numeric pad 5 is held.
bool KeyboardStillHolds(int32_t keyId, bool (*down)(int32_t virtualKey));
// The sheet corner of a key's picture in a given state; false for an id
// outside 20000..20035.
bool KeySpriteCorner(int32_t id, bool pressed, bool latched, int32_t* x, int32_t* y);
// The layout row of an id, or null.
const KeyLayoutRow* FindKeyRow(int32_t id);
// The name printed on a key ("0".."F", "SHIFT", "ENTER", "PGDN"; the
// cursor keys, which show arrows, are "LEFT", "UP", "DOWN", "RIGHT"), or
// null for an id outside 20000..20035.
const char* KeyPanelName(int32_t id);
// The id of the key with that name, in any case, or -1.
int32_t KeyIdForPanelName(std::string_view name);

}  // namespace ksvw::keyemu
