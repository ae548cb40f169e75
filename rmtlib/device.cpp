#include "rmtlib/device.h"

#include <cstring>
#include <new>

#include "rmtlib/request.h"
#include "rmtlib/runtime.h"
#include "rmtlib/transport.h"

namespace ksvw::rmt {
namespace {

constexpr int32_t kNotImplemented = static_cast<int32_t>(0x80004001u);  // E_NOTIMPL

// The record's values before the program configures anything.
ConnectionSettings InitialSettings() {
  ConnectionSettings s;
  std::memset(&s, 0, sizeof s);
  s.size = kConnectionSettingsSize;
  s.method = kMethodSerial;
  std::memcpy(s.com, "COM1", 5);
  s.speed = 115200;
  return s;
}

// A record the link can use: a known method with what it needs.
int32_t CheckSettings(const ConnectionSettings& s) {
  if (s.method == kMethodSerial) {
    if (strnlen(s.com, sizeof s.com) == 0 || s.speed <= 0) return kErrInvalidArg;
    return kOk;
  }
  if (s.method == kMethodLan) {
    if (strnlen(s.host, sizeof s.host) == 0 || ParsePort(s.port, sizeof s.port) == 0)
      return kErrInvalidArg;
    if (strnlen(s.ctport, sizeof s.ctport) > 0 && ParsePort(s.ctport, sizeof s.ctport) == 0)
      return kErrInvalidArg;
    return kOk;
  }
  return kErrInvalidArg;
}

// The thread that could not be started, as a failure code.
int32_t ThreadFailure() {
  int32_t code = ResultFromSystemError(GetLastError());
  return code < 0 ? code : kErrOutOfMemory;
}

}  // namespace

Device* Device::Create() {
  Device* d = new (std::nothrow) Device();
  if (d && !d->core_) {
    delete d;
    return nullptr;
  }
  return d;
}

Device::Device() : settings_(InitialSettings()) {
  core_ = std::shared_ptr<Core>(new (std::nothrow) Core());
}

uint32_t Device::AddRef() {
  return static_cast<uint32_t>(InterlockedIncrement(&refs_));
}

uint32_t Device::Release() {
  LONG left = InterlockedDecrement(&refs_);
  if (left == 0) {
    Close();
    // No sink call starts after this; one that is running (on another
    // thread) has returned by now. The dispatcher ends by itself once the
    // closing link has ended and its last events are released.
    core_->Shutdown();
    delete this;
  }
  return static_cast<uint32_t>(left);
}

int32_t Device::CreateRequest(RemoteRequest** request) {
  if (!request) return kErrPointer;
  *request = Request::Create();
  return *request ? kOk : kErrOutOfMemory;
}

int32_t Device::Configure(const ConnectionSettings* settings) {
  if (!settings) return kErrPointer;
  if (settings->size != kConnectionSettingsSize) return kErrInvalidArg;
  SrwGuard g(lock_);
  std::memcpy(&settings_, settings, sizeof settings_);
  return kOk;  // used from the next Open on
}

int32_t Device::Reserved5() {
  return kNotImplemented;
}

int32_t Device::Reserved12() {
  return kNotImplemented;
}

int32_t Device::Advise(RemoteEventSink* sink) {
  core_->SetSink(sink);
  return kOk;
}

std::shared_ptr<Connection> Device::CurrentConnection() {
  SrwGuard g(lock_);
  return connection_;
}

int32_t Device::SetMonitorInterval(int32_t milliseconds) {
  int32_t ms = milliseconds > 0 ? milliseconds : kMonitorStop;
  std::shared_ptr<Connection> connection;
  {
    SrwGuard g(lock_);
    monitorMs_ = ms;
    connection = connection_;
  }
  if (connection) connection->SetMonitorInterval(ms);
  return kOk;
}

int32_t Device::Open() {
  SrwGuard g(lock_);
  if (connection_) return 1;  // already open
  int32_t check = CheckSettings(settings_);
  if (check < 0) return check;
  if (!core_->StartDispatcher(core_)) return ThreadFailure();
  std::shared_ptr<Connection> connection(
      new (std::nothrow) Connection(core_, settings_, monitorMs_, lastConnection_.lock()));
  if (!connection) return kErrOutOfMemory;
  if (!connection->Start(connection)) return ThreadFailure();
  connection_ = connection;
  lastConnection_ = connection;
  return kOk;
}

int32_t Device::Close() {
  std::shared_ptr<Connection> connection;
  {
    SrwGuard g(lock_);
    connection.swap(connection_);
  }
  if (!connection) return 1;  // not open
  connection->Stop();         // the link winds down on its own thread
  return kOk;
}

int32_t Device::Submit(RemoteRequest* request) {
  if (!request) return kErrPointer;
  Request* r = AsRequest(request);
  if (!r) return kErrInvalidArg;
  switch (r->requestType) {
    case kRequestConnect:
    case kRequestDisconnect:
    case kRequestKeyPress: break;
    case kRequestTransfer:
      if (r->sectionLimit <= 0) return kErrInvalidArg;
      break;
    default: return kErrInvalidArg;
  }
  std::shared_ptr<Connection> connection = CurrentConnection();
  if (!connection) return kErrNotConnected;
  if (!r->MarkSubmitted()) return kErrFail;  // still running
  r->result = 0;
  r->dataError = 0;
  r->dataFailed.store(false);
  r->cancelled.store(false);
  int32_t result = connection->Submit(r);
  if (result < 0) r->MarkDone();
  return result;
}

int32_t Device::Cancel(RemoteRequest* request) {
  if (!request) return kErrPointer;
  Request* r = AsRequest(request);
  if (!r) return kErrInvalidArg;
  // Transfers and key presses can be cancelled; a key press the analyzer
  // never completes must not hold its request for ever.
  bool cancellable = r->requestType == kRequestTransfer || r->requestType == kRequestKeyPress;
  if (!cancellable || !r->Running()) return 1;  // nothing to cancel
  r->cancelled.store(true);
  if (std::shared_ptr<Connection> connection = CurrentConnection()) connection->Cancel(r);
  return kOk;
}

int32_t Device::GetLinkState() {
  return core_->linkState.load();
}

uint32_t Device::GetStatusFlags() {
  return core_->statusFlags.load();
}

int32_t Device::CopyScreen(uint8_t* buffer, uint32_t length) {
  if (!buffer) return kErrPointer;
  core_->CopyScreen(buffer, length);
  return kOk;
}

}  // namespace ksvw::rmt
