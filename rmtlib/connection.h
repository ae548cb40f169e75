// The library's I/O connection for one open device: its I/O thread, which alone owns the transport
// and the protocol session, and the command queue through which the device
// (on the GUI thread or inside a sink callback) hands it work.
//
// Nothing here ever waits for the I/O thread: Submit, Cancel, SetMonitorInterval
// and Stop queue a command under a short lock and signal the thread. The
// session's events become queued events of the device's Core, delivered by
// its dispatcher; every submitted request ends with exactly one Done.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/counted_ref.h"
#include "protocol/host_session.h"
#include "rmtlib/core.h"
#include "rmtlib/request.h"
#include "rmtlib/transport.h"
#include "settings/connection_settings.h"

namespace ksvw::rmt {

class Connection final : public proto::HostEvents {
 public:
  // `previous` is the device's last link: this one opens its transport only
  // after that one has let go of its own (the same serial port, say).
  Connection(std::shared_ptr<Core> core, const ConnectionSettings& settings, int32_t monitorMs,
             std::shared_ptr<Connection> previous);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Starts the I/O thread; false when it could not be made.
  bool Start(const std::shared_ptr<Connection>& self);

  // Any thread. Submit takes a reference to the request; negative when the
  // link no longer takes work (it is stopping).
  int32_t Submit(Request* request);
  void Cancel(Request* request);
  void SetMonitorInterval(int32_t ms);
  // Ends the link: a connected session says goodbye, every request still
  // open ends (0x800708CA), the transport closes and the thread finishes.
  void Stop();

 private:
  struct Command {
    enum Kind { Submit, Cancel, Monitor } kind;
    CountedRef<Request> request;  // Submit and Cancel hold one
    int32_t value;
  };
  struct Open {
    uint32_t id;
    Request* request;  // the reference taken by Submit
  };

  void Run();
  void RunCommands();
  void StartRequest(Request* r);
  void Connect(Request* r);
  void Complete(Request* r, int32_t result);
  void Track(uint32_t id, Request* r);
  Request* Find(uint32_t id) const;
  Request* Untrack(uint32_t id);
  void SendOutput();
  void CloseTransport();
  void FlushData();
  void Post(const Event& e);
  void Finish();

  // proto::HostEvents (I/O thread, inside the session's calls)
  void OnIdentity(const proto::AnalyzerIdentity& id) override;
  void OnLinkState(int32_t state) override;
  void OnRequestDone(uint32_t id, proto::RequestKind kind, int32_t result) override;
  void OnProgress(uint32_t id, uint32_t position, uint32_t range) override;
  int32_t OnData(uint32_t id, const uint8_t* data, uint32_t size) override;
  void OnLinkLost() override;
  void OnStatusFlags(uint32_t flags) override;
  void OnScreenChanged() override;

  std::shared_ptr<Core> core_;
  ConnectionSettings settings_;
  std::shared_ptr<Connection> previous_;
  HANDLE wake_ = nullptr;  // auto-reset: commands waiting, or stop
  HANDLE done_ = nullptr;  // manual-reset: the transport is closed for good

  SRWLOCK commandLock_ = SRWLOCK_INIT;
  std::vector<Command> commands_;
  bool accepting_ = true;
  std::atomic<bool> stop_{false};

  // I/O thread only.
  std::unique_ptr<proto::HostSession> session_;
  std::unique_ptr<Transport> transport_;
  int32_t monitorMs_;
  std::vector<Command> work_;
  std::vector<Open> open_;
  std::vector<uint8_t> input_;
  Chunk* pending_ = nullptr;  // section bytes not yet queued
  Request* pendingRequest_ = nullptr;
  uint8_t screen_[kScreenBytes] = {};
};

}  // namespace ksvw::rmt
