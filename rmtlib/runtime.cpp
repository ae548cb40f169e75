#include "rmtlib/runtime.h"

namespace ksvw::rmt {
namespace {
volatile LONG runningThreads = 0;
}

namespace detail {
void ThreadStarted() {
  InterlockedIncrement(&runningThreads);
}
void ThreadEnded() {
  InterlockedDecrement(&runningThreads);
}
}  // namespace detail

LONG RunningThreads() {
  return InterlockedCompareExchange(&runningThreads, 0, 0);
}

bool WaitForLibraryThreads(DWORD timeoutMs) {
  ULONGLONG end = GetTickCount64() + timeoutMs;
  while (RunningThreads() > 0) {
    if (GetTickCount64() >= end) return false;
    Sleep(5);
  }
  return true;
}

}  // namespace ksvw::rmt
