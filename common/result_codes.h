// Result codes: 32-bit signed values in the HRESULT style. Negative is
// failure, 0 success; a few operations return 1 as a second kind of success.
// The program, the remote library, the link protocol and the simulated
// analyzer all speak them, so each code has its one name here.
#pragma once

#include <cstdint>

namespace ksvw {

inline constexpr int32_t kOk = 0;
inline constexpr int32_t kErrPointer = static_cast<int32_t>(0x80004003u);       // E_POINTER
inline constexpr int32_t kErrOutOfMemory = static_cast<int32_t>(0x8007000Eu);   // E_OUTOFMEMORY
inline constexpr int32_t kErrInvalidArg = static_cast<int32_t>(0x80070057u);    // E_INVALIDARG
inline constexpr int32_t kErrFail = static_cast<int32_t>(0x80004005u);          // E_FAIL
inline constexpr int32_t kErrHostNotFound = static_cast<int32_t>(0x80072AF9u);  // WSAHOST_NOT_FOUND
inline constexpr int32_t kErrTimeout = static_cast<int32_t>(0x80070102u);       // WAIT_TIMEOUT
inline constexpr int32_t kErrCancelled = static_cast<int32_t>(0x800704C7u);     // ERROR_CANCELLED
inline constexpr int32_t kErrNotConnected =
    static_cast<int32_t>(0x800708CAu);  // ERROR_NOT_CONNECTED
// ERROR_INSUFFICIENT_BUFFER: a text cut to its buffer, a transfer section
// larger than its limit.
inline constexpr int32_t kErrInsufficientBuffer = static_cast<int32_t>(0x8007007Au);
// The analyzer's refusals of a connect:
// another host holds the analyzer's remote control.
inline constexpr int32_t kErrAnalyzerBusy = static_cast<int32_t>(0xA0000001u);
// the analyzer speaks a protocol version this library does not.
inline constexpr int32_t kErrVersionMismatch = static_cast<int32_t>(0xA0000004u);
// the analyzer has no CAN or CAN/LIN option board fitted.
inline constexpr int32_t kErrNoOptionBoard = static_cast<int32_t>(0xA0000009u);

// A system error number e as a result code.
inline constexpr int32_t ResultFromSystemError(uint32_t e) {
  return static_cast<int32_t>(e) <= 0 ? static_cast<int32_t>(e)
                                      : static_cast<int32_t>((e & 0xFFFF) | 0x80070000u);
}

}  // namespace ksvw
