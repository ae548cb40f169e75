// Interface of the remote-control library ksvwrmt.dll, shared by the library
// and the program.
//
// The objects are reference counted in the COM style: abstract classes whose
// virtual operations sit in a fixed table order, plain integers and raw
// buffers only, so no C++ runtime object crosses the DLL boundary. Both sides
// are built by the same compiler (one vtable layout on x86_64 Windows).
//
// Result codes are 32-bit HRESULT-style values: negative is failure. They,
// the transfer sections, the screen's size, the status flags and the monitor
// intervals are facts the protocol and the simulator share as well, so they
// come from common/.
#pragma once

#include <cstdint>

#include "common/analyzer.h"
#include "common/result_codes.h"
#include "settings/connection_settings.h"

#if defined(_WIN32) && defined(KSVWRMT_BUILDING)
#define KSVWRMT_API extern "C" __declspec(dllexport)
#elif defined(_WIN32)
#define KSVWRMT_API extern "C" __declspec(dllimport)
#else
#define KSVWRMT_API extern "C"
#endif

namespace ksvw {

// Request types.
inline constexpr int32_t kRequestConnect = 1;
inline constexpr int32_t kRequestDisconnect = 2;
inline constexpr int32_t kRequestKeyPress = 3;
inline constexpr int32_t kRequestTransfer = 5;

class RemoteRequest {
 public:
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

  int32_t requestType = 0;   // set by the program
  int32_t result = 0;        // completion code, set by the library
  int32_t fileHandle = 0;    // open file (a Windows handle; handles fit 32 bits)
  int32_t dataCode = 0;      // transfer section or key code
  int32_t reserved = 0;      // 0
  int32_t sectionLimit = 0;  // most bytes the section may deliver

 protected:
  ~RemoteRequest() = default;
};

class RemoteEventSink;

class RemoteDevice {
 public:
  virtual uint32_t AddRef() = 0;                                      // 1
  virtual uint32_t Release() = 0;                                     // 2
  virtual int32_t CreateRequest(RemoteRequest** request) = 0;         // 3
  virtual int32_t Configure(const ConnectionSettings* settings) = 0;  // 4
  virtual int32_t Reserved5() = 0;                                    // 5
  virtual int32_t Advise(RemoteEventSink* sink) = 0;                  // 6
  virtual int32_t SetMonitorInterval(int32_t milliseconds) = 0;       // 7
  virtual int32_t Open() = 0;                                         // 8
  virtual int32_t Close() = 0;                                        // 9
  virtual int32_t Submit(RemoteRequest* request) = 0;                 // 10
  virtual int32_t Cancel(RemoteRequest* request) = 0;                 // 11
  virtual int32_t Reserved12() = 0;                                   // 12
  virtual int32_t GetLinkState() = 0;                                 // 13: 1 = connected
  virtual uint32_t GetStatusFlags() = 0;                              // 14
  virtual int32_t CopyScreen(uint8_t* buffer, uint32_t length) = 0;   // 15

 protected:
  ~RemoteDevice() = default;
};

// Implemented by the program; called on the library's own threads.
class RemoteEventSink {
 public:
  virtual int32_t OnIdentity(int32_t model, int32_t detail) = 0;                            // 1
  virtual int32_t Reserved2() = 0;                                                          // 2
  virtual int32_t OnLinkStateChanged() = 0;                                                 // 3
  virtual int32_t OnRequestDone(RemoteRequest* request) = 0;                                // 4
  virtual int32_t OnProgress(RemoteRequest* request, int32_t position, int32_t range) = 0;  // 5
  virtual int32_t OnLinkLost() = 0;                                                         // 6
  virtual int32_t OnStatusFlags(uint32_t flags) = 0;                                        // 7
  virtual int32_t Reserved8() = 0;                                                          // 8
  virtual int32_t OnScreenChanged() = 0;                                                    // 9
  virtual int32_t Reserved10() = 0;                                                         // 10
  virtual int32_t Reserved11() = 0;                                                         // 11
  virtual int32_t Reserved12() = 0;                                                         // 12
  // Stores up to *size bytes of transfer data; *size becomes the bytes taken.
  virtual int32_t OnData(RemoteRequest* request, int32_t ignored, const uint8_t* buffer,
                         uint32_t* size) = 0;  // 13
  virtual int32_t Reserved14() = 0;            // 14
  virtual int32_t Reserved15() = 0;            // 15
  virtual ~RemoteEventSink() = default;        // 16
};

}  // namespace ksvw

KSVWRMT_API int32_t KSInitializeRemote(void);
KSVWRMT_API int32_t KSCreateRemote(ksvw::RemoteDevice** device);
KSVWRMT_API int32_t KSUninitializeRemote(void);
