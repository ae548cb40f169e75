// The batch conversion's worker: one thread per file, one file at a time.
// It opens the file in conversionReader (streamed: read a window of
// records at a time), converts it with the program's one converter, empties
// the reader and tells the dialog how the file ended by a synchronous
// WM_COMMAND 1024 whose notification code is a FileOutcome (0: converted).
// Threads and their hand-overs:
// - The job is written by the GUI thread before a worker starts and copied
//   by the worker as it begins; nothing else is shared but the stop flag.
// - A stop crosses threads as stores without a lock (see
//   RequestConversionStop); a worker is never terminated.
// - The worker only ever sends to the dialog (it shows no box of its own),
//   so the GUI thread must never wait for a worker without dispatching
//   messages (WaitForWorkerPumping).
#pragma once

#include <windows.h>

#include <cstdint>

namespace ksvw {

struct ConversionJob {
  HWND dialog = nullptr;     // gets the progress and the file-done command
  char source[260] = {};     // the DT file
  char output[260] = {};     // the text or CSV file beside it
  int32_t channelIndex = 0;  // list 1013
  int32_t hexIndex = 0;      // list 1030
  int32_t csv = 0;           // check box 1025
  int32_t delta = 0;         // check box 1026
};

// How one file of a batch ended. The first two are no failure; the last
// three are about the output file, the others about the source.
enum class FileOutcome : WORD {
  Converted = 0,
  Stopped,
  NotCapture,
  CannotRead,
  OutOfMemory,
  PathTooLong,
  NotStarted,
  CannotCreate,
  WriteFailed,
  DiskFull,
};

// The one job, filled by the dialog before each StartConversionWorker.
extern ConversionJob conversionJob;

// Forgets a stop request; only while no worker runs (a new batch).
void ClearConversionStop();
// GUI thread: the file in hand ends after the row in hand, and a file the
// worker has not begun to convert is not converted.
void RequestConversionStop();

// Starts a worker on a copy of conversionJob; its handle, or null when no
// thread could be made.
HANDLE StartConversionWorker();

// Waits for `thread` to end, at most `ms`, dispatching this thread's
// messages meanwhile (the worker's sends to `dialog` need them). True when
// the thread ended.
bool WaitForWorkerPumping(HWND dialog, HANDLE thread, DWORD ms);

}  // namespace ksvw
