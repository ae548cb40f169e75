// ksvwrmt-probe: measures ksvwrmt.dll against an analyzer (or ksvw-sim):
// the four-section download's throughput and the progress events it cost,
// the serial link's efficiency against its line rate, and the time from a
// key press to the new screen. Against `ksvw-sim --hostile MODE`, with
// --hostile MODE, it measures what the misbehaving analyzer costs instead:
// the process's memory over a flood, how long a stalled request stays open,
// how long a disconnect takes during a report flood (with a sink that takes
// 100 us per call, as a GUI thread might).
//
//   ksvwrmt-probe tcp HOST PORT [--keys N] [--out FILE] [--hostile MODE]
//   ksvwrmt-probe serial COMn BPS [--keys N] [--out FILE]
#include <windows.h>
// After windows.h.
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "common/counted_ref.h"
#include "remote/ksvwrmt.h"

namespace {

using namespace ksvw;

double NowSeconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class ProbeSink final : public RemoteEventSink {
 public:
  int32_t OnIdentity(int32_t model, int32_t) override {
    model_ = model;
    return 0;
  }
  int32_t Reserved2() override { return 0; }
  int32_t OnLinkStateChanged() override { return 0; }
  int32_t OnRequestDone(RemoteRequest* request) override {
    std::lock_guard<std::mutex> g(mutex_);
    lastDone_ = request;
    lastResult_ = request->result;
    ++done_;
    cv_.notify_all();
    return 0;
  }
  int32_t OnProgress(RemoteRequest*, int32_t, int32_t) override {
    ++progress_;
    Slow();
    return 0;
  }
  int32_t OnLinkLost() override {
    std::lock_guard<std::mutex> g(mutex_);
    ++linkLost_;
    lost_ = true;
    cv_.notify_all();
    return 0;
  }
  int32_t OnStatusFlags(uint32_t) override {
    ++reports_;
    Slow();
    return 0;
  }
  int32_t Reserved8() override { return 0; }
  int32_t OnScreenChanged() override {
    ++reports_;
    Slow();
    double now = NowSeconds();
    std::lock_guard<std::mutex> g(mutex_);
    ++screens_;
    screenAt_ = now;
    cv_.notify_all();
    return 0;
  }
  int32_t Reserved10() override { return 0; }
  int32_t Reserved11() override { return 0; }
  int32_t Reserved12() override { return 0; }
  int32_t OnData(RemoteRequest* request, int32_t, const uint8_t* buffer, uint32_t* size) override {
    HANDLE file = reinterpret_cast<HANDLE>(static_cast<intptr_t>(request->fileHandle));
    DWORD written = 0;
    if (!WriteFile(file, buffer, *size, &written, nullptr))
      return ResultFromSystemError(GetLastError());
    *size = written;
    bytes_ += written;
    return 0;
  }
  int32_t Reserved14() override { return 0; }
  int32_t Reserved15() override { return 0; }

  // Waits for the Done of `r`; its result, or 0x7FFFFFFF after timeoutMs.
  int32_t WaitDone(RemoteRequest* r, int before, DWORD timeoutMs) {
    std::unique_lock<std::mutex> g(mutex_);
    bool ok = cv_.wait_for(g, std::chrono::milliseconds(timeoutMs),
                           [&] { return lost_ || (done_ > before && lastDone_ == r); });
    return ok && !lost_ ? lastResult_ : 0x7FFFFFFF;
  }
  int Done() {
    std::lock_guard<std::mutex> g(mutex_);
    return done_;
  }
  int Screens() {
    std::lock_guard<std::mutex> g(mutex_);
    return screens_;
  }
  // Waits for more than `count` screens; the time the last one came, or 0.
  double WaitScreen(int count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> g(mutex_);
    bool ok =
        cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return screens_ > count; });
    return ok ? screenAt_ : 0;
  }

  // A sink as slow as a GUI thread that repaints on each call.
  void Slow() {
    if (slowCalls_)
      for (double end = NowSeconds() + 100e-6; NowSeconds() < end;) {
      }
  }
  void ClearLost() {
    std::lock_guard<std::mutex> g(mutex_);
    lost_ = false;
  }
  int LinkLost() {
    std::lock_guard<std::mutex> g(mutex_);
    return linkLost_;
  }

  int32_t model_ = 0;
  uint64_t bytes_ = 0;  // dispatcher thread only while a transfer runs
  std::atomic<int> progress_{0};
  std::atomic<int> reports_{0};
  bool slowCalls_ = false;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  RemoteRequest* lastDone_ = nullptr;
  int32_t lastResult_ = 0;
  int done_ = 0;
  int screens_ = 0;
  double screenAt_ = 0;
  bool lost_ = false;
  int linkLost_ = 0;
};

