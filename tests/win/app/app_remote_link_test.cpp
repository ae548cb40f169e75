// The link object with an in-process fake of the remote library's device:
// the fake runs every request on a thread of its own and calls the sink from
// there, as the library does. A message-only window collects what the link
// posts and sends.
#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "capture/capture_reader.h"
#include "remote/win32/ks_remote4q.h"
#include "testsupport/capture_builder.h"

namespace ksvw {
namespace {

// --- Fakes of the library's objects ----------------------------------------

std::atomic<int> liveRequests{0};

class FakeRequest final : public RemoteRequest {
 public:
  FakeRequest() { ++liveRequests; }
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override {
    uint32_t left = --refs_;
    if (left == 0) {
      --liveRequests;
      delete this;
    }
    return left;
  }

 private:
  std::atomic<uint32_t> refs_{1};
};

// What a transfer section does when submitted.
struct Section {
  std::string bytes;
  int32_t result = 0;
};

class FakeDevice : public RemoteDevice {
 public:
  ~FakeDevice() { JoinAll(); }

  uint32_t AddRef() override { return ++refs; }
  uint32_t Release() override {
    uint32_t left = --refs;
    if (left == 0) destroyed = true;  // kept alive by the test for inspection
    return left;
  }
  int32_t CreateRequest(RemoteRequest** request) override {
    if (createResult < 0) return createResult;
    if (onCreate) onCreate(++createCalls);
    *request = new FakeRequest;
    return 0;
  }
  int32_t Configure(const ConnectionSettings* settings) override {
    configured = *settings;
    return configureResult;
  }
  int32_t Reserved5() override { return 0; }
  int32_t Advise(RemoteEventSink* s) override {
    sink = s;
    advised.push_back(s);
    return 0;
  }
  int32_t SetMonitorInterval(int32_t) override { return 0; }
  int32_t Open() override { return 0; }
  int32_t Close() override {
    ++closeCalls;
    return 0;
  }
  int32_t Submit(RemoteRequest* request) override {
    size_t n;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      submitted.push_back({request->requestType, request->dataCode, request->sectionLimit,
                           request->reserved, request->fileHandle});
      n = submitted.size();
    }
    if (submitResult < 0) return submitResult;
    if (refuseSubmit != 0 && n == refuseSubmit) return kErrNotConnected;
    request->AddRef();  // the library's own reference while it runs
    if (finishBeforeSubmitReturns) {
      std::thread([this, request] { Run(request); }).join();
      return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.emplace_back([this, request] { Run(request); });
    return 0;
  }
  int32_t Cancel(RemoteRequest* request) override {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled.push_back(request);
    return 0;
  }
  int32_t Reserved12() override { return 0; }
  int32_t GetLinkState() override { return 0; }
  uint32_t GetStatusFlags() override { return 0; }
  int32_t CopyScreen(uint8_t*, uint32_t) override { return 0; }

  void JoinAll() {
    for (;;) {
      std::vector<std::thread> batch;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        batch.swap(threads_);
      }
      if (batch.empty()) return;
      for (auto& t : batch) t.join();
    }
  }

  struct Submitted {
    int32_t type, dataCode, limit, reserved, file;
  };

  std::atomic<uint32_t> refs{1};
  std::atomic<bool> destroyed{false};
  ConnectionSettings configured{};
  int32_t configureResult = 0;
  int32_t createResult = 0;
  int32_t submitResult = 0;
  size_t refuseSubmit = 0;  // this Submit (counted from 1) is refused
  int createCalls = 0;
  std::function<void(int)> onCreate;  // called with the count on every CreateRequest
  int32_t connectResult = 0;
  bool finishBeforeSubmitReturns = false;
  std::atomic<int> closeCalls{0};
  std::vector<RemoteEventSink*> advised;
  std::vector<Submitted> submitted;
  std::vector<RemoteRequest*> cancelled;
  std::map<int32_t, Section> sections;
  std::atomic<RemoteEventSink*> sink{nullptr};

 private:
  void Run(RemoteRequest* request) {
    RemoteEventSink* s = sink;
    if (request->requestType == kRequestConnect) {
      request->result = connectResult;
    } else if (request->requestType == kRequestTransfer) {
      auto found = sections.find(request->dataCode);
      Section section = found != sections.end() ? found->second : Section{};
      // Deliver in pieces, with progress, as a link would.
      const size_t piece = 1000;
      for (size_t at = 0; at < section.bytes.size(); at += piece) {
        uint32_t n = static_cast<uint32_t>(std::min(piece, section.bytes.size() - at));
        s->OnProgress(request, static_cast<int32_t>(at),
                      static_cast<int32_t>(section.bytes.size()));
        uint32_t size = n;
        auto* bytes = reinterpret_cast<const uint8_t*>(section.bytes.data());
        if (s->OnData(request, 0, bytes + at, &size) < 0 || size != n) {
          request->result = static_cast<int32_t>(0x8007001Du);
          break;
        }
      }
      if (request->result == 0) request->result = section.result;
    }
    s->OnRequestDone(request);
    request->Release();
  }

