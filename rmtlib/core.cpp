#include "rmtlib/core.h"

#include <algorithm>
#include <cstring>

#include "rmtlib/runtime.h"

namespace ksvw::rmt {
namespace {
// Chunks kept for reuse; more are freed when they come back.
constexpr size_t kPooledChunks = 32;
}  // namespace

Core::Core() {
  queue_.reserve(256);
}

Core::~Core() {
  for (Event& e : queue_) {
    delete e.chunk;
    if (e.kind == Event::Done && e.request) e.request->Release();
  }
  for (Chunk* c : freeChunks_) delete c;
}

void Core::SetSink(RemoteEventSink* sink) {
  bool wait = false;
  {
    SrwGuard g(sinkLock_);
    sink_ = sink;
    wait = !sink && inCall_ && GetCurrentThreadId() != dispatcherThread_;
  }
  while (wait) {
    // Serve SendMessage calls aimed at this thread while the callback runs:
    // the callback may be waiting for exactly that.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    SrwGuard g(sinkLock_);
    wait = inCall_;
  }
}

bool Core::StartDispatcher(const std::shared_ptr<Core>& self) {
  {
    SrwGuard g(queueLock_);
    if (dispatcherStarted_) return true;
    dispatcherStarted_ = true;
  }
  std::shared_ptr<Core> keep = self;
  if (StartThread([keep] { keep->Run(); })) return true;
  SrwGuard g(queueLock_);
  dispatcherStarted_ = false;
  return false;
}

void Core::Shutdown() {
  SetSink(nullptr);
  SrwGuard g(queueLock_);
  shutdown_ = true;
  WakeAllConditionVariable(&queueCv_);
}

void Core::Push(const Event& e) {
  SrwGuard g(queueLock_);
  if (e.kind == Event::Status || e.kind == Event::Screen) {
    bool& queued = e.kind == Event::Status ? statusQueued_ : screenQueued_;
    if (e.kind == Event::Status) latestFlags_ = e.flags;
    if (queued) return;
    queued = true;
  }
  queue_.push_back(e);
  if (e.chunk) backlog_ += e.chunk->bytes.size();
  WakeAllConditionVariable(&queueCv_);
}

Chunk* Core::TakeChunk() {
  {
    SrwGuard g(queueLock_);
    if (!freeChunks_.empty()) {
      Chunk* c = freeChunks_.back();
      freeChunks_.pop_back();
      return c;
    }
  }
  Chunk* c = new (std::nothrow) Chunk;
  if (c) c->bytes.reserve(128 * 1024);
  return c;
}

void Core::RecycleChunk(Chunk* c) {
  size_t n = c->bytes.size();
  c->bytes.clear();
  {
    SrwGuard g(queueLock_);
    backlog_ -= n;
    if (freeChunks_.size() < kPooledChunks) {
      freeChunks_.push_back(c);
      return;
    }
  }
  delete c;
}

size_t Core::DataBacklog() {
  SrwGuard g(queueLock_);
  return backlog_;
}

void Core::LinkStarted() {
  SrwGuard g(queueLock_);
  ++activeLinks_;
}

void Core::LinkEnded() {
  SrwGuard g(queueLock_);
  --activeLinks_;
  WakeAllConditionVariable(&queueCv_);
}

void Core::StoreScreen(const uint8_t* image) {
  SrwGuard g(screenLock_);
  std::memcpy(screen_, image, kScreenBytes);
}

void Core::CopyScreen(uint8_t* buffer, uint32_t length) {
  uint32_t n = std::min(length, kScreenBytes);
  {
    SrwGuard g(screenLock_);
    std::memcpy(buffer, screen_, n);
  }
  if (length > n) std::memset(buffer + n, 0, length - n);
}

RemoteEventSink* Core::EnterCall() {
  SrwGuard g(sinkLock_);
  if (sink_) inCall_ = true;
  return sink_;
}

void Core::LeaveCall() {
  SrwGuard g(sinkLock_);
  inCall_ = false;
}

void Core::Run() {
  {
    SrwGuard g(sinkLock_);
    dispatcherThread_ = GetCurrentThreadId();
  }
  std::vector<Event> batch;
  batch.reserve(256);
  for (;;) {
    {
      SrwGuard g(queueLock_);
      while (queue_.empty() && !(shutdown_ && activeLinks_ == 0))
        SleepConditionVariableSRW(&queueCv_, &queueLock_, INFINITE, 0);
      if (queue_.empty()) break;  // the device is gone and nothing is left
      batch.swap(queue_);
    }
    for (Event& e : batch) Deliver(e);
    batch.clear();
  }
}

void Core::DeliverData(Event& e) {
  Request* r = e.request;
  Chunk* c = e.chunk;
  const uint8_t* p = c->bytes.data();
  uint32_t left = static_cast<uint32_t>(c->bytes.size());
  if (r->dataError >= 0 && !r->cancelled.load()) {
    if (RemoteEventSink* sink = EnterCall()) {
      // The sink may take the bytes in parts; one that takes none declines
      // the rest (the program stores nothing for a transfer without a file).
      while (left > 0) {
        uint32_t size = left;
        int32_t result = sink->OnData(r, 0, p, &size);
        if (result < 0) {
          r->dataError = result;
          r->dataFailed.store(true);
          break;
        }
        if (size == 0) break;
        size = std::min(size, left);
        p += size;
        left -= size;
      }
      LeaveCall();
    }
  }
  RecycleChunk(c);
}

void Core::Deliver(Event& e) {
  if (e.kind == Event::Data) {
    DeliverData(e);
    return;
  }
  if (e.kind == Event::Status || e.kind == Event::Screen) {
    SrwGuard g(queueLock_);
    (e.kind == Event::Status ? statusQueued_ : screenQueued_) = false;
    e.flags = latestFlags_;
  }
  if (e.kind == Event::LinkState) linkState.store(e.state);
  if (e.kind == Event::Done) {
    // A sink that failed to store the data decides the result; so does a
    // cancel that came after the analyzer had sent the last bytes (they
    // were dropped, so the transfer is not complete for the sink).
    int32_t result = e.result;
    if (e.request->dataError < 0) {
      result = e.request->dataError;
    } else if (result >= 0 && e.request->cancelled.load()) {
      result = kErrCancelled;
    }
    e.request->result = result;
    // Idle again before the sink hears of it: the sink may submit it anew.
    e.request->MarkDone();
  }
  if (RemoteEventSink* sink = EnterCall()) {
    switch (e.kind) {
      case Event::Identity: sink->OnIdentity(e.model, e.detail); break;
      case Event::LinkState: sink->OnLinkStateChanged(); break;
      case Event::Done: sink->OnRequestDone(e.request); break;
      case Event::Progress: sink->OnProgress(e.request, e.position, e.range); break;
      case Event::LinkLost: sink->OnLinkLost(); break;
      case Event::Status: sink->OnStatusFlags(e.flags); break;
      case Event::Screen: sink->OnScreenChanged(); break;
      case Event::Data: break;
    }
    LeaveCall();
  }
  if (e.kind == Event::Done) e.request->Release();
}

}  // namespace ksvw::rmt
