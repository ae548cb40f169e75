#include "convert/win32/conversion_worker.h"

#include <commctrl.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <new>

#include "app/win32/app_state.h"
#include "capture/capture_reader.h"
#include "common/resource_ids.h"
#include "convert/conversion_batch.h"
#include "convert/text_converter.h"

namespace ksvw {

ConversionJob conversionJob;

namespace {

std::atomic<bool> stopRequested{false};
// The source is read in pieces of this size (a few milliseconds each).
constexpr size_t kReadPiece = 4 << 20;

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

// Reads `size` bytes in pieces, looking at the stop flag before each, so
// that a stop during the read of a big capture is seen at once.
FileOutcome ReadPieces(HANDLE file, uint8_t* image, size_t size) {
  for (size_t done = 0; done < size;) {
    if (stopRequested.load()) return FileOutcome::Stopped;
    const DWORD want = static_cast<DWORD>(size - done < kReadPiece ? size - done : kReadPiece);
    DWORD got = 0;
    if (!ReadFile(file, image + done, want, &got, nullptr) || got == 0)
      return FileOutcome::CannotRead;
    done += got;
  }
  return FileOutcome::Converted;
}

// Loads the source into conversionReader as LoadCaptureFile does, but reads
// it in pieces (a stop is honoured during the read) and tells why a file
// could not be loaded. Converted: loaded. An image the reader did not take
// is left in `image`.
FileOutcome LoadSource(const char* path, std::unique_ptr<uint8_t[]>& image) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FileOutcome::CannotRead;
  LARGE_INTEGER length{};
  FileOutcome outcome = FileOutcome::CannotRead;
  size_t size = 0;
  if (GetFileSizeEx(file, &length) && length.QuadPart >= 0) {
    size = static_cast<size_t>(length.QuadPart);
    image.reset(new (std::nothrow) uint8_t[size ? size : 1]);
    outcome = image ? ReadPieces(file, image.get(), size) : FileOutcome::OutOfMemory;
  }
  CloseHandle(file);
  if (outcome != FileOutcome::Converted) return outcome;
  return conversionReader.Load(std::move(image), size) ? FileOutcome::Converted
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
  std::unique_ptr<uint8_t[]> image;
  FileOutcome outcome = LoadSource(job.source, image);
  if (outcome == FileOutcome::Converted) outcome = ConvertLoadedFile(job);
  // The reader is emptied before the dialog hears of the file (the next
  // worker loads into it), but the memory is freed only as the thread ends:
  // freeing a big capture takes tens of milliseconds under Wine, which a
  // Stop would otherwise wait for.
  std::unique_ptr<uint8_t[]> loaded = conversionReader.Release();
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
