// Frames on a byte stream (TCP or a serial line).
//
// On the wire every frame is COBS(header + payload + CRC-32) followed by one
// 0x00 delimiter. Inside, all fields are little-endian:
//
//   offset size field
//   0      1    magic 0xB1 (frame format 1)
//   1      1    message type
//   2      1    flags: bit 0 sequenced (reliable, in order), bit 1 NAK
//   3      1    reserved, sent as 0
//   4      2    sequence number (sequenced frames; 0 otherwise)
//   6      2    acknowledgement: the next sequenced frame the sender expects
//   8      2    payload length
//   10     n    payload (at most kMaxPayload bytes)
//   10+n   4    CRC-32 of bytes 0 .. 10+n-1
//
// Noise is caught by the CRC (and by the length and magic checks) and the
// frame is dropped; the decoder then starts afresh after the next 0x00, so a
// garbled or truncated frame costs that frame only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ksvw::proto {

inline constexpr uint8_t kFrameMagic = 0xB1;
inline constexpr size_t kFrameHeaderSize = 10;
inline constexpr size_t kFrameCrcSize = 4;
inline constexpr size_t kMaxPayload = 4096;
inline constexpr size_t kMaxFrameSize = kFrameHeaderSize + kMaxPayload + kFrameCrcSize;

inline constexpr uint8_t kFlagSequenced = 0x01;
inline constexpr uint8_t kFlagNak = 0x02;

struct Frame {
  uint8_t type = 0;
  uint8_t flags = 0;
  uint16_t seq = 0;
  uint16_t ack = 0;
  const uint8_t* payload = nullptr;  // valid until the decoder is fed again
  uint16_t size = 0;
};

// Appends one encoded frame, delimiter included, to `out`. The payload must
// not exceed kMaxPayload (longer payloads are cut; callers never send them).
void EncodeFrame(uint8_t type, uint8_t flags, uint16_t seq, uint16_t ack, const uint8_t* payload,
                 size_t size, std::vector<uint8_t>& out);

// Checks and splits one decoded (un-stuffed) frame. False for a wrong magic,
// a length that disagrees with the size, or a bad CRC.
bool ParseFrame(const uint8_t* bytes, size_t size, Frame& frame);

struct DecoderCounters {
  uint64_t frames = 0;    // valid frames delivered
  uint64_t corrupt = 0;   // bad stuffing, magic, length or CRC
  uint64_t oversize = 0;  // longer than a frame can be
  uint64_t bytesIn = 0;   // every byte fed
};

// Incremental decoder: feed any slices of the stream; every valid frame is
// handed to the callback as soon as its delimiter arrives.
class FrameDecoder {
 public:
  explicit FrameDecoder(size_t maxPayload = kMaxPayload);

  // Calls sink(const Frame&) for every valid frame completed by these bytes.
  template <typename Sink>
  void Feed(const uint8_t* data, size_t size, Sink&& sink) {
    counters_.bytesIn += size;
    while (size > 0) {
      size_t used = Scan(data, size);
      data += used;
      size -= used;
      if (frameReady_) {
        frameReady_ = false;
        sink(static_cast<const Frame&>(frame_));
      }
    }
  }

  // Forgets a partly received frame (e.g. when the transport reconnects).
  void Reset();
  const DecoderCounters& Counters() const { return counters_; }

 private:
  // Consumes bytes up to and including the next delimiter (or all of them);
  // sets frameReady_ when a valid frame ended there.
  size_t Scan(const uint8_t* data, size_t size);
  void EndOfFrame();

  size_t maxFrame_;
  std::vector<uint8_t> buf_;  // decoded bytes of the frame so far
  size_t blockLeft_ = 0;      // data bytes left in the current COBS block
  bool zeroAfterBlock_ = false;
  bool inFrame_ = false;   // a code byte has been read
  bool skipping_ = false;  // overlong or broken: ignore up to the next 0x00
  bool broken_ = false;    // counted as corrupt already
  bool frameReady_ = false;
  Frame frame_;
  DecoderCounters counters_;
};

}  // namespace ksvw::proto
