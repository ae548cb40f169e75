// The byte pipes under a link: a TCP connection to a LAN converter (with its
// optional control connection) or a serial port. Opened and used by the
// link's I/O thread only.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "settings/connection_settings.h"

namespace ksvw::rmt {

class Transport {
 public:
  virtual ~Transport() = default;
  // Waits up to `waitMs` for input (or until `wake` is signalled; a serial
  // port waits a few milliseconds at most), then reads what has arrived.
  // 0 with *got bytes (possibly none), or a negative code once the
  // connection is gone (bytes that came before it are still in *got).
  virtual int32_t Receive(uint8_t* buffer, size_t capacity, size_t* got, uint32_t waitMs,
                          HANDLE wake) = 0;
  // Sends as much as goes without waiting long; *sent may fall short.
  virtual int32_t Send(const uint8_t* data, size_t size, size_t* sent) = 0;
  // True for a serial line (link timing follows its bit rate).
  virtual bool Serial() const = 0;
};

// Connects to host:port (and host:ctport when it is set). Blocks the calling
// I/O thread for the name lookup and at most kConnectTimeoutMs per address;
// returns 0x800704C7 early when `stop` is raised (`wake` is signalled then).
// Unknown host: 0x80072AF9; no connection in time: 0x80070102.
int32_t OpenTcp(const ConnectionSettings& settings, HANDLE wake, const std::atomic<bool>& stop,
                std::unique_ptr<Transport>* out);

// Opens the serial port `com` with `speed`, `parity` and `flow`.
int32_t OpenSerial(const ConnectionSettings& settings, std::unique_ptr<Transport>* out);

inline constexpr uint32_t kConnectTimeoutMs = 5000;

// A port text ("1" to "65535") as a number; 0 when it is not one.
uint16_t ParsePort(const char* text, size_t capacity);

}  // namespace ksvw::rmt