// The process's committed memory (under Wine PrivateUsage stays 0, so the
// page-file figure, which Wine fills in, is used).
double PrivateMiB() {
  PROCESS_MEMORY_COUNTERS pmc{};
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  return static_cast<double>(pmc.PagefileUsage) / (1024.0 * 1024.0);
}

// Watches the process's memory for `seconds` (stops early on a lost link);
// prints the largest growth over `base`.
void WatchMemory(ProbeSink& sink, double base, double seconds) {
  double peak = base, start = NowSeconds(), lostAt = 0;
  while (NowSeconds() - start < seconds) {
    Sleep(250);
    peak = std::max(peak, PrivateMiB());
    if (sink.LinkLost() > 0 && lostAt == 0) lostAt = NowSeconds() - start;
  }
  std::printf("memory over %.0f s: base %.1f MiB, peak %.1f MiB (+%.1f MiB); link lost %d time(s)",
              seconds, base, peak, peak - base, sink.LinkLost());
  if (lostAt > 0) std::printf(", first after %.1f s", lostAt);
  std::printf("\n");
}

int32_t Run(RemoteDevice* device, ProbeSink& sink, int32_t type, int32_t code, int32_t limit,
            HANDLE file, DWORD timeoutMs) {
  CountedRef<RemoteRequest> r;
  if (device->CreateRequest(r.Put()) < 0 || !r) return kErrOutOfMemory;
  r->requestType = type;
  r->dataCode = code;
  r->sectionLimit = limit;
  r->fileHandle = static_cast<int32_t>(reinterpret_cast<intptr_t>(file));
  int before = sink.Done();
  int32_t result = device->Submit(r.get());
  if (result >= 0) result = sink.WaitDone(r.get(), before, timeoutMs);
  return result;
}

int Usage() {
  std::fputs(
      "usage: ksvwrmt-probe tcp HOST PORT [--keys N] [--out FILE] [--hostile MODE]\n"
      "       ksvwrmt-probe serial COMn BPS [--keys N] [--out FILE]\n"
      "MODE: nak-flood, ping-flood, stall-section, stall-key, status-flood\n",
      stderr);
  return 2;
}

