// The library's RemoteRequest: the program's six fields plus the library's
// own bookkeeping, reference counted with interlocked operations.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "remote/ksvwrmt.h"

namespace ksvw::rmt {

class Request final : public RemoteRequest {
 public:
  enum State : int { kIdle = 0, kSubmitted = 1 };

  static Request* Create();  // one reference, or null when out of memory

  uint32_t AddRef() override;
  uint32_t Release() override;

  // Only requests made by this library carry the tag.
  bool Genuine() const { return tag_ == kTag; }

  // Idle -> submitted; false when the request is already running.
  bool MarkSubmitted() {
    int expected = kIdle;
    return state_.compare_exchange_strong(expected, kSubmitted);
  }
  void MarkDone() { state_.store(kIdle); }
  bool Running() const { return state_.load() == kSubmitted; }

  // Set by Cancel (any thread): the data still queued for the request is
  // dropped, and a request that has not started yet ends as cancelled.
  std::atomic<bool> cancelled{false};
  // The first failure of the sink's OnData (dispatcher thread only); it
  // becomes the request's result.
  int32_t dataError = 0;
  // Raised with dataError, for the I/O thread: stop the section.
  std::atomic<bool> dataFailed{false};
  // The link session's id for the request (I/O thread only).
  uint32_t sessionId = 0;

 private:
  static constexpr uint32_t kTag = 0x514D5252;  // "RRMQ"
  Request() = default;
  ~Request() = default;

  volatile LONG refs_ = 1;
  std::atomic<int> state_{kIdle};
  uint32_t tag_ = kTag;
};

// The library's view of a request handed in by the program (null when it is
// none of ours).
inline Request* AsRequest(RemoteRequest* r) {
  auto* q = static_cast<Request*>(r);
  return q && q->Genuine() ? q : nullptr;
}

}  // namespace ksvw::rmt
