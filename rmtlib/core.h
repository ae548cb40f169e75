// What one device shares with its links and its dispatcher thread: the
// event queue, the sink, and the state the program reads without a round
// trip (link state, status flags, the last screen).
//
// Events are produced by a link's I/O thread and delivered in order by one
// dispatcher thread per device. The dispatcher never holds a lock while it
// calls the sink, so a sink may block (a synchronous SendMessage to the GUI
// thread) or call back into the device (Submit, Cancel, Close, Release)
// without any risk of deadlock.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "remote/ksvwrmt.h"
#include "rmtlib/request.h"

namespace ksvw::rmt {

// Section bytes on their way to the sink's OnData.
struct Chunk {
  std::vector<uint8_t> bytes;
};

struct Event {
  enum Kind : uint8_t { Identity, LinkState, Done, Progress, LinkLost, Status, Screen, Data };
  Kind kind = Identity;
  // Done holds a reference, which the dispatcher releases after the call.
  // Progress and Data borrow it: their request's Done comes later in the
  // queue and keeps it alive until then.
  Request* request = nullptr;
  int32_t model = 0, detail = 0;    // Identity
  int32_t state = 0;                // LinkState
  int32_t result = 0;               // Done
  int32_t position = 0, range = 0;  // Progress
  uint32_t flags = 0;               // Status
  Chunk* chunk = nullptr;           // Data

  static Event Of(Kind kind, Request* request = nullptr) {
    Event e;
    e.kind = kind;
    e.request = request;
    return e;
  }
};

class Core {
 public:
  Core();
  ~Core();
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  // Sets the sink (null clears it). Clearing waits until a callback that is
  // running on the dispatcher thread has returned, unless the caller is that
  // callback; the wait serves messages sent to the caller's thread, so a
  // callback blocked in SendMessage to it still completes.
  void SetSink(RemoteEventSink* sink);

  // Starts the dispatcher once; false when no thread could be made.
  bool StartDispatcher(const std::shared_ptr<Core>& self);
  // The device is gone: no sink any more, and the dispatcher ends when every
  // link has ended and the queue is empty.
  void Shutdown();

  // I/O threads. A status or screen event that is still queued takes the
  // newer value instead of queueing another: a flood of them costs the
  // program one call each time it catches up.
  void Push(const Event& e);
  Chunk* TakeChunk();
  size_t DataBacklog();
  void LinkStarted();
  void LinkEnded();

  // Shared state. The link state changes when its event is delivered, so a
  // sink that reads it in OnLinkStateChanged sees the value of that event.
  std::atomic<int32_t> linkState{0};
  std::atomic<uint32_t> statusFlags{0};
  void StoreScreen(const uint8_t* image);
  void CopyScreen(uint8_t* buffer, uint32_t length);

 private:
  void Run();
  void Deliver(Event& e);
  void DeliverData(Event& e);
  void RecycleChunk(Chunk* c);
  RemoteEventSink* EnterCall();
  void LeaveCall();

  SRWLOCK queueLock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE queueCv_ = CONDITION_VARIABLE_INIT;
  std::vector<Event> queue_;
  std::vector<Chunk*> freeChunks_;
  size_t backlog_ = 0;
  bool statusQueued_ = false;
  bool screenQueued_ = false;
  uint32_t latestFlags_ = 0;
  int activeLinks_ = 0;
  bool shutdown_ = false;
  bool dispatcherStarted_ = false;

  SRWLOCK sinkLock_ = SRWLOCK_INIT;
  RemoteEventSink* sink_ = nullptr;
  bool inCall_ = false;
  DWORD dispatcherThread_ = 0;

  SRWLOCK screenLock_ = SRWLOCK_INIT;
  uint8_t screen_[kScreenBytes] = {};
};

}  // namespace ksvw::rmt
