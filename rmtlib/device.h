// The library's RemoteDevice: configuration, the open link, and the
// operations the program calls, none of which waits for a library thread.
#pragma once

#include <windows.h>

#include <memory>

#include "remote/ksvwrmt.h"
#include "rmtlib/connection.h"
#include "rmtlib/core.h"

namespace ksvw::rmt {

class Device final : public RemoteDevice {
 public:
  static Device* Create();  // one reference, or null when out of memory

  uint32_t AddRef() override;
  uint32_t Release() override;
  int32_t CreateRequest(RemoteRequest** request) override;
  int32_t Configure(const ConnectionSettings* settings) override;
  int32_t Reserved5() override;
  int32_t Advise(RemoteEventSink* sink) override;
  int32_t SetMonitorInterval(int32_t milliseconds) override;
  int32_t Open() override;
  int32_t Close() override;
  int32_t Submit(RemoteRequest* request) override;
  int32_t Cancel(RemoteRequest* request) override;
  int32_t Reserved12() override;
  int32_t GetLinkState() override;
  uint32_t GetStatusFlags() override;
  int32_t CopyScreen(uint8_t* buffer, uint32_t length) override;

 private:
  Device();
  ~Device() = default;
  std::shared_ptr<Connection> CurrentConnection();

  volatile LONG refs_ = 1;
  std::shared_ptr<Core> core_;
  SRWLOCK lock_ = SRWLOCK_INIT;  // guards the fields below; held only briefly
  ConnectionSettings settings_;
  int32_t monitorMs_ = kMonitorStop;
  std::shared_ptr<Connection> connection_;  // while open
  std::weak_ptr<Connection> lastConnection_;
};

}  // namespace ksvw::rmt
