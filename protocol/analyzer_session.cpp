#include "protocol/analyzer_session.h"

#include <algorithm>

#include "protocol/screen_pack.h"
#include "protocol/wire.h"

namespace ksvw::proto {

AnalyzerSession::AnalyzerSession(AnalyzerModel& model, const AnalyzerConfig& config)
    : model_(model), config_(config) {
  body_.reserve(kMaxPayload);
}

void AnalyzerSession::Log(const std::string& line) {
  if (log_) log_(line);
}

void AnalyzerSession::Feed(const uint8_t* data, size_t size, uint64_t nowMs) {
  wantsClose_ = false;
  channel_.Feed(data, size, nowMs, [&](const Frame& f, const Message& m) {
    if (logMessages_ && log_) {
      Log(std::string("<- ") + MessageName(f.type) + " seq " + std::to_string(f.seq) + " ack " +
          std::to_string(f.ack));
    }
    OnMessage(m, nowMs);
  });
  if (connected_ && channel_.Queued() > kMaxOutputBytes) GiveUpHost("asks for too much");
  Service(nowMs);
}

void AnalyzerSession::Tick(uint64_t nowMs) {
  model_.Advance(nowMs);
  if (connected_ && Elapsed(nowMs, channel_.LastRxMs()) >= silenceMs_) {
    Log("host silent, dropped");
    DropHost();
    wantsClose_ = true;
  } else if (connected_ && channel_.OutputStuck(nowMs, silenceMs_)) {
    GiveUpHost("does not read");
  }
  Service(nowMs);
  if (connected_) channel_.Tick(nowMs);
}

void AnalyzerSession::TransportClosed(uint64_t) {
  if (connected_) DropHost();
  channel_.ClearOutput();
  channel_.ResetDecoder();
}

void AnalyzerSession::GiveUpHost(const char* why) {
  Log(std::string("host ") + why + ", dropped");
  DropHost();
  channel_.ClearOutput();
  wantsClose_ = true;
}

void AnalyzerSession::DropHost() {
  if (sectionActive_) sectionActive_ = false;
  connected_ = false;
  monitorMs_ = -1;
  channel_.Deactivate();
  model_.ReleaseHost();
}

void AnalyzerSession::SendWelcome() {
  AnalyzerIdentity id = model_.Identity();
  Welcome w;
  w.nonce = nonce_;
  w.model = id.model;
  w.detail = id.detail;
  w.board = id.board;
  w.statusFlags = model_.StatusFlags();
  w.maxPayload = config_.maxPayload;
  w.window = config_.window;
  channel_.SendUnsequenced(w);
}

void AnalyzerSession::OnHello(const Hello& h, uint64_t nowMs) {
  if (connected_ && h.nonce == nonce_) {
    SendWelcome();  // our answer was lost or is late; nothing else changes
    return;
  }
  if (connected_) {
    Log("new host on the line, previous one dropped");
    DropHost();
  }
  nonce_ = h.nonce;
  if (h.version < kMinProtocolVersion || h.minVersion > kProtocolVersion) {
    Log("hello refused: protocol version");
    channel_.SendUnsequenced(Refuse{kProtocolVersion, h.nonce, kErrVersionMismatch});
    wantsClose_ = true;
    return;
  }
  int32_t r = model_.AcceptHost();
  if (r == kIgnoreHello) return;
  if (r < 0) {
    Log("hello refused with " + Hex(static_cast<uint32_t>(r)));
    channel_.SendUnsequenced(Refuse{kProtocolVersion, h.nonce, r});
    wantsClose_ = true;
    return;
  }
  payload_ = std::clamp<uint16_t>(h.maxPayload, 64, kMaxPayload);
  silenceMs_ = std::clamp<uint32_t>(h.silenceMs, 1000, 600000);
  channel_.Restart(h.window, std::clamp<uint32_t>(h.rtoMs, 50, 60000), nowMs);
  connected_ = true;
  monitorMs_ = -1;
  sectionActive_ = false;
  pushedFlags_ = model_.StatusFlags();
  SendWelcome();
  Log("host taken: payload " + std::to_string(payload_) + ", window " + std::to_string(h.window) +
      ", retransmit after " + std::to_string(h.rtoMs) + " ms");
}

void AnalyzerSession::PushScreen() {
  pushedScreenVersion_ = model_.ScreenVersion();
  PackScreen(model_.Screen(), kScreenBytes, packed_);
  if (packed_.size() < kScreenBytes) {
    channel_.SendSequenced(ScreenPacked{packed_.data(), static_cast<uint32_t>(packed_.size())});
  } else {
    channel_.SendSequenced(proto::Screen{model_.Screen()});
  }
}

void AnalyzerSession::EndSection(int32_t result) {
  if (log_) {
    Log("section " + Hex(section_) + " ended: " + std::to_string(sent_) + " of " +
        std::to_string(total_) + " bytes, result " + Hex(static_cast<uint32_t>(result)));
  }
  channel_.SendSequenced(SectionEnd{sectionId_, result, sent_});
  sectionActive_ = false;
}

void AnalyzerSession::OnMessage(const Message& m, uint64_t nowMs) {
  if (const auto* h = std::get_if<Hello>(&m)) {
    OnHello(*h, nowMs);
    return;
  }
  if (!connected_) return;
  if (const auto* p = std::get_if<Ping>(&m)) {
    if (!channel_.OutputBackedUp()) channel_.SendUnsequenced(Pong{p->token});
  } else if (std::holds_alternative<Goodbye>(m)) {
    Log("host said goodbye");
    channel_.SendUnsequenced(Goodbye{0});
    DropHost();
    wantsClose_ = true;
  } else if (const auto* k = std::get_if<KeyPress>(&m)) {
    int32_t r = model_.PressKey(k->code, nowMs);
    if (log_) Log("key " + Hex(k->code) + " -> " + Hex(static_cast<uint32_t>(r)));
    channel_.SendSequenced(KeyDone{k->requestId, r});
    // The new screen goes out right behind the answer, not at the next check.
    if (monitorMs_ > 0 && model_.ScreenVersion() != pushedScreenVersion_) PushScreen();
  } else if (const auto* mon = std::get_if<Monitor>(&m)) {
    Log("monitor interval " + std::to_string(mon->intervalMs));
    if (mon->intervalMs > 0) {
      monitorMs_ = mon->intervalMs;
      nextScreenCheckMs_ = nowMs + static_cast<uint32_t>(monitorMs_);
      PushScreen();
    } else {
      monitorMs_ = -1;
    }
  } else if (const auto* r = std::get_if<SectionRead>(&m)) {
    if (sectionActive_) EndSection(kErrCancelled);
    sectionId_ = r->requestId;
    section_ = r->section;
    sent_ = lastProgress_ = total_ = 0;
    uint32_t total = 0;
    int32_t result = model_.OpenSection(r->section, r->limit, &total);
    if (result >= 0 && total > r->limit) result = kErrInsufficientBuffer;
    if (result < 0) {
      Log("section " + Hex(r->section) + " refused with " + Hex(static_cast<uint32_t>(result)));
      channel_.SendSequenced(SectionEnd{r->requestId, result, 0});
      return;
    }
    total_ = total;
    sectionActive_ = true;
    Log("section " + Hex(r->section) + ": " + std::to_string(total) + " bytes");
    channel_.SendSequenced(SectionBegin{r->requestId, r->section, total});
  } else if (const auto* c = std::get_if<Cancel>(&m)) {
    if (sectionActive_ && c->requestId == sectionId_) {
      Log("section cancelled");
      EndSection(kErrCancelled);
    }
  }
}

void AnalyzerSession::Service(uint64_t nowMs) {
  if (!connected_) return;
  uint32_t flags = model_.StatusFlags();
  if (flags != pushedFlags_) {
    pushedFlags_ = flags;
    channel_.SendSequenced(Status{flags});
  }
  if (monitorMs_ > 0 && nowMs >= nextScreenCheckMs_) {
    nextScreenCheckMs_ = nowMs + static_cast<uint32_t>(monitorMs_);
    if (model_.ScreenVersion() != pushedScreenVersion_) PushScreen();
  }
  Pump();
}

void AnalyzerSession::Pump() {
  uint32_t chunk = static_cast<uint32_t>(payload_ - kSectionDataPrefix);
  while (sectionActive_ && channel_.WindowOpen() && channel_.OutputSize() < config_.lowWaterBytes) {
    uint32_t n = std::min(chunk, total_ - sent_);
    if (n > 0) {
      body_.resize(kSectionDataPrefix + n);
      StoreLE32(body_.data(), sectionId_);
      StoreLE32(body_.data() + 4, sent_);
      if (!model_.ReadSection(section_, sent_, body_.data() + kSectionDataPrefix, n)) {
        EndSection(kErrFail);
        return;
      }
      channel_.SendSequencedBody(kMsgSectionData, body_.data(), body_.size());
      sent_ += n;
    }
    if (sent_ == total_ || sent_ - lastProgress_ >= config_.progressStep) {
      lastProgress_ = sent_;
      channel_.SendSequenced(Progress{sectionId_, sent_, total_});
    }
    if (sent_ == total_) EndSection(kOk);
  }
}

}  // namespace ksvw::proto
