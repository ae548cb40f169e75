// The library's exports.
#include <winsock2.h>

#include "remote/ksvwrmt.h"
#include "rmtlib/device.h"
#include "rmtlib/runtime.h"

namespace {
volatile LONG initialized = 0;
// How long KSUninitializeRemote lets the library's threads finish (a link
// that is closing says goodbye and closes its transport; that takes
// milliseconds, a connect under way up to its time limit).
constexpr DWORD kThreadsEndMs = 6000;
}  // namespace

KSVWRMT_API int32_t KSInitializeRemote(void) {
  WSADATA wsa;
  int rc = WSAStartup(MAKEWORD(2, 2), &wsa);
  if (rc != 0) return ksvw::ResultFromSystemError(static_cast<uint32_t>(rc));
  InterlockedIncrement(&initialized);
  return ksvw::kOk;
}

KSVWRMT_API int32_t KSCreateRemote(ksvw::RemoteDevice** device) {
  if (!device) return ksvw::kErrPointer;
  *device = ksvw::rmt::Device::Create();
  return *device ? ksvw::kOk : ksvw::kErrOutOfMemory;
}

KSVWRMT_API int32_t KSUninitializeRemote(void) {
  // Devices released just before have links still closing: let them finish
  // while the library is surely loaded.
  bool ended = ksvw::rmt::WaitForLibraryThreads(kThreadsEndMs);
  if (InterlockedCompareExchange(&initialized, 0, 0) > 0) {
    InterlockedDecrement(&initialized);
    WSACleanup();
  }
  return ended ? ksvw::kOk : 1;
}
