// SETTING.ini without the file system: the texts of its sections, the
// mapping of the stored list indices to the codes of the connection record,
// and the rules by which the connection keys fill a ConnectionSettings
// record. The Windows store (settings/win32/) supplies the private-profile
// reads and writes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/connection_settings.h"

namespace ksvw {

// Section and key names.
inline constexpr char kSectionRemote[] = "REMOTE";
inline constexpr char kSectionRb40[] = "RB40";
inline constexpr char kSectionSerial[] = "SERIAL";
inline constexpr char kSectionEmu[] = "EMU";
inline constexpr char kSectionCvt[] = "CVT";
inline constexpr char kSectionDbc[] = "DBC";  // keys CH1, CH2: the signal database of each channel
inline constexpr char kSettingsFileName[] = "SETTING.ini";

// Read buffers: the connection keys, EMU/PATH at start-up, other PATH reads.
inline constexpr size_t kConnectionKeyCapacity = 1025;
inline constexpr size_t kStartupPathCapacity = 1024;
inline constexpr size_t kPathCapacity = 260;

// A section text buffer. Large enough for the longest RB40 text that a full
// record can produce (1024 + 31 + 58 characters of values and the keys),
// plus the closing NUL pair.
inline constexpr size_t kSectionTextCapacity = 2048;

// Section texts. Each writes one NUL-terminated text of entries separated by
// line feeds into a zero-filled `out` of `capacity` bytes, followed by a
// second NUL. False (and an all-zero buffer) when the text with both NULs
// would not fit: a cut section would silently lose a key.
bool RemoteSectionText(int32_t method, char* out, size_t capacity);
bool Rb40SectionText(const char* host, const char* port, const char* ctport, char* out,
                     size_t capacity);
bool SerialSectionText(const char* com, const char* speed, int32_t parityIndex, int32_t flowIndex,
                       char* out, size_t capacity);
// "PATH=" folder, with a line feed or without (EMU and CVT use both forms).
bool PathSectionText(const char* folder, bool lineFeed, char* out, size_t capacity);
// "CH1=" path "\n" "CH2=" path "\n": the DBC file of each channel (empty: none).
bool DbcSectionText(const char* ch1, const char* ch2, char* out, size_t capacity);

// The stored PARITY list index as the record's parity code: 0 -> 0, 1 -> 2,
// 2 -> 1, anything else -> 0. And back (an unknown code gives index 0).
int32_t ParityCodeFromIndex(int32_t index);
int32_t ParityIndexFromCode(int32_t code);
// The stored FLOW list index as the record's flow code: 1 -> 1, else 0.
int32_t FlowCodeFromIndex(int32_t index);

// Copies `text` into a record field of `fieldSize` bytes, cut to
// fieldSize - 1 characters, always NUL-terminated. A null text is empty.
void CopyCut(char* field, size_t fieldSize, const char* text);
// A decimal integer as the C library's atoi reads it (leading blanks, a
// sign, digits up to the first other character), but saturating at the
// int32 range instead of overflowing.
int32_t ParseDecimal(const char* text);

// What the connection page shows for the stored serial port and bit rate.
// A port is "COMn" (n from 1 to 256, in any case) and a bit rate a
// positive decimal number; anything else is not understood and is shown
// as the library's default ("COM1", 115200) with a note naming it, so that
// OK stores only what the page showed. `storedSpeed` is SERIAL/SPEED's
// text; null or empty (no key) shows `speed`, the record's.
struct ShownSerial {
  int32_t port = 0;  // n of "COMn"
  int32_t speed = 0;
  bool portUnderstood = true;
  bool speedUnderstood = true;
};
ShownSerial ShowSerialSettings(const char* storedCom, const char* storedSpeed, int32_t speed);

// The LAN converter's fields as OK takes them: a host that is not only
// blanks, a port of digits from 1 to 65535, a control port likewise or
// empty. The first field that fails, or Ok.
enum class LanFieldsCheck { Ok, NoHost, BadPort, BadControlPort };
LanFieldsCheck CheckLanFields(const char* host, const char* port, const char* ctport);

// Where the connection keys come from: the private-profile reads.
class ProfileSource {
 public:
  virtual ~ProfileSource() = default;
  // The key's text, or `fallback` (null: empty) when the key is missing,
  // cut to capacity - 1 characters; returns the length copied.
  virtual size_t ReadText(const char* section, const char* key, const char* fallback, char* out,
                          size_t capacity) const = 0;
  // The key as an integer, or `fallback` when it is missing.
  virtual int32_t ReadInt(const char* section, const char* key, int32_t fallback) const = 0;
};

// Reads the eight connection keys into `record`: METHOD, COM and SPEED
// change their fields only when the read yields text; HOST, PORT and CTPORT
// are copied (empty when missing), cut to their fields; PARITY and FLOW are
// mapped to codes. `size` is left alone.
void LoadConnectionSettings(const ProfileSource& source, ConnectionSettings& record);

// Copies method, host, port, ctport, com, speed, parity and flow (whole
// texts) from `from` into `to`; `size` is left alone.
void CopyConnectionFields(const ConnectionSettings& from, ConnectionSettings& to);

}  // namespace ksvw
