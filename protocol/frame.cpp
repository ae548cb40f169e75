#include "protocol/frame.h"

#include <cstring>

#include "common/crc32.h"
#include "protocol/cobs.h"
#include "protocol/wire.h"

namespace ksvw::proto {

void EncodeFrame(uint8_t type, uint8_t flags, uint16_t seq, uint16_t ack, const uint8_t* payload,
                 size_t size, std::vector<uint8_t>& out) {
  if (size > kMaxPayload) size = kMaxPayload;
  uint8_t raw[kMaxFrameSize];
  raw[0] = kFrameMagic;
  raw[1] = type;
  raw[2] = flags;
  raw[3] = 0;
  StoreLE16(raw + 4, seq);
  StoreLE16(raw + 6, ack);
  StoreLE16(raw + 8, static_cast<uint16_t>(size));
  if (size) std::memcpy(raw + kFrameHeaderSize, payload, size);
  size_t n = kFrameHeaderSize + size;
  StoreLE32(raw + n, Crc32(raw, n));
  n += kFrameCrcSize;
  CobsEncode(raw, n, out);
  out.push_back(0);
}

bool ParseFrame(const uint8_t* bytes, size_t size, Frame& frame) {
  if (size < kFrameHeaderSize + kFrameCrcSize) return false;
  if (bytes[0] != kFrameMagic) return false;
  size_t length = LoadLE16(bytes + 8);
  if (length > kMaxPayload || kFrameHeaderSize + length + kFrameCrcSize != size) return false;
  size_t body = kFrameHeaderSize + length;
  if (Crc32(bytes, body) != LoadLE32(bytes + body)) return false;
  frame.type = bytes[1];
  frame.flags = bytes[2];
  frame.seq = LoadLE16(bytes + 4);
  frame.ack = LoadLE16(bytes + 6);
  frame.size = static_cast<uint16_t>(length);
  frame.payload = bytes + kFrameHeaderSize;
  return true;
}

FrameDecoder::FrameDecoder(size_t maxPayload)
    : maxFrame_(kFrameHeaderSize + (maxPayload < kMaxPayload ? maxPayload : kMaxPayload) +
                kFrameCrcSize) {
  buf_.reserve(maxFrame_);
}

void FrameDecoder::Reset() {
  buf_.clear();
  blockLeft_ = 0;
  zeroAfterBlock_ = false;
  inFrame_ = false;
  skipping_ = false;
  broken_ = false;
  frameReady_ = false;
}

void FrameDecoder::EndOfFrame() {
  bool empty = !inFrame_ && buf_.empty();
  if (!empty && !skipping_) {
    // A frame must end exactly at the end of a block.
    if (blockLeft_ == 0 && ParseFrame(buf_.data(), buf_.size(), frame_)) {
      ++counters_.frames;
      frameReady_ = true;
    } else {
      ++counters_.corrupt;
    }
  } else if (skipping_ && !broken_) {
    ++counters_.corrupt;
  }
  // buf_ keeps the frame's bytes until the next Scan, so the payload pointer
  // stays valid while the sink runs.
  blockLeft_ = 0;
  zeroAfterBlock_ = false;
  inFrame_ = false;
  skipping_ = false;
  broken_ = false;
}

size_t FrameDecoder::Scan(const uint8_t* data, size_t size) {
  if (!inFrame_ && !skipping_) buf_.clear();
  size_t i = 0;
  while (i < size) {
    if (skipping_) {
      const void* z = std::memchr(data + i, 0, size - i);
      if (!z) return size;
      i = static_cast<size_t>(static_cast<const uint8_t*>(z) - data) + 1;
      EndOfFrame();
      return i;
    }
    if (blockLeft_ == 0) {
      uint8_t c = data[i++];
      if (c == 0) {
        EndOfFrame();
        return i;
      }
      if (inFrame_ && zeroAfterBlock_) {
        if (buf_.size() >= maxFrame_) {
          ++counters_.oversize;
          skipping_ = broken_ = true;
          continue;
        }
        buf_.push_back(0);
      }
      inFrame_ = true;
      blockLeft_ = static_cast<size_t>(c) - 1;
      zeroAfterBlock_ = c != 0xFF;
      continue;
    }
    size_t n = blockLeft_ < size - i ? blockLeft_ : size - i;
    const void* z = std::memchr(data + i, 0, n);
    if (z) {
      // Delimiter inside a block: the frame was cut short.
      i = static_cast<size_t>(static_cast<const uint8_t*>(z) - data) + 1;
      ++counters_.corrupt;
      skipping_ = broken_ = true;
      EndOfFrame();
      return i;
    }
    if (buf_.size() + n > maxFrame_) {
      ++counters_.oversize;
      skipping_ = broken_ = true;
      continue;
    }
    buf_.insert(buf_.end(), data + i, data + i + n);
    i += n;
    blockLeft_ -= n;
  }
  return size;
}

}  // namespace ksvw::proto
