// Process-wide pieces of the remote library: its clock, its threads (counted,
// so that KSUninitializeRemote can let the last of them finish before the
// library goes away) and a scoped slim lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <new>
#include <utility>

namespace ksvw::rmt {

// Milliseconds from a monotonic clock.
inline uint64_t NowMs() {
  return GetTickCount64();
}

class SrwGuard {
 public:
  explicit SrwGuard(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~SrwGuard() { ReleaseSRWLockExclusive(&lock_); }
  SrwGuard(const SrwGuard&) = delete;
  SrwGuard& operator=(const SrwGuard&) = delete;

 private:
  SRWLOCK& lock_;
};

// Library threads still running.
LONG RunningThreads();
// Waits up to `timeoutMs` for every library thread to end; false on timeout.
bool WaitForLibraryThreads(DWORD timeoutMs);

namespace detail {
void ThreadStarted();
void ThreadEnded();
}  // namespace detail

// Runs `fn` on a new, detached library thread. Nobody ever joins it: a thread
// that is told to stop finishes on its own, so no caller (the GUI thread, or a
// sink callback running on a library thread) ever waits for another thread.
template <typename Fn>
bool StartThread(Fn&& fn) {
  struct Box {
    Fn fn;
  };
  auto* box = new (std::nothrow) Box{std::forward<Fn>(fn)};
  if (!box) return false;
  detail::ThreadStarted();
  HANDLE h = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        auto* b = static_cast<Box*>(p);
        b->fn();
        delete b;
        detail::ThreadEnded();
        return 0;
      },
      box, 0, nullptr);
  if (!h) {
    delete box;
    detail::ThreadEnded();
    return false;
  }
  CloseHandle(h);
  return true;
}

}  // namespace ksvw::rmt
