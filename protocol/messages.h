// Messages of the analyzer link protocol and their bodies.
//
// Every message travels in one frame (frame.h); the frame's type byte is the
// message type. Bodies are little-endian, fixed layouts except where a
// trailing byte run is noted. A body that is shorter or longer than its
// layout is rejected as a whole.
//
// Handshake and link upkeep (unsequenced: not retransmitted, not ordered):
//   0x01 Hello        host -> analyzer   u16 version, u16 minVersion, u32 nonce,
//                                        u16 maxPayload, u16 window, u32 rtoMs,
//                                        u32 silenceMs
//   0x02 Welcome      analyzer -> host   u16 version, u16 0, u32 nonce, u32 model,
//                                        u32 detail, u8[4] board tag, u32 status flags,
//                                        u16 maxPayload, u16 window
//   0x03 Refuse       analyzer -> host   u16 version, u16 0, u32 nonce, i32 code
//   0x04 Ping / 0x05 Pong                u32 token (a pong echoes its ping's token)
//   0x06 Ack          either             empty (the header's ack field, NAK flag)
//   0x07 Goodbye      either             i32 reason (0 = normal)
// Requests and reports (sequenced: reliable and in order):
//   0x10 KeyPress     host -> analyzer   u32 requestId, u32 key code
//   0x11 KeyDone      analyzer -> host   u32 requestId, i32 result
//   0x12 Monitor      host -> analyzer   i32 interval ms (> 0 starts, <= 0 stops)
//   0x13 Screen       analyzer -> host   u8[1920] LCD image
//   0x14 Status       analyzer -> host   u32 status flags
//   0x15 ScreenPacked analyzer -> host   u8[1..] LCD image, run-length packed
//                                        (screen_pack.h); sent instead of
//                                        Screen whenever it is smaller
//   0x20 SectionRead  host -> analyzer   u32 requestId, u32 section, u32 limit
//   0x21 SectionBegin analyzer -> host   u32 requestId, u32 section, u32 total size
//   0x22 SectionData  analyzer -> host   u32 requestId, u32 offset, u8[1..] data
//   0x23 Progress     analyzer -> host   u32 requestId, u32 position, u32 range
//   0x24 SectionEnd   analyzer -> host   u32 requestId, i32 result, u32 bytes sent
//   0x25 Cancel       host -> analyzer   u32 requestId
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "common/analyzer.h"
#include "protocol/frame.h"

namespace ksvw::proto {

// "0x…" in upper-case hex: how ids, section numbers and result codes appear
// in the log lines of the simulator and its client.
std::string Hex(uint32_t v);

inline constexpr uint16_t kProtocolVersion = 1;
inline constexpr uint16_t kMinProtocolVersion = 1;
// Bytes of a SectionData body before the data.
inline constexpr size_t kSectionDataPrefix = 8;

enum MessageType : uint8_t {
  kMsgHello = 0x01,
  kMsgWelcome = 0x02,
  kMsgRefuse = 0x03,
  kMsgPing = 0x04,
  kMsgPong = 0x05,
  kMsgAck = 0x06,
  kMsgGoodbye = 0x07,
  kMsgKeyPress = 0x10,
  kMsgKeyDone = 0x11,
  kMsgMonitor = 0x12,
  kMsgScreen = 0x13,
  kMsgStatus = 0x14,
  kMsgScreenPacked = 0x15,
  kMsgSectionRead = 0x20,
  kMsgSectionBegin = 0x21,
  kMsgSectionData = 0x22,
  kMsgProgress = 0x23,
  kMsgSectionEnd = 0x24,
  kMsgCancel = 0x25,
};

// True for the types that travel sequenced (reliable, in order).
bool IsSequencedType(uint8_t type);

struct Hello {
  uint16_t version = kProtocolVersion;
  uint16_t minVersion = kMinProtocolVersion;
  uint32_t nonce = 0;
  uint16_t maxPayload = kMaxPayload;  // largest payload the host takes
  uint16_t window = 16;               // sequenced frames the analyzer may have unacknowledged
  uint32_t rtoMs = 1000;              // the analyzer's retransmission timeout
  uint32_t silenceMs = 10000;         // the analyzer drops a host silent this long
};
struct Welcome {
  uint16_t version = kProtocolVersion;
  uint32_t nonce = 0;
  uint32_t model = 0;
  uint32_t detail = 0;
  uint32_t board = 0;  // four ASCII bytes in reading order, as a u32 ("MONC", "MDCL")
  uint32_t statusFlags = 0;
  uint16_t maxPayload = kMaxPayload;
  uint16_t window = 16;
};
struct Refuse {
  uint16_t version = kProtocolVersion;
  uint32_t nonce = 0;
  int32_t code = 0;
};
struct Ping {
  uint32_t token = 0;
};
struct Pong {
  uint32_t token = 0;
};
struct AckOnly {};
struct Goodbye {
  int32_t reason = 0;
};
struct KeyPress {
  uint32_t requestId = 0;
  uint32_t code = 0;
};
struct KeyDone {
  uint32_t requestId = 0;
  int32_t result = 0;
};
struct Monitor {
  int32_t intervalMs = 0;
};
struct Screen {
  const uint8_t* image = nullptr;  // kScreenBytes bytes, inside the frame
};
struct Status {
  uint32_t flags = 0;
};
struct ScreenPacked {
  const uint8_t* data = nullptr;  // inside the frame
  uint32_t size = 0;
};
struct SectionRead {
  uint32_t requestId = 0;
  uint32_t section = 0;
  uint32_t limit = 0;
};
struct SectionBegin {
  uint32_t requestId = 0;
  uint32_t section = 0;
  uint32_t total = 0;
};
struct SectionData {
  uint32_t requestId = 0;
  uint32_t offset = 0;
  const uint8_t* data = nullptr;  // inside the frame
  uint32_t size = 0;
};
struct Progress {
  uint32_t requestId = 0;
  uint32_t position = 0;
  uint32_t range = 0;
};
struct SectionEnd {
  uint32_t requestId = 0;
  int32_t result = 0;
  uint32_t sent = 0;
};
struct Cancel {
  uint32_t requestId = 0;
};

using Message = std::variant<Hello, Welcome, Refuse, Ping, Pong, AckOnly, Goodbye, KeyPress,
                             KeyDone, Monitor, Screen, Status, ScreenPacked, SectionRead,
                             SectionBegin, SectionData, Progress, SectionEnd, Cancel>;

// Parses a frame's payload by its type. False for an unknown type, a body of
// the wrong size, or a frame whose sequenced flag does not match its type.
bool ParseMessage(const Frame& frame, Message& out);

// Writes a message's type and body (the frame header is the link's business).
uint8_t EncodeBody(const Message& m, std::vector<uint8_t>& body);

const char* MessageName(uint8_t type);

}  // namespace ksvw::proto
