#include "protocol/host_session.h"

#include <algorithm>
#include <cstring>

#include "protocol/screen_pack.h"

namespace ksvw::proto {

HostConfig SerialHostConfig(uint32_t bitsPerSecond) {
  HostConfig c;
  uint32_t bytesPerSecond = std::max<uint32_t>(bitsPerSecond / 10, 100);
  c.maxPayload = static_cast<uint16_t>(std::clamp<uint32_t>(bytesPerSecond / 2, 256, kMaxPayload));
  uint32_t frameMs = (c.maxPayload + 64u) * 1000u / bytesPerSecond;
  // A window of frames that fills about 0.6 s of the line, at least three.
  c.window = static_cast<uint16_t>(
      std::clamp<uint32_t>(bytesPerSecond * 6 / 10 / c.maxPayload, 3, kMaxWindow));
  c.hostWindow = 4;
  uint32_t windowMs = frameMs * c.window;
  c.analyzerRtoMs = windowMs + 1000;
  c.rtoMs = 1000 + 64 * 4 * 1000 / bytesPerSecond + frameMs;
  c.linkTimeoutMs = std::max<uint32_t>(3000, 2 * frameMs + 1500);
  c.connectTimeoutMs = 3000;
  c.analyzerSilenceMs = std::max<uint32_t>(10000, 3 * c.linkTimeoutMs);
  // A frame lost on the way costs the analyzer's retransmission timeout.
  c.requestIdleMs = std::max<uint32_t>(5000, c.analyzerRtoMs + 2 * frameMs + 1000);
  return c;
}

HostSession::HostSession(HostEvents& events, const HostConfig& config)
    : events_(events), config_(config) {
  config_.maxPayload = std::clamp<uint16_t>(config_.maxPayload, 64, kMaxPayload);
}

uint32_t HostSession::NextId() {
  if (++lastId_ == 0) ++lastId_;
  return lastId_;
}

void HostSession::SendHello(uint64_t nowMs) {
  Hello h;
  h.nonce = nonce_;
  h.maxPayload = config_.maxPayload;
  h.window = config_.window;
  h.rtoMs = config_.analyzerRtoMs;
  h.silenceMs = config_.analyzerSilenceMs;
  channel_.SendUnsequenced(h);
  lastHelloMs_ = nowMs;
}

int32_t HostSession::Connect(uint64_t nowMs, uint32_t* requestId) {
  if (!requestId) return kErrPointer;
  if (state_ != State::Idle) return kErrFail;
  *requestId = connectId_ = NextId();
  // A fresh nonce tells this handshake's answers from a late answer to an
  // earlier one.
  nonce_ = static_cast<uint32_t>(nowMs * 2654435761u) ^ (connectId_ * 0x9E3779B9u) ^ nonce_;
  state_ = State::Connecting;
  transportDone_ = false;
  phaseStartMs_ = nowMs;
  channel_.ClearOutput();
  channel_.ResetDecoder();
  channel_.Restart(config_.hostWindow, config_.rtoMs, nowMs);
  channel_.SendDelimiter();
  SendHello(nowMs);
  return kOk;
}

int32_t HostSession::Disconnect(uint64_t nowMs, uint32_t* requestId) {
  if (!requestId) return kErrPointer;
  if (state_ == State::Idle || state_ == State::Disconnecting) return kErrNotConnected;
  channel_.Touch(nowMs);
  *requestId = disconnectId_ = NextId();
  if (state_ == State::Connecting) {
    // Abandon the handshake: the connect ends as cancelled.
    Finish(connectId_, RequestKind::Connect, kErrCancelled);
    connectId_ = 0;
  } else {
    FailOutstanding(kErrNotConnected);
    eventQueue_.push_back({Event::LinkState, 0, RequestKind::Connect, 0});
  }
  state_ = State::Disconnecting;
  phaseStartMs_ = nowMs;
  channel_.SendUnsequenced(Goodbye{0});
  return kOk;
}

int32_t HostSession::PressKey(uint32_t code, uint64_t nowMs, uint32_t* requestId) {
  if (!requestId) return kErrPointer;
  if (state_ != State::Connected) return kErrNotConnected;
  channel_.Touch(nowMs);
  *requestId = NextId();
  if (pendingKeys_.empty()) keyClockMs_ = nowMs;
  pendingKeys_.push_back(*requestId);
  channel_.SendSequenced(KeyPress{*requestId, code});
  return kOk;
}

int32_t HostSession::ReadSection(uint32_t section, uint32_t limit, uint64_t nowMs,
                                 uint32_t* requestId) {
  if (!requestId) return kErrPointer;
  if (state_ != State::Connected) return kErrNotConnected;
  if (section_.active) return kErrFail;
  channel_.Touch(nowMs);
  *requestId = NextId();
  section_ = SectionState{};
  section_.active = true;
  section_.id = *requestId;
  section_.section = section;
  section_.limit = limit;
  section_.lastDataMs = nowMs;
  channel_.SendSequenced(SectionRead{*requestId, section, limit});
  return kOk;
}

int32_t HostSession::Cancel(uint32_t requestId, uint64_t nowMs) {
  auto key = std::find(pendingKeys_.begin(), pendingKeys_.end(), requestId);
  if (key != pendingKeys_.end()) {
    // The analyzer still runs the key; its late completion finds no request.
    if (key == pendingKeys_.begin()) keyClockMs_ = nowMs;
    pendingKeys_.erase(key);
    Finish(requestId, RequestKind::KeyPress, kErrCancelled);
    return kOk;
  }
  if (!section_.active || section_.id != requestId) return 1;
  channel_.Touch(nowMs);
  FailSection(kErrCancelled, true);
  return kOk;
}

int32_t HostSession::SetMonitorInterval(int32_t intervalMs, uint64_t nowMs) {
  monitorMs_ = intervalMs > 0 ? intervalMs : -1;
  if (state_ == State::Connected) {
    channel_.Touch(nowMs);
    channel_.SendSequenced(Monitor{monitorMs_});
  }
  return kOk;
}

int32_t HostSession::CopyScreen(uint8_t* buffer, uint32_t length) const {
  if (!buffer) return kErrInvalidArg;
  std::memcpy(buffer, screen_.data(), std::min<size_t>(length, kScreenBytes));
  if (length > kScreenBytes) std::memset(buffer + kScreenBytes, 0, length - kScreenBytes);
  return kOk;
}

void HostSession::Finish(uint32_t id, RequestKind kind, int32_t result) {
  Event e{Event::Done, id, kind, result};
  eventQueue_.push_back(e);
}

void HostSession::FailSection(int32_t result, bool tellAnalyzer) {
  if (!section_.active) return;
  if (tellAnalyzer && state_ == State::Connected)
    channel_.SendSequenced(proto::Cancel{section_.id});
  section_.active = false;
  Finish(section_.id, RequestKind::Section, result);
}

void HostSession::FailOutstanding(int32_t result) {
  for (uint32_t id : pendingKeys_) Finish(id, RequestKind::KeyPress, result);
  pendingKeys_.clear();
  FailSection(result, false);
}

void HostSession::EndSession() {
  state_ = State::Idle;
  channel_.Deactivate();
  transportDone_ = true;
}

void HostSession::LoseLink() {
  bool wasConnected = state_ == State::Connected;
  EndSession();
  // Nothing more is said to a lost analyzer; an analyzer that does not read
  // must not keep the transport open either.
  channel_.ClearOutput();
  if (wasConnected) {
    eventQueue_.push_back({Event::LinkState, 0, RequestKind::Connect, 0});
    eventQueue_.push_back({Event::LinkLost});
  }
  FailOutstanding(kErrNotConnected);
}

void HostSession::Feed(const uint8_t* data, size_t size, uint64_t nowMs) {
  if (state_ == State::Idle) return;  // no session: nothing to answer or acknowledge
  channel_.Feed(data, size, nowMs, [&](const Frame&, const Message& m) { OnMessage(m, nowMs); });
  if (state_ == State::Connected && channel_.Queued() > kMaxOutputBytes) LoseLink();
  Dispatch();
}

void HostSession::OnSectionData(const SectionData& d, uint64_t nowMs) {
  if (!section_.active || d.requestId != section_.id) return;  // late data of a cancelled read
  if (!section_.begun || d.offset != section_.received ||
      d.size > section_.total - section_.received) {
    FailSection(kErrFail, true);
    return;
  }
  section_.received += d.size;
  section_.lastDataMs = nowMs;
  int32_t r = events_.OnData(section_.id, d.data, d.size);
  if (r < 0) FailSection(r, true);
}

void HostSession::OnMessage(const Message& m, uint64_t nowMs) {
  if (const auto* w = std::get_if<Welcome>(&m)) {
    if (state_ != State::Connecting || w->nonce != nonce_) return;
    if (w->version < kMinProtocolVersion || w->version > kProtocolVersion) {
      channel_.SendUnsequenced(Goodbye{kErrVersionMismatch});
      EndSession();
      Finish(connectId_, RequestKind::Connect, kErrVersionMismatch);
      return;
    }
    identity_ = AnalyzerIdentity{w->model, w->detail, w->board, w->version};
    statusFlags_ = w->statusFlags;
    state_ = State::Connected;
    channel_.Restart(std::min<uint16_t>(config_.hostWindow, w->window), config_.rtoMs, nowMs);
    lastPingMs_ = nowMs;
    eventQueue_.push_back({Event::Identity});
    eventQueue_.push_back({Event::LinkState, 0, RequestKind::Connect, 1});
    Finish(connectId_, RequestKind::Connect, kOk);
    eventQueue_.push_back({.kind = Event::Status, .flags = statusFlags_});
    if (monitorMs_ > 0) channel_.SendSequenced(Monitor{monitorMs_});
    return;
  }
  if (const auto* r = std::get_if<Refuse>(&m)) {
    if (state_ != State::Connecting || r->nonce != nonce_) return;
    EndSession();
    Finish(connectId_, RequestKind::Connect, r->code < 0 ? r->code : kErrFail);
    return;
  }
  if (state_ == State::Disconnecting) {
    if (std::holds_alternative<Goodbye>(m)) {
      EndSession();
      Finish(disconnectId_, RequestKind::Disconnect, kOk);
    }
    return;
  }
  if (state_ != State::Connected) return;
  if (const auto* p = std::get_if<Ping>(&m)) {
    if (!channel_.OutputBackedUp()) channel_.SendUnsequenced(Pong{p->token});
  } else if (std::holds_alternative<Goodbye>(m)) {
    LoseLink();
  } else if (const auto* k = std::get_if<KeyDone>(&m)) {
    auto it = std::find(pendingKeys_.begin(), pendingKeys_.end(), k->requestId);
    if (it != pendingKeys_.end()) {
      pendingKeys_.erase(it);
      keyClockMs_ = nowMs;
      Finish(k->requestId, RequestKind::KeyPress, k->result);
    }
  } else if (const auto* s = std::get_if<Screen>(&m)) {
    std::memcpy(screen_.data(), s->image, kScreenBytes);
    QueueLatest(&screenEvent_, {Event::Screen});
  } else if (const auto* sp = std::get_if<ScreenPacked>(&m)) {
    std::array<uint8_t, kScreenBytes> image;
    if (UnpackScreen(sp->data, sp->size, image.data(), kScreenBytes)) {
      screen_ = image;
      QueueLatest(&screenEvent_, {Event::Screen});
    }
  } else if (const auto* st = std::get_if<Status>(&m)) {
    statusFlags_ = st->flags;
    QueueLatest(&statusEvent_, {.kind = Event::Status, .flags = st->flags});
  } else if (const auto* b = std::get_if<SectionBegin>(&m)) {
    if (!section_.active || b->requestId != section_.id || section_.begun) return;
    if (b->section != section_.section) {
      FailSection(kErrFail, true);
    } else if (b->total > section_.limit) {
      FailSection(kErrInsufficientBuffer, true);
    } else {
      section_.begun = true;
      section_.total = b->total;
      section_.lastDataMs = nowMs;
    }
  } else if (const auto* d = std::get_if<SectionData>(&m)) {
    OnSectionData(*d, nowMs);
  } else if (const auto* pr = std::get_if<Progress>(&m)) {
    OnProgress(*pr, nowMs);
  } else if (const auto* e = std::get_if<SectionEnd>(&m)) {
    if (!section_.active || e->requestId != section_.id) return;
    if (section_.progressHeld) QueueProgress(nowMs);  // the last report is never lost
    int32_t result = e->result;
    if (result >= 0 && (!section_.begun || section_.received != section_.total)) result = kErrFail;
    section_.active = false;
    Finish(section_.id, RequestKind::Section, result);
  }
}

void HostSession::OnProgress(const Progress& p, uint64_t nowMs) {
  if (!section_.active || p.requestId != section_.id) return;
  section_.progressHeld = true;
  section_.heldPosition = p.position;
  section_.heldRange = p.range;
  if (!section_.progressSent || Elapsed(nowMs, section_.lastProgressMs) >= kProgressIntervalMs)
    QueueProgress(nowMs);
}

void HostSession::QueueProgress(uint64_t nowMs) {
  section_.progressHeld = false;
  section_.progressSent = true;
  section_.lastProgressMs = nowMs;
  eventQueue_.push_back({.kind = Event::Progress,
                         .id = section_.id,
                         .request = RequestKind::Section,
                         .position = section_.heldPosition,
                         .range = section_.heldRange});
}

void HostSession::QueueLatest(int* slot, const Event& e) {
  if (*slot >= 0) {
    eventQueue_[static_cast<size_t>(*slot)] = e;  // not delivered yet: the newer value rides on it
    return;
  }
  *slot = static_cast<int>(eventQueue_.size());
  eventQueue_.push_back(e);
}

void HostSession::CheckDeadlines(uint64_t nowMs) {
  if (section_.active) {
    if (Elapsed(nowMs, section_.lastDataMs) >= config_.requestIdleMs) {
      FailSection(kErrTimeout, true);
    } else if (section_.progressHeld &&
               Elapsed(nowMs, section_.lastProgressMs) >= kProgressIntervalMs) {
      QueueProgress(nowMs);
    }
  }
  if (!pendingKeys_.empty() && Elapsed(nowMs, keyClockMs_) >= config_.requestIdleMs) {
    // Keys complete in order: the oldest is the one the analyzer owes.
    uint32_t id = pendingKeys_.front();
    pendingKeys_.erase(pendingKeys_.begin());
    keyClockMs_ = nowMs;
    Finish(id, RequestKind::KeyPress, kErrTimeout);
  }
}

void HostSession::Tick(uint64_t nowMs) {
  switch (state_) {
    case State::Idle: break;
    case State::Connecting:
      if (Elapsed(nowMs, phaseStartMs_) >= config_.connectTimeoutMs) {
        EndSession();
        channel_.ClearOutput();
        Finish(connectId_, RequestKind::Connect, kErrTimeout);
      } else if (Elapsed(nowMs, lastHelloMs_) >= config_.helloRetryMs) {
        SendHello(nowMs);
      }
      break;
    case State::Disconnecting:
      if (Elapsed(nowMs, phaseStartMs_) >= config_.disconnectTimeoutMs) {
        EndSession();
        channel_.ClearOutput();
        Finish(disconnectId_, RequestKind::Disconnect, kOk);
      }
      break;
    case State::Connected: {
      uint64_t silent = Elapsed(nowMs, channel_.LastRxMs());
      if (silent >= config_.linkTimeoutMs || channel_.OutputStuck(nowMs, config_.linkTimeoutMs)) {
        LoseLink();
        break;
      }
      CheckDeadlines(nowMs);
      if (silent >= config_.pingIntervalMs &&
          Elapsed(nowMs, lastPingMs_) >= config_.pingIntervalMs) {
        channel_.SendUnsequenced(Ping{++pingToken_});
        lastPingMs_ = nowMs;
      }
      channel_.Tick(nowMs);
      break;
    }
  }
  Dispatch();
}

void HostSession::TransportClosed(uint64_t nowMs) {
  channel_.Touch(nowMs);
  switch (state_) {
    case State::Idle: break;
    case State::Connecting:
      EndSession();
      Finish(connectId_, RequestKind::Connect, kErrNotConnected);
      break;
    case State::Disconnecting:
      EndSession();
      Finish(disconnectId_, RequestKind::Disconnect, kOk);
      break;
    case State::Connected: LoseLink(); break;
  }
  channel_.ClearOutput();
  Dispatch();
}

void HostSession::Dispatch() {
  if (dispatching_) return;  // a callback's own events go out in this loop
  dispatching_ = true;
  statusEvent_ = screenEvent_ = -1;  // what comes in from now on is news
  for (size_t i = 0; i < eventQueue_.size(); ++i) {
    Event e = eventQueue_[i];
    switch (e.kind) {
      case Event::Identity: events_.OnIdentity(identity_); break;
      case Event::LinkState: events_.OnLinkState(e.value); break;
      case Event::Done: events_.OnRequestDone(e.id, e.request, e.value); break;
      case Event::Progress: events_.OnProgress(e.id, e.position, e.range); break;
      case Event::LinkLost: events_.OnLinkLost(); break;
      case Event::Status: events_.OnStatusFlags(e.flags); break;
      case Event::Screen: events_.OnScreenChanged(); break;
    }
  }
  eventQueue_.clear();
  dispatching_ = false;
}

}  // namespace ksvw::proto
