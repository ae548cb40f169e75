#include "tests/win/test_sink.h"

#include <chrono>
#include <cstring>

#include "capture/capture_reader.h"

namespace ksvw::rmttest {
namespace {

constexpr int32_t kNoResult = 0x7FFFFFFF;

struct Section {
  int32_t code;
  int32_t limit;
};
constexpr Section kSections[4] = {
    {0x8100, 0x10000}, {0x8102, 0x10000}, {0x8101, 0xC00000}, {0x8103, 0x10000}};

HANDLE FileOf(RemoteRequest* r) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(r->fileHandle));
}

int32_t LastError() {
  return ResultFromSystemError(GetLastError());
}

}  // namespace

TestSink::~TestSink() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

int32_t TestSink::Record(const SinkEvent& e, RemoteRequest* request) {
  {
    std::lock_guard<std::mutex> g(mutex_);
    events_.push_back(e);
    events_.back().thread = GetCurrentThreadId();
    cv_.notify_all();
  }
  if (onEvent) onEvent(e.kind, request);
  return 0;
}

int32_t TestSink::OnRequestDone(RemoteRequest* request) {
  {
    std::lock_guard<std::mutex> g(mutex_);
    done_.emplace_back(request, request->result);
  }
  Record({SinkEvent::Done, 0, request->requestType, request->dataCode, request->result, 0, 0},
         request);
  bool chain = false;
  {
    std::lock_guard<std::mutex> g(mutex_);
    chain = downloading_ && request->requestType == kRequestTransfer;
  }
  if (chain) {
    // The program's chain: the next section is asked for from inside this
    // callback, on the library's thread.
    int32_t code = request->result;
    {
      std::lock_guard<std::mutex> g(mutex_);
      sectionResults_.push_back(code);
    }
    bool last = step_ + 1 == 4;
    if (code >= 0) code = last ? FinishFile() : SubmitSection(step_ + 1);
    if (code < 0 || last) {
      if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
      file_ = INVALID_HANDLE_VALUE;
      std::lock_guard<std::mutex> g(mutex_);
      downloading_ = false;
      downloadEnded_ = true;
      downloadResult_ = code;
    }
  }
  std::lock_guard<std::mutex> g(mutex_);
  cv_.notify_all();
  return 0;
}

int32_t TestSink::OnLinkLost() {
  Record({.kind = SinkEvent::LinkLost});
  if (onLinkLost) onLinkLost();
  return 0;
}

int32_t TestSink::OnData(RemoteRequest* request, int32_t, const uint8_t* buffer, uint32_t* size) {
  Record({SinkEvent::Data, 0, request->requestType, request->dataCode, 0, *size, 0}, request);
  if (failDataWith < 0) return failDataWith;
  HANDLE file = FileOf(request);
  if (request->dataCode < 0x8100 || request->dataCode > 0x8103 || !file || *size == 0) {
    *size = 0;
    return 0;
  }
  DWORD written = 0;
  if (!WriteFile(file, buffer, *size, &written, nullptr)) return LastError();
  *size = written;
  if (onData) onData(request, written);
  return 0;
}

bool TestSink::WaitFor(const std::function<bool()>& pred, DWORD timeoutMs) {
  std::unique_lock<std::mutex> g(mutex_);
  return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), pred);
}

void TestSink::Watch(RemoteRequest* request) {
  std::lock_guard<std::mutex> g(mutex_);
  for (auto& w : watched_) {
    if (w.first == request) {
      w.second = done_.size();
      return;
    }
  }
  watched_.emplace_back(request, done_.size());
}

int32_t TestSink::WaitDone(RemoteRequest* request, DWORD timeoutMs) {
  int32_t result = kNoResult;
  WaitFor(
      [&] {
        size_t from = done_.size();
        for (auto& w : watched_) {
          if (w.first == request) from = w.second;
        }
        for (size_t i = from; i < done_.size(); ++i) {
          if (done_[i].first == request) {
            result = done_[i].second;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return result;
}

bool TestSink::WaitCount(SinkEvent::Kind kind, int count, DWORD timeoutMs) {
  return WaitFor([&] { return CountLocked(kind) >= count; }, timeoutMs);
}

std::vector<SinkEvent> TestSink::Events() {
  std::lock_guard<std::mutex> g(mutex_);
  return events_;
}

int TestSink::Count(SinkEvent::Kind kind) {
  std::lock_guard<std::mutex> g(mutex_);
  return CountLocked(kind);
}

int TestSink::CountLocked(SinkEvent::Kind kind) const {
  int n = 0;
  for (auto& e : events_) n += e.kind == kind;
  return n;
}

int32_t TestSink::SubmitSection(size_t step) {
  RemoteRequest* r = nullptr;
  int32_t code = downloadDevice_->CreateRequest(&r);
  if (code < 0) return code;
  r->requestType = kRequestTransfer;
  r->fileHandle = static_cast<int32_t>(reinterpret_cast<intptr_t>(file_));
  r->dataCode = kSections[step].code;
  r->reserved = 0;
  r->sectionLimit = kSections[step].limit;
  step_ = step;
  code = downloadDevice_->Submit(r);
  r->Release();
  return code;
}

int32_t TestSink::FinishFile() {
  if (!SetEndOfFile(file_)) return LastError();
  if (SetFilePointer(file_, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return LastError();
  DWORD written = 0;
  if (!WriteFile(file_, kCaptureMagic, kMagicSize, &written, nullptr) || written != kMagicSize)
    return LastError();
  return 0;
}

int32_t TestSink::StartDownload(RemoteDevice* device, const std::string& path) {
  file_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) return LastError();
  static const uint8_t zeros[16] = {};
  DWORD written = 0;
  if (!WriteFile(file_, zeros, 16, &written, nullptr)) return LastError();
  downloadDevice_ = device;
  {
    std::lock_guard<std::mutex> g(mutex_);
    downloading_ = true;
    downloadEnded_ = false;
    sectionResults_.clear();
  }
  int32_t code = SubmitSection(0);
  if (code < 0) {
    std::lock_guard<std::mutex> g(mutex_);
    downloading_ = false;
  }
  return code;
}

int32_t TestSink::WaitDownload(DWORD timeoutMs) {
  int32_t result = kNoResult;
  WaitFor(
      [&] {
        if (downloadEnded_) result = downloadResult_;
        return downloadEnded_;
      },
      timeoutMs);
  return result;
}

std::vector<int32_t> TestSink::SectionResults() {
  std::lock_guard<std::mutex> g(mutex_);
  return sectionResults_;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<uint8_t> out;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return out;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(f, &size) && size.QuadPart > 0 && size.QuadPart < (1LL << 31)) {
    out.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!ReadFile(f, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) ||
        got != out.size())
      out.clear();
  }
  CloseHandle(f);
  return out;
}

}  // namespace ksvw::rmttest
