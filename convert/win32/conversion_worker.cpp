#include "convert/win32/conversion_worker.h"

#include <commctrl.h>

#include <atomic>
#include <cerrno>

#include "app/win32/app_state.h"
#include "capture/capture_reader.h"
#include "common/resource_ids.h"
#include "convert/conversion_batch.h"
#include "convert/text_converter.h"

namespace ksvw {

ConversionJob conversionJob;

namespace {

std::atomic<bool> stopRequested{false};

// Bar 2273 of the dialog, at most one synchronous update per 50 ms.
class BarProgress : public ThrottledProgress {
 public:
  explicit BarProgress(HWND bar) : bar_(bar) {}

 protected:
  void ShowRange(int32_t max) override {
    SendMessageA(bar_, PBM_SETRANGE32, 0, max);
    SendMessageA(bar_, PBM_SETPOS, 0, 0);
  }
  void ShowPosition(int32_t position) override { SendMessageA(bar_, PBM_SETPOS, position, 0); }

 private:
  HWND bar_;
};

// Loads the source into conversionReader and tells why a file could not
// be loaded. The file is streamed, as the command line reads it: only its
// chunk list is read here, so a Stop pressed now is seen as the conversion
// begins, and a big capture takes no memory of its own.
FileOutcome LoadSource(const char* path) {
  if (LoadCaptureFile(path, kReaderConversion, CaptureAccess::Stream))
    return FileOutcome::Converted;
  const int error = conversionReader.ReadError();
  return error == ENOMEM ? FileOutcome::OutOfMemory
         : error != 0    ? FileOutcome::CannotRead
                         : FileOutcome::NotCapture;
}

FileOutcome ConvertLoadedFile(const ConversionJob& job) {
  // A stop pressed as the load ended: the load has just set the data
  // length that RequestStop clears, so look at the flag, and do it after a
  // full fence (the store of the load must be visible before the look).
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (stopRequested.load()) return FileOutcome::Stopped;
  ConversionOptions options;
  options.channelSelection = static_cast<uint8_t>(job.channelIndex & 0xFF);
  options.rawHex = static_cast<uint8_t>(job.hexIndex & 0xFF);
  options.csv = job.csv;
  options.deltaTime = job.delta;
  TextConverter& converter = Converter();
  converter.SetOptions(options);
  converter.SetOutputPath(job.output);
  BarProgress progress(GetDlgItem(job.dialog, IDT_CVT_RECORD_BAR));
  switch (converter.Convert(&progress, TextConverter::kNoPageLimit)) {
    case ConvertResult::Done: return FileOutcome::Converted;
    case ConvertResult::Stopped: return FileOutcome::Stopped;
    case ConvertResult::CannotCreate: return FileOutcome::CannotCreate;
    case ConvertResult::ReadFailed: return FileOutcome::CannotRead;
    case ConvertResult::WriteFailed: break;
  }
  // EACCES: the output was whole but could not take the place of a file
  // that is held open or read-only.
  const int error = converter.OutputError();
  return error == ENOSPC   ? FileOutcome::DiskFull
         : error == EACCES ? FileOutcome::CannotCreate
                           : FileOutcome::WriteFailed;
}

DWORD WINAPI ConversionWorker(void* parameter) {
  ConversionJob* shared = static_cast<ConversionJob*>(parameter);
  const ConversionJob job = *shared;
  FileOutcome outcome = LoadSource(job.source);
  if (outcome == FileOutcome::Converted) outcome = ConvertLoadedFile(job);
  // The reader is emptied before the dialog hears of the file: the next
  // worker loads into it.
  ReleaseCaptureImage(kReaderConversion);
  SendMessageA(GetDlgItem(job.dialog, IDT_CVT_RECORD_BAR), PBM_SETPOS, 0, 0);
  SendMessageA(job.dialog, WM_COMMAND, MAKEWPARAM(IDC_CVT_FILE_DONE, static_cast<WORD>(outcome)),
               0);
  return 0;
}

}  // namespace

void ClearConversionStop() {
  stopRequested.store(false);
}

void RequestConversionStop() {
  stopRequested.store(true);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  Converter().RequestStop();
}

HANDLE StartConversionWorker() {
  return CreateThread(nullptr, 0, ConversionWorker, &conversionJob, 0, nullptr);
}

bool WaitForWorkerPumping(HWND dialog, HANDLE thread, DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    const DWORD slice = static_cast<DWORD>(deadline - now < 100 ? deadline - now : 100);
    const DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, slice, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) return true;
    if (woke == WAIT_FAILED) break;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Not ours: leave it for the message loop it belongs to.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
      }
      if (!IsDialogMessageA(dialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
  }
  return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

}  // namespace ksvw
