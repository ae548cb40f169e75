#include "convert/win32/conversion_worker.h"

#include <commctrl.h>

#include <atomic>
#include <cstring>

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

void ConvertLoadedFile(const ConversionJob& job) {
  // A stop pressed while the file loaded: the load has just set the data
  // length that RequestStop clears, so look at the flag, and do it after a
  // full fence (the store of the load must be visible before the look).
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (stopRequested.load()) return;
  ConversionOptions options;
  options.channelSelection = static_cast<uint8_t>(job.channelIndex & 0xFF);
  options.rawHex = static_cast<uint8_t>(job.hexIndex & 0xFF);
  options.csv = job.csv;
  options.deltaTime = job.delta;
  TextConverter& converter = Converter();
  converter.SetOptions(options);
  converter.SetOutputPath(job.output);
  BarProgress progress(GetDlgItem(job.dialog, IDT_CVT_RECORD_BAR));
  converter.Convert(&progress, TextConverter::kNoPageLimit);
}

DWORD WINAPI ConversionWorker(void* parameter) {
  ConversionJob* shared = static_cast<ConversionJob*>(parameter);
  const ConversionJob job = *shared;
  if (LoadCaptureFile(job.source, kReaderConversion)) {
    ConvertLoadedFile(job);
    ReleaseCaptureImage(kReaderConversion);
  } else {
    ReleaseCaptureImage(kReaderConversion);
    ShowNotConvertedBox(job.dialog, job.source);
  }
  SendMessageA(GetDlgItem(job.dialog, IDT_CVT_RECORD_BAR), PBM_SETPOS, 0, 0);
  SendMessageA(job.dialog, WM_COMMAND, IDC_CVT_FILE_DONE, 0);
  return 0;
}

BOOL CALLBACK CloseMessageBox(HWND window, LPARAM) {
  char cls[16];
  if (GetClassNameA(window, cls, sizeof cls) > 0 && std::strcmp(cls, "#32770") == 0)
    PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
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
  const DWORD threadId = GetThreadId(thread);
  for (;;) {
    // The worker may open its box at any time: look again on every round.
    if (threadId != 0) EnumThreadWindows(threadId, CloseMessageBox, 0);
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

void ShowNotConvertedBox(HWND dialog, const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '\\' || *p == '/') name = p + 1;
  // The caption holds at most 24 characters.
  char caption[25];
  LoadLanguageString(IDS_CONVERT_CAPTION, caption, sizeof caption);
  char message[256];
  LoadLanguageString(IDS_NOT_CONVERTIBLE, message, sizeof message);
  char text[260 + 1 + sizeof message];
  const size_t nameLength = strnlen(name, 260);
  std::memcpy(text, name, nameLength);
  text[nameLength] = '\n';
  std::memcpy(text + nameLength + 1, message, std::strlen(message) + 1);
  MessageBoxA(dialog, text, caption, MB_OK);
}

}  // namespace ksvw
