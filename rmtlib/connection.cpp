#include "rmtlib/connection.h"

#include <algorithm>
#include <utility>

#include "rmtlib/runtime.h"

namespace ksvw::rmt {
namespace {
// Bytes read from the transport at a time.
constexpr size_t kInputBytes = 256 * 1024;
// Section bytes gathered before they are queued for the sink.
constexpr size_t kChunkBytes = 64 * 1024;
// Section bytes queued for the sink above which the link stops reading until
// the sink has caught up (the transport's own flow control and the protocol's
// window then hold the analyzer back).
constexpr size_t kBacklogHigh = 8 * 1024 * 1024;
// How long the I/O thread sleeps with nothing to do (the session wants a
// tick every few tens of milliseconds).
constexpr uint32_t kTickMs = 20;
// How long a new link waits for the last one to close its transport.
constexpr DWORD kPreviousLinkWaitMs = 5000;
// How long a stopping link tries to send its goodbye.
constexpr uint64_t kGoodbyeMs = 200;

proto::HostConfig ConfigFor(const ConnectionSettings& s) {
  if (s.method == kMethodSerial) return proto::SerialHostConfig(static_cast<uint32_t>(s.speed));
  return proto::HostConfig{};
}
}  // namespace

Connection::Connection(std::shared_ptr<Core> core, const ConnectionSettings& settings,
                       int32_t monitorMs, std::shared_ptr<Connection> previous)
    : core_(std::move(core)),
      settings_(settings),
      previous_(std::move(previous)),
      monitorMs_(monitorMs) {
  wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  commands_.reserve(32);
  work_.reserve(32);
}

Connection::~Connection() {
  if (wake_) CloseHandle(wake_);
  if (done_) CloseHandle(done_);
}

bool Connection::Start(const std::shared_ptr<Connection>& self) {
  if (!wake_ || !done_) return false;
  core_->LinkStarted();
  std::shared_ptr<Connection> keep = self;
  if (StartThread([keep] { keep->Run(); })) return true;
  core_->LinkEnded();
  return false;
}

int32_t Connection::Submit(Request* request) {
  {
    SrwGuard g(commandLock_);
    if (!accepting_) return kErrNotConnected;
    commands_.push_back({Command::Submit, CountedRef<Request>::Share(request), 0});
  }
  SetEvent(wake_);
  return kOk;
}

void Connection::Cancel(Request* request) {
  {
    SrwGuard g(commandLock_);
    if (!accepting_) return;
    commands_.push_back({Command::Cancel, CountedRef<Request>::Share(request), 0});
  }
  SetEvent(wake_);
}

void Connection::SetMonitorInterval(int32_t ms) {
  {
    SrwGuard g(commandLock_);
    if (!accepting_) return;
    commands_.push_back({Command::Monitor, {}, ms});
  }
  SetEvent(wake_);
}

void Connection::Stop() {
  stop_.store(true);
  SetEvent(wake_);
}

// ---- I/O thread ----

void Connection::Post(const Event& e) {
  FlushData();  // section bytes stay in order with the other events
  core_->Push(e);
}

void Connection::Complete(Request* r, int32_t result) {
  Event e = Event::Of(Event::Done, r);  // hands over the Submit reference
  e.result = result;
  Post(e);
}

void Connection::Track(uint32_t id, Request* r) {
  r->sessionId = id;
  open_.push_back({id, r});
}

Request* Connection::Find(uint32_t id) const {
  for (const Open& o : open_) {
    if (o.id == id) return o.request;
  }
  return nullptr;
}

Request* Connection::Untrack(uint32_t id) {
  for (size_t i = 0; i < open_.size(); ++i) {
    if (open_[i].id == id) {
      Request* r = open_[i].request;
      open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(i));
      return r;
    }
  }
  return nullptr;
}

void Connection::FlushData() {
  if (!pending_) return;
  Event e = Event::Of(Event::Data, pendingRequest_);
  e.chunk = pending_;
  pending_ = nullptr;
  pendingRequest_ = nullptr;
  core_->Push(e);
}