// Against ksvw-sim --hostile MODE, once connected.
int Hostile(RemoteDevice* device, ProbeSink& sink, const std::string& mode, double base) {
  if (mode == "nak-flood" || mode == "ping-flood") {
    WatchMemory(sink, base, 20);
    return 0;
  }
  if (mode == "stall-section" || mode == "stall-key") {
    bool key = mode == "stall-key";
    HANDLE file = CreateFileA("stall.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    double t = NowSeconds();
    int32_t result =
        key ? Run(device, sink, kRequestKeyPress, 0x8016, 0, nullptr, 35000)
            : Run(device, sink, kRequestTransfer, kSectionData, kSectionLimitData, file, 35000);
    std::printf("stalled %s ended after %.2f s with 0x%08X (0x7FFFFFFF: still open)\n",
                key ? "key press" : "section read", NowSeconds() - t,
                static_cast<unsigned>(result));
    CloseHandle(file);
    return 0;
  }
  if (mode == "status-flood") {
    sink.slowCalls_ = true;
    WatchMemory(sink, base, 10);
    std::printf("reports delivered: %d\n", sink.reports_.load());
    double t = NowSeconds();
    int32_t result = Run(device, sink, kRequestDisconnect, 0, 0, nullptr, 10000);
    std::printf("disconnect during the flood ended after %.3f s with 0x%08X\n", NowSeconds() - t,
                static_cast<unsigned>(result));
    return 0;
  }
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  std::string method = argv[1];
  int keys = 20;
  std::string out = "probe.DT";
  std::string hostile;
  for (int i = 4; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--keys") == 0) {
      keys = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--hostile") == 0) {
      hostile = argv[i + 1];
    } else if (std::strcmp(argv[i], "--out") == 0) {
      out = argv[i + 1];
    } else {
      return Usage();
    }
  }
  ConnectionSettings s;
  std::memset(&s, 0, sizeof s);
  s.size = kConnectionSettingsSize;
  uint32_t bps = 0;
  if (method == "tcp") {
    s.method = kMethodLan;
    std::snprintf(s.host, sizeof s.host, "%s", argv[2]);
    std::snprintf(s.port, sizeof s.port, "%s", argv[3]);
  } else if (method == "serial") {
    s.method = kMethodSerial;
    std::snprintf(s.com, sizeof s.com, "%s", argv[2]);
    bps = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    s.speed = static_cast<int32_t>(bps);
  } else {
    return Usage();
  }

  if (KSInitializeRemote() < 0) return 1;
  // Released before KSUninitializeRemote on the paths that reach it.
  CountedRef<RemoteDevice> device;
  if (KSCreateRemote(device.Put()) < 0 || !device) return 1;
  ProbeSink sink;
  device->Advise(&sink);
  device->Configure(&s);
  device->SetMonitorInterval(kMonitorStart);
  int rc = 0;
  if (device->Open() < 0) return 1;
  double t0 = NowSeconds();
  int32_t result = Run(device.get(), sink, kRequestConnect, 0, 0, nullptr, 10000);
  if (result < 0) {
    std::printf("connect failed 0x%08X\n", static_cast<unsigned>(result));
    return 3;
  }
  std::printf("connected, model 0x%X, in %.1f ms\n", static_cast<unsigned>(sink.model_),
              (NowSeconds() - t0) * 1000);
  if (!hostile.empty()) {
    sink.ClearLost();
    rc = Hostile(device.get(), sink, hostile, PrivateMiB());
    device->Close();
    device.Reset();
    KSUninitializeRemote();
    return rc;
  }

  HANDLE file = CreateFileA(out.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  static const uint8_t zeros[16] = {};
  DWORD written = 0;
  WriteFile(file, zeros, 16, &written, nullptr);
  const int32_t order[4] = {kSectionHead, kSectionDataHeader, kSectionData, kSectionTail};
  const int32_t limits[4] = {kSectionLimitSmall, kSectionLimitSmall, kSectionLimitData,
                             kSectionLimitSmall};
  double start = NowSeconds();
  for (int i = 0; i < 4 && result >= 0; ++i)
    result = Run(device.get(), sink, kRequestTransfer, order[i], limits[i], file, 600000);
  double seconds = NowSeconds() - start;
  if (result >= 0) {
    SetEndOfFile(file);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    WriteFile(file, ksvw::kCaptureMagic, ksvw::kMagicSize, &written, nullptr);
  }
  CloseHandle(file);
  double payload = static_cast<double>(sink.bytes_);
  std::printf("download %.0f bytes in %.3f s: %.2f MB/s (result 0x%08X), %d progress events\n",
              payload, seconds, payload / seconds / 1e6, static_cast<unsigned>(result),
              sink.progress_.load());
  if (bps) {
    std::printf("serial efficiency %.1f%% of %u bit/s (payload bytes/s / %u)\n",
                100.0 * payload / seconds / (bps / 10.0), bps, bps / 10);
  }
  if (result < 0) rc = 4;

  if (keys > 0 && sink.WaitScreen(0, 5000) > 0) {
    std::vector<double> ms;
    for (int k = 0; k < keys; ++k) {
      int before = sink.Screens();
      double pressed = NowSeconds();
      Run(device.get(), sink, kRequestKeyPress, 0x8016, 0, nullptr, 5000);  // page down
      double at = sink.WaitScreen(before, 5000);
      if (at == 0) break;
      ms.push_back((at - pressed) * 1000);
    }
    if (!ms.empty()) {
      double sum = 0;
      for (double v : ms) sum += v;
      std::sort(ms.begin(), ms.end());
      std::printf(
          "key -> screen over %zu presses: min %.2f ms, median %.2f ms, mean %.2f ms, "
          "max %.2f ms\n",
          ms.size(), ms.front(), ms[ms.size() / 2], sum / static_cast<double>(ms.size()),
          ms.back());
    }
  }
  device->SetMonitorInterval(kMonitorStop);
  Run(device.get(), sink, kRequestDisconnect, 0, 0, nullptr, 5000);
  device->Close();
  device.Reset();
  KSUninitializeRemote();
  return rc;
}
