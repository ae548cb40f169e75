#include "protocol/messages.h"

#include <cstdio>

#include "protocol/wire.h"

namespace ksvw::proto {

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

bool IsSequencedType(uint8_t type) {
  return type >= kMsgKeyPress;
}

bool ParseMessage(const Frame& frame, Message& out) {
  bool sequenced = (frame.flags & kFlagSequenced) != 0;
  if (sequenced != IsSequencedType(frame.type)) return false;
  BodyReader r(frame.payload, frame.size);
  // A braced list reads its fields in wire order: list-initialisation
  // evaluates its elements left to right.
  switch (frame.type) {
    case kMsgHello: {
      Hello m;
      m.version = r.U16();
      m.minVersion = r.U16();
      m.nonce = r.U32();
      m.maxPayload = r.U16();
      m.window = r.U16();
      m.rtoMs = r.U32();
      m.silenceMs = r.U32();
      out = m;
      break;
    }
    case kMsgWelcome: {
      Welcome m;
      m.version = r.U16();
      r.U16();
      m.nonce = r.U32();
      m.model = r.U32();
      m.detail = r.U32();
      m.board = r.U32();
      m.statusFlags = r.U32();
      m.maxPayload = r.U16();
      m.window = r.U16();
      out = m;
      break;
    }
    case kMsgRefuse: {
      Refuse m;
      m.version = r.U16();
      r.U16();
      m.nonce = r.U32();
      m.code = r.I32();
      out = m;
      break;
    }
    case kMsgPing: out = Ping{r.U32()}; break;
    case kMsgPong: out = Pong{r.U32()}; break;
    case kMsgAck: out = AckOnly{}; break;
    case kMsgGoodbye: out = Goodbye{r.I32()}; break;
    case kMsgKeyPress: out = KeyPress{r.U32(), r.U32()}; break;
    case kMsgKeyDone: out = KeyDone{r.U32(), r.I32()}; break;
    case kMsgMonitor: out = Monitor{r.I32()}; break;
    case kMsgScreen: out = Screen{r.Bytes(kScreenBytes)}; break;
    case kMsgStatus: out = Status{r.U32()}; break;
    case kMsgScreenPacked: {
      ScreenPacked m;
      size_t n = 0;
      m.data = r.Rest(n);
      m.size = static_cast<uint32_t>(n);
      if (n == 0) return false;
      out = m;
      break;
    }
    case kMsgSectionRead: out = SectionRead{r.U32(), r.U32(), r.U32()}; break;
    case kMsgSectionBegin: out = SectionBegin{r.U32(), r.U32(), r.U32()}; break;
    case kMsgSectionData: {
      SectionData m;
      m.requestId = r.U32();
      m.offset = r.U32();
      size_t n = 0;
      m.data = r.Rest(n);
      m.size = static_cast<uint32_t>(n);
      if (n == 0) return false;
      out = m;
      break;
    }
    case kMsgProgress: out = Progress{r.U32(), r.U32(), r.U32()}; break;
    case kMsgSectionEnd: out = SectionEnd{r.U32(), r.I32(), r.U32()}; break;
    case kMsgCancel: out = Cancel{r.U32()}; break;
    default: return false;
  }
  return r.Done();
}

namespace {

struct BodyEncoder {
  std::vector<uint8_t>& body;
  uint8_t operator()(const Hello& m) {
    BodyWriter(body)
        .U16(m.version)
        .U16(m.minVersion)
        .U32(m.nonce)
        .U16(m.maxPayload)
        .U16(m.window)
        .U32(m.rtoMs)
        .U32(m.silenceMs);
    return kMsgHello;
  }
  uint8_t operator()(const Welcome& m) {
    BodyWriter(body)
        .U16(m.version)
        .U16(0)
        .U32(m.nonce)
        .U32(m.model)
        .U32(m.detail)
        .U32(m.board)
        .U32(m.statusFlags)
        .U16(m.maxPayload)
        .U16(m.window);
    return kMsgWelcome;
  }
  uint8_t operator()(const Refuse& m) {
    BodyWriter(body).U16(m.version).U16(0).U32(m.nonce).I32(m.code);
    return kMsgRefuse;
  }
  uint8_t operator()(const Ping& m) {
    BodyWriter(body).U32(m.token);
    return kMsgPing;
  }
  uint8_t operator()(const Pong& m) {
    BodyWriter(body).U32(m.token);
    return kMsgPong;
  }
  uint8_t operator()(const AckOnly&) {
    body.clear();
    return kMsgAck;
  }
  uint8_t operator()(const Goodbye& m) {
    BodyWriter(body).I32(m.reason);
    return kMsgGoodbye;
  }
  uint8_t operator()(const KeyPress& m) {
    BodyWriter(body).U32(m.requestId).U32(m.code);
    return kMsgKeyPress;
  }
  uint8_t operator()(const KeyDone& m) {
    BodyWriter(body).U32(m.requestId).I32(m.result);
    return kMsgKeyDone;
  }
  uint8_t operator()(const Monitor& m) {
    BodyWriter(body).I32(m.intervalMs);
    return kMsgMonitor;
  }
  uint8_t operator()(const Screen& m) {
    BodyWriter w(body);
    if (m.image) w.Bytes(m.image, kScreenBytes);
    return kMsgScreen;
  }
  uint8_t operator()(const Status& m) {
    BodyWriter(body).U32(m.flags);
    return kMsgStatus;
  }
  uint8_t operator()(const ScreenPacked& m) {
    BodyWriter w(body);
    if (m.data) w.Bytes(m.data, m.size);
    return kMsgScreenPacked;
  }
  uint8_t operator()(const SectionRead& m) {
    BodyWriter(body).U32(m.requestId).U32(m.section).U32(m.limit);
    return kMsgSectionRead;
  }
  uint8_t operator()(const SectionBegin& m) {
    BodyWriter(body).U32(m.requestId).U32(m.section).U32(m.total);
    return kMsgSectionBegin;
  }
  uint8_t operator()(const SectionData& m) {
    BodyWriter w(body);
    w.U32(m.requestId).U32(m.offset);
    if (m.data) w.Bytes(m.data, m.size);
    return kMsgSectionData;
  }
  uint8_t operator()(const Progress& m) {
    BodyWriter(body).U32(m.requestId).U32(m.position).U32(m.range);
    return kMsgProgress;
  }
  uint8_t operator()(const SectionEnd& m) {
    BodyWriter(body).U32(m.requestId).I32(m.result).U32(m.sent);
    return kMsgSectionEnd;
  }
  uint8_t operator()(const Cancel& m) {
    BodyWriter(body).U32(m.requestId);
    return kMsgCancel;
  }
};

}  // namespace

uint8_t EncodeBody(const Message& m, std::vector<uint8_t>& body) {
  return std::visit(BodyEncoder{body}, m);
}

const char* MessageName(uint8_t type) {
  switch (type) {
    case kMsgHello: return "Hello";
    case kMsgWelcome: return "Welcome";
    case kMsgRefuse: return "Refuse";
    case kMsgPing: return "Ping";
    case kMsgPong: return "Pong";
    case kMsgAck: return "Ack";
    case kMsgGoodbye: return "Goodbye";
    case kMsgKeyPress: return "KeyPress";
    case kMsgKeyDone: return "KeyDone";
    case kMsgMonitor: return "Monitor";
    case kMsgScreen: return "Screen";
    case kMsgStatus: return "Status";
    case kMsgScreenPacked: return "ScreenPacked";
    case kMsgSectionRead: return "SectionRead";
    case kMsgSectionBegin: return "SectionBegin";
    case kMsgSectionData: return "SectionData";
    case kMsgProgress: return "Progress";
    case kMsgSectionEnd: return "SectionEnd";
    case kMsgCancel: return "Cancel";
    default: return "Unknown";
  }
}

}  // namespace ksvw::proto