void Connection::CloseTransport() {
  transport_.reset();
}

void Connection::SendOutput() {
  while (transport_ && session_->OutputSize() > 0) {
    size_t sent = 0;
    int32_t r = transport_->Send(session_->OutputData(), session_->OutputSize(), &sent);
    session_->ConsumeOutput(sent);
    if (r < 0) {
      session_->TransportClosed(NowMs());
      CloseTransport();
      return;
    }
    if (sent == 0) return;  // full; the transport wakes Receive when there is room
  }
}

void Connection::Connect(Request* r) {
  if (session_->GetState() != proto::HostSession::State::Idle) {
    Complete(r, session_->GetState() == proto::HostSession::State::Connected ? kOk : kErrFail);
    return;
  }
  if (!transport_) {
    int32_t result = settings_.method == kMethodSerial
                         ? OpenSerial(settings_, &transport_)
                         : OpenTcp(settings_, wake_, stop_, &transport_);
    if (result < 0) {
      transport_.reset();
      Complete(r, result);
      return;
    }
  }
  core_->statusFlags.store(0);
  uint32_t id = 0;
  int32_t result = session_->Connect(NowMs(), &id);
  if (result < 0) {
    Complete(r, result);
    return;
  }
  Track(id, r);
}

void Connection::StartRequest(Request* r) {
  if (r->cancelled.load()) {
    Complete(r, kErrCancelled);
    return;
  }
  uint64_t now = NowMs();
  uint32_t id = 0;
  int32_t result = kErrInvalidArg;
  switch (r->requestType) {
    case kRequestConnect: Connect(r); return;
    case kRequestDisconnect:
      if (session_->GetState() == proto::HostSession::State::Idle) {
        Complete(r, kOk);  // not connected: nothing to undo
        return;
      }
      result = session_->Disconnect(now, &id);
      break;
    case kRequestKeyPress:
      result = session_->PressKey(static_cast<uint32_t>(r->dataCode), now, &id);
      break;
    case kRequestTransfer:
      result = session_->ReadSection(static_cast<uint32_t>(r->dataCode),
                                     static_cast<uint32_t>(r->sectionLimit), now, &id);
      break;
    default: break;
  }
  if (result < 0) {
    Complete(r, result);
    return;
  }
  Track(id, r);
}

void Connection::RunCommands() {
  {
    SrwGuard g(commandLock_);
    work_.swap(commands_);
  }
  for (Command& c : work_) {
    switch (c.kind) {
      case Command::Submit:
        StartRequest(c.request.Detach());  // the reference goes with the request
        break;
      case Command::Cancel:
        if (Find(c.request->sessionId) == c.request.get())
          session_->Cancel(c.request->sessionId, NowMs());
        c.request.Reset();
        break;
      case Command::Monitor:
        monitorMs_ = c.value;
        session_->SetMonitorInterval(c.value, NowMs());
        break;
    }
  }
  work_.clear();
}

void Connection::Run() {
  if (previous_) {
    WaitForSingleObject(previous_->done_, kPreviousLinkWaitMs);
    previous_.reset();
  }
  session_ = std::make_unique<proto::HostSession>(*this, ConfigFor(settings_));
  session_->SetMonitorInterval(monitorMs_, NowMs());
  input_.resize(kInputBytes);
  while (!stop_.load()) {
    RunCommands();
    if (stop_.load()) break;
    SendOutput();  // what the commands produced goes out before any wait
    if (!transport_) {
      FlushData();
      WaitForSingleObject(wake_, INFINITE);
      continue;
    }
    if (core_->DataBacklog() > kBacklogHigh) {
      // The sink is behind: read nothing until it has caught up. No tick
      // either: the analyzer's bytes are waiting in the transport, and its
      // silence is only judged after they have been read.
      WaitForSingleObject(wake_, 2);
      continue;
    }
    size_t got = 0;
    int32_t r = transport_->Receive(input_.data(), input_.size(), &got, kTickMs, wake_);
    if (got > 0) session_->Feed(input_.data(), got, NowMs());
    if (r < 0 && transport_) {
      session_->TransportClosed(NowMs());
      CloseTransport();
    }
    if (transport_) {
      session_->Tick(NowMs());
      SendOutput();
      if (transport_ && session_->TransportDone() && session_->OutputSize() == 0) CloseTransport();
    }
    FlushData();
  }
  Finish();
}

