// A serial port through the Win32 comm API.
//
// Reads are synchronous with the timeouts {MAXDWORD, MAXDWORD, kReadWaitMs}:
// ReadFile returns at once with whatever has arrived, waits for the first
// byte otherwise, and gives up after kReadWaitMs, so the I/O thread looks at
// its commands at least that often. Overlapped reads are not used: Wine
// (8.0) ignores those timeouts for an overlapped ReadFile on a COM port and
// completes it only when the whole buffer is full, which would hold single
// frames back indefinitely; the synchronous form behaves as on Windows there.
// Wine's comm emulation also reports no modem lines on a pseudo-terminal, so
// nothing here asks for them (no GetCommModemStatus, no WaitCommEvent); its
// parity quirk on pseudo-terminals is handled where the state is set.
#include <algorithm>
#include <cstring>
#include <string>

#include "remote/ksvwrmt.h"
#include "rmtlib/transport.h"

namespace ksvw::rmt {
namespace {

constexpr DWORD kReadWaitMs = 5;

int32_t LastError() {
  int32_t code = ResultFromSystemError(GetLastError());
  return code < 0 ? code : kErrFail;
}

class SerialTransport final : public Transport {
 public:
  ~SerialTransport() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
  }

  int32_t Open(const ConnectionSettings& s);
  int32_t Receive(uint8_t* buffer, size_t capacity, size_t* got, uint32_t waitMs,
                  HANDLE wake) override;
  int32_t Send(const uint8_t* data, size_t size, size_t* sent) override;
  bool Serial() const override { return true; }

 private:
  HANDLE port_ = INVALID_HANDLE_VALUE;
};

int32_t SerialTransport::Open(const ConnectionSettings& s) {
  std::string name(s.com, strnlen(s.com, sizeof s.com));
  if (name.empty() || s.speed <= 0) return kErrInvalidArg;
  // "COM10" and above exist only in the device namespace; the prefix works
  // for every port.
  if (name.rfind("\\\\.\\", 0) != 0) name = "\\\\.\\" + name;
  port_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port_ == INVALID_HANDLE_VALUE) return LastError();

  SetupComm(port_, 64 * 1024, 16 * 1024);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port_, &dcb)) return LastError();
  dcb.BaudRate = static_cast<DWORD>(s.speed);
  dcb.ByteSize = 8;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  switch (s.parity) {
    case 1: dcb.Parity = ODDPARITY; break;
    case 2: dcb.Parity = EVENPARITY; break;
    default: dcb.Parity = NOPARITY; break;
  }
  dcb.fParity = dcb.Parity != NOPARITY;
  bool hardware = s.flow == 1;
  dcb.fOutxCtsFlow = hardware;
  dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!SetCommState(port_, &dcb)) {
    // Wine (8.0) on a pseudo-terminal: the kernel drops the parity bit from
    // the terminal settings, and every later SetCommState that asks for
    // parity again fails with ERROR_INVALID_PARAMETER. A device that cannot
    // take the parity is used without it; on a real line that needs parity
    // the analyzer then simply does not answer, and the connect says so.
    if (GetLastError() != ERROR_INVALID_PARAMETER || dcb.Parity == NOPARITY) return LastError();
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    if (!SetCommState(port_, &dcb)) return LastError();
  }

  // Writes: about the line time of the bytes (10 bits each) plus a second,
  // so a port held back by flow control for good cannot stall the link.
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = MAXDWORD;
  t.ReadTotalTimeoutConstant = kReadWaitMs;
  t.WriteTotalTimeoutMultiplier = static_cast<DWORD>(10000 / s.speed + 1);
  t.WriteTotalTimeoutConstant = 1000;
  if (!SetCommTimeouts(port_, &t)) return LastError();
  PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
  return 0;
}

int32_t SerialTransport::Receive(uint8_t* buffer, size_t capacity, size_t* got, uint32_t, HANDLE) {
  *got = 0;
  DWORD n = 0;
  DWORD want = static_cast<DWORD>(std::min<size_t>(capacity, 1 << 30));
  if (!ReadFile(port_, buffer, want, &n, nullptr)) {
    DWORD e = GetLastError();
    ClearCommError(port_, nullptr, nullptr);  // a line error (framing, overrun) blocks the port
    if (e == ERROR_OPERATION_ABORTED) return 0;
    return ResultFromSystemError(e);
  }
  *got = n;
  return 0;
}

int32_t SerialTransport::Send(const uint8_t* data, size_t size, size_t* sent) {
  *sent = 0;
  DWORD n = 0;
  DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1 << 30));
  if (!WriteFile(port_, data, want, &n, nullptr)) {
    DWORD e = GetLastError();
    ClearCommError(port_, nullptr, nullptr);
    if (e == ERROR_OPERATION_ABORTED) return 0;
    return ResultFromSystemError(e);
  }
  *sent = n;
  return 0;
}

}  // namespace

int32_t OpenSerial(const ConnectionSettings& settings, std::unique_ptr<Transport>* out) {
  auto t = std::make_unique<SerialTransport>();
  int32_t result = t->Open(settings);
  if (result < 0) return result;
  *out = std::move(t);
  return 0;
}

}  // namespace ksvw::rmt
