// A RemoteEventSink for the library's tests: records every call with the
// thread it came on, lets a test wait for a condition with a time limit,
// writes transfer data into the request's file with WriteFile (as the
// program does), and can run a whole four-section download by chaining the
// next section from inside OnRequestDone.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "remote/ksvwrmt.h"

namespace ksvw::rmttest {

struct SinkEvent {
  enum Kind { Identity, LinkState, Done, Progress, LinkLost, Status, Screen, Data } kind;
  DWORD thread = 0;
  int32_t requestType = 0;
  int32_t dataCode = 0;
  int32_t result = 0;  // Done: the request's result; LinkState: GetLinkState in the call
  int64_t a = 0;       // Identity: model; Progress: position; Status: flags; Data: bytes
  int64_t b = 0;       // Identity: detail; Progress: range
};

class TestSink final : public RemoteEventSink {
 public:
  TestSink() = default;
  ~TestSink() override;

  // The device whose GetLinkState the sink reads in OnLinkStateChanged.
  void Attach(RemoteDevice* device) { device_ = device; }

  int32_t OnIdentity(int32_t model, int32_t detail) override {
    return Record({.kind = SinkEvent::Identity, .a = model, .b = detail});
  }
  int32_t Reserved2() override { return 0; }
  int32_t OnLinkStateChanged() override {
    return Record({.kind = SinkEvent::LinkState, .result = device_ ? device_->GetLinkState() : -1});
  }
  int32_t OnRequestDone(RemoteRequest* request) override;
  int32_t OnProgress(RemoteRequest* r, int32_t position, int32_t range) override {
    return Record({SinkEvent::Progress, 0, r->requestType, r->dataCode, 0, position, range}, r);
  }
  int32_t OnLinkLost() override;
  int32_t OnStatusFlags(uint32_t flags) override {
    return Record({.kind = SinkEvent::Status, .a = flags});
  }
  int32_t Reserved8() override { return 0; }
  int32_t OnScreenChanged() override { return Record({.kind = SinkEvent::Screen}); }
  int32_t Reserved10() override { return 0; }
  int32_t Reserved11() override { return 0; }
  int32_t Reserved12() override { return 0; }
  int32_t OnData(RemoteRequest* request, int32_t ignored, const uint8_t* buffer,
                 uint32_t* size) override;
  int32_t Reserved14() override { return 0; }
  int32_t Reserved15() override { return 0; }

  // Waits until `pred` (called under the sink's lock) holds; false after
  // `timeoutMs`.
  bool WaitFor(const std::function<bool()>& pred, DWORD timeoutMs);
  // Call before submitting `request`: WaitDone then looks only at the Done
  // calls that come after (a released request's address may be reused).
  void Watch(RemoteRequest* request);
  // Waits for the Done of a watched `request` and returns its result (or
  // 0x7FFFFFFF when it did not come in time).
  int32_t WaitDone(RemoteRequest* request, DWORD timeoutMs);

  // Waits until at least `count` calls of `kind` have come.
  bool WaitCount(SinkEvent::Kind kind, int count, DWORD timeoutMs);

  std::vector<SinkEvent> Events();
  int Count(SinkEvent::Kind kind);

  // Hooks, called (without the sink's lock) inside the named callbacks.
  // onEvent: every callback, after it was recorded (request or null).
  std::function<void(SinkEvent::Kind, RemoteRequest*)> onEvent;
  std::function<void(RemoteRequest*, uint32_t)> onData;  // after the bytes are written
  std::function<void()> onLinkLost;
  // OnData fails with this code instead of writing, when set.
  int32_t failDataWith = 0;

  // Starts the program's download into `path`: a 16-byte zero header, then
  // sections 0x8100, 0x8102, 0x8101, 0x8103, each submitted when the one
  // before ended well, and the DT header written at the end.
  int32_t StartDownload(RemoteDevice* device, const std::string& path);
  // Waits for the end of the download; its final code, or 0x7FFFFFFF.
  int32_t WaitDownload(DWORD timeoutMs);
  // Results of the sections in the order they ended.
  std::vector<int32_t> SectionResults();

 private:
  // Records a call (with its thread), runs onEvent; 0 for the callback.
  int32_t Record(const SinkEvent& e, RemoteRequest* request = nullptr);
  int CountLocked(SinkEvent::Kind kind) const;
  int32_t SubmitSection(size_t step);
  int32_t FinishFile();

  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<SinkEvent> events_;
  std::vector<std::pair<RemoteRequest*, int32_t>> done_;
  std::vector<std::pair<RemoteRequest*, size_t>> watched_;  // request, first Done to look at
  RemoteDevice* device_ = nullptr;

  // Download chain.
  RemoteDevice* downloadDevice_ = nullptr;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  size_t step_ = 0;
  bool downloading_ = false;
  bool downloadEnded_ = false;
  int32_t downloadResult_ = 0;
  std::vector<int32_t> sectionResults_;
};

// Reads a whole file (empty when it cannot be read).
std::vector<uint8_t> ReadWholeFile(const std::string& path);

}  // namespace ksvw::rmttest