void Connection::Finish() {
  {
    SrwGuard g(commandLock_);
    accepting_ = false;
    work_.swap(commands_);
  }
  // Work that came in after Stop: nothing of it starts.
  for (Command& c : work_) {
    if (c.kind == Command::Submit) Complete(c.request.Detach(), kErrNotConnected);
  }
  work_.clear();
  if (session_) {
    uint64_t now = NowMs();
    if (transport_ && session_->GetState() == proto::HostSession::State::Connected) {
      uint32_t id = 0;
      session_->Disconnect(now, &id);  // its Done is nobody's: ignored
      uint64_t end = now + kGoodbyeMs;
      while (transport_ && session_->OutputSize() > 0 && NowMs() < end) {
        SendOutput();
        if (session_->OutputSize() > 0) Sleep(1);
      }
    }
    session_->TransportClosed(NowMs());
  }
  CloseTransport();
  for (Open& o : open_) Complete(o.request, kErrNotConnected);
  open_.clear();
  FlushData();
  SetEvent(done_);
  core_->LinkEnded();
}

// ---- session events (I/O thread) ----

void Connection::OnIdentity(const proto::AnalyzerIdentity& id) {
  // The status flags come with the identity; store them before the connect
  // completes, so a program that reads them on completion sees them.
  core_->statusFlags.store(session_->StatusFlags());
  Event e = Event::Of(Event::Identity);
  e.model = static_cast<int32_t>(id.model);
  e.detail = static_cast<int32_t>(id.detail);
  Post(e);
}

void Connection::OnLinkState(int32_t state) {
  Event e = Event::Of(Event::LinkState);
  e.state = state;
  Post(e);
}

void Connection::OnRequestDone(uint32_t id, proto::RequestKind, int32_t result) {
  Request* r = Untrack(id);
  if (r) Complete(r, result);  // ids of our own (a goodbye on Stop) have none
}

void Connection::OnProgress(uint32_t id, uint32_t position, uint32_t range) {
  if (Request* r = Find(id)) {
    Event e = Event::Of(Event::Progress, r);
    e.position = static_cast<int32_t>(position);
    e.range = static_cast<int32_t>(range);
    Post(e);
  }
}

int32_t Connection::OnData(uint32_t id, const uint8_t* data, uint32_t size) {
  Request* r = Find(id);
  if (!r) return 0;
  // The sink failed to store earlier bytes: end the section (the request's
  // result will be the sink's code, not this one).
  if (r->dataFailed.load()) return kErrFail;
  if (pending_ && pendingRequest_ != r) FlushData();
  if (!pending_) {
    pending_ = core_->TakeChunk();
    if (!pending_) return kErrOutOfMemory;
    pendingRequest_ = r;
  }
  pending_->bytes.insert(pending_->bytes.end(), data, data + size);
  if (pending_->bytes.size() >= kChunkBytes) FlushData();
  return 0;
}

void Connection::OnLinkLost() {
  // A link the program closes itself is not lost.
  if (!stop_.load()) Post(Event::Of(Event::LinkLost));
}

void Connection::OnStatusFlags(uint32_t flags) {
  core_->statusFlags.store(flags);
  Event e = Event::Of(Event::Status);
  e.flags = flags;
  Post(e);
}

void Connection::OnScreenChanged() {
  session_->CopyScreen(screen_, kScreenBytes);
  core_->StoreScreen(screen_);
  Post(Event::Of(Event::Screen));
}

}  // namespace ksvw::rmt
