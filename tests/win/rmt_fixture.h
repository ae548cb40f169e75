// Fixture of the library's tests: one device with a TestSink, settings for
// the simulators the test driver started (their ports, COM ports and
// captures come in environment variables), and request helpers.
//
// The TestSink records every call with the thread it came on, lets a test
// wait for a condition with a time limit, and writes transfer data into the
// request's file with WriteFile (as the program does).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "remote/ksvwrmt.h"
#include "testsupport/capture_builder.h"

namespace ksvw::rmttest {

inline constexpr int32_t kNoResult = 0x7FFFFFFF;

struct SinkEvent {
  enum Kind { Identity, LinkState, Done, Progress, LinkLost, Status, Screen, Data } kind;
  DWORD thread = 0;
  int32_t requestType = 0;
  int32_t dataCode = 0;
  int32_t result = 0;  // Done: the request's result
  int64_t a = 0;       // Progress: position; Status: flags; Data: bytes
  int64_t b = 0;       // Progress: range
  RemoteRequest* request = nullptr;
};

class TestSink final : public RemoteEventSink {
 public:
  int32_t OnIdentity(int32_t, int32_t) override { return Record({.kind = SinkEvent::Identity}); }
  int32_t Reserved2() override { return 0; }
  int32_t OnLinkStateChanged() override { return Record({.kind = SinkEvent::LinkState}); }
  int32_t OnRequestDone(RemoteRequest* r) override {
    return Record({SinkEvent::Done, 0, r->requestType, r->dataCode, r->result, 0, 0}, r);
  }
  int32_t OnProgress(RemoteRequest* r, int32_t position, int32_t range) override {
    return Record({SinkEvent::Progress, 0, r->requestType, r->dataCode, 0, position, range}, r);
  }
  int32_t OnLinkLost() override { return Record({.kind = SinkEvent::LinkLost}); }
  int32_t OnStatusFlags(uint32_t flags) override {
    return Record({.kind = SinkEvent::Status, .a = flags});
  }
  int32_t Reserved8() override { return 0; }
  int32_t OnScreenChanged() override { return Record({.kind = SinkEvent::Screen}); }
  int32_t Reserved10() override { return 0; }
  int32_t Reserved11() override { return 0; }
  int32_t Reserved12() override { return 0; }
  int32_t OnData(RemoteRequest* r, int32_t, const uint8_t* buffer, uint32_t* size) override {
    Record({SinkEvent::Data, 0, r->requestType, r->dataCode, 0, *size, 0}, r);
    if (failDataWith < 0) return failDataWith;
    HANDLE file = reinterpret_cast<HANDLE>(static_cast<intptr_t>(r->fileHandle));
    if (r->dataCode < 0x8100 || r->dataCode > 0x8103 || !file || *size == 0) {
      *size = 0;
      return 0;
    }
    DWORD written = 0;
    if (!WriteFile(file, buffer, *size, &written, nullptr))
      return ResultFromSystemError(GetLastError());
    *size = written;
    return 0;
  }
  int32_t Reserved14() override { return 0; }
  int32_t Reserved15() override { return 0; }

  // Waits until `pred` (called under the sink's lock) holds; false after
  // `timeoutMs`.
  bool WaitFor(const std::function<bool()>& pred, DWORD timeoutMs) {
    std::unique_lock<std::mutex> g(mutex_);
    return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), pred);
  }
  // Call before submitting `request`: WaitDone then looks only at the Done
  // calls that come after (a released request's address may be reused).
  void Watch(RemoteRequest* request) {
    std::lock_guard<std::mutex> g(mutex_);
    watched_.emplace_back(request, events_.size());
  }
  // Waits for the Done of a watched `request` and returns its result (or
  // kNoResult when it did not come in time).
  int32_t WaitDone(RemoteRequest* request, DWORD timeoutMs) {
    int32_t result = kNoResult;
    WaitFor(
        [&] {
          size_t from = events_.size();
          for (auto& w : watched_) from = w.first == request ? w.second : from;  // the latest
          for (size_t i = from; i < events_.size() && result == kNoResult; ++i)
            if (events_[i].kind == SinkEvent::Done && events_[i].request == request)
              result = events_[i].result;
          return result != kNoResult;
        },
        timeoutMs);
    return result;
  }
  // Waits until at least `count` calls of `kind` have come.
  bool WaitCount(SinkEvent::Kind kind, int count, DWORD timeoutMs) {
    return WaitFor([&] { return CountLocked(kind) >= count; }, timeoutMs);
  }
  std::vector<SinkEvent> Events() {
    std::lock_guard<std::mutex> g(mutex_);
    return events_;
  }
  int Count(SinkEvent::Kind kind) {
    std::lock_guard<std::mutex> g(mutex_);
    return CountLocked(kind);
  }

  // Called (without the sink's lock) in every callback once it was recorded
  // (with its request or null), before OnData writes.
  std::function<void(SinkEvent::Kind, RemoteRequest*)> onEvent;
  // OnData fails with this code instead of writing, when set.
  int32_t failDataWith = 0;

 private:
  // Records a call (with its thread), runs onEvent; 0 for the callback.
  int32_t Record(SinkEvent e, RemoteRequest* request = nullptr) {
    e.thread = GetCurrentThreadId();
    e.request = request;
    {
      std::lock_guard<std::mutex> g(mutex_);
      events_.push_back(e);
      cv_.notify_all();
    }
    if (onEvent) onEvent(e.kind, request);
    return 0;
  }
  int CountLocked(SinkEvent::Kind kind) const {
    int n = 0;
    for (auto& e : events_) n += e.kind == kind;
    return n;
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<SinkEvent> events_;
  std::vector<std::pair<RemoteRequest*, size_t>> watched_;  // request, first Done to look at
};

