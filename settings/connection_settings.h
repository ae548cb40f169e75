// The connection settings record handed whole to the remote library. Its
// byte layout is fixed (the library reads it through a pointer), so it is
// packed and checked field by field.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ksvw {

inline constexpr uint32_t kConnectionSettingsSize = 1396;

// Connection methods.
inline constexpr int32_t kMethodSerial = 0;
inline constexpr int32_t kMethodLan = 2;

#pragma pack(push, 1)
struct ConnectionSettings {
  uint32_t size;    // always 1396
  int32_t method;   // 0 = serial link, 2 = LAN converter
  char com[260];    // "COM1" .. "COM9"
  char host[1025];  // LAN host name or address
  char port[32];    // LAN port, decimal text
  char ctport[59];  // LAN control port, decimal text
  int32_t speed;    // serial bit rate
  int32_t parity;   // 0 none, 1 odd, 2 even
  int32_t flow;     // 0 none, 1 hardware (RTS/CTS)
};
#pragma pack(pop)

static_assert(sizeof(ConnectionSettings) == kConnectionSettingsSize);
static_assert(offsetof(ConnectionSettings, method) == 4);
static_assert(offsetof(ConnectionSettings, com) == 8);
static_assert(offsetof(ConnectionSettings, host) == 268);
static_assert(offsetof(ConnectionSettings, port) == 1293);
static_assert(offsetof(ConnectionSettings, ctport) == 1325);
static_assert(offsetof(ConnectionSettings, speed) == 1384);
static_assert(offsetof(ConnectionSettings, parity) == 1388);
static_assert(offsetof(ConnectionSettings, flow) == 1392);

// The values before any load: serial "COM1" at 115200 bit/s, no parity, no flow control.
ConnectionSettings DefaultConnectionSettings();

}  // namespace ksvw