  std::mutex mutex_;
  std::vector<std::thread> threads_;
};

// --- The window that collects the link's messages ----------------------------

struct Message {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

std::vector<Message>* collected = nullptr;

LRESULT CALLBACK CollectorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (collected && (message >= WM_APP || message == SB_SETTEXTA || message == WM_COMMAND)) {
    collected->push_back({message, wParam, lParam});
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeCollector() {
  WNDCLASSA c{};
  c.lpfnWndProc = CollectorProc;
  c.hInstance = GetModuleHandleA(nullptr);
  c.lpszClassName = "ksvw_test_collector";
  RegisterClassA(&c);  // fails harmlessly after the first test
  return CreateWindowExA(0, "ksvw_test_collector", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

FakeDevice* factoryDevices[2];
int factoryCalls = 0;
int32_t FakeCreate(RemoteDevice** device) {
  *device = factoryDevices[factoryCalls++];
  return 0;
}
int32_t FailingCreate(RemoteDevice** device) {
  *device = nullptr;
  return kErrOutOfMemory;
}

class RemoteLink : public ::testing::Test {
 protected:
  void SetUp() override {
    collected = &messages;
    window = MakeCollector();
    ASSERT_NE(window, nullptr);
    factoryCalls = 0;
    factoryDevices[0] = &device;
    factoryDevices[1] = &second;
    link = new CKSRemote4q(window, FakeCreate);
    settings = DefaultConnectionSettings();
    ASSERT_EQ(link->Initialize(&settings), 0);
  }
  void TearDown() override {
    delete link;
    device.JoinAll();
    second.JoinAll();
    Pump();
    ReleaseCarried();
    DestroyWindow(window);
    collected = nullptr;
    if (!file.empty()) DeleteFileA(file.c_str());
    EXPECT_EQ(liveRequests, 0) << "a request was never released";
  }

  // Runs the queue until `done` holds (or 20 s pass: a hang fails the test).
  void PumpUntil(const std::function<bool()>& done) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (MSG m;; Sleep(1)) {
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
      if (done()) return;
      if (std::chrono::steady_clock::now() > limit) return ADD_FAILURE() << "timed out waiting";
    }
  }
  void Pump() {
    PumpUntil([] { return true; });
  }
  // Runs `work` on a thread of its own (as the library would), serving the
  // link's synchronous sends meanwhile, then delivers what was posted.
  void OnLibraryThread(const std::function<void()>& work) {
    std::atomic<bool> finished{false};
    std::thread t([&] {
      work();
      finished = true;
    });
    PumpUntil([&] { return finished.load(); });
    t.join();
    Pump();
  }
  bool Has(UINT message) const {
    for (const Message& m : messages)
      if (m.message == message) return true;
    return false;
  }
  // The references the posted messages carry go back, as the main window
  // would release them.
  void ReleaseCarried() {
    for (Message& m : messages) {
      if (m.message == WM_APP_REQUEST_DONE && m.lParam)
        reinterpret_cast<RemoteRequest*>(m.lParam)->Release();
      if (m.message == WM_APP_LINK_CLOSED && m.lParam)
        reinterpret_cast<RemoteDevice*>(m.lParam)->Release();
      m.lParam = 0;
    }
  }
  std::string TempFile(const char* name) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%sksvw_%lu_%s", temp, GetCurrentProcessId(), name);
    file = path;
    return file;
  }
  static std::string ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes = build::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
  }

  std::vector<Message> messages;
  HWND window = nullptr;
  FakeDevice device, second;
  CKSRemote4q* link = nullptr;
  ConnectionSettings settings;
  std::string file;
};

// --- Sink events ----------------------------------------------------------------

// A known model's text in status part 0 is checked in the real program on
// connecting to the simulator, and so are the download dialog's cancel on a
// lost link and the key emulator following the link state and the screens
// (tests/gui/README.md names the tests).
TEST_F(RemoteLink, SinkCallsBecomeTheOwnersMessages) {
  int32_t variant = -1;
  EXPECT_EQ(link->ReadIdentity(&variant), 0x10014);  // before any report
  EXPECT_EQ(variant, 7);
  link->SetStatusBar(window);
  FakeRequest* other = new FakeRequest;
  // One call after the other, each on a library thread: an unknown model
  // shows no text and progress of a request that is not current posts
  // nothing; the main window decides what status flags mean; a key emulator
  // that was let go hears of no screen; a lost link closes the device.
  OnLibraryThread([&] { EXPECT_EQ(link->OnIdentity(0x10001, 3), 0); });
  OnLibraryThread([&] { link->OnProgress(other, 10, 100); });
  OnLibraryThread([&] { link->OnStatusFlags(0x100); });
  link->SetKeyEmulator(reinterpret_cast<KeyEmulator*>(&device), window);
  link->SetKeyEmulator(nullptr, nullptr);
  OnLibraryThread([&] { link->OnScreenChanged(); });
  OnLibraryThread([&] { link->OnLinkLost(); });
  EXPECT_EQ(device.closeCalls, 1);
  std::vector<std::tuple<UINT, WPARAM, LPARAM>> got;
  for (const Message& m : messages) got.emplace_back(m.message, m.wParam, m.lParam);
  EXPECT_EQ(got, (decltype(got){{WM_APP_STATUS_FLAGS, 0x100, 0}, {WM_APP_LINK_LOST, 0, 0}}));
  EXPECT_EQ(link->ReadIdentity(&variant), 0x10001);
  EXPECT_EQ(variant, 0);
  other->Release();
}

TEST_F(RemoteLink, OnDataStoresOnlyTransferSectionsWithAFileAndReturnsFailedWrites) {
  std::string path = TempFile("ondata.bin");
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const uint8_t bytes[5] = {1, 2, 3, 4, 5};
  FakeRequest* r = new FakeRequest;
  const struct {
    int32_t type;
    HANDLE file;
    int32_t dataCode;
    uint32_t offset, size;
  } calls[] = {
      {kRequestConnect, h, kSectionHead, 0, 5},         // declined: a connect request,
      {kRequestTransfer, nullptr, kSectionTail, 0, 5},  // no file,
      {kRequestTransfer, h, 0x8104, 0, 5},              // not a transfer section
      {kRequestTransfer, h, kSectionTail, 0, 5},
      {kRequestTransfer, h, kSectionHead, 3, 2},
  };
  for (const auto& c : calls) {
    r->requestType = c.type;
    r->fileHandle = static_cast<int32_t>(reinterpret_cast<intptr_t>(c.file));
    r->dataCode = c.dataCode;
    uint32_t size = c.size;
    EXPECT_EQ(link->OnData(r, 0, bytes + c.offset, &size), 0);
  }
  CloseHandle(h);
  EXPECT_EQ(ReadAll(path), std::string("\x01\x02\x03\x04\x05\x04\x05", 7));

  // A failed write goes back to the library as a system error.
  h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  r->fileHandle = static_cast<int32_t>(reinterpret_cast<intptr_t>(h));
  uint32_t size = 3;
  EXPECT_EQ(static_cast<uint32_t>(link->OnData(r, 0, bytes, &size)) & 0xFFFF0000u, 0x80070000u);
  EXPECT_EQ(size, 0u);
  CloseHandle(h);
  r->Release();
}

// --- Connect and disconnect ----------------------------------------------------

// A failed connect and a disconnect post the request and the device to
// close, with a reference of its own. (That a connect that succeeded posts
// no device to close shows in the real program, which stays connected: GUI
// test `ProgramTest.ConnectDisconnectAndCloseWhileConnected`.)
TEST_F(RemoteLink, EndedLinksPostTheRequestAndTheDeviceToClose) {
  const int32_t hostNotFound = static_cast<int32_t>(0x80072AF9u);
  device.connectResult = hostNotFound;
  for (bool disconnect : {false, true}) {
    messages.clear();
    uint32_t refsBefore = device.refs;
    EXPECT_EQ(disconnect ? link->Disconnect() : link->Connect(), 0);
    PumpUntil([&] { return Has(WM_APP_LINK_CLOSED); });
    device.JoinAll();
    Pump();
    std::vector<UINT> kinds;
    for (const Message& m : messages) kinds.push_back(m.message);
    ASSERT_EQ(kinds, (std::vector<UINT>{WM_APP_REQUEST_DONE, WM_APP_LINK_CLOSED}));
    auto* request = reinterpret_cast<RemoteRequest*>(messages[0].lParam);
    EXPECT_EQ(request->requestType, disconnect ? kRequestDisconnect : kRequestConnect);
    EXPECT_EQ(request->result, disconnect ? 0 : hostNotFound);
    EXPECT_EQ(reinterpret_cast<RemoteDevice*>(messages[1].lParam), &device);
    EXPECT_EQ(device.refs, refsBefore + 1);
    EXPECT_EQ(device.closeCalls, 0);  // the main window closes it
    ReleaseCarried();
    EXPECT_EQ(device.refs, refsBefore);
    EXPECT_EQ(liveRequests, 0);
  }
}

// After the Open, a failure closes the device again. (A failed Open is GUI
// test `Program/ConnectFailureTest.ShowsItsTextAndReturnsToNotConnected/AtOnce`.)
TEST_F(RemoteLink, ConnectFailuresBeforeTheRequestRuns) {
  const struct {
    int32_t FakeDevice::*step;
    int32_t code;
    int closes;
  } cases[] = {{&FakeDevice::createResult, kErrOutOfMemory, 1},
               {&FakeDevice::submitResult, kErrNotConnected, 2}};
  for (const auto& c : cases) {
    device.*c.step = c.code;
    EXPECT_EQ(link->Connect(), c.code);
    EXPECT_EQ(device.closeCalls, c.closes);
    device.*c.step = 0;
  }
  Pump();
  EXPECT_TRUE(messages.empty());
}

TEST_F(RemoteLink, AFailedConfigureIsReturnedAndWithoutADeviceEveryOperationSaysEPointer) {
  second.configureResult = kErrInvalidArg;
  EXPECT_EQ(link->Initialize(&settings), kErrInvalidArg);
  EXPECT_TRUE(second.advised.empty());
  CKSRemote4q bare(window, FailingCreate);
  EXPECT_EQ(bare.Initialize(&settings), kErrOutOfMemory);
  EXPECT_EQ(bare.Connect(), kErrPointer);
  EXPECT_EQ(bare.Disconnect(), kErrPointer);
  EXPECT_EQ(bare.CancelTransfer(), kErrPointer);
  EXPECT_EQ(bare.StartDownload("unused.tmp"), kErrPointer);
  RemoteDevice* out = &device;
  EXPECT_EQ(bare.AcquireDevice(&out), kErrPointer);
  EXPECT_EQ(out, nullptr);
}

// --- Initialise and delete ------------------------------------------------------

TEST_F(RemoteLink, InitializeConfiguresAndAdvisesAgainAndDeletionReleaseTheDevice) {
  EXPECT_EQ(device.advised, std::vector<RemoteEventSink*>{link});
  settings.speed = 9600;
  ASSERT_EQ(link->Initialize(&settings), 0);
  EXPECT_TRUE(device.destroyed);
  // The earlier device was told to stop calling before it was let go.
  EXPECT_EQ(device.advised, (std::vector<RemoteEventSink*>{link, nullptr}));
  EXPECT_FALSE(second.destroyed);
  EXPECT_EQ(second.configured.speed, 9600);
  EXPECT_EQ(second.advised, std::vector<RemoteEventSink*>{link});
  // The key emulator takes the device with a reference of its own.
  uint32_t before = second.refs;
  RemoteDevice* out = nullptr;
  ASSERT_EQ(link->AcquireDevice(&out), 0);
  EXPECT_EQ(out, &second);
  EXPECT_EQ(second.refs, before + 1);
  out->Release();
  // Deleting the link lets the device go the same way.
  delete link;
  link = nullptr;
  EXPECT_TRUE(second.destroyed);
  EXPECT_EQ(second.advised.back(), nullptr);
}

// --- The download chain ------------------------------------------------------------

constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);

// How a chain runs: to its end, or ending early with the code it ends
// with, nothing asked for after it, the file closed with its zero header
// and the bytes of the sections that ran; nothing is current after it.
struct Chain {
  const char* name;
  int32_t code;
  std::vector<WPARAM> steps;  // in the order the sections are requested: 1, 3, 2, 4
  size_t submitted;
  int32_t failedSection = 0;    // this section reports 0x80004005
  size_t refuseSubmit = 0;      // this Submit (counted from 1) is refused
  int cancelAtCreate = 0;       // Cancel while the chain creates this request: between two sections
  bool finishInSubmit = false;  // every section ends before its Submit returns
};

class Download : public RemoteLink, public ::testing::WithParamInterface<Chain> {
 protected:
  static std::string Bytes(size_t n, char tag) {
    std::string v(n, tag);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<char>(tag + (i % 7));
    return v;
  }
};

TEST_P(Download, EndsWithItsCodeAndAsksForNothingMore) {
  const Chain& e = GetParam();
  const struct {
    int32_t code, limit;
    std::string bytes;
  } chain[4] = {{kSectionHead, 0x10000, Bytes(100, 'H')},
                {kSectionDataHeader, 0x10000, Bytes(2500, 'D')},
                {kSectionData, 0xC00000, Bytes(5000, 'R')},
                {kSectionTail, 0x10000, Bytes(64, 'T')}};
  for (const auto& c : chain) device.sections[c.code].bytes = c.bytes;
  if (e.failedSection) device.sections[e.failedSection].result = kFail;
  device.refuseSubmit = e.refuseSubmit;
  device.finishBeforeSubmitReturns = e.finishInSubmit;
  if (e.cancelAtCreate)
    device.onCreate = [&](int n) {
      if (n == e.cancelAtCreate) {
        EXPECT_EQ(link->CancelTransfer(), 0);
      }
    };
  std::string path = TempFile("DATAFILE.TMP");
  ASSERT_TRUE(build::WriteFile(path, std::vector<uint8_t>(20000, 'x')));  // replaced entirely
  EXPECT_EQ(link->StartDownload(path.c_str()), 0);
  if (e.finishInSubmit) {
    EXPECT_EQ(device.submitted.size(), 4u);  // the whole chain ran inside the first Submit
    EXPECT_EQ(link->CancelTransfer(), 1);
  }
  PumpUntil([&] { return Has(WM_APP_DOWNLOAD_DONE); });
  device.JoinAll();
  Pump();
  EXPECT_TRUE(device.cancelled.empty());  // between sections nothing runs to cancel
  ASSERT_EQ(device.submitted.size(), e.submitted);
  std::string file = e.code == 0 ? std::string(kCaptureMagic, kMagicSize) : std::string(16, '\0');
  for (size_t i = 0; i < e.submitted; ++i) {
    const auto& r = device.submitted[i];
    EXPECT_EQ(
        std::tuple(r.type, r.dataCode, r.limit, r.reserved, r.file),
        std::tuple(kRequestTransfer, chain[i].code, chain[i].limit, 0, device.submitted[0].file));
    if (i + 1 != e.refuseSubmit) file += chain[i].bytes;
  }
  EXPECT_EQ(ReadAll(path), file);
  int progress = 0;  // never beyond the running section's size
  std::vector<WPARAM> steps;
  for (const Message& m : messages) {
    if (m.message == WM_APP_DOWNLOAD_DONE) {
      EXPECT_EQ(static_cast<int32_t>(m.wParam), e.code);
    } else if (m.message == WM_APP_DOWNLOAD_PROGRESS) {
      ++progress;
      EXPECT_LT(static_cast<int32_t>(m.wParam), static_cast<int32_t>(m.lParam));
    } else if (m.message == WM_APP_DOWNLOAD_STEP) {
      steps.push_back(m.wParam);
    }
  }
  EXPECT_GT(progress, 0);
  // (Sections that end inside Submit post their steps nested: not checked.)
  if (!e.finishInSubmit) {
    EXPECT_EQ(steps, e.steps);
  }
  EXPECT_EQ(link->CancelTransfer(), 1);  // no transfer is current any more
  EXPECT_FALSE(link->DownloadRunning());
}

// (A cancel while the data section runs is GUI test
// `ProgramTest.CancelledDownloadsEmptyTheListAndLeaveTheLinkUp`.)
INSTANTIATE_TEST_SUITE_P(
    Chain, Download,
    ::testing::Values(Chain{"Complete", 0, {1, 3, 2, 4}, 4},
                      Chain{"FinishedInsideSubmit", 0, {}, 4, 0, 0, 0, true},
                      Chain{"FailedSection", kFail, {1, 3}, 2, kSectionDataHeader},
                      Chain{"RefusedSubmit", kErrNotConnected, {1}, 2, 0, 2},
                      Chain{"CancelBetweenSections", kErrCancelled, {1}, 1, 0, 0, 2}),
    [](const ::testing::TestParamInfo<Chain>& info) { return info.param.name; });

TEST_F(RemoteLink, ADownloadFileThatCannotBeCreatedFailsAtOnce) {
  EXPECT_EQ(link->StartDownload("Z:\\no\\such\\folder\\DATAFILE.TMP") & 0xFFFF0000,
            static_cast<int32_t>(0x80070000u));
  EXPECT_TRUE(device.submitted.empty());
  Pump();
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace ksvw