inline constexpr DWORD kWaitMs = 10000;
inline constexpr DWORD kDownloadWaitMs = 120000;

// An environment variable ("" when unset).
inline std::string Env(const char* name) {
  char buf[1024];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

inline ConnectionSettings SerialSettings(const std::string& com, int32_t speed, int32_t parity = 0,
                                         int32_t flow = 0) {
  ConnectionSettings s = DefaultConnectionSettings();
  std::strncpy(s.com, com.c_str(), sizeof s.com - 1);
  s.speed = speed;
  s.parity = parity;
  s.flow = flow;
  return s;
}
inline ConnectionSettings LanSettings(const std::string& host, const std::string& port,
                                      const std::string& ctport = "") {
  ConnectionSettings s = SerialSettings("", 115200);
  s.method = kMethodLan;
  std::strncpy(s.host, host.c_str(), sizeof s.host - 1);
  std::strncpy(s.port, port.c_str(), sizeof s.port - 1);
  std::strncpy(s.ctport, ctport.c_str(), sizeof s.ctport - 1);
  return s;
}

class RemoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KSCreateRemote(&device_), kOk);
    ASSERT_NE(device_, nullptr);
    ASSERT_EQ(device_->Advise(&sink_), kOk);
  }
  void TearDown() override {
    if (device_) {
      device_->Close();
      device_->Release();  // no sink call may follow this
      device_ = nullptr;
    }
  }

  // Submits a request of `type`; the test keeps the returned reference.
  RemoteRequest* Submit(int32_t type, int32_t dataCode = 0, int32_t sectionLimit = 0,
                        HANDLE file = nullptr) {
    RemoteRequest* r = nullptr;
    EXPECT_EQ(device_->CreateRequest(&r), kOk);
    if (!r) return nullptr;
    r->requestType = type;
    r->dataCode = dataCode;
    r->sectionLimit = sectionLimit;
    r->fileHandle = static_cast<int32_t>(reinterpret_cast<intptr_t>(file));
    sink_.Watch(r);
    EXPECT_EQ(device_->Submit(r), kOk);
    return r;
  }
  // Submits a request and waits for its end: its result (kNoResult when it
  // did not end in time).
  int32_t Run(int32_t type, int32_t dataCode = 0, int32_t sectionLimit = 0) {
    RemoteRequest* r = Submit(type, dataCode, sectionLimit);
    if (!r) return kNoResult;
    int32_t result = sink_.WaitDone(r, kWaitMs);
    r->Release();
    return result;
  }

  // Configure, Open and a connect request, as the program connects.
  int32_t Connect(const ConnectionSettings& s) {
    EXPECT_EQ(device_->Configure(&s), kOk);
    EXPECT_EQ(device_->Open(), kOk);
    return Run(kRequestConnect);
  }
  int32_t Disconnect() { return Run(kRequestDisconnect); }

  // Downloads into `path` as the program does: a 16-byte zero header, the
  // four sections in its order, each asked for when the one before ended
  // well, and the DT header written last. The final code; the sections'
  // results are in sections_.
  int32_t Download(const std::string& path, DWORD waitMs = kDownloadWaitMs) {
    static constexpr int32_t kCodes[4] = {0x8100, 0x8102, 0x8101, 0x8103};
    static constexpr int32_t kLimits[4] = {0x10000, 0x10000, 0xC00000, 0x10000};
    static constexpr uint8_t kZeros[16] = {};
    sections_.clear();
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD n = 0;
    int32_t code = WriteFile(f, kZeros, 16, &n, nullptr) ? kOk : kErrFail;
    for (int i = 0; i < 4 && code == kOk; ++i) {
      RemoteRequest* r = Submit(kRequestTransfer, kCodes[i], kLimits[i], f);
      code = r ? sink_.WaitDone(r, waitMs) : kErrFail;
      if (r) r->Release();
      sections_.push_back(code);
    }
    if (code == kOk && (!SetEndOfFile(f) || SetFilePointer(f, 0, nullptr, FILE_BEGIN) != 0 ||
                        !WriteFile(f, kCaptureMagic, kMagicSize, &n, nullptr)))
      code = kErrFail;
    CloseHandle(f);
    return code;
  }
  // Downloads into `path` and compares with `capture`.
  void DownloadMatches(const std::string& path, const std::string& capture) {
    ASSERT_EQ(Download(path), kOk);  // every section ended well
    std::vector<uint8_t> got = build::ReadFile(path), want = build::ReadFile(capture);
    ASSERT_FALSE(want.empty()) << capture << " cannot be read";
    EXPECT_TRUE(got == want) << path << " differs from " << capture;
  }

  // The value of the driver's variable (a failure when unset).
  std::string PortOf(const char* variable) {
    std::string port = Env(variable);
    if (port.empty())
      ADD_FAILURE() << variable << " is not set (run the tests through their driver)";
    return port;
  }

  RemoteDevice* device_ = nullptr;
  TestSink sink_;
  std::vector<int32_t> sections_;
};

}  // namespace ksvw::rmttest
